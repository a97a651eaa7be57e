#include "app/ProtocolRegistrar.h"

#include <gtest/gtest.h>

#include "tests/app/FakeShellPlatform.h"

namespace norv::app {
namespace {

using test::EventLog;
using test::FakeInternetSession;

constexpr const char* kHttpClass = "{79EAC9E2-BAF9-11CE-8C82-00AA004BA90B}";
constexpr const char* kHttpsClass = "{79EAC9E5-BAF9-11CE-8C82-00AA004BA90B}";

TEST(ProtocolRegistrarTest, RegistersHttpThenHttpsOnceEach) {
    EventLog log;
    FakeInternetSession session(log);
    ProtocolRegistrar registrar(session, [] { return u"UA"; });
    EXPECT_EQ(registrar.registerAll(), com::S_OK);
    EXPECT_EQ(registrar.registerAll(), com::S_OK);
    ASSERT_EQ(log.events.size(), 2u);
    EXPECT_EQ(log.events[0], std::string("session.register http ") + kHttpClass);
    EXPECT_EQ(log.events[1], std::string("session.register https ") + kHttpsClass);
    EXPECT_TRUE(registrar.isRegistered("http"));
    EXPECT_TRUE(registrar.isRegistered("https"));
    EXPECT_EQ(registrar.registeredCount(), 2u);
}

TEST(ProtocolRegistrarTest, FirstFailureStopsTheRegistration) {
    EventLog log;
    FakeInternetSession session(log);
    session.failures["http"] = com::E_ACCESSDENIED;
    ProtocolRegistrar registrar(session, [] { return u"UA"; });
    EXPECT_EQ(registrar.registerAll(), com::E_ACCESSDENIED);
    EXPECT_EQ(session.registrations, 1);
    EXPECT_EQ(registrar.registeredCount(), 0u);
}

TEST(ProtocolRegistrarTest, UnregisterAnswersByName) {
    EventLog log;
    FakeInternetSession session(log);
    ProtocolRegistrar registrar(session, [] { return u"UA"; });
    EXPECT_EQ(registrar.unregisterProtocol("ftp"), com::E_NOTIMPL);
    EXPECT_EQ(registrar.unregisterProtocol("https"), com::NTE_NOT_FOUND);
    ASSERT_EQ(registrar.registerAll(), com::S_OK);
    EXPECT_EQ(registrar.unregisterProtocol("https"), com::S_OK);
    EXPECT_FALSE(registrar.isRegistered("https"));
    EXPECT_FALSE(session.registered.contains("https"));
    EXPECT_EQ(registrar.unregisterProtocol("https"), com::NTE_NOT_FOUND);
    EXPECT_EQ(registrar.unregisterAll(), com::S_OK);
    EXPECT_TRUE(session.registered.empty());
}

TEST(ProtocolRegistrarTest, HandlersAnswerTheHostsUserAgentWhileTheRegistrarLives) {
    EventLog log;
    FakeInternetSession session(log);
    std::u16string agent = u"Product/1.0 (a; Norv 1.5.0.0)";
    std::shared_ptr<ProtocolHandlerFactory> http;
    {
        ProtocolRegistrar registrar(session, [&] { return agent; });
        ASSERT_EQ(registrar.registerAll(), com::S_OK);
        http = session.registered.at("http");
        EXPECT_EQ(http->userAgent(), agent);
        agent = u"changed";
        registrar.userAgentChanged();
        EXPECT_EQ(session.changes, 1);
        EXPECT_EQ(http->userAgent(), u"changed");
    }
    // The registrar is gone: its registrations went with it, and a handler someone still
    // holds no longer reaches it.
    EXPECT_TRUE(session.registered.empty());
    EXPECT_EQ(http->userAgent(), u"");
}

TEST(ProtocolRegistrarTest, NoNotificationWithoutRegistrations) {
    EventLog log;
    FakeInternetSession session(log);
    ProtocolRegistrar registrar(session, [] { return u"UA"; });
    registrar.userAgentChanged();
    EXPECT_EQ(session.changes, 0);
}

} // namespace
} // namespace norv::app
