#include "app/UserAgent.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace norv::app {
namespace {

class UserAgentTest : public ::testing::Test {
protected:
    void SetUp() override { UserAgent::clearSavedDefault(); }
    void TearDown() override { UserAgent::clearSavedDefault(); }

    UserAgent::DefaultSource source(std::string text) {
        return [this, text] {
            ++fetches;
            return text;
        };
    }

    int fetches = 0;
};

TEST_F(UserAgentTest, TokenHasTheFourVersionPartsMostSignificantFirst) {
    EXPECT_EQ(versionToken({1, 5, 0, 0}), "Norv 1.5.0.0");
    EXPECT_EQ(versionToken({10, 0, 65535, 7}), "Norv 10.0.65535.7");
}

TEST_F(UserAgentTest, TokenGoesIntoTheFirstParenthesisOfTheDefault) {
    UserAgent agent;
    agent.assign("Norv 1.5.0.0", source("Product/1.0 (a; b) Engine/2 (c)"));
    EXPECT_EQ(agent.requestText(), "Product/1.0 (a; b; Norv 1.5.0.0) Engine/2 (c)");
    EXPECT_EQ(agent.added(), " Norv 1.5.0.0");
    // The saved default keeps the terminating null the platform counts in its length.
    EXPECT_EQ(UserAgent::savedDefault(), std::string("Product/1.0 (a; b) Engine/2 (c)\0", 32));
    EXPECT_EQ(fetches, 1);
}

TEST_F(UserAgentTest, DefaultWithoutParenthesisGetsTheTextInParentheses) {
    UserAgent agent;
    agent.assign("Norv 1.5.0.0", source("Product/1.0"));
    EXPECT_EQ(agent.requestText(), "Product/1.0 (Norv 1.5.0.0)");
    EXPECT_EQ(agent.added(), " Norv 1.5.0.0");
}

TEST_F(UserAgentTest, TextAlreadyInTheUserAgentChangesNothing) {
    UserAgent agent;
    agent.assign("Norv 1.5.0.0", source("Product/1.0 (a)"));
    const std::string composed = agent.properties();
    agent.assign("Norv 1.5.0.0", source("Other/9 (z)"));
    EXPECT_EQ(agent.properties(), composed);
    // Also a piece of the default itself.
    agent.assign("Product", source("Other/9 (z)"));
    EXPECT_EQ(agent.properties(), composed);
    EXPECT_EQ(fetches, 1);
}

TEST_F(UserAgentTest, AnotherTextReplacesTheAddition) {
    UserAgent agent;
    agent.assign("Norv 1.5.0.0", source("Product/1.0 (a; b)"));
    agent.assign("MyApp 2", source("unused"));
    EXPECT_EQ(agent.requestText(), "Product/1.0 (a; b; MyApp 2)");
    EXPECT_EQ(agent.added(), " MyApp 2");
    EXPECT_EQ(fetches, 1); // the saved default is reused
}

TEST_F(UserAgentTest, EmptyTextRestoresTheDefaultAndForgetsIt) {
    UserAgent agent;
    agent.assign("Norv 1.5.0.0", source("Product/1.0 (a)"));
    agent.assign("", source("unused"));
    EXPECT_EQ(agent.requestText(), "");
    EXPECT_EQ(agent.added(), std::nullopt);
    EXPECT_EQ(agent.properties(), "");
    EXPECT_TRUE(UserAgent::savedDefault().empty());
    // The next addition reads the default again.
    agent.assign("Norv 1.5.0.0", source("Product/2.0 (b)"));
    EXPECT_EQ(agent.requestText(), "Product/2.0 (b; Norv 1.5.0.0)");
    EXPECT_EQ(fetches, 2);
}

TEST_F(UserAgentTest, EmptyTextWithNothingAddedDoesNothing) {
    UserAgent agent;
    agent.assign("", source("Product/1.0 (a)"));
    EXPECT_EQ(agent.properties(), "");
    EXPECT_EQ(agent.added(), std::nullopt);
    EXPECT_EQ(fetches, 0);
}

TEST_F(UserAgentTest, UnreadableDefaultLeavesThePendingMark) {
    UserAgent agent;
    UserAgent::DefaultSource failing = []() -> std::string {
        throw std::runtime_error("no default");
    };
    EXPECT_THROW(agent.assign("Norv 1.5.0.0", failing), std::runtime_error);
    EXPECT_EQ(agent.properties(), "+Norv 1.5.0.0");
    // Nothing composed: requests carry the platform's own user agent, nothing reads as added.
    EXPECT_EQ(agent.requestText(), "");
    EXPECT_EQ(agent.added(), std::nullopt);
    // A later assignment composes normally.
    agent.assign("Norv 1.5.0.1", source("Product/1.0 (a)"));
    EXPECT_EQ(agent.requestText(), "Product/1.0 (a; Norv 1.5.0.1)");
}

TEST_F(UserAgentTest, ValidUserAgentsAreWhatTheBrowserEngineCarries) {
    // What WebKit's own user-agent setting takes and refuses, text by text.
    for (const char* ok :
         {"Mozilla/5.0 (X11; Linux x86_64) AppleWebKit/605.1.15 (KHTML, like Gecko) Safari/605.1",
          "Mozilla",
          "a b c",
          "a/1 b/2",
          "Mozilla/5.0(a)",
          "Mozilla/5.0\t(a)",
          "Mozilla/5.0 ()",
          "Mozilla/5.0  x (a)",
          "Mozilla/5.0 (a (nested) b)",
          "Mozilla/5.0 (a) (b)",
          "a(b)",
          "Mozilla/5.0 (a)x",
          "Mozilla/5.0 (a\\( b)",
          "Mozilla/5.0 (a\\\\)",
          "Mozilla/5.0 (a\"b)",
          "Mozilla/5.0 (a[b]{c})",
          "!#$%&'*+-.^_`|~/1",
          "Mozilla/5.0 (caf\xC3\xA9)",
          "Mozilla/5.0 (\xC2\x80 \xC2\xA0 \xC3\xBF)",
          "Mozilla/5.0 (a\\\xC3\xA9)"})
        EXPECT_TRUE(isValidUserAgent(ok)) << ok;
    for (const char* bad : {"",
                            " Mozilla/5.0 (a)",
                            "Mozilla/5.0 (a) ",
                            "x ",
                            "\tx",
                            "Mozilla/",
                            "a/b/c",
                            "a//1",
                            "a/1 /2",
                            "(a)",
                            "a (b) c/(d)",
                            "Mozilla/5.0 (a",
                            "Mozilla/5.0 (a; b)) c",
                            "Mozilla/5.0 (a\\)",
                            "Mozilla/5.0 (a\\",
                            "Mozilla/5.0 (\x7F)",
                            "Mozilla/5.0 (a\x01)",
                            "Mozilla/5.0 (a\\\x01)",
                            "Mo\"zilla/5.0 (a)",
                            "a:b",
                            "a,b",
                            "a;b",
                            "Moz\xC3\xA9illa/5.0 (a)",
                            "Mozilla/5.0 (\xC4\x80)",
                            "Mozilla/5.0 (\xE2\x80\xA8)",
                            "Mozilla/5.0 (\xF0\x9F\x98\x80)",
                            "Mozilla/5.0 (a\r\nX: 1)",
                            "Mozilla/5.0 (\xED\xA0\x80)",
                            "Mozilla/5.0 (\xC3)",
                            "Mozilla/5.0 (\xC1\xBF)"})
        EXPECT_FALSE(isValidUserAgent(bad)) << bad;
    EXPECT_FALSE(isValidUserAgent(std::string_view("Mozilla/5.0 (a\0b)", 17)));
    // Deep nesting is counted, not recursed into.
    EXPECT_TRUE(
        isValidUserAgent("a (" + std::string(1 << 20, '(') + std::string(1 << 20, ')') + ")"));
    EXPECT_FALSE(isValidUserAgent("a " + std::string(1 << 20, '(')));
}

TEST_F(UserAgentTest, AnAdditionRequestsCouldNotCarryChangesNothing) {
    UserAgent agent;
    ASSERT_TRUE(agent.assign("Norv 1.5.0.0", source("Product/1.0 (a; b) Engine/2")));
    const std::string composed = agent.properties();
    for (std::string_view bad :
         {std::string_view("a\0b", 3), std::string_view("\xF0\x9F\x98\x80"),
          std::string_view("x\xE2\x80\xA8y"), std::string_view("x)"), std::string_view("x("),
          std::string_view("a\r\nX-Other: 1"), std::string_view("\xED\xA0\x80")}) {
        EXPECT_FALSE(agent.assign(bad, source("unused"))) << bad;
        EXPECT_EQ(agent.properties(), composed);
        EXPECT_EQ(agent.added(), " Norv 1.5.0.0");
    }
    // Text that keeps the parentheses balanced and every character one octet is fine.
    EXPECT_TRUE(agent.assign("caf\xC3\xA9) (more", source("unused")));
    EXPECT_EQ(agent.requestText(), "Product/1.0 (a; b; caf\xC3\xA9) (more) Engine/2");

    // Refused as the very first assignment: nothing is composed, and the default is read
    // again next time as if nothing had happened.
    UserAgent::clearSavedDefault();
    UserAgent fresh;
    EXPECT_FALSE(fresh.assign("(", source("Product/1.0 (a)")));
    EXPECT_EQ(fresh.properties(), "");
    EXPECT_EQ(fresh.requestText(), "");
    EXPECT_TRUE(UserAgent::savedDefault().empty());
    // A default without parenthesis: the text goes into a comment of its own.
    UserAgent::clearSavedDefault();
    UserAgent plain;
    EXPECT_FALSE(plain.assign("a(", source("Product/1.0")));
    EXPECT_TRUE(plain.assign("a (b)", source("Product/1.0")));
    EXPECT_EQ(plain.requestText(), "Product/1.0 (a (b))");
}

} // namespace
} // namespace norv::app
