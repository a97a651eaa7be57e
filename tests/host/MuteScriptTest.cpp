// The mute script against a page double that behaves as a page would: the two values the
// host sets are kept, and the script, when it is exactly the page's mute script, mutes the
// target player (or skips one without settings).
#include "host/MuteScript.h"

#include <gtest/gtest.h>

#include <map>

#include "platform/com/ComObject.h"
#include "platform/com/Exceptions.h"

namespace norv::host {
namespace {

class Player final : public com::ComObject<Player, com::IDispatch> {
public:
    explicit Player(bool withSettings = true) : hasSettings(withSettings) {}
    com::HRESULT GetTypeInfoCount(std::uint32_t*) override { return com::E_NOTIMPL; }
    com::HRESULT GetTypeInfo(std::uint32_t, com::LCID, com::ITypeInfo**) override {
        return com::E_NOTIMPL;
    }
    com::HRESULT GetIDsOfNames(const com::IID&, std::span<const com::Bstr>, com::LCID,
                               std::span<com::DISPID>) override {
        return com::E_NOTIMPL;
    }
    com::HRESULT Invoke(com::DISPID, const com::IID&, com::LCID, std::uint16_t, com::DispParams&,
                        com::Variant*, com::ExcepInfo*, std::uint32_t*) override {
        return com::E_NOTIMPL;
    }
    bool hasSettings;
    bool mute = false;
};

class Page final : public MuteScriptPage {
public:
    std::vector<com::ComPtr<com::IDispatch>> objectElementObjects() override { return objects; }
    com::HRESULT setScriptValue(std::u16string_view path, const com::Variant& value) override {
        if (failSetAfter >= 0 && sets++ >= failSetAfter)
            return com::E_ACCESSDENIED;
        values[std::u16string(path)] = value;
        return com::S_OK;
    }
    com::HRESULT runScript(std::u16string_view code) override {
        if (code != u"(function(){var n =window.tavi;try{n.___mcTarget.settings.mute = "
                    u"n.___mcMuteValue; }catch(e){}})();")
            return com::DISP_E_EXCEPTION;
        auto target = values.find(u"window.tavi.___mcTarget");
        auto value = values.find(u"window.tavi.___mcMuteValue");
        if (target == values.end() || value == values.end())
            return com::S_OK; // the script's own try/catch
        auto* player = static_cast<Player*>(target->second.dispatch());
        if (player->hasSettings && value->second.vt() == com::VT_BOOL)
            player->mute = value->second.boolVal() != com::VARIANT_FALSE;
        return com::S_OK;
    }

    std::vector<com::ComPtr<com::IDispatch>> objects;
    std::map<std::u16string, com::Variant> values;
    int failSetAfter = -1;
    int sets = 0;
};

TEST(MuteScriptTest, MutesAndUnmutesEveryPlayerOfThePage) {
    Page page;
    auto first = com::makeObject<Player>();
    auto bare = com::makeObject<Player>(false);
    auto second = com::makeObject<Player>();
    page.objects = {first.get(), nullptr, bare.get(), second.get()};

    runMuteScript(page, true);
    EXPECT_TRUE(first->mute);
    EXPECT_FALSE(bare->mute);
    EXPECT_TRUE(second->mute);

    runMuteScript(page, false);
    EXPECT_FALSE(first->mute);
    EXPECT_FALSE(second->mute);

    // No players: nothing to do, nothing set in the page.
    Page empty;
    runMuteScript(empty, true);
    EXPECT_TRUE(empty.values.empty());
}

TEST(MuteScriptTest, AFailingStepIsRaisedAndTheSessionHandlerSwallowsIt) {
    Page page;
    auto first = com::makeObject<Player>();
    auto second = com::makeObject<Player>();
    page.objects = {first.get(), second.get()};
    page.failSetAfter = 2; // the second player's target cannot be set

    try {
        runMuteScript(page, true);
        ADD_FAILURE() << "no exception";
    } catch (const com::FrameworkException& e) {
        EXPECT_EQ(e.hresult(), com::E_ACCESSDENIED);
    }
    EXPECT_TRUE(first->mute);
    EXPECT_FALSE(second->mute);

    page.sets = 0;
    muteForSession(page, false);
    EXPECT_FALSE(first->mute);
}

} // namespace
} // namespace norv::host
