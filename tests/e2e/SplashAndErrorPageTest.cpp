// The splash and the error page end to end: the real program under Xvfb with openbox, on
// a startup address where nothing listens until the test starts a server there, and on
// pages of its startup folder that go on to addresses that fail in each way a page can;
// real clicks on "Try again", the page's web process killed by its PID. What the user sees
// is checked on the X server (which windows are mapped, their size and frame, the
// screen); which page a window shows, by the program's own log of its pages' life.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <optional>
#include <set>

#include "tests/support/HttpServer.h"
#include "tests/support/Process.h"
#include "tests/support/XSession.h"
#include "tests/support/XWindows.h"

namespace norv::test {
namespace {

constexpr const char* kErrorPage = "CONNECTIONERROR.HTM";

// Whether something accepts connections on the loopback port.
bool listening(std::uint16_t port) {
    int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(port);
    const bool connected = ::connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    ::close(s);
    return connected;
}

// The web processes the program started (its children named so).
std::vector<pid_t> webProcessesOf(pid_t parent) {
    std::vector<pid_t> found;
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        const std::string name = entry.path().filename();
        if (name.find_first_not_of("0123456789") != std::string::npos)
            continue;
        std::ifstream stat(entry.path() / "stat");
        std::string line;
        std::getline(stat, line);
        const auto open = line.find('('), close = line.rfind(')');
        if (open == std::string::npos || close == std::string::npos)
            continue;
        const std::string comm = line.substr(open + 1, close - open - 1);
        std::istringstream rest(line.substr(close + 2));
        char state = 0;
        pid_t ppid = 0;
        rest >> state >> ppid;
        if (ppid == parent && comm.rfind("WebKitWebProces", 0) == 0)
            found.push_back(std::stoi(name));
    }
    return found;
}

class SplashAndErrorPageTest : public ::testing::Test {
protected:
    Env env(Env extra = {}) const {
        Env e = x.env();
        // The log of the pages' life: which document each window completed.
        e.emplace_back("G_MESSAGES_DEBUG", "Norv-Browser norv-view");
        for (auto& v : extra)
            e.push_back(std::move(v));
        return e;
    }

    // The program on ./start.htm of the test's folder.
    Process startRelative(Env extra = {}) {
        return Process::spawn(
            {"sh", "-c", "cd \"$1\" && exec \"$2\"", "sh", cwd.path().string(), NORV_VIEW_RELATIVE},
            env(std::move(extra)));
    }

    void write(const std::string& name, const std::string& html) {
        std::ofstream(cwd.path() / name, std::ios::trunc) << html;
    }

    // The visible windows titled `title` (the splash among them when `splash`).
    std::set<XWindow> visible(const std::string& title, bool splash) {
        std::set<XWindow> ids;
        for (const auto& id : x.findWindows("^" + title + "$", splash))
            ids.insert(std::stoul(id));
        return ids;
    }

    // Waits until exactly one window titled `title` is visible (the splash counting only
    // when `splash`), other than `not1`, and returns it (0 when none came).
    XWindow waitForOnly(const std::string& title, bool splash = false, XWindow not1 = 0) {
        XWindow found = 0;
        waitUntil([&] {
            auto ids = visible(title, splash);
            if (ids.size() != 1 || ids.count(not1))
                return false;
            found = *ids.begin();
            return true;
        });
        return found;
    }

    // How many times the program's log says a document of that name completed.
    std::size_t completions(const Process& shell, const std::string& name) const {
        const std::string out = shell.output();
        std::size_t n = 0;
        for (auto at = out.find("document-complete "); at != std::string::npos;
             at = out.find("document-complete ", at + 1)) {
            const auto end = out.find('\n', at);
            if (out.substr(at, end - at).find(name) != std::string::npos)
                ++n;
        }
        return n;
    }
    bool waitForCompletions(const Process& shell, const std::string& name, std::size_t n) {
        return waitUntil([&] { return completions(shell, name) >= n; });
    }

    // A window as the splash and the error page declare it: a 326 x 180 client area in a
    // frame of the page's own (no title bar or border of the window manager).
    void expectDialogLook(XWindow w) {
        EXPECT_TRUE(waitUntil([&] {
            Box c = windows.client(w);
            return c.width() == 326 && c.height() == 180;
        })) << windows.client(w);
        EXPECT_EQ(windows.decorations(w), 0) << "no frame of the window manager";
    }

    // "Try again": a real click on the error page's button.
    void clickTryAgain(XWindow w) {
        x.run({"xdotool", "mousemove", "--window", std::to_string(w), "163", "118", "click", "1"});
    }

    // Whether the click reached a native window object: without one the page's script
    // fails, and the host shows its "Script error" box.
    bool scriptErrorShown() { return !x.findWindows("^Script error$").empty(); }

    void screenshot(const std::string& name) {
        x.screenshot(std::filesystem::path(NORV_E2E_OUTPUT_DIR) / ("splash-" + name + ".png"));
    }

    XSession x;
    XWindows windows{x.display()};
    TempDir cwd;
};

TEST_F(SplashAndErrorPageTest, AnUnreachableStartShowsTheSplashThenTheErrorPageUntilTheServerIsUp) {
    ASSERT_FALSE(listening(NORV_E2E_OFFLINE_PORT)) << "the test needs its port free";
    Process shell = Process::spawn({NORV_VIEW_OFFLINE}, env());

    // The splash first (its page laid out in a window of its own, the host window hidden:
    // a refused connection fails at once, and the window waits for the splash), then the
    // error page in the host window, and the splash is gone.
    ASSERT_TRUE(waitForCompletions(shell, kErrorPage, 1)) << shell.output();
    XWindow host = waitForOnly("Norv Offline");
    ASSERT_NE(host, 0u) << shell.output();
    EXPECT_EQ(waitForOnly("Norv Offline", true), host) << "the splash is gone";
    EXPECT_EQ(completions(shell, "STARTUPSPLASH.HTM"), 1u) << shell.output();
    EXPECT_NE(shell.output().find("navigate-error http://127.0.0.1:" +
                                  std::to_string(NORV_E2E_OFFLINE_PORT) + "/start.htm 0x800C0004"),
              std::string::npos)
        << "refused: INET_E_CANNOT_CONNECT\n"
        << shell.output();
    expectDialogLook(host);
    screenshot("error-page");

    // Still down: "Try again" shows a splash, then the error page again.
    clickTryAgain(host);
    ASSERT_TRUE(waitUntil([&] {
        return completions(shell, "STARTUPSPLASH.HTM") == 2 || scriptErrorShown();
    })) << shell.output();
    if (scriptErrorShown())
        GTEST_SKIP() << "this build gives its pages no native window object";
    ASSERT_TRUE(waitForCompletions(shell, kErrorPage, 2)) << shell.output();
    EXPECT_EQ(waitForOnly("Norv Offline"), host);

    // Up: "Try again" loads the real page, whose native objects work.
    HttpServer server(NORV_E2E_OFFLINE_PORT);
    server.serve("/report", "", "text/plain");
    server.serve("/start.htm",
                 "<!DOCTYPE html><html><head><meta charset='utf-8'></head><body><p>The app</p>"
                 "<script>fetch('/report?settings=' + encodeURIComponent("
                 "tavi.host.uiSettings.errorDialogURI) + '&platform=' + "
                 "typeof tavi.platform.getService('ui').createFileDialog);</script></body></html>");
    clickTryAgain(host);
    auto report = server.waitForPath("/report");
    ASSERT_TRUE(report) << shell.output();
    EXPECT_EQ(report->param("settings"), kErrorPage);
    EXPECT_EQ(report->param("platform"), "function");
    EXPECT_EQ(waitForOnly("Norv Offline"), host);
    windows.requestClose(host);
    EXPECT_EQ(shell.wait(), 0) << shell.output();
}

TEST_F(SplashAndErrorPageTest, ClosingTheSplashEndsTheProgram) {
    ASSERT_FALSE(listening(NORV_E2E_OFFLINE_PORT)) << "the test needs its port free";
    // A server that takes the request and never answers: the splash stays up.
    HttpServer server(NORV_E2E_OFFLINE_PORT);
    server.hold("/start.htm");
    Process shell = Process::spawn({NORV_VIEW_OFFLINE}, env());
    ASSERT_TRUE(waitForCompletions(shell, "STARTUPSPLASH.HTM", 1)) << shell.output();
    XWindow splash = waitForOnly("Norv Offline", true);
    ASSERT_NE(splash, 0u) << shell.output();
    ASSERT_TRUE(server.waitForPath("/start.htm"));
    expectDialogLook(splash);
    screenshot("startup");
    windows.requestClose(splash);
    EXPECT_EQ(shell.wait(), 0) << shell.output();
    server.release("/start.htm");
}

TEST_F(SplashAndErrorPageTest, EveryWayALaterPageFailsEndsOnTheErrorPage) {
    HttpServer server;
    server.hold("/never");
    server.serve("/first", "<!DOCTYPE html><title>first</title><p>first page</p>");
    struct Case {
        std::string name;
        std::string address;
        std::string status;
    };
    const std::vector<Case> cases{
        {"unresolvable host", "http://no-such-host.invalid/", "0x800C0005"},
        {"TLS failure", "https://127.0.0.1:" + std::to_string(server.port()) + "/", ""},
        {"time-out", server.url("/never"), "0x800C000B"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        write("start.htm", "<!DOCTYPE html><html><head><meta charset='utf-8'></head><body>"
                           "<script>addEventListener('load', () => setTimeout(() => "
                           "location.href = '" +
                               c.address + "', 0));</script></body></html>");
        Process shell = startRelative({{"NORV_NAVIGATION_TIMEOUT", "10"}});
        ASSERT_TRUE(waitForCompletions(shell, "start.htm", 1)) << shell.output();
        ASSERT_TRUE(waitForCompletions(shell, kErrorPage, 1)) << shell.output();
        const std::string out = shell.output();
        const auto error = out.find("navigate-error " + c.address);
        ASSERT_NE(error, std::string::npos) << out;
        if (!c.status.empty()) {
            EXPECT_EQ(out.substr(error + 16 + c.address.size(), 10), c.status) << out;
        }
        XWindow host = waitForOnly("Norv E2E");
        ASSERT_NE(host, 0u);
        expectDialogLook(host);
        windows.requestClose(host);
        EXPECT_EQ(shell.wait(), 0) << shell.output();
    }
    server.release("/never");

    // The network goes away between two loads: the next one is refused.
    std::optional<HttpServer> gone(std::in_place);
    gone->serve("/a", "<!DOCTYPE html><body><script>addEventListener('keydown', () => "
                      "location.href = '/b');</script>a</body>");
    const std::string a = gone->url("/a");
    write("start.htm", "<!DOCTYPE html><script>location.href = '" + a + "';</script>");
    Process shell = startRelative();
    ASSERT_TRUE(gone->waitForPath("/a")) << shell.output();
    ASSERT_TRUE(waitForCompletions(shell, a, 1)) << shell.output();
    XWindow host = waitForOnly("Norv E2E");
    ASSERT_NE(host, 0u);
    gone.reset();
    x.run({"xdotool", "windowactivate", "--sync", std::to_string(host)});
    x.run({"xdotool", "key", "--clearmodifiers", "b"});
    ASSERT_TRUE(waitForCompletions(shell, kErrorPage, 1)) << shell.output();
    expectDialogLook(host);
    windows.requestClose(host);
    EXPECT_EQ(shell.wait(), 0) << shell.output();
}

TEST_F(SplashAndErrorPageTest, AKilledWebProcessShowsTheErrorPageAndTryAgainBringsThePageBack) {
    HttpServer server;
    server.serve("/report", "", "text/plain");
    write("start.htm",
          "<!DOCTYPE html><html><head><meta charset='utf-8'></head><body><p>The app</p>"
          "<script>fetch('" +
              server.url("/report") +
              "?settings=' + encodeURIComponent(tavi.host.uiSettings.errorDialogURI));"
              "</script></body></html>");
    Process shell = startRelative();
    ASSERT_TRUE(server.waitForPath("/report")) << shell.output();
    XWindow host = waitForOnly("Norv E2E");
    ASSERT_NE(host, 0u) << shell.output();
    const std::string startAddress = "file://" + (cwd.path() / "start.htm").string();

    std::vector<pid_t> pids = webProcessesOf(shell.pid());
    ASSERT_FALSE(pids.empty()) << shell.output();
    for (pid_t pid : pids)
        ::kill(pid, SIGKILL);
    ASSERT_TRUE(waitForCompletions(shell, kErrorPage, 1)) << shell.output();
    EXPECT_NE(shell.output().find("web process terminated"), std::string::npos);
    expectDialogLook(host);
    screenshot("after-crash");

    clickTryAgain(host);
    ASSERT_TRUE(waitUntil([&] {
        return server.count([](const HttpRequest& r) { return r.path == "/report"; }) >= 2 ||
               scriptErrorShown();
    })) << shell.output();
    if (scriptErrorShown())
        GTEST_SKIP() << "this build gives its pages no native window object";
    // The page again, in a new web process, with its bridge.
    const auto reports = server.count(
        [](const HttpRequest& r) { return r.path == "/report" && r.param("settings"); });
    EXPECT_EQ(reports, 2u);
    EXPECT_EQ(server.requests().back().param("settings"), kErrorPage);
    EXPECT_GE(completions(shell, startAddress), 2u) << shell.output();
    for (pid_t pid : webProcessesOf(shell.pid()))
        EXPECT_EQ(std::count(pids.begin(), pids.end(), pid), 0) << "a new web process";
    EXPECT_EQ(waitForOnly("Norv E2E"), host);
    windows.requestClose(host);
    EXPECT_EQ(shell.wait(), 0) << shell.output();
}

} // namespace
} // namespace norv::test
