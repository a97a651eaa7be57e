// The player object playing real media (made at test time) with native stream filters:
// what the filters receive on the audio and the video path, that what they write is what
// reaches the sinks, the rules of the filter lists, the cases that could deadlock or call
// a released filter, two players at once, and the spectrum listener.

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <numeric>
#include <thread>

#include "media/pipeline/MPActivateFactory.h"
#include "media/pipeline/WaveFormat.h"
#include "media/player/MPPlayerFactory.h"
#include "platform/com/ClassTable.h"
#include "platform/media/PassThroughActivate.h"
#include "tests/media/player/TapTestSupport.h"
#include "tests/support/Process.h"

using namespace norv::test;
using norv::media::MPStream;
using norv::media::MPStreamTap;
using norv::media::WaveFormat;
using norv::script::TaviMedia;
using norv::typelib::AMMediaType;
using norv::typelib::mpsAudio;
using norv::typelib::mpsVideo;

namespace {

std::string fileUrl(const std::filesystem::path& path) {
    return "file://" + path.string();
}

double position(const TestPlayer& p) {
    double at = -1;
    p.controls()->get_currentPosition(&at);
    return at;
}

class PlayerTapsTest : public ::testing::Test {
protected:
    void SetUp() override {
        initMedia();
        ASSERT_EQ(TaviMedia::create(media), S_OK);
    }
    TempDir dir;
    ComPtr<TaviMedia> media;
};

TEST_F(PlayerTapsTest, EveryAudioBufferReachesTheFilterInTheRawFormat) {
    auto file = dir.path() / "tone.ogg";
    makeTone(file, 2.0);
    SitedPlayer p;
    auto filter = makeObject<RecordingFilter>();
    AMMediaType type;
    EXPECT_EQ(p.stream()->getStreamType(mpsAudio, &type), OLE_E_BLANK);
    EXPECT_EQ(p.stream()->getStreamType(norv::typelib::mpsUnknown, &type), E_NOTIMPL);
    // Before any playback the filter is kept for the taps to come.
    EXPECT_EQ(p.stream()->insertFilter(filter.get(), mpsAudio), S_FALSE);

    bool typedWhilePlaying = false;
    p.control.log->onState = [&](std::int32_t state) {
        if (state == psPlaying)
            typedWhilePlaying = succeeded(p.stream()->getStreamType(mpsAudio, &type));
    };
    p.control.setUrl(fileUrl(file));
    ASSERT_TRUE(pumpUntil([&] { return p.control.state() == psMediaEnded; }));
    ASSERT_TRUE(typedWhilePlaying);

    EXPECT_EQ(type.majortype, norv::media::kMediaTypeAudio);
    EXPECT_EQ(type.formattype, norv::media::kFormatWaveFormatEx);
    auto format = WaveFormat::fromBytes(type.format);
    ASSERT_TRUE(format);
    EXPECT_EQ(format->samplesPerSec, 44100u);
    // Vorbis decodes to floats: the tap keeps them.
    EXPECT_EQ(format->formatTag, norv::media::kWaveFormatIeeeFloat);
    EXPECT_EQ(format->blockAlign, format->channels * 4);
    EXPECT_EQ(type.lSampleSize, format->blockAlign);

    auto calls = filter->calls();
    ASSERT_GT(calls.size(), 10u);
    double total = 0;
    for (std::size_t i = 0; i < calls.size(); ++i) {
        const SampleCall& c = calls[i];
        EXPECT_EQ(c.type, mpsAudio);
        EXPECT_EQ(c.sizeType, VT_I4);
        EXPECT_NE(c.thread, std::this_thread::get_id()) << "filters run on the streaming thread";
        ASSERT_GT(c.end, c.start);
        if (i > 0) {
            EXPECT_GT(c.start, calls[i - 1].start);
        }
        // The bytes are whole frames of the raw format, as many as the time span holds.
        EXPECT_EQ(c.size % format->blockAlign, 0u);
        EXPECT_NEAR(c.size / format->blockAlign, (c.end - c.start) * format->samplesPerSec, 1.0);
        total += c.end - c.start;
    }
    EXPECT_NEAR(calls.front().start, 0.0, 0.01);
    EXPECT_NEAR(total, probeDuration(file), 0.02 * probeDuration(file));
}

TEST_F(PlayerTapsTest, WhatAnAudioFilterWritesIsWhatTheSinkPlays) {
    auto file = dir.path() / "tone.ogg";
    makeTone(file, 2.0);
    SitedPlayer p;
    SinkProbe sink;
    p.site->onPreRender = [&](GstElement* pipeline) {
        sink.attach(audioSinkOf(pipeline));
    };
    // Silence from one second on.
    auto filter = makeObject<RecordingFilter>();
    filter->change = [](const SampleCall& c, std::uint8_t* data) {
        if (c.start >= 1.0)
            std::memset(data, 0, c.size);
    };
    p.stream()->insertFilter(filter.get(), mpsAudio);
    p.control.setUrl(fileUrl(file));
    ASSERT_TRUE(pumpUntil([&] { return p.control.state() == psMediaEnded; }));

    int loudBefore = 0, silentBefore = 0, loudAfter = 0, silentAfter = 0;
    for (const auto& s : sink.seen()) {
        if (s.start < 0.95)
            ++(s.silent ? silentBefore : loudBefore);
        else if (s.start >= 1.0)
            ++(s.silent ? silentAfter : loudAfter);
    }
    EXPECT_GT(loudBefore, 5);
    EXPECT_EQ(silentBefore, 0);
    EXPECT_GT(silentAfter, 5);
    EXPECT_EQ(loudAfter, 0);
}

TEST_F(PlayerTapsTest, AVideoFilterThatInvertsChangesTheFramesTheSinkShows) {
    auto file = dir.path() / "colour.webm";
    constexpr std::uint8_t r = 0x30, g = 0x60, b = 0xC0;
    makeColourClip(file, (r << 16) | (g << 8) | b, 2.0);
    SitedPlayer p;
    SinkProbe sink;
    p.site->onPreRender = [&](GstElement* pipeline) {
        sink.attach(videoSinkOf(pipeline));
    };
    auto filter = makeObject<RecordingFilter>();
    filter->change = [](const SampleCall& c, std::uint8_t* data) {
        if (c.start < 1.0)
            return;
        for (std::uint32_t i = 0; i < c.size; ++i)
            data[i] = static_cast<std::uint8_t>(255 - data[i]);
    };
    p.stream()->insertFilter(filter.get(), mpsVideo);
    p.control.setUrl(fileUrl(file));
    ASSERT_TRUE(pumpUntil([&] { return p.control.state() == psMediaEnded; }));

    AMMediaType type;
    ASSERT_EQ(p.stream()->getStreamType(mpsVideo, &type), S_OK);
    EXPECT_EQ(type.majortype, norv::media::kMediaTypeVideo);
    EXPECT_EQ(type.lSampleSize, 320u * 240u * 4u);
    // Sixty frames; on a slow machine (sanitizers) the decoder skips some that would be
    // late, before they reach the filter.
    auto calls = filter->calls();
    ASSERT_GE(calls.size(), 20u);
    for (const auto& c : calls) {
        EXPECT_EQ(c.type, mpsVideo);
        EXPECT_EQ(c.sizeType, VT_UI4);
        EXPECT_EQ(c.size, 320u * 240u * 4u);
        EXPECT_NEAR(c.end - c.start, 1.0 / 30, 0.002);
    }

    auto near = [](const SinkProbe::Seen& s, int rr, int gg, int bb) {
        return std::abs(s.bgr[2] - rr) < 16 && std::abs(s.bgr[1] - gg) < 16 &&
               std::abs(s.bgr[0] - bb) < 16;
    };
    int plain = 0, inverted = 0, other = 0;
    for (const auto& s : sink.seen()) {
        if (s.start < 0.95 && near(s, r, g, b))
            ++plain;
        else if (s.start >= 1.0 && near(s, 255 - r, 255 - g, 255 - b))
            ++inverted;
        else if (s.start < 0.95 || s.start >= 1.0)
            ++other;
    }
    EXPECT_GT(plain, 20);
    EXPECT_GT(inverted, 20);
    EXPECT_EQ(other, 0);
}

TEST_F(PlayerTapsTest, FilterListRulesWhilePlaying) {
    auto file = dir.path() / "tone.ogg";
    makeTone(file, 2.0);
    SitedPlayer p;
    auto once = makeObject<RecordingFilter>();
    auto failing = makeObject<RecordingFilter>();
    auto never = makeObject<RecordingFilter>();
    auto removed = makeObject<RecordingFilter>();
    failing->result = E_FAIL;
    HRESULT first = E_UNEXPECTED, second = E_UNEXPECTED, none = E_UNEXPECTED;
    HRESULT removeBoth = E_UNEXPECTED;
    // The failing filter comes first: the ones after it are called all the same.
    p.stream()->insertFilter(failing.get(), mpsAudio);
    p.control.log->onState = [&](std::int32_t state) {
        if (state != psPlaying)
            return;
        first = p.stream()->insertFilter(once.get(), mpsAudio);
        second = p.stream()->insertFilter(once.get(), mpsAudio);
        none = p.stream()->insertFilter(never.get(), 0);
        p.stream()->insertFilter(removed.get(), mpsAudio | mpsVideo);
        removeBoth = p.stream()->removeFilter(removed.get(), 0);
    };
    p.control.setUrl(fileUrl(file));
    ASSERT_TRUE(pumpUntil([&] { return p.control.state() == psMediaEnded; }));

    EXPECT_EQ(first, S_OK);
    EXPECT_EQ(second, S_FALSE);
    EXPECT_EQ(none, E_NOTIMPL);
    // The result is that of the video list, which no tap of this audio medium shares.
    EXPECT_EQ(removeBoth, S_FALSE);
    ASSERT_GT(once->count(), 10u);
    // One entry: once per sample, each a sample the failing filter saw before it.
    auto a = once->calls(), f = failing->calls();
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (i > 0) {
            EXPECT_GT(a[i].start, a[i - 1].start);
        }
        EXPECT_TRUE(
            std::any_of(f.begin(), f.end(), [&](auto& c) { return c.start == a[i].start; }));
    }
    EXPECT_EQ(f.back().start, a.back().start);
    EXPECT_EQ(never->count(), 0u);
    EXPECT_EQ(removed->count(), 0u);
}

TEST_F(PlayerTapsTest, WithoutTheAudioTransformAGrabberTapsInFrontOfTheSink) {
    auto file = dir.path() / "tone.ogg";
    makeTone(file, 2.0);
    SitedPlayer p;
    // A class of someone else's for the audio transform's activation, registered after
    // the program's: the control's audio then plays without the program's transform.
    std::uint32_t cookie = 0;
    ASSERT_EQ(
        registerClassObject(CLSID_MediaActivate,
                            makeClassFactoryFor<norv::platform::media::PassThroughActivate>().get(),
                            CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &cookie),
        S_OK);
    SinkProbe sink;
    p.site->onPreRender = [&](GstElement* pipeline) {
        sink.attach(audioSinkOf(pipeline));
    };
    auto filter = makeObject<RecordingFilter>();
    filter->change = [](const SampleCall& c, std::uint8_t* data) {
        if (c.start >= 1.0)
            std::memset(data, 0, c.size);
    };
    p.stream()->insertFilter(filter.get(), mpsAudio);
    p.control.setUrl(fileUrl(file));
    ASSERT_TRUE(pumpUntil([&] { return p.control.state() == psMediaEnded; }));

    ASSERT_TRUE(p.streamPart().tap(mpsAudio));
    EXPECT_TRUE(p.streamPart().tap(mpsAudio)->attached());
    auto calls = filter->calls();
    ASSERT_GT(calls.size(), 10u);
    // Linked in between two buffers once the player plays: from the start on, except the
    // one the sink prerolled with.
    EXPECT_LT(calls.front().start, 0.1);
    double total = 0;
    for (const auto& c : calls)
        total += c.end - c.start;
    EXPECT_NEAR(total, probeDuration(file), 0.1);
    int loudAfter = 0, silentAfter = 0;
    for (const auto& s : sink.seen())
        if (s.start >= 1.0)
            ++(s.silent ? silentAfter : loudAfter);
    EXPECT_GT(silentAfter, 5);
    EXPECT_EQ(loudAfter, 0);

    // The next medium: the grabber leaves the chain and comes back for the new one.
    auto calledBefore = filter->count();
    p.control.setUrl(fileUrl(file));
    ASSERT_TRUE(pumpUntil([&] { return p.control.state() == psMediaEnded; }));
    revokeClassObject(cookie);
    EXPECT_TRUE(p.streamPart().tap(mpsAudio)->attached());
    EXPECT_NEAR(filter->count(), 2 * calledBefore, calledBefore / 10);
}

// ---------------------------------------------------------------------------------------
// Cases that could deadlock or call a released filter

TEST_F(PlayerTapsTest, AFilterRemovesItselfAndAnotherFromInsideItsCall) {
    auto file = dir.path() / "tone.ogg";
    makeTone(file, 1.0);
    SitedPlayer p;
    auto stream = p.stream();
    auto self = makeObject<RecordingFilter>();
    auto other = makeObject<RecordingFilter>();
    auto remover = makeObject<RecordingFilter>();
    std::atomic<std::size_t> otherAtRemoval{0};
    self->change = [&](const SampleCall& c, std::uint8_t*) {
        if (c.start >= 0.3)
            stream->removeFilter(self.get(), mpsAudio);
    };
    remover->change = [&](const SampleCall& c, std::uint8_t*) {
        if (c.start >= 0.5 && otherAtRemoval == 0) {
            stream->removeFilter(other.get(), mpsAudio);
            otherAtRemoval = other->count();
        }
    };
    stream->insertFilter(self.get(), mpsAudio);
    stream->insertFilter(remover.get(), mpsAudio);
    stream->insertFilter(other.get(), mpsAudio);
    p.control.setUrl(fileUrl(file));
    ASSERT_TRUE(pumpUntil([&] { return p.control.state() == psMediaEnded; }));

    auto selfCalls = self->calls();
    ASSERT_FALSE(selfCalls.empty());
    EXPECT_GE(selfCalls.back().start, 0.3);
    EXPECT_LT(selfCalls.back().start, 0.35) << "called again after it removed itself";
    EXPECT_GT(otherAtRemoval.load(), 0u);
    EXPECT_EQ(other->count(), otherAtRemoval.load()) << "called after it was removed";
    EXPECT_GT(remover->calls().back().start, 0.8);
}

TEST_F(PlayerTapsTest, ARemovedFilterIsNotCalledAgainWhileSamplesFlow) {
    auto file = dir.path() / "tone.ogg";
    makeTone(file, 2.0);
    SitedPlayer p;
    auto counter = makeObject<RecordingFilter>();
    auto witness = makeObject<RecordingFilter>();
    p.stream()->insertFilter(counter.get(), mpsAudio);
    p.stream()->insertFilter(witness.get(), mpsAudio);
    p.control.setUrl(fileUrl(file));
    ASSERT_TRUE(pumpUntil([&] { return counter->count() > 20; }));
    // Removed from this thread while the streaming thread calls it.
    ASSERT_EQ(p.stream()->removeFilter(counter.get(), mpsAudio), S_OK);
    std::size_t atRemoval = counter->count();
    std::size_t witnessed = witness->count();
    ComPtr<RecordingFilter> keep = counter;
    counter.reset();
    ASSERT_TRUE(pumpUntil([&] { return p.control.state() == psMediaEnded; }));
    EXPECT_GT(witness->count(), witnessed + 20);
    // At most the call that was running when removeFilter returned.
    EXPECT_LE(keep->count(), atRemoval + 1);
}

// A filter that waits for the page (here: until released) while the UI stops, seeks or
// pauses the player.
class WaitingFilterTest : public PlayerTapsTest {
protected:
    void start(std::function<void(SitedPlayer&)> whileHeld) {
        auto file = dir.path() / "tone.ogg";
        makeTone(file, 3.0);
        player = std::make_unique<SitedPlayer>();
        // Far longer than the test may take: only an interruption lets the call go.
        player->streamPart().setFilterDeadline(std::chrono::minutes(10));
        // The first call once the player plays is held.
        filter = makeObject<WaitingFilter>([this](auto deadline, std::stop_token interrupt) {
            if (!playing || held.exchange(true))
                return WaitingFilter::Ended::answered;
            holding = true;
            auto ended = WaitingFilter::holdUntilReleased(deadline, interrupt);
            holding = false;
            return ended;
        });
        player->stream()->insertFilter(filter.get(), mpsAudio);
        player->control.log->onState = [this](std::int32_t state) {
            playing = playing || state == psPlaying;
        };
        player->control.setUrl(fileUrl(file));
        ASSERT_TRUE(pumpUntil([&] { return holding.load(); }));
        whileHeld(*player);
    }
    // How the held call ended: the only one that did not answer.
    WaitingFilter::Ended held_end() const {
        auto ends = filter->ends();
        auto it = std::find_if(ends.begin(), ends.end(),
                               [](auto e) { return e != WaitingFilter::Ended::answered; });
        return it == ends.end() ? WaitingFilter::Ended::answered : *it;
    }
    std::unique_ptr<SitedPlayer> player;
    ComPtr<WaitingFilter> filter;
    std::atomic<bool> playing{false};
    std::atomic<bool> held{false};
    std::atomic<bool> holding{false};
};

TEST_F(WaitingFilterTest, StoppingReleasesAFilterCallInFlight) {
    start([](SitedPlayer& p) { ASSERT_EQ(p.control.controls()->stop(), S_OK); });
    ASSERT_TRUE(pumpUntil([&] { return !holding; }));
    EXPECT_EQ(held_end(), WaitingFilter::Ended::interrupted);
    EXPECT_EQ(player->control.state(), psStopped);
    // Playing again, the filter is called again.
    std::size_t before = filter->ends().size();
    player->control.controls()->play();
    ASSERT_TRUE(pumpUntil([&] { return player->control.state() == psMediaEnded; }));
    EXPECT_GT(filter->ends().size(), before + 10);
}

TEST_F(WaitingFilterTest, SeekingReleasesAFilterCallInFlight) {
    start([](SitedPlayer& p) { ASSERT_EQ(p.control.controls()->put_currentPosition(2.0), S_OK); });
    ASSERT_TRUE(pumpUntil([&] { return player->control.state() == psMediaEnded; }));
    EXPECT_EQ(held_end(), WaitingFilter::Ended::interrupted);
}

TEST_F(WaitingFilterTest, PausingWhileAFilterCallIsInFlightDoesNotWaitForIt) {
    start([](SitedPlayer& p) { ASSERT_EQ(p.control.controls()->pause(), S_OK); });
    ASSERT_TRUE(pumpUntil([&] { return player->control.state() == psPaused; }));
    EXPECT_TRUE(holding);
    player->control.controls()->stop();
    ASSERT_TRUE(pumpUntil([&] { return !holding; }));
    EXPECT_EQ(held_end(), WaitingFilter::Ended::interrupted);
}

TEST_F(WaitingFilterTest, TheElementLeavingThePageReleasesAFilterCallInFlight) {
    // The host clears the site when the element leaves the document or the page goes.
    start([](SitedPlayer& p) {
        ASSERT_EQ(p.control.player.as<IOleObject>()->SetClientSite(nullptr), S_OK);
    });
    ASSERT_TRUE(pumpUntil([&] { return !holding; }));
    EXPECT_EQ(held_end(), WaitingFilter::Ended::interrupted);
    // And the player goes without waiting for anything.
    player.reset();
}

TEST_F(PlayerTapsTest, AFilterThatWaitsForTheUiThreadWhileItStopsThePlayer) {
    auto file = dir.path() / "tone.ogg";
    makeTone(file, 3.0);
    SitedPlayer p;
    p.streamPart().setFilterDeadline(std::chrono::minutes(10));
    std::atomic<bool> stopping{false};
    // Each call asks the UI thread for something and waits for the answer, as a call into
    // page script does.
    auto filter = makeObject<WaitingFilter>([&](auto deadline, std::stop_token interrupt) {
        struct Ask {
            std::mutex m;
            std::condition_variable_any cv;
            bool answered = false;
        };
        auto ask = std::make_shared<Ask>();
        auto* keep = new std::shared_ptr<Ask>(ask);
        g_idle_add_full(
            G_PRIORITY_DEFAULT,
            [](gpointer data) -> gboolean {
                auto& a = **static_cast<std::shared_ptr<Ask>*>(data);
                std::lock_guard lock(a.m);
                a.answered = true;
                a.cv.notify_all();
                return G_SOURCE_REMOVE;
            },
            keep, [](gpointer data) { delete static_cast<std::shared_ptr<Ask>*>(data); });
        std::unique_lock lock(ask->m);
        bool answered =
            ask->cv.wait_until(lock, interrupt, deadline, [&] { return ask->answered; });
        if (answered)
            return WaitingFilter::Ended::answered;
        return interrupt.stop_requested() ? WaitingFilter::Ended::interrupted
                                          : WaitingFilter::Ended::deadline;
    });
    p.stream()->insertFilter(filter.get(), mpsAudio);
    p.control.setUrl(fileUrl(file));
    ASSERT_TRUE(pumpUntil([&] { return filter->ends().size() > 20; }));
    // The UI thread stops the player without serving the filter's requests meanwhile.
    stopping = true;
    ASSERT_EQ(p.control.controls()->stop(), S_OK);
    EXPECT_EQ(p.control.state(), psStopped);
    ASSERT_TRUE(pumpUntil([&] { return filter->inFlight == 0; }));
    for (auto e : filter->ends())
        EXPECT_NE(e, WaitingFilter::Ended::deadline);
}

TEST_F(PlayerTapsTest, AFilterThatDoesNotAnswerIsSkippedForThatSampleOnly) {
    auto file = dir.path() / "tone.ogg";
    makeTone(file, 1.0);
    SitedPlayer p;
    p.streamPart().setFilterDeadline(std::chrono::milliseconds(300));
    std::atomic<int> calls{0};
    auto filter = makeObject<WaitingFilter>([&](auto deadline, std::stop_token interrupt) {
        if (calls++ == 0)
            return WaitingFilter::holdUntilReleased(deadline, interrupt);
        return WaitingFilter::Ended::answered;
    });
    auto after = makeObject<RecordingFilter>();
    p.stream()->insertFilter(filter.get(), mpsAudio);
    p.stream()->insertFilter(after.get(), mpsAudio);
    p.control.setUrl(fileUrl(file));
    ASSERT_TRUE(pumpUntil([&] { return p.control.state() == psMediaEnded; }));
    auto ends = filter->ends();
    ASSERT_GT(ends.size(), 10u);
    EXPECT_EQ(ends[0], WaitingFilter::Ended::deadline);
    EXPECT_EQ(std::count(ends.begin(), ends.end(), WaitingFilter::Ended::answered),
              static_cast<long>(ends.size() - 1));
    // The filter after it saw every sample, the skipped one included.
    EXPECT_EQ(after->count(), ends.size());
}

// ---------------------------------------------------------------------------------------

TEST_F(PlayerTapsTest, TwoPlayersEachTapTheirOwnMedium) {
    auto shortFile = dir.path() / "short.ogg";
    auto longFile = dir.path() / "long.ogg";
    makeTone(shortFile, 1.0);
    makeTone(longFile, 2.0);
    auto one = std::make_unique<SitedPlayer>();
    EXPECT_TRUE(norv::media::MPPlayerFactory::inSlot());
    auto two = std::make_unique<SitedPlayer>();
    EXPECT_TRUE(norv::media::MPPlayerFactory::inSlot());
    EXPECT_TRUE(norv::media::MPActivateFactory::inSlot());
    EXPECT_EQ(norv::media::MPActivateFactory::hooks().size(), 2u);
    auto f1 = makeObject<RecordingFilter>();
    auto f2 = makeObject<RecordingFilter>();
    one->stream()->insertFilter(f1.get(), mpsAudio);
    two->stream()->insertFilter(f2.get(), mpsAudio);
    one->control.setUrl(fileUrl(shortFile));
    two->control.setUrl(fileUrl(longFile));
    ASSERT_TRUE(pumpUntil([&] {
        return one->control.state() == psMediaEnded && two->control.state() == psMediaEnded;
    }));
    auto spanOf = [](const RecordingFilter& f) {
        auto calls = f.calls();
        return std::accumulate(calls.begin(), calls.end(), 0.0,
                               [](double s, const SampleCall& c) { return s + c.end - c.start; });
    };
    EXPECT_NEAR(spanOf(*f1), probeDuration(shortFile), 0.05);
    EXPECT_NEAR(spanOf(*f2), probeDuration(longFile), 0.05);
    EXPECT_NE(one->streamPart().tap(mpsAudio), two->streamPart().tap(mpsAudio));

    one.reset();
    EXPECT_TRUE(norv::media::MPActivateFactory::inSlot());
    two.reset();
    EXPECT_FALSE(norv::media::MPActivateFactory::inSlot());
    EXPECT_TRUE(norv::media::MPPlayerFactory::inSlot());
}

// ---------------------------------------------------------------------------------------
// The spectrum listener

struct ITestListener : IDispatch {
    static constexpr IID iid = guid("{D8BB5F68-3E64-4422-8AC7-7EE7B4A3BC66}");
    using Base = IDispatch;
    virtual HRESULT call(IDispatch* sample) = 0;
    static const InterfaceInfo& interfaceInfo() {
        static const InterfaceInfo info = describeInterface<ITestListener>(
            u"ITestListener", nullptr, method(0, u"call", &ITestListener::call, {u"sample"}));
        return info;
    }
};

class SpectrumListener final : public DispatchObject<SpectrumListener, ITestListener> {
public:
    struct Delivery {
        std::chrono::steady_clock::time_point at;
        double position;
        std::int32_t time, rate, channels, fftLength, peakLevel;
        std::thread::id thread;
    };
    explicit SpectrumListener(TestPlayer& player) : player_(&player) {}
    HRESULT call(IDispatch* sample) override {
        if (onCall) {
            deliveries.push_back({});
            onCall();
            return S_OK;
        }
        ComPtr<norv::typelib::IMPMediaSample> s;
        EXPECT_EQ(sample->QueryInterface(norv::typelib::IMPMediaSample::iid, s.putVoid()), S_OK);
        Delivery d{std::chrono::steady_clock::now(), position(*player_), 0, 0, 0, 0, 0,
                   std::this_thread::get_id()};
        s->get_time(&d.time);
        s->get_rate(&d.rate);
        s->get_channels(&d.channels);
        s->get_fftLength(&d.fftLength);
        for (std::int32_t band = 0; band < d.fftLength; ++band) {
            std::int32_t level = 0;
            s->get_fftSpectrum(band, &level);
            d.peakLevel = std::max(d.peakLevel, level);
        }
        deliveries.push_back(d);
        return S_OK;
    }
    std::vector<Delivery> deliveries;
    std::function<void()> onCall; // instead of reading the sample

private:
    TestPlayer* player_;
};

TEST_F(PlayerTapsTest, SpectrumDeliveriesComeEveryPeriodWhilePlayingAndStopAfterPause) {
    auto file = dir.path() / "tone.ogg";
    makeTone(file, 4.0);
    SitedPlayer p;
    auto listener = makeObject<SpectrumListener>(p.control);
    auto services = p.services();
    EXPECT_EQ(services->audioSpectrumListener(listener.get(), 49), E_INVALIDARG);
    ASSERT_EQ(services->audioSpectrumListener(listener.get(), 100), S_OK);
    p.control.setUrl(fileUrl(file));
    ASSERT_TRUE(
        pumpUntil([&] { return p.control.state() == psPlaying && position(p.control) > 0.5; }));
    auto from = std::chrono::steady_clock::now();
    std::size_t before = listener->deliveries.size();
    ASSERT_TRUE(pumpUntil([&] { return position(p.control) > 2.0; }));
    auto span = std::chrono::duration<double>(std::chrono::steady_clock::now() - from).count();
    std::size_t during = listener->deliveries.size() - before;
    EXPECT_GT(during, span / 0.1 * 0.6);
    EXPECT_LT(during, span / 0.1 * 1.4 + 1);
    for (const auto& d : listener->deliveries) {
        EXPECT_EQ(d.thread, std::this_thread::get_id()) << "the listener runs on the UI thread";
        EXPECT_EQ(d.rate, 44100);
        EXPECT_EQ(d.fftLength, 45);
    }
    // The window is the one heard at the position: its time is that second, and the tone
    // is in it.
    const auto& last = listener->deliveries.back();
    EXPECT_GT(last.peakLevel, 0);
    EXPECT_LE(last.time, last.position);
    EXPECT_GT(last.time, last.position - 1.2);

    ASSERT_EQ(p.control.controls()->pause(), S_OK);
    ASSERT_TRUE(pumpUntil([&] { return p.control.state() == psPaused; }));
    std::size_t atPause = listener->deliveries.size();
    // Six periods without a second delivery.
    EXPECT_FALSE(pumpUntil([&] { return listener->deliveries.size() > atPause + 1; }, 600ms));

    // Null removes the listener.
    ASSERT_EQ(services->audioSpectrumListener(nullptr, 0), S_OK);
    p.control.controls()->play();
    std::size_t atRemoval = listener->deliveries.size();
    ASSERT_TRUE(pumpUntil([&] { return p.control.state() == psMediaEnded; }));
    EXPECT_EQ(listener->deliveries.size(), atRemoval);
}

TEST_F(PlayerTapsTest, AListenerThatTakesThePlayerOffThePageFromInsideItsCall) {
    auto file = dir.path() / "tone.ogg";
    makeTone(file, 3.0);
    auto p = std::make_unique<SitedPlayer>();
    auto listener = makeObject<SpectrumListener>(p->control);
    bool gone = false;
    listener->onCall = [&] {
        if (gone)
            return;
        gone = true;
        // The element leaves the page while the spectrum worker waits for this call.
        p.reset();
    };
    ASSERT_EQ(p->services()->audioSpectrumListener(listener.get(), 50), S_OK);
    p->control.setUrl(fileUrl(file));
    ASSERT_TRUE(pumpUntil([&] { return gone; }));
    // Nothing calls the listener of a player that is gone.
    std::size_t calls = listener->deliveries.size();
    EXPECT_FALSE(pumpUntil([&] { return listener->deliveries.size() > calls; }, 300ms));
}

} // namespace
