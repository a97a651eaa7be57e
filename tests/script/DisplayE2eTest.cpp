// The display service end to end: display-probe (a bare GTK program with the service) under
// Xvfb and openbox. What counts is what the X server does (its idle time, whether its screen
// saver came on, its settings) and what the desktop's inhibition services receive (fakes on
// a private session bus).
#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <optional>
#include <regex>

#include "tests/support/PrivateBus.h"
#include "tests/support/Process.h"
#include "tests/support/ScreenSaverState.h"
#include "tests/support/XSession.h"

namespace norv::test {
namespace {

const std::string kFakes = FAKE_SERVICES_DIR;
// A bus address nobody listens on: the program has no bus at all.
constexpr const char* kNoBus = "unix:path=/nonexistent/norv-no-bus";

// The probe program and its command FIFO.
class DisplayProbe {
public:
    DisplayProbe(const XSession& session, const Env& buses, int windows, bool application) {
        fifo_ = dir_.path() / "commands";
        if (::mkfifo(fifo_.c_str(), 0600) != 0)
            throw std::runtime_error("mkfifo failed");
        // Read and write: opening does not wait for the other side.
        fd_ = ::open(fifo_.c_str(), O_RDWR | O_CLOEXEC);
        Env env = session.env();
        env.insert(env.end(), buses.begin(), buses.end());
        env.emplace_back("G_MESSAGES_DEBUG", "norv-view");
        std::vector<std::string> argv = {DISPLAY_PROBE, "--windows", std::to_string(windows),
                                         "--commands", fifo_.string()};
        if (application)
            argv.push_back("--application");
        process_.emplace(Process::spawn(argv, env));
        if (!waitFor("ready"))
            throw std::runtime_error("display-probe did not start: " + output());
        const std::string out = output();
        const std::regex line("window ([0-9]+) ([0-9]+)");
        for (std::sregex_iterator it(out.begin(), out.end(), line), end; it != end; ++it)
            windows_.push_back((*it)[2]);
    }
    ~DisplayProbe() {
        process_.reset();
        ::close(fd_);
    }

    std::string output() const { return process_->output(); }
    Process& process() { return *process_; }
    // The X window id of window n (from 1), as xdotool takes it.
    const std::string& window(int n) const { return windows_.at(static_cast<std::size_t>(n - 1)); }

    bool waitFor(const std::string& text, int times = 1, std::chrono::milliseconds deadline = 30s) {
        return waitUntil([&] { return occurrences(output(), text) >= times; }, deadline);
    }
    // Sends a command and returns what the probe answered ("0x00000000", "3", ...).
    std::string command(const std::string& line) {
        const int before = occurrences(output(), line + " -> ");
        const std::string text = line + "\n";
        if (::write(fd_, text.data(), text.size()) != static_cast<ssize_t>(text.size()))
            return "write failed";
        if (!waitFor(line + " -> ", before + 1))
            return "no answer";
        const std::string out = output();
        std::size_t at = 0;
        for (int i = 0; i <= before; ++i)
            at = out.find(line + " -> ", at) + line.size() + 4;
        return out.substr(at, out.find('\n', at) - at);
    }
    int ticks() const { return occurrences(output(), "screen saver tick"); }

private:
    TempDir dir_;
    std::filesystem::path fifo_;
    int fd_ = -1;
    std::optional<Process> process_;
    std::vector<std::string> windows_;
};

constexpr const char* kOk = "0x00000000";

class DisplayE2eTest : public ::testing::Test {
protected:
    void activate(DisplayProbe& probe, int n) { activate(probe.window(n)); }
    void activate(const std::string& expected) {
        ASSERT_EQ(session.run({"xdotool", "windowactivate", "--sync", expected}).first, 0);
        ASSERT_TRUE(waitUntil([&] {
            auto [code, out] = session.run({"xdotool", "getactivewindow"});
            return code == 0 && out.find(expected) == 0;
        }));
    }
    void xset(const std::vector<std::string>& args) {
        std::vector<std::string> argv = {"xset"};
        argv.insert(argv.end(), args.begin(), args.end());
        ASSERT_EQ(session.run(argv).first, 0);
    }

    XSession session;
    ScreenSaverState screen{session.display()};
};

TEST_F(DisplayE2eTest, TheScreenSaverStaysAwayOnlyWhileThePageIsInFront) {
    const Env noBus = {{"DBUS_SESSION_BUS_ADDRESS", kNoBus}, {"DBUS_SYSTEM_BUS_ADDRESS", kNoBus}};
    xset({"s", "600"});
    DisplayProbe probe(session, noBus, 2, false);
    activate(probe, 1);

    EXPECT_EQ(probe.command("saver 1 0"), kOk);
    EXPECT_TRUE(probe.waitFor("screen saver timer 480000 ms"));

    // The user shortens the time-out; the next call restarts the timer with 80 % of it.
    xset({"s", "3"});
    EXPECT_EQ(probe.command("saver 1 0"), kOk);
    ASSERT_TRUE(probe.waitFor("screen saver timer 2400 ms"));

    // In front: each tick restarts the idle countdown, the screen saver never comes on.
    const int start = probe.ticks();
    unsigned long longestIdle = 0;
    bool cameOn = false;
    ASSERT_TRUE(waitUntil([&] {
        longestIdle = std::max(longestIdle, screen.idle());
        cameOn = cameOn || screen.on();
        return probe.ticks() >= start + 3;
    }));
    EXPECT_FALSE(cameOn);
    EXPECT_LT(longestIdle, 3000u);

    // Another window in front: the screen saver starts as usual, and later ticks leave it
    // on.
    activate(probe, 2);
    ASSERT_TRUE(waitUntil([&] { return screen.on(); }));
    const int whileOn = probe.ticks();
    ASSERT_TRUE(probe.waitFor("screen saver tick", whileOn + 2));
    EXPECT_TRUE(screen.on());

    // The page back in front: its next tick ends the screen saver.
    activate(probe, 1);
    EXPECT_TRUE(waitUntil([&] { return !screen.on(); }));

    // Allowed again: no more ticks, the screen saver comes back.
    EXPECT_EQ(probe.command("saver 1 1"), kOk);
    EXPECT_TRUE(waitUntil([&] { return screen.on(); }));

    probe.process().signal(SIGTERM);
    EXPECT_EQ(probe.process().wait(), 0);
    // The user's setting is what the user made it.
    EXPECT_EQ(screen.timeout(), 3);
}

TEST_F(DisplayE2eTest, FlagWordsAndTwoWindows) {
    const Env noBus = {{"DBUS_SESSION_BUS_ADDRESS", kNoBus}, {"DBUS_SYSTEM_BUS_ADDRESS", kNoBus}};
    xset({"s", "3"});
    DisplayProbe probe(session, noBus, 2, false);

    EXPECT_EQ(probe.command("saver 1 0"), kOk);
    EXPECT_EQ(probe.command("power 1 0"), kOk);
    EXPECT_EQ(probe.command("flags 1"), "3");
    // This server has no DPMS: the power-off time-out cannot be read, which is no error.
    EXPECT_TRUE(probe.waitFor("power-off timer 10000 ms"));
    EXPECT_EQ(probe.command("power 1 1"), kOk);
    EXPECT_EQ(probe.command("flags 1"), "2");
    EXPECT_EQ(probe.command("power 1 0"), kOk);
    EXPECT_EQ(probe.command("saver 1 1"), kOk);
    EXPECT_EQ(probe.command("flags 1"), "1");
    EXPECT_EQ(probe.command("power 1 1"), kOk);
    EXPECT_EQ(probe.command("flags 1"), "0");

    // Two windows keep the screen saver away; allowing the first leaves the second's.
    EXPECT_EQ(probe.command("saver 1 0"), kOk);
    EXPECT_EQ(probe.command("saver 2 0"), kOk);
    EXPECT_EQ(probe.command("saver 1 1"), kOk);
    activate(probe, 2);
    const int start = probe.ticks();
    bool cameOn = false;
    ASSERT_TRUE(waitUntil([&] {
        cameOn = cameOn || screen.on();
        return probe.ticks() >= start + 2;
    }));
    EXPECT_FALSE(cameOn);

    // A window that is closed is forgotten: its timer stops and the screen saver returns.
    EXPECT_EQ(probe.command("close 2"), "closed");
    EXPECT_TRUE(waitUntil([&] { return screen.on(); }));
    EXPECT_EQ(probe.command("saver 2 0"), "0x80070006");
}

TEST_F(DisplayE2eTest, ADialogOfThePageInFrontCountsAsThePage) {
    const Env noBus = {{"DBUS_SESSION_BUS_ADDRESS", kNoBus}, {"DBUS_SYSTEM_BUS_ADDRESS", kNoBus}};
    xset({"s", "3"});
    DisplayProbe probe(session, noBus, 1, false);
    EXPECT_EQ(probe.command("saver 1 0"), kOk);
    const std::string dialog = probe.command("dialog 1");
    activate(dialog);
    const int start = probe.ticks();
    bool cameOn = false;
    ASSERT_TRUE(waitUntil([&] {
        cameOn = cameOn || screen.on();
        return probe.ticks() >= start + 2;
    }));
    EXPECT_FALSE(cameOn);
}

TEST_F(DisplayE2eTest, TheDesktopsIdleInhibitionFollowsTheWindowInFront) {
    PrivateBus bus;
    FakeService screenSaver(bus, "org.freedesktop.ScreenSaver", kFakes + "/fake_screensaver.py");
    FakeService sessionManager(bus, "org.gnome.SessionManager",
                               kFakes + "/fake_session_manager.py");
    const Env buses = {{"DBUS_SESSION_BUS_ADDRESS", bus.address()},
                       {"DBUS_SYSTEM_BUS_ADDRESS", kNoBus}};
    DisplayProbe probe(session, buses, 2, true);
    activate(probe, 1);

    EXPECT_EQ(probe.command("saver 1 0"), kOk);
    EXPECT_TRUE(waitUntil([&] { return screenSaver.count("Inhibit \"Norv View\"") == 1; }));
    // GTK's idle inhibition (flag 8) names the page's window.
    EXPECT_TRUE(waitUntil([&] {
        return sessionManager.count("Inhibit \"org.norv.DisplayProbe\" " + probe.window(1)) == 1;
    })) << sessionManager.log();
    EXPECT_EQ(sessionManager.count(" 8\n"), 1) << sessionManager.log();

    // Another window in front: both are given back with their cookies.
    activate(probe, 2);
    EXPECT_TRUE(waitUntil([&] { return screenSaver.count("UnInhibit 42") == 1; }));
    EXPECT_TRUE(waitUntil([&] { return sessionManager.count("Uninhibit 7") == 1; }));

    // Back in front: inhibited again; allowed again: given back.
    activate(probe, 1);
    EXPECT_TRUE(waitUntil([&] { return screenSaver.count("Inhibit \"Norv View\"") == 2; }));
    EXPECT_EQ(probe.command("saver 1 1"), kOk);
    EXPECT_TRUE(waitUntil([&] { return screenSaver.count("UnInhibit 43") == 1; }));
    EXPECT_TRUE(waitUntil([&] { return sessionManager.count("Uninhibit 8") == 1; }));

    // Closing the window gives it back too.
    EXPECT_EQ(probe.command("power 1 0"), kOk);
    EXPECT_TRUE(waitUntil([&] { return screenSaver.count("Inhibit \"Norv View\"") == 3; }));
    EXPECT_EQ(probe.command("close 1"), "closed");
    EXPECT_TRUE(waitUntil([&] { return screenSaver.count("UnInhibit 44") == 1; }));
    EXPECT_TRUE(waitUntil([&] { return sessionManager.count("Uninhibit 9") == 1; }));
    EXPECT_EQ(screenSaver.count("Inhibit \"Norv View\""), 3) << screenSaver.log();
    EXPECT_EQ(screenSaver.count("UnInhibit"), 3) << screenSaver.log();
}

TEST_F(DisplayE2eTest, TheInhibitionIsGivenBackWhenTheProgramIsTerminated) {
    PrivateBus bus;
    FakeService screenSaver(bus, "org.freedesktop.ScreenSaver", kFakes + "/fake_screensaver.py");
    FakeService sessionManager(bus, "org.gnome.SessionManager",
                               kFakes + "/fake_session_manager.py");
    const Env buses = {{"DBUS_SESSION_BUS_ADDRESS", bus.address()},
                       {"DBUS_SYSTEM_BUS_ADDRESS", kNoBus}};
    for (bool application : {false, true}) {
        SCOPED_TRACE(application ? "GtkApplication" : "plain GTK");
        // Each earlier round took one cookie and gave it back.
        const int before = screenSaver.count("UnInhibit");
        DisplayProbe probe(session, buses, 1, application);
        activate(probe, 1);
        EXPECT_EQ(probe.command("saver 1 0"), kOk);
        ASSERT_TRUE(
            waitUntil([&] { return screenSaver.count("Inhibit \"Norv View\"") == before + 1; }));
        probe.process().signal(SIGTERM);
        EXPECT_EQ(probe.process().wait(), 0);
        EXPECT_EQ(screenSaver.count("UnInhibit " + std::to_string(42 + before)), 1)
            << screenSaver.log();
        if (application) {
            EXPECT_EQ(sessionManager.count("Uninhibit 7"), 1) << sessionManager.log();
        }
    }
}

} // namespace
} // namespace norv::test
