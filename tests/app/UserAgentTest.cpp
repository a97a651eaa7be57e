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

} // namespace
} // namespace norv::app
