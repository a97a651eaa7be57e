// The shell end to end: the real program under Xvfb with openbox, against a loopback HTTP
// server that records what the browser sends.
#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <csignal>
#include <fstream>
#include <memory>

#include "tests/support/HttpServer.h"
#include "tests/support/Process.h"
#include "tests/support/XSession.h"

namespace norv::test {
namespace {

constexpr const char* kToken = "; Norv 1.5.0.0)";

// A connection to the test's X server for what xdotool cannot do.
class XConnection {
public:
    explicit XConnection(const std::string& display) : display_(XOpenDisplay(display.c_str())) {}
    ~XConnection() {
        if (display_)
            XCloseDisplay(display_);
    }
    XConnection(const XConnection&) = delete;
    XConnection& operator=(const XConnection&) = delete;
    explicit operator bool() const { return display_ != nullptr; }

    // Asks a window to close, as a window manager does (WM_DELETE_WINDOW).
    void requestClose(Window window) {
        XEvent event{};
        event.xclient.type = ClientMessage;
        event.xclient.window = window;
        event.xclient.message_type = XInternAtom(display_, "WM_PROTOCOLS", False);
        event.xclient.format = 32;
        event.xclient.data.l[0] =
            static_cast<long>(XInternAtom(display_, "WM_DELETE_WINDOW", False));
        event.xclient.data.l[1] = CurrentTime;
        XSendEvent(display_, window, False, NoEventMask, &event);
        XFlush(display_);
    }

    // The window-group leader named in a window's WM_HINTS; 0 when none.
    Window groupLeader(Window window) {
        std::unique_ptr<XWMHints, decltype(&XFree)> hints(XGetWMHints(display_, window), &XFree);
        if (!hints || !(hints->flags & WindowGroupHint))
            return 0;
        return hints->window_group;
    }

    // The window a window is transient for; 0 when none.
    Window transientFor(Window window) {
        Window parent = 0;
        if (!XGetTransientForHint(display_, window, &parent))
            return 0;
        return parent;
    }

    std::string title(Window window) {
        char* name = nullptr;
        if (!XFetchName(display_, window, &name) || !name)
            return {};
        std::string text(name);
        XFree(name);
        return text;
    }

private:
    Display* display_;
};

Window windowId(const std::string& text) {
    return static_cast<Window>(std::stoul(text));
}

// The user agent carries the token at the end of the first parenthesis of WebKit's own.
void expectComposed(const std::string& agent) {
    auto close = agent.find(')');
    ASSERT_NE(close, std::string::npos) << agent;
    const std::string token(kToken);
    ASSERT_GE(close + 1, token.size()) << agent;
    EXPECT_EQ(agent.substr(close + 1 - token.size(), token.size()), token) << agent;
    EXPECT_TRUE(agent.starts_with("Mozilla/5.0 (")) << agent;
}

class ShellTest : public ::testing::Test {
protected:
    void SetUp() override {
        server.serve("/ua.html", "<!DOCTYPE html><html><head>"
                                 "<link rel=\"stylesheet\" href=\"/style.css\"></head><body>"
                                 "<p>user agent</p><script>"
                                 "fetch('/report?ua=' + encodeURIComponent(navigator.userAgent));"
                                 "</script></body></html>");
        server.serve("/style.css", "p { color: #222; }", "text/css");
        server.serve("/report", "ok", "text/plain");
        std::ofstream start(cwd.path() / "start.htm");
        start << "<!DOCTYPE html><script>location.replace('" << server.url("/ua.html")
              << "');</script>";
    }

    // Starts a program in the test's folder (so that "./start.htm" is found there).
    Process start(const std::string& exe, const std::vector<std::string>& args = {}) {
        std::vector<std::string> argv = {
            "sh", "-c", "cd \"$1\" && shift && exec \"$@\"", "sh", cwd.path().string(), exe};
        argv.insert(argv.end(), args.begin(), args.end());
        return Process::spawn(argv, x.env());
    }

    // The one visible window whose title matches, once it is there.
    std::string waitForWindow(const std::string& titleRegex) {
        std::string id;
        waitUntil([&] {
            auto ids = x.findWindows(titleRegex);
            if (ids.size() == 1)
                id = ids.front();
            return !id.empty();
        });
        return id;
    }

    // Waits for the report of navigator.userAgent.
    std::string reportedUserAgent() {
        auto report = server.waitForPath("/report");
        if (!report)
            return {};
        return report->param("ua").value_or("");
    }

    XSession x;
    HttpServer server;
    TempDir cwd;
};

TEST_F(ShellTest, EveryRequestAndNavigatorUserAgentCarryTheToken) {
    Process shell = start(NORV_VIEW_RELATIVE);
    std::string reported = reportedUserAgent();
    ASSERT_FALSE(reported.empty()) << shell.output();
    expectComposed(reported);

    for (const char* path : {"/ua.html", "/style.css", "/report"}) {
        auto request = server.waitForPath(path);
        ASSERT_TRUE(request) << path;
        EXPECT_EQ(request->header("user-agent"), reported) << path;
    }
    shell.stop();
}

TEST_F(ShellTest, ClosingTheWindowEndsTheProcessWithCodeZero) {
    Process shell = start(NORV_VIEW);
    std::string id = waitForWindow("^Norv View$");
    ASSERT_FALSE(id.empty()) << shell.output();
    XConnection display(x.display());
    ASSERT_TRUE(display);
    display.requestClose(windowId(id));
    EXPECT_EQ(shell.wait(), 0) << shell.output();
}

TEST_F(ShellTest, RestartOptionChangesNothing) {
    Process shell = start(NORV_VIEW_RELATIVE, {"-r"});
    std::string reported = reportedUserAgent();
    ASSERT_FALSE(reported.empty()) << shell.output();
    expectComposed(reported);
    // The caption (string 133) is trimmed.
    std::string id = waitForWindow("Norv E2E");
    ASSERT_FALSE(id.empty());
    EXPECT_EQ(x.windowTitle(id), "Norv E2E");
    XConnection display(x.display());
    display.requestClose(windowId(id));
    EXPECT_EQ(shell.wait(), 0) << shell.output();
}

TEST_F(ShellTest, HostWindowBelongsToTheGroupOfTheHiddenOwnerWhichClosesIt) {
    Process shell = start(NORV_VIEW_RELATIVE);
    std::string id = waitForWindow("^Norv E2E$");
    ASSERT_FALSE(id.empty()) << shell.output();
    XConnection display(x.display());
    Window host = windowId(id);
    Window leader = display.groupLeader(host);
    ASSERT_NE(leader, 0u);
    EXPECT_NE(leader, host);
    // Owned through the group, not as a transient window (which loses its taskbar entry).
    EXPECT_EQ(display.transientFor(host), 0u);
    EXPECT_EQ(display.title(leader), "Norv E2E");
    // The owner is not shown anywhere.
    EXPECT_EQ(x.findWindows("^Norv E2E$").size(), 1u);

    // Asked to close, the owner closes its host windows and stays itself; the last host
    // window gone, the program ends.
    display.requestClose(leader);
    EXPECT_EQ(shell.wait(), 0) << shell.output();
}

TEST_F(ShellTest, EndOfSessionClosesTheHostWindows) {
    Process shell = start(NORV_VIEW_RELATIVE);
    ASSERT_FALSE(waitForWindow("^Norv E2E$").empty()) << shell.output();
    shell.signal(SIGTERM);
    EXPECT_EQ(shell.wait(), 0) << shell.output();
}

TEST_F(ShellTest, BrowserKeepsItsDataUnderTheProgramsOptionKeyPath) {
    server.serve("/store.html", "<!DOCTYPE html><script>localStorage.setItem('k', 'v');"
                                "fetch('/stored');</script>");
    std::ofstream(cwd.path() / "start.htm", std::ios::trunc)
        << "<!DOCTYPE html><script>location.replace('" << server.url("/store.html")
        << "');</script>";
    Process shell = start(NORV_VIEW_RELATIVE);
    ASSERT_TRUE(server.waitForPath("/stored")) << shell.output();
    const std::filesystem::path key = "Software/{94DDA361-A0BD-4211-8248-AC4AD9C47972}/App";
    const auto data = x.home() / ".local/share" / key;
    const auto cache = x.home() / ".cache" / key;
    EXPECT_TRUE(waitUntil([&] { return std::filesystem::exists(data / "localstorage"); }));
    EXPECT_TRUE(std::filesystem::is_directory(cache));
    shell.stop();
}

TEST_F(ShellTest, ProgramWithoutStartupAddressShowsAMessageAndNoWindow) {
    Process shell = start(NORV_VIEW_NO_ADDRESS);
    std::string id = waitForWindow("^Norv No Address$");
    ASSERT_FALSE(id.empty()) << shell.output();
    auto [code, role] = x.run({"xprop", "-id", id, "WM_WINDOW_ROLE"});
    EXPECT_NE(role.find("norv-message-box"), std::string::npos) << role;
    // The message box is the only window.
    EXPECT_EQ(x.findWindows(".").size(), 1u);

    x.run({"xdotool", "windowactivate", "--sync", id});
    x.run({"xdotool", "key", "--clearmodifiers", "Return"});
    EXPECT_EQ(shell.wait(), 0) << shell.output();
    EXPECT_TRUE(server.requests().empty());
}

} // namespace
} // namespace norv::test
