// The control's skin engine: loading a package from its file address, making its
// EQUALIZERSETTINGS and VIDEOSETTINGS, running onload against the scriptable object, and
// refusing bad packages without touching that object.

#include <gtest/gtest.h>

#include "platform/com/DispatchObject.h"
#include "platform/media/CustomSkin.h"
#include "platform/media/SkinInterfaces.h"
#include "tests/platform/media/SkinPackages.h"
#include "tests/support/Process.h"

using namespace norv::com;
using namespace norv::platform::media;
using namespace norv::test;

namespace {

struct IScriptable : IDispatch {
    static constexpr IID iid = guid("{7E0F2B19-2C4A-4F61-9A0B-3D5C1E7F9A20}");
    using Base = IDispatch;
    virtual HRESULT put_audio(IDispatch* pVal) = 0;
    virtual HRESULT put_video(IDispatch* pVal) = 0;
    static const InterfaceInfo& interfaceInfo() {
        using I = IScriptable;
        static const InterfaceInfo info = describeInterface<I>(
            u"IScriptable", u"", propput(1, u"audio", &I::put_audio, {u"pVal"}),
            propput(2, u"video", &I::put_video, {u"pVal"}));
        return info;
    }

protected:
    ~IScriptable() = default;
};

// The host's scriptable object: keeps what the skin puts into it.
class Scriptable final : public DispatchObject<Scriptable, IScriptable> {
public:
    HRESULT put_audio(IDispatch* value) override {
        if (failed(audioResult))
            return audioResult;
        audio = value;
        return S_OK;
    }
    HRESULT put_video(IDispatch* value) override {
        video = value;
        return S_OK;
    }
    HRESULT audioResult = S_OK;
    ComPtr<IDispatch> audio, video;
};

class CustomSkinTest : public ::testing::Test {
protected:
    std::string address(const std::filesystem::path& path) { return "file://" + path.string(); }

    HRESULT load(const std::string& address, std::unique_ptr<CustomSkin>& skin,
                 const char16_t* name = u"wmpsrv") {
        return CustomSkin::load(Bstr::fromUtf8(address), Bstr(name), scriptable.get(), targets,
                                skin);
    }

    std::filesystem::path packageOf(std::string_view text, const char* name = "skin.wmz") {
        return writeFile(dir.path() / name, makePackage(dir.path(), text));
    }

    TempDir dir;
    ComPtr<Scriptable> scriptable = makeObject<Scriptable>();
    CustomSkin::Targets targets{AudioEffects::create(nullptr), nullptr};
};

} // namespace

TEST_F(CustomSkinTest, OnloadHandsTheElementsToTheScriptableObject) {
    std::unique_ptr<CustomSkin> skin;
    ASSERT_EQ(load(address(packageOf(kSkinText)), skin), S_OK);
    ASSERT_TRUE(skin);
    ASSERT_TRUE(scriptable->audio);
    ASSERT_TRUE(scriptable->video);
    EXPECT_EQ(scriptable->audio.get(), skin->element("eq"));
    ComPtr<IEqualizerSettings> eq = scriptable->audio.as<IEqualizerSettings>();
    ComPtr<IVideoSettings> vs = scriptable->video.as<IVideoSettings>();
    ASSERT_TRUE(eq);
    ASSERT_TRUE(vs);
    Bstr id;
    eq->get_id(&id);
    EXPECT_EQ(id.toUtf8(), "eq");

    // The control's ranges: ten bands numbered from 1, gains clamped to +-12 dB.
    std::int32_t bands = 0;
    eq->get_bands(&bands);
    EXPECT_EQ(bands, 10);
    float gain = 0;
    EXPECT_EQ(eq->put_gainLevels(1, 20.0f), S_OK);
    eq->get_gainLevels(1, &gain);
    EXPECT_EQ(gain, 12.0f);
    EXPECT_EQ(eq->put_gainLevels(10, -30.0f), S_OK);
    eq->get_gainLevels(10, &gain);
    EXPECT_EQ(gain, -12.0f);
    EXPECT_EQ(eq->put_gainLevels(0, 1.0f), E_INVALIDARG);
    EXPECT_EQ(eq->get_gainLevels(11, &gain), E_INVALIDARG);
    EXPECT_EQ(eq->put_speakerSize(7), S_OK);
    std::int32_t level = -1;
    eq->get_speakerSize(&level);
    EXPECT_EQ(level, 2);
    eq->put_truBassLevel(-5);
    eq->get_truBassLevel(&level);
    EXPECT_EQ(level, 0);
    EXPECT_EQ(eq->reset(), S_OK);
    eq->get_gainLevels(1, &gain);
    EXPECT_EQ(gain, 0.0f);

    // A second load (another skin switch) reaches the same settings.
    eq->put_gainLevels(4, 3.5f);
    eq->put_bypass(VARIANT_TRUE);
    auto first = scriptable->audio;
    scriptable = makeObject<Scriptable>();
    std::unique_ptr<CustomSkin> again;
    ASSERT_EQ(load(address(packageOf(kSkinText)), again), S_OK);
    ASSERT_TRUE(scriptable->audio);
    EXPECT_NE(scriptable->audio.get(), first.get());
    auto eq2 = scriptable->audio.as<IEqualizerSettings>();
    eq2->get_gainLevels(4, &gain);
    EXPECT_EQ(gain, 3.5f);
    VARIANT_BOOL bypass = VARIANT_FALSE;
    eq2->get_bypass(&bypass);
    EXPECT_EQ(bypass, VARIANT_TRUE);
}

TEST_F(CustomSkinTest, OnlyAssignmentsOfKnownElementsToTheNamedObjectRun) {
    std::unique_ptr<CustomSkin> skin;
    // Another object's name, an unknown id, an element the control does not make, and an
    // assignment that fails (which ends onload like an exception would).
    ASSERT_EQ(load(address(packageOf("<THEME><VIEW onload=\"other.audio =eq; wmpsrv.audio =nope; "
                                     "wmpsrv.video =b; wmpsrv.video =vs\">"
                                     "<BUTTON id=\"b\"/><VIDEOSETTINGS id=\"vs\"/>"
                                     "<EQUALIZERSETTINGS id=\"eq\"/></VIEW></THEME>")),
                   skin),
              S_OK);
    EXPECT_FALSE(scriptable->audio);
    ASSERT_TRUE(scriptable->video);
    EXPECT_TRUE(scriptable->video.as<IVideoSettings>());
    EXPECT_EQ(skin->element("b"), nullptr);

    scriptable = makeObject<Scriptable>();
    scriptable->audioResult = E_ACCESSDENIED;
    ASSERT_EQ(load(address(packageOf(kSkinText)), skin), S_OK);
    EXPECT_FALSE(scriptable->audio);
    EXPECT_FALSE(scriptable->video);

    // Without a scriptable object the skin still loads.
    scriptable.reset();
    EXPECT_EQ(load(address(packageOf(kSkinText)), skin), S_OK);
}

TEST_F(CustomSkinTest, BadPackagesFailTheLoadAndTouchNothing) {
    const Bytes good = makePackage(dir.path(), kSkinText);
    Bytes crc = good;
    crc[PackageLayout(good).central + 16] ^= 1;
    Bytes cut(good.begin(), good.begin() + std::ptrdiff_t(PackageLayout(good).central + 10));
    struct Case {
        const char* what;
        std::string address;
        HRESULT expected;
    };
    const Case cases[] = {
        {"not a file address", "http://example.com/skin.wmz", E_INVALIDARG},
        {"no file", address(dir.path() / "missing.wmz"), hresult(0x80070002)},
        {"a folder", address(dir.path()), hresult(0x80070005)},
        {"not a ZIP",
         address(writeFile(dir.path() / "text.wmz", Bytes(kSkinText.begin(), kSkinText.end()))),
         hresult(0x8007000B)},
        {"truncated central directory", address(writeFile(dir.path() / "cut.wmz", cut)),
         hresult(0x8007000B)},
        {"wrong CRC", address(writeFile(dir.path() / "crc.wmz", crc)), hresult(0x80070017)},
        {"an entry of another name", address(writeFile(dir.path() / "name.wmz", renameEntry(good))),
         hresult(0x80070490)},
        {"malformed skin text",
         address(packageOf("<THEME><VIEW onload=\"wmpsrv.audio =eq\"><EQUALIZERSETTINGS "
                           "id=\"eq\"></VIEW></THEME>",
                           "malformed.wmz")),
         hresult(0x8007000D)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::unique_ptr<CustomSkin> skin;
        EXPECT_EQ(load(c.address, skin), c.expected);
        EXPECT_FALSE(skin);
        EXPECT_FALSE(scriptable->audio);
        EXPECT_FALSE(scriptable->video);
    }
}
