#include "app/TaviHost.h"

#include <gtest/gtest.h>

#include "app/TaviUISettings.h"
#include "app/UserAgent.h"
#include "tests/app/FakeShellPlatform.h"

namespace norv::app {
namespace {

using test::FakeShellPlatform;

// A dispatch object whose life the tests can watch.
class Counted final : public com::ComObject<Counted, com::IDispatch> {
public:
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
    std::uint32_t count() const { return refCount(); }
};

class TaviHostTest : public ::testing::Test {
protected:
    void SetUp() override {
        UserAgent::clearSavedDefault();
        ASSERT_EQ(TaviHost::create(platform, host), com::S_OK);
    }
    void TearDown() override {
        host.reset();
        platform.lastHost.reset();
        UserAgent::clearSavedDefault();
    }

    FakeShellPlatform platform;
    com::ComPtr<TaviHost> host;
};

TEST_F(TaviHostTest, AnswersItsInterfaceAndIDispatchOnly) {
    com::ComPtr<typelib::ITaviHost> asHost;
    com::ComPtr<com::IDispatch> asDispatch;
    com::ComPtr<typelib::ITaviUISettings> asSettings;
    EXPECT_EQ(host.as(asHost), com::S_OK);
    EXPECT_EQ(host.as(asDispatch), com::S_OK);
    EXPECT_EQ(host.as(asSettings), com::E_NOINTERFACE);
}

TEST_F(TaviHostTest, ScriptReachesTheMembersByTheirDispatchIdentifiers) {
    com::IDispatch* dispatch = static_cast<typelib::ITaviHost*>(host.get());
    const std::pair<const char16_t*, com::DISPID> members[] = {
        {u"application", 1},         {u"isEmulation", 2},  {u"uiSettings", 3},
        {u"USERAGENTPROPERTIES", 4}, {u"run", 0x60020006},
    };
    for (const auto& [name, expected] : members) {
        com::DISPID id = 0;
        EXPECT_EQ(com::getIdOfName(dispatch, name, id), com::S_OK);
        EXPECT_EQ(id, expected);
    }

    com::Variant token[1] = {com::Variant::fromBstr(com::Bstr(u"Norv 1.5.0.0"))};
    EXPECT_EQ(com::invokeByName(dispatch, u"userAgentProperties", com::DISPATCH_PROPERTYPUT, token,
                                nullptr),
              com::S_OK);
    com::Variant read;
    EXPECT_EQ(
        com::invokeByName(dispatch, u"userAgentProperties", com::DISPATCH_PROPERTYGET, {}, &read),
        com::S_OK);
    ASSERT_EQ(read.vt(), com::VT_BSTR);
    EXPECT_EQ(read.bstr(), com::Bstr(u" Norv 1.5.0.0"));

    com::Variant emulation;
    EXPECT_EQ(
        com::invokeByName(dispatch, u"isEmulation", com::DISPATCH_PROPERTYGET, {}, &emulation),
        com::S_OK);
    EXPECT_EQ(emulation.vt(), com::VT_BOOL);
    EXPECT_EQ(emulation.boolVal(), com::VARIANT_FALSE);

    com::Variant settings;
    EXPECT_EQ(com::invokeByName(dispatch, u"uiSettings", com::DISPATCH_PROPERTYGET, {}, &settings),
              com::S_OK);
    ASSERT_EQ(settings.vt(), com::VT_DISPATCH);
    com::Variant splash;
    EXPECT_EQ(com::invokeByName(settings.dispatch(), u"splashScreenURI", com::DISPATCH_PROPERTYGET,
                                {}, &splash),
              com::S_OK);
    EXPECT_EQ(splash.bstr(), com::Bstr::empty());

    com::Variant runArgs[2] = {com::Variant::fromBstr(com::Bstr::empty()),
                               com::Variant::fromBstr(com::Bstr(u"Caption"))};
    EXPECT_EQ(com::invokeByName(dispatch, u"run", com::DISPATCH_METHOD, runArgs, nullptr),
              com::E_INVALIDARG);
    EXPECT_TRUE(platform.log.events.empty());
}

TEST_F(TaviHostTest, IsEmulationIsAlwaysFalse) {
    com::VARIANT_BOOL value = com::VARIANT_TRUE;
    EXPECT_EQ(host->get_isEmulation(&value), com::S_OK);
    EXPECT_EQ(value, com::VARIANT_FALSE);
    EXPECT_EQ(host->get_isEmulation(nullptr), com::E_INVALIDARG);
}

TEST_F(TaviHostTest, ApplicationKeepsOneReferenceToTheObjectAssigned) {
    com::ComPtr<com::IDispatch> none;
    EXPECT_EQ(host->get_application(none.put()), com::S_OK);
    EXPECT_FALSE(none);
    EXPECT_EQ(host->get_application(nullptr), com::E_POINTER);

    auto first = com::makeObject<Counted>();
    auto second = com::makeObject<Counted>();
    EXPECT_EQ(host->put_application(first.get()), com::S_OK);
    EXPECT_EQ(host->put_application(first.get()), com::S_OK);
    EXPECT_EQ(first->count(), 2u);
    com::ComPtr<com::IDispatch> got;
    EXPECT_EQ(host->get_application(got.put()), com::S_OK);
    EXPECT_EQ(got.get(), static_cast<com::IDispatch*>(first.get()));
    got.reset();
    EXPECT_EQ(host->put_application(second.get()), com::S_OK);
    EXPECT_EQ(first->count(), 1u);
    EXPECT_EQ(second->count(), 2u);
    EXPECT_EQ(host->put_application(nullptr), com::S_OK);
    EXPECT_EQ(second->count(), 1u);
}

TEST_F(TaviHostTest, UiSettingsIsTheSameObjectEveryTime) {
    com::ComPtr<typelib::ITaviUISettings> a;
    com::ComPtr<typelib::ITaviUISettings> b;
    EXPECT_EQ(host->get_uiSettings(a.put()), com::S_OK);
    EXPECT_EQ(host->get_uiSettings(b.put()), com::S_OK);
    EXPECT_TRUE(a);
    EXPECT_EQ(a.get(), b.get());
    EXPECT_EQ(host->get_uiSettings(nullptr), com::E_POINTER);
}

TEST_F(TaviHostTest, UserAgentPropertiesReadTheAddedPartWithItsBlank) {
    com::Bstr value;
    EXPECT_EQ(host->get_userAgentProperties(&value), com::S_OK);
    EXPECT_TRUE(value.isNull());
    EXPECT_EQ(host->get_userAgentProperties(nullptr), com::E_INVALIDARG);

    EXPECT_EQ(host->put_userAgentProperties(com::Bstr(u"Norv 1.5.0.0")), com::S_OK);
    EXPECT_EQ(host->get_userAgentProperties(&value), com::S_OK);
    EXPECT_EQ(value, com::Bstr(u" Norv 1.5.0.0"));
    EXPECT_EQ(host->userAgentForRequest(), u"Product/1.0 (X11; Linux; Norv 1.5.0.0) Engine/2.0");

    EXPECT_EQ(host->put_userAgentProperties(com::Bstr()), com::S_OK);
    EXPECT_EQ(host->get_userAgentProperties(&value), com::S_OK);
    EXPECT_TRUE(value.isNull());
    EXPECT_EQ(host->userAgentForRequest(), u"");
}

TEST_F(TaviHostTest, ChangedUserAgentReachesTheRegisteredHandlers) {
    ASSERT_EQ(host->put_userAgentProperties(com::Bstr(u"Norv 1.5.0.0")), com::S_OK);
    ASSERT_EQ(host->protocolRegistrar().registerAll(), com::S_OK);
    auto& https = platform.session.registered.at("https");
    EXPECT_EQ(https->userAgent(), u"Product/1.0 (X11; Linux; Norv 1.5.0.0) Engine/2.0");
    int before = platform.session.changes;
    ASSERT_EQ(host->put_userAgentProperties(com::Bstr(u"Other 2")), com::S_OK);
    EXPECT_GT(platform.session.changes, before);
    EXPECT_EQ(https->userAgent(), u"Product/1.0 (X11; Linux; Other 2) Engine/2.0");
}

TEST_F(TaviHostTest, UserAgentRequestsCouldNotCarryIsRefusedAndTheOldOneKept) {
    ASSERT_EQ(host->put_userAgentProperties(com::Bstr(u"Norv 1.5.0.0")), com::S_OK);
    ASSERT_EQ(host->protocolRegistrar().registerAll(), com::S_OK);
    const int changes = platform.session.changes;
    for (const std::u16string& bad :
         {std::u16string(u"a\0b", 3), std::u16string(u"\U0001F600"), std::u16string(u"a\u2028b"),
          std::u16string(u"x\xD800"), std::u16string(u"x)")}) {
        EXPECT_EQ(host->put_userAgentProperties(com::Bstr(bad)), com::E_INVALIDARG);
        com::Bstr value;
        EXPECT_EQ(host->get_userAgentProperties(&value), com::S_OK);
        EXPECT_EQ(value, com::Bstr(u" Norv 1.5.0.0"));
    }
    // Nothing reached the browser's session.
    EXPECT_EQ(platform.session.changes, changes);
    EXPECT_EQ(platform.session.registered.at("https")->userAgent(),
              u"Product/1.0 (X11; Linux; Norv 1.5.0.0) Engine/2.0");
    EXPECT_TRUE(platform.messages.empty());
    // Non-ASCII text an octet can carry is accepted.
    EXPECT_EQ(host->put_userAgentProperties(com::Bstr(u"caf\u00E9")), com::S_OK);
    EXPECT_EQ(host->userAgentForRequest(), u"Product/1.0 (X11; Linux; caf\u00E9) Engine/2.0");
}

TEST_F(TaviHostTest, UnreadableDefaultUserAgentIsReportedAndFails) {
    platform.failUserAgent = true;
    EXPECT_EQ(host->put_userAgentProperties(com::Bstr(u"Norv 1.5.0.0")), com::E_FAIL);
    ASSERT_EQ(platform.messages.size(), 1u);
    EXPECT_EQ(platform.messages[0], com::messageForHResult(com::E_ACCESSDENIED));
    EXPECT_EQ(host->userAgentProperties(), "+Norv 1.5.0.0");
}

TEST_F(TaviHostTest, RunWithoutAddressCreatesNothingAndReleasesTheLock) {
    EXPECT_EQ(host->run(com::Bstr(), com::Bstr(u"Caption")), com::E_INVALIDARG);
    EXPECT_EQ(host->run(com::Bstr::empty(), com::Bstr(u"Caption")), com::E_INVALIDARG);
    EXPECT_TRUE(platform.log.events.empty());
    EXPECT_EQ(host->run(com::Bstr(u"https://example.com/"), com::Bstr(u"Caption")), com::S_OK);
    EXPECT_EQ(platform.loops, 1);
}

TEST_F(TaviHostTest, RunCreatesAConfiguredHostWindowUnderItsOwnerAndWaitsForIt) {
    com::ComPtr<typelib::ITaviUISettings> settings;
    ASSERT_EQ(host->get_uiSettings(settings.put()), com::S_OK);
    ASSERT_EQ(settings->put_dialogSettingsDefault(com::Bstr(u"<ui:window/>")), com::S_OK);
    EXPECT_EQ(host->run(com::Bstr(u"https://example.com/app"), com::Bstr(u"My App")), com::S_OK);

    // When the window created itself, it had everything it needs for its first page, and
    // its owner was titled, carried the icon and was on screen; the user agent reached
    // requests of both protocols.
    ASSERT_EQ(platform.creations.size(), 1u);
    const test::WindowCreation& created = platform.creations[0];
    EXPECT_EQ(created.address, u"https://example.com/app");
    EXPECT_EQ(created.pendingCaption, u"My App");
    EXPECT_EQ(created.declaration, "<ui:window/>");
    EXPECT_EQ(created.optionKeyPath, u"Software\\{94DDA361-A0BD-4211-8248-AC4AD9C47972}\\App");
    EXPECT_TRUE(created.splash);
    EXPECT_EQ(created.ownerTitle, u"My App");
    EXPECT_EQ(created.ownerIcon, 128u);
    EXPECT_TRUE(created.ownerShown);
    EXPECT_EQ(created.registeredProtocols, (std::vector<std::string>{"http", "https"}));
    EXPECT_EQ(platform.lastHost.get(), host.get());

    // run returned once the loop had ended with the last window; the owner outlived both.
    EXPECT_EQ(platform.loops, 1);
    EXPECT_TRUE(platform.windows.empty());
    EXPECT_LT(platform.log.indexOf("loop.end"), platform.log.indexOf("owner.delete"));
    EXPECT_LT(platform.log.indexOf("window.delete"), platform.log.indexOf("owner.delete"));
}

TEST_F(TaviHostTest, AddressStartingWithAFullStopIsTakenFromTheCurrentDirectory) {
    EXPECT_EQ(host->run(com::Bstr(u"./start.htm"), com::Bstr(u"")), com::S_OK);
    EXPECT_TRUE(platform.log.contains("window.navigate /home/user/app/./start.htm"));
}

TEST_F(TaviHostTest, SecondRunOpensANewWindowAndLoopKeepingTheRegistration) {
    EXPECT_EQ(host->run(com::Bstr(u"https://example.com/"), com::Bstr(u"A")), com::S_OK);
    EXPECT_EQ(host->run(com::Bstr(u"https://example.com/"), com::Bstr(u"B")), com::S_OK);
    EXPECT_EQ(platform.loops, 2);
    EXPECT_EQ(platform.session.registrations, 2);
    EXPECT_EQ(host->protocolRegistrar().registeredCount(), 2u);
    int windows = 0;
    for (const auto& e : platform.log.events)
        windows += e == "window.create";
    EXPECT_EQ(windows, 2);
}

TEST_F(TaviHostTest, FailedRegistrationIsReportedAndOpensNothing) {
    platform.session.failures["https"] = com::E_ACCESSDENIED;
    EXPECT_EQ(host->run(com::Bstr(u"https://example.com/"), com::Bstr(u"A")), com::E_FAIL);
    ASSERT_EQ(platform.messages.size(), 1u);
    EXPECT_EQ(platform.messages[0], com::messageForHResult(com::E_ACCESSDENIED));
    EXPECT_EQ(platform.log.indexOf("window.new"), -1);
    EXPECT_EQ(platform.loops, 0);
    // The lock was released: the host still answers.
    com::Bstr value;
    EXPECT_EQ(host->get_userAgentProperties(&value), com::S_OK);
}

TEST_F(TaviHostTest, FailedOwnerWindowDestroysTheHostWindow) {
    platform.failOwner = true;
    EXPECT_EQ(host->run(com::Bstr(u"https://example.com/"), com::Bstr(u"A")), com::E_FAIL);
    EXPECT_EQ(platform.messages.size(), 1u);
    EXPECT_NE(platform.log.indexOf("window.delete"), -1);
    EXPECT_EQ(platform.loops, 0);
}

TEST_F(TaviHostTest, FailedWindowCreationDestroysBothWindows) {
    test::FakeHostWindow::failCreation = true;
    EXPECT_EQ(host->run(com::Bstr(u"https://example.com/"), com::Bstr(u"A")), com::E_FAIL);
    EXPECT_EQ(platform.messages.size(), 1u);
    EXPECT_NE(platform.log.indexOf("window.delete"), -1);
    EXPECT_NE(platform.log.indexOf("owner.delete"), -1);
    EXPECT_EQ(platform.loops, 0);
}

TEST_F(TaviHostTest, PropertiesWorkFromInsideTheLoop) {
    bool nested = false;
    platform.loopBody = [&] {
        if (nested)
            return;
        nested = true;
        EXPECT_EQ(host->put_userAgentProperties(com::Bstr(u"Inner 1")), com::S_OK);
        // A nested run opens its own window and loop.
        EXPECT_EQ(host->run(com::Bstr(u"https://example.com/2"), com::Bstr(u"B")), com::S_OK);
    };
    EXPECT_EQ(host->run(com::Bstr(u"https://example.com/1"), com::Bstr(u"A")), com::S_OK);
    EXPECT_EQ(platform.loops, 2);
    EXPECT_EQ(host->userAgentForRequest(), u"Product/1.0 (X11; Linux; Inner 1) Engine/2.0");
}

} // namespace
} // namespace norv::app
