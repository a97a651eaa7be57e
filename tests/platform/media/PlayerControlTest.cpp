// The player control playing real media (made at test time) through GStreamer, without a
// display: play states and their events, transport, position, settings, errors, several
// controls at once, and addresses over http.

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <sstream>

#include "platform/com/ClassTable.h"
#include "platform/com/ConnectionPoint.h"
#include "tests/platform/media/PlayerTestSupport.h"
#include "tests/support/HttpServer.h"
#include "tests/support/Process.h"

using namespace norv::test;

namespace {

std::string fileUrl(const std::filesystem::path& path) {
    return "file://" + path.string();
}

double position(const TestPlayer& p) {
    double at = -1;
    p.controls()->get_currentPosition(&at);
    return at;
}

class PlayerControlTest : public ::testing::Test {
protected:
    void SetUp() override { initMedia(); }
    TempDir dir;
};

TEST_F(PlayerControlTest, PlaysToTheEndWithAnEventForEachState) {
    auto file = dir.path() / "tone.ogg";
    makeTone(file);
    TestPlayer p;
    EXPECT_EQ(p.state(), psUndefined);
    p.setUrl(fileUrl(file));
    EXPECT_EQ(p.state(), psTransitioning);
    ASSERT_TRUE(pumpUntil([&] { return p.state() == psMediaEnded; }));
    EXPECT_EQ(p.log->states, (std::vector<std::int32_t>{psTransitioning, psPlaying, psMediaEnded}));
    EXPECT_TRUE(p.log->errors.empty());
    EXPECT_NEAR(p.duration(), probeDuration(file), 0.05);

    // Played again from the end, it starts over and ends again.
    p.log->states.clear();
    ASSERT_EQ(p.controls()->play(), S_OK);
    ASSERT_TRUE(pumpUntil([&] { return p.log->saw(psMediaEnded); }));
    EXPECT_EQ(p.log->states, (std::vector<std::int32_t>{psTransitioning, psPlaying, psMediaEnded}));
}

TEST_F(PlayerControlTest, PauseHoldsThePositionAndStopReturnsToTheStart) {
    auto file = dir.path() / "tone.ogg";
    makeTone(file, 4.0);
    TestPlayer p;
    p.setUrl(fileUrl(file));
    ASSERT_TRUE(pumpUntil([&] { return p.state() == psPlaying && position(p) > 0.3; }));

    ASSERT_EQ(p.controls()->pause(), S_OK);
    ASSERT_TRUE(pumpUntil([&] { return p.state() == psPaused; }));
    double held = position(p);
    // While paused the position stays where it was, however long the loop runs.
    pumpUntil([&] { return std::fabs(position(p) - held) > 0.05; }, 500ms);
    EXPECT_NEAR(position(p), held, 0.05);

    ASSERT_EQ(p.controls()->play(), S_OK);
    ASSERT_TRUE(pumpUntil([&] { return p.state() == psPlaying && position(p) > held + 0.2; }));

    ASSERT_EQ(p.controls()->stop(), S_OK);
    EXPECT_EQ(p.state(), psStopped);
    EXPECT_EQ(position(p), 0.0);
    ASSERT_EQ(p.controls()->play(), S_OK);
    ASSERT_TRUE(pumpUntil([&] { return p.state() == psMediaEnded; }, 30s));
    EXPECT_EQ(p.log->states,
              (std::vector<std::int32_t>{psTransitioning, psPlaying, psPaused, psPlaying, psStopped,
                                         psPlaying, psMediaEnded}));
}

TEST_F(PlayerControlTest, SeeksWhilePausedPlayingAndBeforeTheMediumOpens) {
    auto file = dir.path() / "tone.ogg";
    makeTone(file, 6.0);
    TestPlayer p;
    p.settings()->put_autoStart(VARIANT_FALSE);
    p.setUrl(fileUrl(file));
    // A position set before the medium is open applies once it is.
    ASSERT_EQ(p.controls()->put_currentPosition(2.0), S_OK);
    ASSERT_TRUE(pumpUntil([&] { return p.state() == psReady; }));
    EXPECT_EQ(p.log->states, (std::vector<std::int32_t>{psTransitioning, psReady}));
    ASSERT_TRUE(pumpUntil([&] { return std::fabs(position(p) - 2.0) < 0.05; }));

    ASSERT_EQ(p.controls()->put_currentPosition(4.5), S_OK);
    ASSERT_TRUE(pumpUntil([&] { return std::fabs(position(p) - 4.5) < 0.05; }));

    ASSERT_EQ(p.controls()->play(), S_OK);
    ASSERT_TRUE(pumpUntil([&] { return p.state() == psPlaying; }));
    ASSERT_EQ(p.controls()->put_currentPosition(1.0), S_OK);
    ASSERT_TRUE(pumpUntil([&] { return position(p) >= 1.0 && position(p) < 1.5; }));
    EXPECT_EQ(p.state(), psPlaying);
    // From 1 s the rest of the 6 s medium takes about five seconds to play.
    auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(pumpUntil([&] { return p.state() == psMediaEnded; }));
    EXPECT_GT(std::chrono::steady_clock::now() - start, 4s);

    // Past the end is the end; before the start the start.
    EXPECT_EQ(p.controls()->put_currentPosition(-3), S_OK);
    EXPECT_EQ(p.controls()->put_currentPosition(std::nan("")), E_INVALIDARG);
}

TEST_F(PlayerControlTest, VolumeAndMuteReachThePipeline) {
    auto file = dir.path() / "tone.ogg";
    makeTone(file);
    auto site = makeObject<FakeSite>();
    TestPlayer p;
    p.site(site.get());
    auto settings = p.settings();
    std::int32_t volume = -1;
    settings->get_volume(&volume);
    EXPECT_EQ(volume, 100);
    settings->put_volume(150);
    settings->get_volume(&volume);
    EXPECT_EQ(volume, 100);
    settings->put_volume(-5);
    settings->get_volume(&volume);
    EXPECT_EQ(volume, 0);

    p.setUrl(fileUrl(file));
    ASSERT_TRUE(site->pipeline());
    settings->put_volume(50);
    settings->put_mute(VARIANT_TRUE);
    gdouble linear = -1;
    gboolean muted = FALSE;
    g_object_get(site->pipeline(), "volume", &linear, "mute", &muted, nullptr);
    // The page's 0-100 is a perceived loudness: half of it is an eighth of the amplitude.
    EXPECT_NEAR(linear, 0.125, 1e-6);
    EXPECT_TRUE(muted);
    VARIANT_BOOL mute = VARIANT_FALSE;
    settings->get_mute(&mute);
    EXPECT_EQ(mute, VARIANT_TRUE);
    ASSERT_TRUE(pumpUntil([&] { return p.state() == psMediaEnded; }));
}

TEST_F(PlayerControlTest, WithoutASoundServerPlaysInRealTimeToADiscardingSink) {
    auto file = dir.path() / "tone.ogg";
    makeTone(file, 3.0);
    auto site = makeObject<FakeSite>();
    TestPlayer p;
    p.site(site.get());
    auto start = std::chrono::steady_clock::now();
    p.setUrl(fileUrl(file));
    ASSERT_TRUE(pumpUntil([&] { return p.state() == psMediaEnded; }));
    EXPECT_GT(std::chrono::steady_clock::now() - start, 2900ms);
    GstElement* sink = audioOutputOf(site->pipeline());
    ASSERT_TRUE(sink);
    EXPECT_STREQ(GST_OBJECT_NAME(gst_element_get_factory(sink)), "fakeaudiosink");
    gst_object_unref(sink);
}

TEST_F(PlayerControlTest, WithASoundServerPlaysToIt) {
    // A private PulseAudio server with a null sink, reached through its own socket.
    auto socket = dir.path() / "native";
    Process server = Process::spawn(
        {"pulseaudio", "--daemonize=no", "--exit-idle-time=-1", "-n", "--disable-shm=yes",
         "--use-pid-file=no", "-L",
         "module-native-protocol-unix socket=" + socket.string() + " auth-anonymous=1", "-L",
         "module-null-sink"},
        {{"HOME", dir.path().string()}, {"XDG_RUNTIME_DIR", dir.path().string()}});
    ASSERT_TRUE(waitUntil([&] { return std::filesystem::exists(socket); }, 20s)) << server.output();
    g_setenv("PULSE_SERVER", ("unix:" + socket.string()).c_str(), TRUE);

    auto file = dir.path() / "tone.ogg";
    makeTone(file, 1.0);
    auto site = makeObject<FakeSite>();
    TestPlayer p;
    p.site(site.get());
    p.setUrl(fileUrl(file));
    ASSERT_TRUE(pumpUntil([&] { return p.state() == psMediaEnded; }));
    EXPECT_TRUE(p.log->errors.empty());
    GstElement* sink = audioOutputOf(site->pipeline());
    ASSERT_TRUE(sink);
    EXPECT_STREQ(GST_OBJECT_NAME(gst_element_get_factory(sink)), "pulsesink");
    gst_object_unref(sink);
    g_setenv("PULSE_SERVER", "unix:/nonexistent/pulse", TRUE);
}

TEST_F(PlayerControlTest, AMissingFileRaisesMediaErrorAndTheControlPlaysTheNextMedium) {
    TestPlayer p;
    auto missing = dir.path() / "missing.ogg";
    p.setUrl(fileUrl(missing));
    ASSERT_TRUE(pumpUntil([&] { return !p.log->errors.empty(); }));
    ASSERT_TRUE(pumpUntil([&] { return p.state() == psReady; }));
    ASSERT_EQ(p.log->errors.size(), 1u);
    ASSERT_TRUE(p.log->errors[0]);
    Bstr url, text;
    p.log->errors[0]->get_sourceURL(&url);
    p.log->errors[0]->get_errorDescription(&text);
    EXPECT_EQ(url.toUtf8(), fileUrl(missing));
    EXPECT_FALSE(text.isEmpty());
    EXPECT_FALSE(p.log->saw(psPlaying));

    // Text that is not media fails the same way.
    auto bogus = dir.path() / "bogus.ogg";
    std::ofstream(bogus) << "not a medium";
    p.setUrl(bogus.string());
    ASSERT_TRUE(pumpUntil([&] { return p.log->errors.size() == 2; }));

    auto file = dir.path() / "tone.ogg";
    makeTone(file, 1.0);
    p.setUrl(file.string()); // a plain path is a file address
    ASSERT_TRUE(pumpUntil([&] { return p.state() == psMediaEnded; }));
    EXPECT_EQ(p.log->errors.size(), 2u);
}

TEST_F(PlayerControlTest, TwoControlsPlayAtOnce) {
    auto a = dir.path() / "a.ogg";
    auto b = dir.path() / "b.webm";
    makeTone(a);
    makeClip(b);
    TestPlayer first, second;
    first.setUrl(fileUrl(a));
    second.setUrl(fileUrl(b));
    ASSERT_TRUE(
        pumpUntil([&] { return first.state() == psPlaying && second.state() == psPlaying; }));
    // Pausing one leaves the other playing.
    first.controls()->pause();
    ASSERT_TRUE(pumpUntil([&] { return first.state() == psPaused; }));
    EXPECT_EQ(second.state(), psPlaying);
    first.controls()->play();
    ASSERT_TRUE(
        pumpUntil([&] { return first.state() == psMediaEnded && second.state() == psMediaEnded; }));
    EXPECT_NEAR(second.duration(), probeDuration(b), 0.05);
}

TEST_F(PlayerControlTest, PlaysOverHttp) {
    auto file = dir.path() / "clip.webm";
    makeClip(file);
    std::ifstream in(file, std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    HttpServer server;
    server.serve("/clip.webm", bytes.str(), "video/webm");
    TestPlayer p;
    p.setUrl(server.url("/clip.webm"));
    ASSERT_TRUE(pumpUntil([&] { return p.state() == psMediaEnded; }));
    EXPECT_TRUE(p.log->saw(psPlaying));
    EXPECT_TRUE(p.log->errors.empty());
    EXPECT_EQ(server.count([](const HttpRequest& r) { return r.path == "/clip.webm"; }) > 0, true);

    // A page the server does not have is a media error.
    p.setUrl(server.url("/nothing.webm"));
    ASSERT_TRUE(pumpUntil([&] { return !p.log->errors.empty(); }));
}

TEST_F(PlayerControlTest, ASinkThatCallsBackIntoTheControlSeesEveryStateInOrder) {
    auto file = dir.path() / "tone.ogg";
    makeTone(file, 1.0);
    TestPlayer p;
    auto second = makeObject<EventLog>();
    ComPtr<IConnectionPoint> point;
    p.player.as<IConnectionPointContainer>()->FindConnectionPoint(IMediaPlayerEvents::iid,
                                                                  point.put());
    std::uint32_t cookie = 0;
    ASSERT_EQ(point->Advise(second->unknown(), &cookie), S_OK);
    // The first sink pauses as soon as playback starts, from inside the event.
    p.log->onState = [&](std::int32_t state) {
        if (state == psPlaying)
            p.controls()->pause();
    };
    p.setUrl(fileUrl(file));
    ASSERT_TRUE(pumpUntil([&] { return p.state() == psPaused; }));
    std::vector<std::int32_t> expected{psTransitioning, psPlaying, psPaused};
    EXPECT_EQ(p.log->states, expected);
    EXPECT_EQ(second->states, expected);
    point->Unadvise(cookie);
}

TEST_F(PlayerControlTest, UiModeAndItsValues) {
    auto site = makeObject<FakeSite>();
    TestPlayer p;
    p.site(site.get());
    Bstr mode;
    p.player->get_uiMode(&mode);
    EXPECT_EQ(mode.toUtf8(), "full");
    for (const char* m : {"none", "invisible", "MINI", "Full"}) {
        ASSERT_EQ(p.player->put_uiMode(Bstr::fromUtf8(m)), S_OK) << m;
        p.player->get_uiMode(&mode);
        std::string lower = m;
        for (char& c : lower)
            c = static_cast<char>(std::tolower(c));
        EXPECT_EQ(mode.toUtf8(), lower);
    }
    EXPECT_EQ(p.player->put_uiMode(Bstr(u"large")), E_INVALIDARG);
    p.player->get_uiMode(&mode);
    EXPECT_EQ(mode.toUtf8(), "full");

    // "custom" asks the site for its skin.
    site->calls.clear();
    EXPECT_EQ(p.player->put_uiMode(Bstr(u"custom")), S_OK);
    EXPECT_EQ(site->calls, (std::vector<std::string>{"GetCustomUIMode"}));

    Bstr version;
    p.player->get_versionInfo(&version);
    EXPECT_EQ(version.toUtf8().rfind(std::to_string(GST_VERSION_MAJOR) + ".", 0), 0u);
}

TEST_F(PlayerControlTest, ScriptReachesTheControlByName) {
    auto file = dir.path() / "tone.ogg";
    makeTone(file, 1.0);
    TestPlayer p;
    Variant url = Variant::fromBstr(Bstr::fromUtf8(fileUrl(file)));
    ASSERT_EQ(putPropertyByName(p.player.get(), u"url", url), S_OK);
    ASSERT_TRUE(pumpUntil([&] { return p.state() == psMediaEnded; }));
    Variant state, media, duration;
    ASSERT_EQ(invokeByName(p.player.get(), u"PLAYSTATE", DISPATCH_PROPERTYGET, {}, &state), S_OK);
    EXPECT_EQ(state.i4(), psMediaEnded);
    ASSERT_EQ(invokeByName(p.player.get(), u"currentMedia", DISPATCH_PROPERTYGET, {}, &media),
              S_OK);
    ASSERT_EQ(media.vt(), VT_DISPATCH);
    ASSERT_EQ(invokeByName(media.dispatch(), u"duration", DISPATCH_PROPERTYGET, {}, &duration),
              S_OK);
    EXPECT_NEAR(duration.r8(), 1.0, 0.05);
    Variant controls;
    ASSERT_EQ(invokeByName(p.player.get(), u"controls", DISPATCH_PROPERTYGET, {}, &controls), S_OK);
    ASSERT_EQ(invokeByName(controls.dispatch(), u"play", DISPATCH_METHOD, {}, nullptr), S_OK);
    ASSERT_TRUE(pumpUntil([&] { return p.state() == psPlaying; }));
}

} // namespace
