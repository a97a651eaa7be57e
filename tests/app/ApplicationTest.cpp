#include "app/Application.h"

#include <gtest/gtest.h>

#include "app/TaviHost.h"
#include "app/TaviUISettings.h"
#include "app/UserAgent.h"
#include "tests/app/FakeShellPlatform.h"

namespace norv::app {
namespace {

using test::FakeShellPlatform;

class ApplicationTest : public ::testing::Test {
protected:
    void SetUp() override {
        UserAgent::clearSavedDefault();
        platform.strings[132] = u"https://app.example.com/start";
    }
    void TearDown() override {
        platform.lastHost.reset();
        UserAgent::clearSavedDefault();
    }

    int start(std::vector<std::string> arguments = {}) {
        Application application(platform);
        return application.initInstance(arguments);
    }

    FakeShellPlatform platform;
};

TEST_F(ApplicationTest, StartsTheHostOnTheStartupAddressWithTheDefaultCaption) {
    EXPECT_EQ(start(), 0);
    EXPECT_TRUE(platform.messages.empty());
    EXPECT_TRUE(platform.log.contains("window.navigate https://app.example.com/start"));
    EXPECT_TRUE(platform.log.contains("window.pendingCaption Norv View"));
    EXPECT_TRUE(platform.log.contains("owner.title Norv View"));
    EXPECT_EQ(platform.loops, 1);

    ASSERT_TRUE(platform.lastHost);
    com::Bstr agent;
    platform.lastHost->get_userAgentProperties(&agent);
    EXPECT_EQ(agent, com::Bstr(u" Norv 1.5.0.0"));
    com::ComPtr<typelib::ITaviUISettings> settings;
    ASSERT_EQ(platform.lastHost->get_uiSettings(settings.put()), com::S_OK);
    com::Bstr splash, error;
    settings->get_splashScreenURI(&splash);
    settings->get_errorDialogURI(&error);
    EXPECT_EQ(splash, com::Bstr(u"STARTUPSPLASH.HTM"));
    EXPECT_EQ(error, com::Bstr(u"CONNECTIONERROR.HTM"));
}

TEST_F(ApplicationTest, DefaultDeclarationIsTheSerialisedBuiltInDialog) {
    EXPECT_EQ(start(), 0);
    int index = platform.log.indexOf("window.declaration ");
    ASSERT_NE(index, -1);
    const std::string& event = platform.log.events[static_cast<std::size_t>(index)];
    // The serialiser writes a ui:window root, with the title and both buttons.
    EXPECT_NE(event.find("<ui:window"), std::string::npos) << event;
    EXPECT_EQ(event.find("ui:dialog"), std::string::npos) << event;
    for (const char* piece : {"#e_window_title", "#e_close_btn", "#e_minimize_btn"})
        EXPECT_NE(event.find(piece), std::string::npos) << piece << " in " << event;
    EXPECT_NE(event.find("true"), std::string::npos) << event;
}

TEST_F(ApplicationTest, CaptionIsTrimmed) {
    platform.strings[133] = u" \tMy Application \r\n";
    EXPECT_EQ(Application::loadCaption(platform), u"My Application");
    platform.strings[133] = u"\u3000Wide\u00A0Caption\u00A0";
    EXPECT_EQ(Application::loadCaption(platform), u"Wide\u00A0Caption");
    platform.strings[133] = u" \t My Application \r\n";
    EXPECT_EQ(start(), 0);
    EXPECT_TRUE(platform.log.contains("window.pendingCaption My Application"));
}

TEST_F(ApplicationTest, RestartOptionChangesNothing) {
    EXPECT_EQ(start(), 0);
    platform.lastHost.reset(); // the first host goes, with its registrations
    auto plain = platform.log.events;
    plain.erase(plain.end() - 2, plain.end());
    platform.log.events.clear();
    UserAgent::clearSavedDefault();
    EXPECT_EQ(start({"-r"}), 0);
    EXPECT_EQ(platform.log.events, plain);
}

TEST_F(ApplicationTest, MissingStartupAddressIsReportedAndOpensNoWindow) {
    platform.strings.erase(132);
    EXPECT_EQ(start(), 0);
    ASSERT_EQ(platform.messages.size(), 1u);
    EXPECT_EQ(platform.messages[0],
              u"The specified resource name cannot be found in the image file.");
    EXPECT_EQ(platform.log.indexOf("window."), -1);
    EXPECT_EQ(platform.log.indexOf("owner."), -1);
    EXPECT_EQ(platform.loops, 0);
}

TEST_F(ApplicationTest, MissingVersionIsReportedAndOpensNoWindow) {
    platform.version.reset();
    EXPECT_EQ(start(), 0);
    ASSERT_EQ(platform.messages.size(), 1u);
    EXPECT_EQ(platform.messages[0],
              u"The specified resource type cannot be found in the image file.");
    EXPECT_EQ(platform.log.indexOf("window."), -1);
}

TEST_F(ApplicationTest, FailedUserAgentEndsStartUpWithoutWindowOrFurtherMessage) {
    platform.failUserAgent = true;
    EXPECT_EQ(start(), 0);
    // The host's own report of the failed assignment is the only message.
    EXPECT_EQ(platform.messages.size(), 1u);
    EXPECT_EQ(platform.log.indexOf("window."), -1);
    EXPECT_EQ(platform.loops, 0);
}

} // namespace
} // namespace norv::app
