// The program as a desktop program: its command line, its place on the desktop (window class,
// registered application, a window for every start) and its log, with the real norv-view.
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>

#include "tests/support/HttpServer.h"
#include "tests/support/PrivateBus.h"
#include "tests/support/Process.h"
#include "tests/support/XSession.h"

namespace norv::test {
namespace {

struct Finished {
    int code = -1;
    std::string out;
    std::string err;
};

// Runs the program to its end with no display at all.
Finished runWithoutDisplay(const std::vector<std::string>& args) {
    TempDir dir;
    const std::string errPath = (dir.path() / "stderr").string();
    std::vector<std::string> argv = {
        "sh", "-c", "exec env -u DISPLAY -u WAYLAND_DISPLAY \"$@\" 2>\"$0\"", errPath, NORV_VIEW};
    argv.insert(argv.end(), args.begin(), args.end());
    Finished finished;
    std::tie(finished.code, finished.out) = runCommand(argv);
    std::ifstream in(errPath);
    std::stringstream err;
    err << in.rdbuf();
    finished.err = err.str();
    return finished;
}

TEST(ProgramCommandLineTest, HelpVersionAndWrongOptionsAnswerWithoutADisplay) {
    const Finished help = runWithoutDisplay({"--help"});
    EXPECT_EQ(help.code, 0) << help.err;
    EXPECT_TRUE(help.out.starts_with("Usage:\n  norv-view [OPTION…]\n")) << help.out;
    for (const char* text : {"--version", "--help-all", "--display=DISPLAY", "G_MESSAGES_DEBUG"})
        EXPECT_NE(help.out.find(text), std::string::npos) << text << " in " << help.out;
    EXPECT_EQ(help.err, "");

    const Finished version = runWithoutDisplay({"--version"});
    EXPECT_EQ(version.code, 0) << version.err;
    const std::regex lines("Norv View " NORV_VERSION "\nWebKitGTK [0-9]+\\.[0-9]+\\.[0-9]+\n"
                           "GStreamer 1\\.[0-9]+\\.[0-9]+(\\.[0-9]+)?\n");
    EXPECT_TRUE(std::regex_match(version.out, lines)) << version.out;
    EXPECT_EQ(version.err, "");

    const Finished unknown = runWithoutDisplay({"--no-such-option"});
    EXPECT_EQ(unknown.code, 2);
    EXPECT_EQ(unknown.out, "");
    EXPECT_EQ(unknown.err, "norv-view: Unknown option --no-such-option\n"
                           "Try \"norv-view --help\" for more information.\n");

    // GTK's options are read by the same rules.
    const Finished missing = runWithoutDisplay({"-r", "--display"});
    EXPECT_EQ(missing.code, 2);
    EXPECT_EQ(missing.out, "");
    EXPECT_NE(missing.err.find("--display"), std::string::npos) << missing.err;
}

class ProgramDesktopTest : public ::testing::Test {
protected:
    Env env(Env extra = {}) const {
        Env all = x.env();
        all.emplace_back("DBUS_SESSION_BUS_ADDRESS", bus.address());
        all.insert(all.end(), extra.begin(), extra.end());
        return all;
    }

    // The connections on the test's bus that belong to process `pid`.
    std::vector<std::string> connectionsOf(pid_t pid) const {
        std::vector<std::string> names;
        auto [code, out] = bus.call("org.freedesktop.DBus", "/org/freedesktop/DBus",
                                    "org.freedesktop.DBus.ListNames");
        const std::regex unique("':[0-9.]+'");
        for (std::sregex_iterator it(out.begin(), out.end(), unique), end; it != end; ++it) {
            const std::string name = it->str().substr(1, it->str().size() - 2);
            auto [c, owner] = bus.call("org.freedesktop.DBus", "/org/freedesktop/DBus",
                                       "org.freedesktop.DBus.GetConnectionUnixProcessID", {name});
            if (c == 0 && owner.find("uint32 " + std::to_string(pid) + ",") != std::string::npos)
                names.push_back(name);
        }
        return names;
    }

    // Whether process `pid` exports the GtkApplication of the configured id on its
    // connection.
    bool exportsApplication(pid_t pid) const {
        std::string path = "/" + std::string(NORV_APPLICATION_ID);
        std::replace(path.begin(), path.end(), '.', '/');
        std::replace(path.begin(), path.end(), '-', '_');
        for (const std::string& name : connectionsOf(pid)) {
            auto [code, xml] =
                bus.call(name, path, "org.freedesktop.DBus.Introspectable.Introspect");
            if (code == 0 && xml.find("org.gtk.Application") != std::string::npos)
                return true;
        }
        return false;
    }

    XSession x;
    PrivateBus bus;
};

TEST_F(ProgramDesktopTest,
       EveryStartOpensItsOwnWindowAsARegisteredApplicationOfTheConfiguredClass) {
    Process first = Process::spawn({NORV_VIEW}, env());
    ASSERT_TRUE(waitUntil([&] { return x.findWindows("^Norv View$").size() == 1; }))
        << first.output();
    // A second start is not handed over to the first: it opens a window of its own.
    Process second = Process::spawn({NORV_VIEW, "-r"}, env());
    std::vector<std::string> windows;
    ASSERT_TRUE(waitUntil([&] {
        windows = x.findWindows("^Norv View$");
        return windows.size() == 2;
    })) << second.output();
    EXPECT_TRUE(first.running());
    EXPECT_TRUE(second.running());

    std::set<std::string> pids;
    for (const std::string& window : windows) {
        auto [code, wmClass] = x.run({"xprop", "-id", window, "WM_CLASS"});
        EXPECT_EQ(wmClass, "WM_CLASS(STRING) = \"norv-view\", \"" NORV_APPLICATION_ID "\"\n");
        auto [c, pid] = x.run({"xprop", "-id", window, "_NET_WM_PID"});
        pids.insert(pid);
    }
    EXPECT_EQ(pids.size(), 2u);

    // Both are registered as the application, and neither owns its name on the bus.
    EXPECT_TRUE(waitUntil([&] { return exportsApplication(first.pid()); }));
    EXPECT_TRUE(waitUntil([&] { return exportsApplication(second.pid()); }));
    EXPECT_FALSE(bus.hasOwner(NORV_APPLICATION_ID));

    for (Process* shell : {&first, &second}) {
        shell->signal(SIGTERM);
        EXPECT_EQ(shell->wait(), 0) << shell->output();
    }
}

TEST_F(ProgramDesktopTest, TheLogIsQuietInANormalRunAndShowsThePagesLifeWhenAskedFor) {
    // Pages of the startup address's origin (files) get window.tavi; the second one reports
    // to a local server.
    HttpServer server;
    server.serve("/report", "ok", "text/plain");
    TempDir cwd;
    std::ofstream(cwd.path() / "start.htm")
        << "<!DOCTYPE html><script>location.replace('page.html');</script>";
    std::ofstream(cwd.path() / "page.html")
        << "<!DOCTYPE html><script>new Image().src = '" << server.url("/report")
        << "?tavi=' + typeof window.tavi.host;</script>";
    auto start = [&](const std::string& debug) {
        return Process::spawn(
            {"sh", "-c", "cd \"$1\" && exec \"$2\"", "sh", cwd.path().string(), NORV_VIEW_RELATIVE},
            env({{"G_MESSAGES_DEBUG", debug}}));
    };

    {
        Process shell = start("");
        auto report = server.waitForPath("/report");
        ASSERT_TRUE(report) << shell.output();
        EXPECT_EQ(report->param("tavi"), "object");
        shell.signal(SIGTERM);
        EXPECT_EQ(shell.wait(), 0);
        // Nothing of the program's own: no debug message, no warning.
        EXPECT_EQ(shell.output().find("norv-view-"), std::string::npos) << shell.output();
    }

    Process shell = start("norv-view");
    const std::string page = "file://" + cwd.path().string() + "/page.html";
    const std::vector<std::string> life = {
        "norv-view-DEBUG: ",
        "navigation: to file://" + cwd.path().string() + "/",
        "bridge: a web process connected",
        "navigation: " + page + " committed",
        "navigation: " + page + " finished",
    };
    ASSERT_TRUE(waitUntil([&] { return shell.output().find(life.back()) != std::string::npos; }))
        << shell.output();
    const std::string out = shell.output();
    std::size_t at = 0;
    for (const std::string& line : life) {
        at = out.find(line, at);
        EXPECT_NE(at, std::string::npos) << line << " in order in " << out;
        if (at == std::string::npos)
            break;
    }
    // The page's window object comes from its web process, whose word may arrive just
    // before or after the browser reports the commit.
    EXPECT_NE(out.find("bridge: window.tavi ready in " + page), std::string::npos) << out;
    EXPECT_EQ(out.find("norv-view-WARNING"), std::string::npos) << out;
    shell.signal(SIGTERM);
    EXPECT_EQ(shell.wait(), 0);
}

} // namespace
} // namespace norv::test
