// The settings part against the control's skin element (the real EQUALIZERSETTINGS over
// effects without a pipeline) and a stand-in for the control's uiMode switch: by-name
// access with the index rule, the band table, the once-only audio and video, the
// services and startup rules.

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>

#include "media/player/MPSettings.h"
#include "media/player/SkinPackage.h"
#include "platform/media/AudioEffects.h"
#include "platform/media/EqualizerSettings.h"
#include "platform/media/VideoSettings.h"
#include "tests/support/Process.h"

using namespace norv::com;
using namespace norv::media;
using namespace norv::platform::media;
using norv::test::TempDir;

namespace {

// Stands in for the control: switching uiMode to "custom" runs the skin's onload, which
// puts the elements into the scriptable object by name.
class FakeControl final : public DispatchObject<FakeControl, IMediaPlayer> {
public:
    HRESULT get_URL(Bstr* out) override { return *out = Bstr::empty(), S_OK; }
    HRESULT put_URL(const Bstr&) override { return S_OK; }
    HRESULT get_playState(PlayState* out) override { return *out = psUndefined, S_OK; }
    HRESULT get_controls(IMediaControls**) override { return E_NOTIMPL; }
    HRESULT get_settings(IMediaSettings**) override { return E_NOTIMPL; }
    HRESULT get_currentMedia(IMediaItem**) override { return E_NOTIMPL; }
    HRESULT get_uiMode(Bstr* out) override {
        if (failed(getResult))
            return getResult;
        *out = Bstr(mode);
        return S_OK;
    }
    HRESULT put_uiMode(const Bstr& value) override {
        modes.emplace_back(value.view());
        if (value.view() == u"custom") {
            if (failed(customResult))
                return customResult;
            if (scriptable && audio)
                putPropertyByName(scriptable.get(), u"audio", Variant::fromDispatch(audio.get()));
            if (scriptable && video)
                putPropertyByName(scriptable.get(), u"video", Variant::fromDispatch(video.get()));
        }
        mode = value.view();
        return S_OK;
    }
    HRESULT get_versionInfo(Bstr* out) override { return *out = Bstr(u"1"), S_OK; }
    HRESULT close() override { return S_OK; }

    std::u16string mode = u"full";
    std::vector<std::u16string> modes;
    HRESULT getResult = S_OK;
    HRESULT customResult = S_OK;
    ComPtr<IDispatch> scriptable, audio, video;
};

// A skin element that has only a failing "bypass".
struct IBrokenElement : IDispatch {
    static constexpr IID iid = guid("{0D3A1C55-8E2B-4C7F-A1D9-6B4E2F8C3A10}");
    using Base = IDispatch;
    virtual HRESULT get_bypass(VARIANT_BOOL* pVal) = 0;
    static const InterfaceInfo& interfaceInfo() {
        using I = IBrokenElement;
        static const InterfaceInfo info =
            describeInterface<I>(u"IBrokenElement", u"", propget(1, u"bypass", &I::get_bypass));
        return info;
    }

protected:
    ~IBrokenElement() = default;
};

class BrokenElement final : public DispatchObject<BrokenElement, IBrokenElement> {
public:
    HRESULT get_bypass(VARIANT_BOOL*) override { return E_UNEXPECTED; }
};

class MPSettingsTest : public ::testing::Test {
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

    ComPtr<IMPEqualizer> equalizer() {
        ComPtr<IMPAudioSettings> audio;
        EXPECT_EQ(settings->get_audio(audio.put()), S_OK);
        ComPtr<IMPEqualizer> eq;
        EXPECT_EQ(audio->get_equalizer(eq.put()), S_OK);
        return eq;
    }
    ComPtr<IMPAudioEffects> effects() {
        ComPtr<IMPAudioSettings> audio;
        EXPECT_EQ(settings->get_audio(audio.put()), S_OK);
        ComPtr<IMPAudioEffects> fx;
        EXPECT_EQ(audio->get_effects(fx.put()), S_OK);
        return fx;
    }

    TempDir dir;
    ComPtr<MPSettings> settings = makeObject<MPSettings>();
    std::shared_ptr<AudioEffects> controlEffects = AudioEffects::create(nullptr);
    ComPtr<IEqualizerSettings> element = makeObject<EqualizerSettings>(controlEffects, "eq");
};

} // namespace

TEST_F(MPSettingsTest, BeforeTheSkinElementArrivesEveryMemberIsBlank) {
    auto eq = equalizer();
    auto fx = effects();
    // Out-pointers are checked first.
    EXPECT_EQ(eq->get_bypass(nullptr), E_POINTER);
    EXPECT_EQ(eq->get_bands(nullptr), E_POINTER);
    EXPECT_EQ(eq->get_gainLevels(0, nullptr), E_POINTER);
    EXPECT_EQ(eq->get_freqValues(0, nullptr), E_POINTER);
    EXPECT_EQ(fx->get_wowLevel(nullptr), E_POINTER);

    VARIANT_BOOL b;
    std::int32_t i;
    float f;
    EXPECT_EQ(eq->get_bypass(&b), OLE_E_BLANK);
    EXPECT_EQ(eq->put_bypass(VARIANT_TRUE), OLE_E_BLANK);
    EXPECT_EQ(eq->get_bands(&i), OLE_E_BLANK);
    EXPECT_EQ(eq->get_gainLevels(1, &f), OLE_E_BLANK);
    EXPECT_EQ(eq->put_gainLevels(1, 0.0f), OLE_E_BLANK);
    EXPECT_EQ(eq->get_freqValues(0, &i), OLE_E_BLANK);
    EXPECT_EQ(eq->reset(), OLE_E_BLANK);
    EXPECT_EQ(fx->get_enable(&b), OLE_E_BLANK);
    EXPECT_EQ(fx->put_speakerSize(1), OLE_E_BLANK);
    EXPECT_EQ(fx->get_truBassLevel(&i), OLE_E_BLANK);
    EXPECT_EQ(fx->put_wowLevel(1), OLE_E_BLANK);
    EXPECT_EQ(settings->startup(), OLE_E_BLANK) << "no player yet";

    ComPtr<IMPVideoSettings> video;
    EXPECT_EQ(settings->get_video(video.put()), E_NOINTERFACE);
}

TEST_F(MPSettingsTest, AudioAndVideoAreTakenOnceAndVideoIsNeverOffered) {
    // Script reaches the part through its IDispatch, which is IMPSettings.
    ComPtr<IDispatch> dispatch = settings.as<IDispatch>();
    DISPID id = 0;
    ASSERT_EQ(getIdOfName(dispatch.get(), u"audio", id), S_OK);
    EXPECT_EQ(id, 1);

    EXPECT_EQ(settings->put_audio(nullptr), E_NOINTERFACE);
    VARIANT_BOOL b;
    EXPECT_EQ(equalizer()->get_bypass(&b), OLE_E_BLANK);
    EXPECT_EQ(settings->put_audio(element.get()), S_OK);
    EXPECT_EQ(settings->put_audio(element.get()), E_ACCESSDENIED);
    auto picture = makeObject<VideoSettings>(nullptr, "vs");
    EXPECT_EQ(settings->put_video(nullptr), E_NOINTERFACE);
    EXPECT_EQ(settings->put_video(picture.get()), S_OK);
    EXPECT_EQ(settings->put_video(picture.get()), E_ACCESSDENIED);
    ComPtr<IMPVideoSettings> video;
    EXPECT_EQ(settings->get_video(video.put()), E_NOINTERFACE);
    EXPECT_FALSE(video);
}

TEST_F(MPSettingsTest, EveryMemberIsTheSkinElementsPropertyWithBandsCountedFromOne) {
    ASSERT_EQ(settings->put_audio(element.get()), S_OK);
    auto eq = equalizer();
    auto fx = effects();

    // Band iIndex is the control's band iIndex + 1, both ways.
    controlEffects->setGain(3, 5.0f); // the control's band 4
    float gain = 0;
    ASSERT_EQ(eq->get_gainLevels(3, &gain), S_OK);
    EXPECT_EQ(gain, 5.0f);
    ASSERT_EQ(eq->put_gainLevels(3, 0.0f), S_OK);
    EXPECT_EQ(controlEffects->gain(3), 0.0f);
    ASSERT_EQ(eq->put_gainLevels(0, 7.5f), S_OK);
    EXPECT_EQ(controlEffects->gain(0), 7.5f);
    ASSERT_EQ(eq->put_gainLevels(9, -4.0f), S_OK);
    EXPECT_EQ(controlEffects->gain(9), -4.0f);
    // Outside the control's bands the control's own error comes back.
    EXPECT_EQ(eq->put_gainLevels(10, 1.0f), E_INVALIDARG);
    EXPECT_EQ(eq->get_gainLevels(-1, &gain), E_INVALIDARG);
    EXPECT_EQ(eq->get_gainLevels(INT32_MAX, &gain), E_INVALIDARG);

    std::int32_t value = 0;
    ASSERT_EQ(eq->get_freqValues(0, &value), S_OK);
    EXPECT_EQ(value, 31);
    ASSERT_EQ(eq->get_freqValues(9, &value), S_OK);
    EXPECT_EQ(value, 16000);
    EXPECT_EQ(eq->get_freqValues(10, &value), E_INVALIDARG);
    EXPECT_EQ(eq->get_freqValues(-1, &value), E_INVALIDARG);
    ASSERT_EQ(eq->get_bands(&value), S_OK);
    EXPECT_EQ(value, 10);

    VARIANT_BOOL flag = VARIANT_FALSE;
    ASSERT_EQ(eq->put_bypass(VARIANT_TRUE), S_OK);
    EXPECT_TRUE(controlEffects->bypass());
    ASSERT_EQ(eq->get_bypass(&flag), S_OK);
    EXPECT_EQ(flag, VARIANT_TRUE);
    ASSERT_EQ(eq->reset(), S_OK);
    EXPECT_EQ(controlEffects->gain(0), 0.0f);

    ASSERT_EQ(fx->put_enable(VARIANT_TRUE), S_OK);
    EXPECT_TRUE(controlEffects->enhanced());
    ASSERT_EQ(fx->get_enable(&flag), S_OK);
    EXPECT_EQ(flag, VARIANT_TRUE);
    ASSERT_EQ(fx->put_speakerSize(0), S_OK);
    ASSERT_EQ(fx->put_truBassLevel(80), S_OK);
    ASSERT_EQ(fx->put_wowLevel(20), S_OK);
    EXPECT_EQ(controlEffects->speakerSize(), 0);
    EXPECT_EQ(controlEffects->bassLevel(), 80);
    EXPECT_EQ(controlEffects->wideningLevel(), 20);
    ASSERT_EQ(fx->get_truBassLevel(&value), S_OK);
    EXPECT_EQ(value, 80);
}

TEST_F(MPSettingsTest, ErrorsOfTheSkinElementComeBackUnchanged) {
    ASSERT_EQ(settings->put_audio(makeObject<BrokenElement>().get()), S_OK);
    VARIANT_BOOL flag;
    std::int32_t value;
    EXPECT_EQ(equalizer()->get_bypass(&flag), E_UNEXPECTED);
    EXPECT_EQ(equalizer()->get_bands(&value), DISP_E_UNKNOWNNAME);
    EXPECT_EQ(effects()->put_wowLevel(1), DISP_E_UNKNOWNNAME);
    // freqValues needs the element but does not ask it.
    ASSERT_EQ(equalizer()->get_freqValues(4, &value), S_OK);
    EXPECT_EQ(value, 500);
}

TEST_F(MPSettingsTest, ServicesAndStartupFollowThePlayersLife) {
    auto control = makeObject<FakeControl>();
    control->scriptable = settings.as<IDispatch>();
    control->audio = element;
    control->video = makeObject<VideoSettings>(nullptr, "vs");

    // Something that is not the player is refused; the package is made with the player.
    EXPECT_EQ(settings->put_services(makeObject<BrokenElement>().get()), E_NOINTERFACE);
    ASSERT_EQ(settings->put_services(control.get()), S_OK);
    EXPECT_FALSE(SkinPackage::path().empty());
    ComPtr<IDispatch> held;
    ASSERT_EQ(settings->get_services(held.put()), S_OK);
    EXPECT_EQ(held.get(), static_cast<IDispatch*>(control.get()));

    ASSERT_EQ(settings->startup(), S_OK);
    const std::vector<std::u16string> modes = {u"custom", u"full"};
    EXPECT_EQ(control->modes, modes);
    VARIANT_BOOL started = VARIANT_FALSE;
    settings->get_started(&started);
    EXPECT_EQ(started, VARIANT_TRUE);
    // With both elements held a new player is not taken.
    EXPECT_EQ(settings->put_services(control.get()), S_FALSE);

    // Losing the player lets the elements go; a new skin load may deliver them again.
    ASSERT_EQ(settings->put_services(nullptr), S_OK);
    VARIANT_BOOL flag;
    EXPECT_EQ(equalizer()->get_bypass(&flag), OLE_E_BLANK);
    ASSERT_EQ(settings->put_services(control.get()), S_OK);
    ASSERT_EQ(settings->startup(), S_OK);
    EXPECT_EQ(equalizer()->get_bypass(&flag), S_OK);
    settings->shutdown();
    settings->get_started(&started);
    EXPECT_EQ(started, VARIANT_FALSE);
    // The player and the part hold each other until the player goes.
    settings->put_services(nullptr);
}

TEST_F(MPSettingsTest, StartupFailsWhenTheSkinDeliversNoEqualiser) {
    struct Case {
        const char* what;
        HRESULT get, custom;
        bool deliver;
        HRESULT expected;
    };
    const Case cases[] = {
        {"the skin puts nothing", S_OK, S_OK, false, E_FAIL},
        {"the custom mode fails", S_OK, hresult(0x8007000B), true, E_FAIL},
        {"the mode cannot be read", E_UNEXPECTED, S_OK, true, E_FAIL},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto part = makeObject<MPSettings>();
        auto control = makeObject<FakeControl>();
        control->scriptable = part.as<IDispatch>();
        control->getResult = c.get;
        control->customResult = c.custom;
        if (c.deliver)
            control->audio = element;
        ASSERT_EQ(part->put_services(control.get()), S_OK);
        EXPECT_EQ(part->startup(), c.expected);
        EXPECT_EQ(control->mode, u"full") << "the mode is left as it was";
        part->put_services(nullptr);
    }
}
