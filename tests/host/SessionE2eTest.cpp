// Session notifications end to end: session-probe (a GTK window with a web page and the
// host's session watcher) under Xvfb and openbox, with python3-dbusmock's logind on a
// private bus that the program takes for the system bus. What counts is the page's player
// being muted, which the page shows in the window's title.
#include <gtest/gtest.h>

#include <csignal>
#include <fstream>

#include "tests/support/PrivateBus.h"
#include "tests/support/Process.h"
#include "tests/support/XSession.h"

namespace norv::test {
namespace {

constexpr const char* kNoBus = "unix:path=/nonexistent/norv-no-bus";
constexpr const char* kLogin = "org.freedesktop.login1";
constexpr const char* kManager = "/org/freedesktop/login1";

// A page with one player whose settings.mute shows in the title, and an object element
// without a player.
constexpr const char* kPage = R"(<!DOCTYPE html>
<html><head><title>loading</title></head><body>
<object id="player"></object><object id="empty"></object>
<script>
document.getElementById("player").object = { settings: {
  m: false,
  get mute() { return this.m; },
  set mute(v) { this.m = v; document.title = v ? "muted" : "playing"; } } };
document.title = "playing";
</script></body></html>)";

class SessionE2eTest : public ::testing::Test {
protected:
    void SetUp() override { std::ofstream(dir.path() / "page.html") << kPage; }

    Process start(const Env& extra) {
        Env env = session.env();
        env.insert(env.end(), extra.begin(), extra.end());
        env.emplace_back("DBUS_SESSION_BUS_ADDRESS", kNoBus);
        return Process::spawn({SESSION_PROBE, "--page", (dir.path() / "page.html").string()}, env);
    }
    bool titled(const std::string& title) {
        return waitUntil([&] { return !session.findWindows("^" + title + "$").empty(); });
    }
    void setActive(const PrivateBus& bus, const std::string& id, bool active) {
        auto [code, out] =
            bus.call(kLogin, std::string(kManager) + "/session/" + id,
                     "org.freedesktop.DBus.Mock.UpdateProperties",
                     {"org.freedesktop.login1.Session",
                      std::string("{'Active': <") + (active ? "true" : "false") + ">}"});
        ASSERT_EQ(code, 0) << out;
    }
    void addSession(const PrivateBus& bus, const std::string& id) {
        auto [code, out] = bus.call(kLogin, kManager, "org.freedesktop.DBus.Mock.AddSession",
                                    {"'" + id + "'", "'seat0'", "uint32 1000", "'user'", "true"});
        ASSERT_EQ(code, 0) << out;
    }

    TempDir dir;
    XSession session;
};

TEST_F(SessionE2eTest, ADisconnectedSessionMutesThePageAndAReconnectUnmutesIt) {
    PrivateBus bus;
    FakeService logind(bus, kLogin, "logind", true);
    addSession(bus, "c1");
    Process probe = start({{"DBUS_SYSTEM_BUS_ADDRESS", bus.address()}, {"XDG_SESSION_ID", "c1"}});
    ASSERT_TRUE(titled("playing")) << probe.output();
    ASSERT_TRUE(waitUntil([&] { return occurrences(probe.output(), "session watched") == 1; }))
        << probe.output();

    setActive(bus, "c1", false);
    EXPECT_TRUE(titled("muted"));
    setActive(bus, "c1", true);
    EXPECT_TRUE(titled("playing"));

    // Locking and unlocking change nothing: the next notification is the next disconnect.
    const std::string path = std::string(kManager) + "/session/c1";
    EXPECT_EQ(bus.call(kLogin, path, "org.freedesktop.login1.Session.Lock").first, 0);
    EXPECT_EQ(
        bus.call(kLogin, path, "org.freedesktop.login1.Session.SetLockedHint", {"true"}).first, 0);
    EXPECT_EQ(bus.call(kLogin, path, "org.freedesktop.login1.Session.Unlock").first, 0);
    EXPECT_EQ(
        bus.call(kLogin, path, "org.freedesktop.login1.Session.SetLockedHint", {"false"}).first, 0);
    setActive(bus, "c1", false);
    EXPECT_TRUE(titled("muted"));
    const std::string out = probe.output();
    const auto first = out.find("session mute");
    ASSERT_NE(first, std::string::npos);
    EXPECT_EQ(out.substr(first, out.rfind("session mute") + 14 - first),
              "session mute 1\nsession mute 0\nsession mute 1");

    probe.signal(SIGTERM);
    EXPECT_EQ(probe.wait(), 0);
}

TEST_F(SessionE2eTest, WithoutASessionIdTheProcessesOwnSessionIsWatched) {
    PrivateBus bus;
    FakeService logind(bus, kLogin, "logind", true);
    addSession(bus, "c2");
    // This logind finds the session of any process.
    ASSERT_EQ(bus.call(kLogin, kManager, "org.freedesktop.DBus.Mock.AddMethod",
                       {"org.freedesktop.login1.Manager", "GetSessionByPID", "u", "o",
                        "ret = '/org/freedesktop/login1/session/c2'"})
                  .first,
              0);
    Process probe = start({{"DBUS_SYSTEM_BUS_ADDRESS", bus.address()}, {"XDG_SESSION_ID", ""}});
    ASSERT_TRUE(titled("playing"));
    ASSERT_TRUE(waitUntil([&] { return occurrences(probe.output(), "session watched") == 1; }))
        << probe.output() << logind.log();
    setActive(bus, "c2", false);
    EXPECT_TRUE(titled("muted"));
    EXPECT_EQ(logind.count("GetSessionByPID " + std::to_string(probe.pid())), 1) << logind.log();
}

TEST_F(SessionE2eTest, WithoutAnyBusTheProgramRunsNormally) {
    Process probe = start({{"DBUS_SYSTEM_BUS_ADDRESS", kNoBus}, {"XDG_SESSION_ID", "c1"}});
    ASSERT_TRUE(titled("playing")) << probe.output();
    EXPECT_EQ(occurrences(probe.output(), "session watched"), 0);
    probe.signal(SIGTERM);
    EXPECT_EQ(probe.wait(), 0);
    EXPECT_EQ(occurrences(probe.output(), "closed"), 1);
}

} // namespace
} // namespace norv::test
