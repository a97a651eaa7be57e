// The shell end to end: the real program under Xvfb with openbox, against a loopback HTTP
// server that records what the browser sends.
#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <csignal>
#include <fstream>
#include <memory>
#include <set>

#include "platform/glib/Owned.h"
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
        glib::Owned<XWMHints, XFree> hints(XGetWMHints(display_, window));
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

    // From now on, notes every window mapped on the screen: the frame the window manager
    // maps for each client window, and windows placed without it.
    void watchMappedWindows() {
        XSelectInput(display_, DefaultRootWindow(display_), SubstructureNotifyMask);
        XSync(display_, False);
    }
    // The windows mapped since watchMappedWindows, up to everything the server did so far.
    std::set<Window> mappedWindows() {
        XSync(display_, False);
        while (XPending(display_) > 0) {
            XEvent event;
            XNextEvent(display_, &event);
            if (event.type == MapNotify)
                mapped_.insert(event.xmap.window);
        }
        return mapped_;
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
    std::set<Window> mapped_;
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

    // Writes page `name` into the test's folder beside start.htm, which opens it: pages of
    // the startup address's origin are the ones that get window.tavi. SERVER in the page
    // stands for the test server's address.
    void startOnLocalPage(const std::string& name, std::string html) {
        const std::string base = server.url("");
        for (auto at = html.find("SERVER"); at != std::string::npos;
             at = html.find("SERVER", at + base.size()))
            html.replace(at, 6, base);
        std::ofstream(cwd.path() / name) << html;
        std::ofstream(cwd.path() / "start.htm", std::ios::trunc)
            << "<!DOCTYPE html><script>location.replace('" << name << "');</script>";
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

// The page reads tavi.host, then changes the user agent step by step, loading itself
// again after each change (?step=N): each load first reports its address to the server
// (/host.html?step=N&v=...), so that the report shows the user agent that the change gave
// the next requests and what script read before.
constexpr const char* kHostPage = R"(<!DOCTYPE html><html><body><script>
var step = Number(new URLSearchParams(location.search).get('step') || '1');
function next(value) {
  location.replace('host.htm?step=' + (step + 1) + '&v=' +
                   encodeURIComponent(JSON.stringify(value)) + '&ua=' +
                   encodeURIComponent(navigator.userAgent));
}
fetch('SERVER/host.html' + location.search).then(function () {
try {
  var host = window.tavi.host;
  if (step == 1) {
    var r = {};
    r.isEmulation = host.isEmulation;
    r.properties = host.userAgentProperties;
    r.splash = host.uiSettings.splashScreenURI;
    r.error = host.uiSettings.errorDialogURI;
    r.getAttributes = typeof window.getAttributes;
    r.taviGetAttributes = typeof window.tavi.getAttributes;
    r.screenType = window.tavi.windowTypes.screen;
    try { host.run('', 'Caption'); r.run = 'no error'; }
    catch (e) { r.runNumber = e.number; r.runDescription = e.description; r.runMessage = e.message; }
    next(r);
  } else if (step == 2) {
    host.userAgentProperties = 'Norv 1.5.0.0';
    next(host.userAgentProperties);
  } else if (step == 3) {
    host.userAgentProperties = 'MyApp 2';
    next(host.userAgentProperties);
  } else if (step == 4) {
    host.userAgentProperties = 'MyApp 2';
    next(host.userAgentProperties);
  } else if (step == 5) {
    host.userAgentProperties = '';
    next(host.userAgentProperties);
  }
} catch (e) {
  fetch('SERVER/failed?e=' + encodeURIComponent(String(e) + ' ' + e.number));
}
});
</script></body></html>)";

TEST_F(ShellTest, ScriptReadsTheHostAndReplacesTheUserAgent) {
    server.serve("/host.html", "", "text/plain");
    startOnLocalPage("host.htm", kHostPage);
    Process shell = start(NORV_VIEW_RELATIVE);

    auto load = [&](int step) {
        return server.waitFor([step](const HttpRequest& r) {
            return r.path == "/host.html" && r.param("step").value_or("1") == std::to_string(step);
        });
    };
    auto first = load(1);
    ASSERT_TRUE(first) << shell.output();
    const std::string composed = first->header("user-agent");
    expectComposed(composed);

    // What script read on the first load, and navigator.userAgent there.
    auto second = load(2);
    ASSERT_TRUE(second) << shell.output();
    const std::string reported = second->param("v").value_or("");
    EXPECT_EQ(second->param("ua"), composed);
    for (const char* expected :
         {R"("isEmulation":false)", R"("properties":" Norv 1.5.0.0")",
          R"("splash":"STARTUPSPLASH.HTM")", R"("error":"CONNECTIONERROR.HTM")",
          R"("getAttributes":"function")", R"("taviGetAttributes":"undefined")",
          R"("screenType":4)",
          // run("") fails with E_INVALIDARG, as a signed 32-bit number, with its text.
          R"("runNumber":-2147024809)", R"("runDescription":"The parameter is incorrect.")",
          R"("runMessage":"The parameter is incorrect.")"})
        EXPECT_NE(reported.find(expected), std::string::npos) << expected << " in " << reported;

    // Assigning the token again changes nothing.
    auto third = load(3);
    ASSERT_TRUE(third);
    EXPECT_EQ(third->header("user-agent"), composed);
    EXPECT_EQ(third->param("v"), R"(" Norv 1.5.0.0")");

    // Another text replaces the token.
    const std::string token = "; Norv 1.5.0.0";
    std::string replaced = composed;
    replaced.replace(replaced.find(token), token.size(), "; MyApp 2");
    auto fourth = load(4);
    ASSERT_TRUE(fourth);
    EXPECT_EQ(fourth->header("user-agent"), replaced);
    EXPECT_EQ(fourth->param("v"), R"(" MyApp 2")");
    auto fifth = load(5);
    ASSERT_TRUE(fifth);
    EXPECT_EQ(fifth->header("user-agent"), replaced);
    EXPECT_EQ(fifth->param("ua"), replaced);

    // The empty text brings back WebKit's own user agent, and nothing reads as added.
    std::string platformDefault = composed;
    platformDefault.erase(platformDefault.find(token), token.size());
    auto sixth = load(6);
    ASSERT_TRUE(sixth);
    EXPECT_EQ(sixth->header("user-agent"), platformDefault);
    EXPECT_EQ(sixth->param("v"), "null");
    EXPECT_EQ(server.count([](const HttpRequest& r) { return r.path == "/failed"; }), 0u);
    shell.stop();
}

// The page assigns another text and, in the same turn of its script, starts a fetch, an
// XMLHttpRequest and an image; once they are answered it assigns the empty text and, again
// in the same turn, fetches. Each request must carry the user agent of the assignment
// right before it, although WebKit applies its own setting only after the turn.
constexpr const char* kSameTurnPage = R"(<!DOCTYPE html><html><body><script>
var n = 0;
function probe(kind, step) {
  return 'SERVER/seen?step=' + step + '&kind=' + kind + '&n=' + (n++);
}
function xhr(url) {
  return new Promise(function (done) {
    var r = new XMLHttpRequest(); r.onloadend = done; r.open('GET', url); r.send();
  });
}
function image(url) {
  return new Promise(function (done) {
    var i = new Image(); i.onload = i.onerror = done; i.src = url;
  });
}
function failed(e) {
  fetch('SERVER/failed?e=' + encodeURIComponent(String(e) + ' ' + e.number));
}
fetch('SERVER/same-turn.html').then(function () {
try {
  var host = window.tavi.host;
  host.userAgentProperties = 'SameTurn 3';
  Promise.all([fetch(probe('fetch', 'text')), xhr(probe('xhr', 'text')),
               image(probe('image', 'text'))]).then(function () {
    host.userAgentProperties = '';
    return Promise.all([fetch(probe('fetch', 'default')), xhr(probe('xhr', 'default'))]);
  }).then(function () { fetch('SERVER/done'); }, failed);
} catch (e) {
  failed(e);
}
});
</script></body></html>)";

TEST_F(ShellTest, RequestsInTheSameScriptTurnCarryTheAssignedUserAgent) {
    server.serve("/same-turn.html", "", "text/plain");
    server.serve("/seen", "seen", "text/plain");
    server.serve("/done", "done", "text/plain");
    startOnLocalPage("same-turn.htm", kSameTurnPage);
    Process shell = start(NORV_VIEW_RELATIVE);

    auto page = server.waitForPath("/same-turn.html");
    ASSERT_TRUE(page) << shell.output();
    const std::string composed = page->header("user-agent");
    expectComposed(composed);
    ASSERT_TRUE(server.waitFor([](const HttpRequest& r) {
        return r.path == "/done" || r.path == "/failed";
    })) << shell.output();
    EXPECT_EQ(server.count([](const HttpRequest& r) { return r.path == "/failed"; }), 0u);

    const std::string token = "; Norv 1.5.0.0";
    std::string replaced = composed;
    replaced.replace(replaced.find(token), token.size(), "; SameTurn 3");
    std::string platformDefault = composed;
    platformDefault.erase(platformDefault.find(token), token.size());

    std::size_t seen = 0;
    for (const HttpRequest& r : server.requests()) {
        if (r.path != "/seen")
            continue;
        ++seen;
        const std::string step = r.param("step").value_or("");
        const std::string& expected = step == "text" ? replaced : platformDefault;
        EXPECT_EQ(r.header("user-agent"), expected) << r.target;
    }
    EXPECT_EQ(seen, 5u);
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
    // The page tells what it finds, then stores a value and a cookie that outlive the run.
    server.serve("/store.html",
                 "<!DOCTYPE html><script>var had = [localStorage.getItem('k'), document.cookie];"
                 "localStorage.setItem('k', 'v'); document.cookie = 'c=1; max-age=3600';"
                 "fetch('/stored?had=' + encodeURIComponent(had.join('|')));</script>");
    std::ofstream(cwd.path() / "start.htm", std::ios::trunc)
        << "<!DOCTYPE html><script>location.replace('" << server.url("/store.html")
        << "');</script>";
    const std::filesystem::path key = "Software/{94DDA361-A0BD-4211-8248-AC4AD9C47972}/App";
    const auto data = x.home() / ".local/share" / key;
    const auto cache = x.home() / ".cache" / key;
    {
        Process shell = start(NORV_VIEW_RELATIVE);
        auto first = server.waitForPath("/stored");
        ASSERT_TRUE(first) << shell.output();
        EXPECT_EQ(first->param("had"), "|");
        EXPECT_TRUE(waitUntil([&] { return std::filesystem::exists(data / "localstorage"); }));
        EXPECT_TRUE(waitUntil([&] { return std::filesystem::exists(data / "cookies.sqlite"); }));
        EXPECT_TRUE(std::filesystem::is_directory(cache));
        std::string id = waitForWindow("^Norv E2E$");
        ASSERT_FALSE(id.empty());
        XConnection display(x.display());
        ASSERT_TRUE(display);
        display.requestClose(windowId(id));
        EXPECT_EQ(shell.wait(), 0) << shell.output();
    }
    // The next start finds both.
    auto stored = [&] {
        return server.count([](const HttpRequest& r) { return r.path == "/stored"; });
    };
    Process shell = start(NORV_VIEW_RELATIVE);
    ASSERT_TRUE(waitUntil([&] { return stored() == 2; })) << shell.output();
    std::optional<std::string> had;
    for (const HttpRequest& r : server.requests())
        if (r.path == "/stored")
            had = r.param("had");
    EXPECT_EQ(had, "v|c=1");
    shell.stop();
}

TEST_F(ShellTest, ProgramWithoutStartupAddressShowsAMessageAndNoWindow) {
    XConnection display(x.display());
    ASSERT_TRUE(display);
    display.watchMappedWindows();
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
    // Nothing else was ever shown, before the message or after it.
    EXPECT_EQ(display.mappedWindows().size(), 1u);
}

// Step 1 assigns a text with a character beyond ASCII; step 2 tries texts that requests
// could not carry as they are, each of which must be refused with the old text kept.
constexpr const char* kUserAgentRulePage = R"(<!DOCTYPE html><html><body><script>
var step = Number(new URLSearchParams(location.search).get('step') || '1');
function next(value) {
  location.replace('rule.htm?step=' + (step + 1) + '&v=' +
                   encodeURIComponent(JSON.stringify(value)) + '&ua=' +
                   encodeURIComponent(navigator.userAgent));
}
fetch('SERVER/rule.html' + location.search).then(function () {
try {
  var host = window.tavi.host;
  if (step == 1) {
    host.userAgentProperties = 'caf\u00e9';
    next(host.userAgentProperties);
  } else if (step == 2) {
    var numbers = [];
    ['a\u0000b', '\u{1F600}', 'a\u2028b', 'x)', 'lone \uD800'].forEach(function (text) {
      try { host.userAgentProperties = text; numbers.push('accepted'); }
      catch (e) { numbers.push(e.number); }
    });
    next({numbers: numbers, kept: host.userAgentProperties});
  } else {
    fetch('SERVER/done?ua=' + encodeURIComponent(navigator.userAgent));
  }
} catch (e) {
  fetch('SERVER/failed?e=' + encodeURIComponent(String(e) + ' ' + e.number));
}
});
</script></body></html>)";

TEST_F(ShellTest, UserAgentTextsRequestsCannotCarryAreRefusedAndOthersAreEncodedOnce) {
    server.serve("/rule.html", "", "text/plain");
    server.serve("/done", "done", "text/plain");
    startOnLocalPage("rule.htm", kUserAgentRulePage);
    Process shell = start(NORV_VIEW_RELATIVE);
    auto load = [&](int step) {
        return server.waitFor([step](const HttpRequest& r) {
            return r.path == "/rule.html" && r.param("step").value_or("1") == std::to_string(step);
        });
    };
    auto first = load(1);
    ASSERT_TRUE(first) << shell.output();
    const std::string composed = first->header("user-agent");
    expectComposed(composed);
    const std::string token = "; Norv 1.5.0.0";
    std::string cafe = composed;
    cafe.replace(cafe.find(token), token.size(), "; caf\xC3\xA9"); // U+00E9 in UTF-8, once

    auto second = load(2);
    ASSERT_TRUE(second) << shell.output();
    EXPECT_EQ(second->header("user-agent"), cafe);
    EXPECT_EQ(second->param("v"), "\" caf\xC3\xA9\"");

    // Each text is refused with E_INVALIDARG; requests and navigator.userAgent keep the
    // last accepted one.
    auto third = load(3);
    ASSERT_TRUE(third) << shell.output();
    EXPECT_EQ(third->param("v"), "{\"numbers\":[-2147024809,-2147024809,-2147024809,-2147024809,"
                                 "-2147024809],\"kept\":\" caf\xC3\xA9\"}");
    EXPECT_EQ(third->param("ua"), cafe);
    EXPECT_EQ(third->header("user-agent"), cafe);
    auto done = server.waitForPath("/done");
    ASSERT_TRUE(done) << shell.output();
    EXPECT_EQ(done->param("ua"), cafe);
    EXPECT_EQ(done->header("user-agent"), cafe);
    EXPECT_EQ(server.count([](const HttpRequest& r) { return r.path == "/failed"; }), 0u);
    shell.stop();
}

TEST_F(ShellTest, ASecondWindowOpenedAfterAVeryLongUserAgentLoads) {
    // The new window's page connects while the bridge sends it a user agent larger than
    // its socket holds.
    std::ofstream(cwd.path() / "second.htm")
        << "<!DOCTYPE html><script>tavi.host.userAgentProperties = '';"
        << "new Image().src = '" << server.url("/second-loaded") << "';</script>";
    server.serve("/second-loaded", "", "image/png");
    startOnLocalPage("long.htm",
                     "<!DOCTYPE html><script>tavi.host.userAgentProperties = 'x'.repeat(1 << 20);"
                     "tavi.host.run('" +
                         (cwd.path() / "second.htm").string() + "', 'Second');</script>");
    Process shell = start(NORV_VIEW_RELATIVE);
    auto loaded = server.waitForPath("/second-loaded");
    ASSERT_TRUE(loaded) << shell.output();
    // The second page itself gave the user agent back to WebKit's own.
    std::string platformDefault = loaded->header("user-agent");
    EXPECT_EQ(platformDefault.find("Norv"), std::string::npos) << platformDefault;
    EXPECT_EQ(platformDefault.find("xxxx"), std::string::npos);
    shell.stop();
}

} // namespace
} // namespace norv::test
