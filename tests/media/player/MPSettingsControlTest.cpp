// The settings part with the real control (GStreamer, no display): the package is made,
// the control loads it while startup switches uiMode to "custom" and back, and the
// equaliser then answers from the control's skin element. A package the control cannot
// load makes startup fail and leaves the medium playing.

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <optional>

#include "media/player/MPSettings.h"
#include "media/player/SkinPackage.h"
#include "tests/platform/media/PlayerTestSupport.h"
#include "tests/support/Process.h"

using namespace norv::media;
using namespace norv::test;

namespace {

class MPSettingsControlTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (const char* previous = std::getenv("TMPDIR"))
            previousTmp_ = previous;
        ::setenv("TMPDIR", dir.path().c_str(), 1);
        SkinPackage::discard();
    }
    void TearDown() override {
        SkinPackage::discard();
        if (previousTmp_)
            ::setenv("TMPDIR", previousTmp_->c_str(), 1);
        else
            ::unsetenv("TMPDIR");
    }
    std::optional<std::string> previousTmp_;

    // Binds `part` to the control as the player plugin does: the player first, then the
    // plugin's site with the scriptable object and the package's address.
    void bind(MPSettings* part, TestPlayer& player, FakeSite* site) {
        ASSERT_EQ(part->put_services(player.player.get()), S_OK);
        Bstr address;
        ASSERT_EQ(SkinPackage::customUiMode(&address), S_OK);
        site->customSkin = address.toUtf8();
        site->scriptable = ComPtr<MPSettings>(part).as<IDispatch>();
        player.site(site);
    }

    static Bstr uiMode(TestPlayer& player) {
        Bstr mode;
        player.player->get_uiMode(&mode);
        return mode;
    }

    TempDir dir;
};

} // namespace

TEST_F(MPSettingsControlTest, StartupObtainsTheControlsEqualiser) {
    TestPlayer player;
    auto site = makeObject<FakeSite>();
    auto settings = makeObject<MPSettings>();
    bind(settings.get(), player, site.get());
    ASSERT_EQ(settings->startup(), S_OK);
    EXPECT_EQ(uiMode(player).toUtf8(), "full");

    ComPtr<IMPAudioSettings> audio;
    ASSERT_EQ(settings->get_audio(audio.put()), S_OK);
    ComPtr<IMPEqualizer> eq;
    ComPtr<IMPAudioEffects> fx;
    ASSERT_EQ(audio->get_equalizer(eq.put()), S_OK);
    ASSERT_EQ(audio->get_effects(fx.put()), S_OK);

    // The control's element answers: a gain set reads back, the control's range applies.
    float gain = 0;
    ASSERT_EQ(eq->put_gainLevels(3, 5.5f), S_OK);
    ASSERT_EQ(eq->get_gainLevels(3, &gain), S_OK);
    EXPECT_EQ(gain, 5.5f);
    ASSERT_EQ(eq->put_gainLevels(0, 40.0f), S_OK);
    ASSERT_EQ(eq->get_gainLevels(0, &gain), S_OK);
    EXPECT_EQ(gain, 12.0f);
    std::int32_t value = 0;
    ASSERT_EQ(eq->get_freqValues(9, &value), S_OK);
    EXPECT_EQ(value, 16000);
    ASSERT_EQ(fx->put_speakerSize(9), S_OK);
    ASSERT_EQ(fx->get_speakerSize(&value), S_OK);
    EXPECT_EQ(value, 2);

    ComPtr<IMPVideoSettings> video;
    EXPECT_EQ(settings->get_video(video.put()), E_NOINTERFACE);
    // Both elements held: the player is not taken again.
    EXPECT_EQ(settings->put_services(player.player.get()), S_FALSE);

    // A second player of the process uses the same package and gets its own equaliser.
    const std::string package = SkinPackage::path();
    TestPlayer second;
    auto secondSite = makeObject<FakeSite>();
    auto secondSettings = makeObject<MPSettings>();
    bind(secondSettings.get(), second, secondSite.get());
    ASSERT_EQ(secondSettings->startup(), S_OK);
    EXPECT_EQ(SkinPackage::path(), package);
    std::size_t packages = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
        packages += entry.path().extension() == ".wmz";
    EXPECT_EQ(packages, 1u);
    ComPtr<IMPAudioSettings> secondAudio;
    ComPtr<IMPEqualizer> secondEq;
    secondSettings->get_audio(secondAudio.put());
    secondAudio->get_equalizer(secondEq.put());
    secondEq->put_gainLevels(5, -6.0f);
    eq->get_gainLevels(5, &gain);
    EXPECT_EQ(gain, 0.0f);
    // As the plugin does when the player loses its site: the part and the control let go
    // of each other.
    settings->put_services(nullptr);
    secondSettings->put_services(nullptr);
}

TEST_F(MPSettingsControlTest, APackageTheControlCannotLoadFailsStartupAndPlaybackGoesOn) {
    auto medium = dir.path() / "tone.ogg";
    makeTone(medium, 3.0);
    TestPlayer player;
    auto site = makeObject<FakeSite>();
    auto settings = makeObject<MPSettings>();
    bind(settings.get(), player, site.get());
    // The package damaged after it was made.
    std::ofstream(SkinPackage::path(), std::ios::trunc) << "not a package";

    player.setUrl("file://" + medium.string());
    ASSERT_TRUE(pumpUntil([&] { return player.state() == psPlaying; }));
    EXPECT_EQ(settings->startup(), E_FAIL);
    EXPECT_EQ(uiMode(player).toUtf8(), "full");
    EXPECT_EQ(player.state(), psPlaying);
    ComPtr<IMPAudioSettings> audio;
    ComPtr<IMPEqualizer> eq;
    settings->get_audio(audio.put());
    audio->get_equalizer(eq.put());
    float gain;
    EXPECT_EQ(eq->get_gainLevels(0, &gain), OLE_E_BLANK);
    ASSERT_TRUE(pumpUntil([&] { return player.state() == psMediaEnded; }));
    EXPECT_TRUE(player.log->errors.empty());

    // Without a package the control keeps its own interface: startup fails the same way.
    SkinPackage::discard();
    site->customSkin.clear();
    EXPECT_EQ(settings->startup(), E_FAIL);
    EXPECT_EQ(uiMode(player).toUtf8(), "full");
    settings->put_services(nullptr);
}
