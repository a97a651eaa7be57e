// The host window end to end: the real program under Xvfb with openbox, on pages of its
// startup folder and of a loopback HTTP server, driven with real X input (xdotool) and
// checked by what the X server, the window manager, the clipboard and the screen show.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <sstream>

#include "tests/support/HttpServer.h"
#include "tests/support/Process.h"
#include "tests/support/XSession.h"
#include "tests/support/XWindows.h"

namespace norv::test {
namespace {

// The declaration a page carries in its head, as the program's own pages write it.
std::string declaring(const std::string& attributes, const std::string& inside = {}) {
    return "<style>/*<ui:window xmlns:ui=\"urn:schemas-tavimark-mixed1.0\" " + attributes + ">" +
           inside + "</ui:window>*/</style>";
}

std::string page(const std::string& head, const std::string& body) {
    return "<!DOCTYPE html><html><head><meta charset=\"utf-8\">" + head +
           "<style>html,body{margin:0}</style></head><body>" + body + "</body></html>";
}

class HostDialogTest : public ::testing::Test {
protected:
    // Writes a page into the startup folder; SERVER stands for the test server's address.
    void write(const std::string& name, std::string html) {
        const std::string base = server.url("");
        for (auto at = html.find("SERVER"); at != std::string::npos;
             at = html.find("SERVER", at + base.size()))
            html.replace(at, 6, base);
        std::ofstream(cwd.path() / name, std::ios::trunc) << html;
    }

    // The program on ./start.htm of the test's folder.
    Process start(Env env = {}) {
        if (env.empty())
            env = x.env();
        return Process::spawn(
            {"sh", "-c", "cd \"$1\" && exec \"$2\"", "sh", cwd.path().string(), NORV_VIEW_RELATIVE},
            env);
    }

    // The one visible window whose title matches, once it is there; 0 when it does not come.
    XWindow waitForWindow(const std::string& titleRegex = "^Norv E2E$") {
        XWindow found = 0;
        waitUntil([&] {
            auto ids = x.findWindows(titleRegex);
            if (ids.size() == 1)
                found = std::stoul(ids.front());
            return found != 0;
        });
        return found;
    }

    bool waitUntilGone(const std::string& titleRegex) {
        return waitUntil([&] { return x.findWindows(titleRegex).empty(); });
    }

    // Waits until the window's client area has the size.
    bool waitForClientSize(XWindow window, int width, int height) {
        return waitUntil([&] {
            Box c = windows.client(window);
            return c.width() == width && c.height() == height;
        });
    }

    // The colour of a screen pixel as "#RRGGBB".
    std::string pixel(int x0, int y0) {
        const auto shot = (cwd.path() / "pixel.png").string();
        x.run({"import", "-window", "root", "-crop",
               "1x1+" + std::to_string(x0) + "+" + std::to_string(y0), shot});
        auto [code, out] =
            runCommand({"convert", shot, "-format", "#%[hex:p{0,0}]", "info:"}, x.env());
        return code == 0 ? out.substr(0, 7) : "";
    }

    // The colour in the middle of the window's client area, once it is `colour`.
    bool waitForColour(XWindow window, const std::string& colour) {
        return waitUntil([&] {
            Box c = windows.client(window);
            return pixel((c.left + c.right) / 2, (c.top + c.bottom) / 2) == colour;
        });
    }

    std::string clipboard() {
        auto [code, out] = x.run({"/usr/bin/python3", "-c",
                                  "import gi; gi.require_version('Gtk', '3.0');"
                                  "from gi.repository import Gtk, Gdk;"
                                  "t = Gtk.Clipboard.get(Gdk.SELECTION_CLIPBOARD).wait_for_text();"
                                  "print(t if t is not None else '<none>', end='')"});
        return code == 0 ? out : "<failed>";
    }

    void screenshot(const std::string& name) {
        x.screenshot(std::filesystem::path(NORV_E2E_OUTPUT_DIR) / ("host-" + name + ".png"));
    }

    // Real input on a window: a key, or a click at a point of its client area.
    void key(XWindow window, const std::string& keys) {
        x.run({"xdotool", "windowactivate", "--sync", std::to_string(window)});
        x.run({"xdotool", "key", "--clearmodifiers", keys});
    }
    void click(XWindow window, int cx, int cy, const std::string& button = "1") {
        x.run({"xdotool", "mousemove", "--window", std::to_string(window), std::to_string(cx),
               std::to_string(cy), "click", button});
    }

    bool reported(const std::string& path, const std::string& name, const std::string& value) {
        return server
            .waitFor([&](const HttpRequest& r) { return r.path == path && r.param(name) == value; })
            .has_value();
    }
    std::size_t count(const std::string& path) {
        return server.count([&](const HttpRequest& r) { return r.path == path; });
    }

    // Closes the program's last window and expects it to end with code 0.
    void closeAndExpectExit(Process& shell, XWindow window) {
        windows.requestClose(window);
        EXPECT_EQ(shell.wait(), 0) << shell.output();
    }

    XSession x;
    XWindows windows{x.display()};
    HttpServer server;
    TempDir cwd;
};

// What the window manager shows for a window.
struct Look {
    std::string type = "_NET_WM_WINDOW_TYPE_NORMAL";
    bool titled = true;
    bool bordered = true;
    bool userResizable = false;
    bool taskbar = true;
    bool above = false;
    bool fullScreen = false;
    int width = 0; // client size; 0: the screen's
    int height = 0;
};

TEST_F(HostDialogTest, EachDeclaredTypeGivesItsFrameTaskbarPresenceAndClientSize) {
    const std::string chrome = "<div id=\"title\" style=\"height:20px\">Title</div>"
                               "<div id=\"close\">x</div>";
    struct Case {
        std::string name;
        std::string declaration;
        Look look;
    };
    const Case cases[] = {
        {"normal",
         declaring(R"(type="normal" clientWidth="326px" clientHeight="180px")"),
         {.width = 326, .height = 180}},
        {"normal-resizable",
         declaring(R"(type="normal" isResizable="true" clientWidth="300px" clientHeight="200px")"),
         {.userResizable = true, .width = 300, .height = 200}},
        {"utility",
         declaring(R"(type="utility" clientWidth="240px" clientHeight="160px")"),
         {.type = "_NET_WM_WINDOW_TYPE_UTILITY", .width = 240, .height = 160}},
        {"custom",
         declaring(R"(type="custom" clientWidth="320px" clientHeight="200px")"),
         {.titled = false, .bordered = false, .width = 320, .height = 200}},
        {"custom-resizable",
         declaring(R"(type="custom" isResizable="true" clientWidth="320px" clientHeight="200px")"),
         {.titled = false, .userResizable = true, .width = 320, .height = 200}},
        {"screen",
         declaring(R"(type="screen")"),
         {.titled = false, .bordered = false, .fullScreen = true}},
        {"auto-title-and-close",
         declaring(R"(clientWidth="300px" clientHeight="150px")",
                   R"(<title cssSelector="#title"><buttonClose cssSelector="#close"/></title>)"),
         {.titled = false, .bordered = false, .width = 300, .height = 150}},
        {"auto-title-only",
         declaring(R"(clientWidth="300px" clientHeight="150px")",
                   R"(<title cssSelector="#title"/>)"),
         {.width = 300, .height = 150}},
        {"not-application-window-on-top",
         declaring(R"(isApplicationWindow="false" isAlwaysOnTop="true" clientWidth="250px")"
                   R"( clientHeight="120px")"),
         {.taskbar = false, .above = true, .width = 250, .height = 120}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        write("start.htm", page(c.declaration, chrome));
        Process shell = start();
        XWindow w = waitForWindow();
        ASSERT_NE(w, 0u) << shell.output();
        const Look& look = c.look;
        const Box screen = windows.screen();
        const int width = look.width ? look.width : screen.width();
        const int height = look.height ? look.height : screen.height();
        EXPECT_TRUE(waitForClientSize(w, width, height)) << windows.client(w);
        EXPECT_EQ(windows.windowType(w), look.type);
        const long decorations = windows.decorations(w);
        EXPECT_EQ((decorations & motif::decorTitle) != 0, look.titled) << decorations;
        EXPECT_EQ(decorations != 0, look.bordered) << decorations;
        EXPECT_EQ((windows.functions(w) & motif::funcResize) != 0, look.userResizable);
        EXPECT_EQ(windows.hasState(w, "_NET_WM_STATE_SKIP_TASKBAR"), !look.taskbar);
        EXPECT_EQ(windows.hasState(w, "_NET_WM_STATE_ABOVE"), look.above);
        EXPECT_EQ(windows.hasState(w, "_NET_WM_STATE_FULLSCREEN"), look.fullScreen);
        auto frame = windows.frame(w);
        ASSERT_EQ(frame.size(), 4u);
        if (!look.bordered) {
            EXPECT_EQ(frame, (std::vector<long>{0, 0, 0, 0}));
        } else if (!look.titled) {
            // A sizing border alone: the same width all around.
            EXPECT_GT(frame[0], 0);
            EXPECT_EQ(frame[2], frame[0]);
        } else {
            EXPECT_GT(frame[2], frame[3]); // a title bar
        }
        if (look.fullScreen) {
            EXPECT_EQ(windows.client(w), screen);
        } else {
            // Centred on the work area.
            const Box work = windows.workArea();
            const Box outer = windows.outer(w);
            EXPECT_LE(std::abs((outer.left - work.left) - (work.right - outer.right)), 1) << outer;
            EXPECT_LE(std::abs((outer.top - work.top) - (work.bottom - outer.bottom)), 1) << outer;
        }
        screenshot(c.name);
        closeAndExpectExit(shell, w);
    }
}

TEST_F(HostDialogTest, LeavingScreenModeForANormalPageRestoresThePlacementThenTheDeclaredSize) {
    write("start.htm", page(declaring(R"(type="screen")"),
                            "<a id=\"next\" href=\"normal.htm\" style=\"display:block;width:200px;"
                            "height:100px;background:#00f\">next</a>"));
    write("normal.htm", page(declaring(R"(type="normal" clientWidth="350px" clientHeight="210px")"),
                             "<div style=\"background:#0f0;height:210px\"></div>"));
    Process shell = start();
    XWindow w = waitForWindow();
    ASSERT_NE(w, 0u) << shell.output();
    ASSERT_TRUE(waitUntil([&] { return windows.hasState(w, "_NET_WM_STATE_FULLSCREEN"); }));
    click(w, 50, 50);
    EXPECT_TRUE(waitUntil([&] { return !windows.hasState(w, "_NET_WM_STATE_FULLSCREEN"); }));
    EXPECT_TRUE(waitForClientSize(w, 350, 210)) << windows.client(w);
    EXPECT_NE(windows.decorations(w) & motif::decorTitle, 0);
    EXPECT_TRUE(waitForColour(w, "#00FF00"));
    screenshot("screen-to-normal");
    closeAndExpectExit(shell, w);
}

TEST_F(HostDialogTest, TheWindowIsNotMappedBeforeItsFirstDocumentCompletes) {
    server.serve("/slow.png", "", "image/png");
    server.serve("/alive", "", "text/plain");
    server.hold("/slow.png");
    write("start.htm",
          page(declaring(R"(clientWidth="200px" clientHeight="100px")"),
               "<img src=\"SERVER/slow.png\"><script>fetch('SERVER/alive');</script>"));
    windows.watchMappedWindows();
    Process shell = start();
    ASSERT_TRUE(server.waitForPath("/slow.png")) << shell.output();
    ASSERT_TRUE(server.waitForPath("/alive")) << shell.output();
    // The document is there, its script ran; the window is not shown, only the splash
    // that stands in for it.
    EXPECT_TRUE(x.findWindows("^Norv E2E$").empty());
    EXPECT_LE(windows.mappedWindows().size(), 1u);
    server.release("/slow.png");
    XWindow w = waitForWindow();
    ASSERT_NE(w, 0u) << shell.output();
    EXPECT_TRUE(waitForClientSize(w, 200, 100));
    closeAndExpectExit(shell, w);
}

TEST_F(HostDialogTest, FragmentJumpsFrameNavigationsAndScriptLinksNeitherHideNorLayOutAgain) {
    server.serve("/frame2.html", "<body style=\"background:#ff0\">frame 2</body>");
    server.serve("/step", "", "text/plain");
    const std::string link = "position:absolute;left:0;width:120px;height:30px;";
    write("start.htm",
          page(declaring(R"(clientWidth="400px" clientHeight="300px")"),
               "<div style=\"position:absolute;left:0;top:0;width:100%;height:100%;"
               "background:#f0f\"></div>"
               "<a href=\"#jump\" style=\"" +
                   link +
                   "top:0\">jump</a>"
                   "<a href=\"SERVER/frame2.html\" target=\"inner\" style=\"" +
                   link +
                   "top:40px\">frame</a>"
                   "<a href=\"javascript:fetch('SERVER/step?n=script')\" style=\"" +
                   link +
                   "top:80px\">script</a>"
                   "<iframe name=\"inner\" src=\"about:blank\" style=\"position:absolute;"
                   "left:200px;top:0;width:100px;height:50px\"></iframe>"
                   "<div id=\"jump\" style=\"position:absolute;top:0\"></div>"
                   "<script>"
                   "addEventListener('hashchange', () => fetch('SERVER/step?n=jump'));"
                   "addEventListener('keydown', () => {"
                   "  window.resizeTo(500, 350); fetch('SERVER/step?n=resized'); });"
                   "</script>"));
    Process shell = start();
    XWindow w = waitForWindow();
    ASSERT_NE(w, 0u) << shell.output();
    ASSERT_TRUE(waitForClientSize(w, 400, 300)) << windows.client(w);
    key(w, "r");
    ASSERT_TRUE(reported("/step", "n", "resized"));
    ASSERT_TRUE(waitForClientSize(w, 500, 350)) << windows.client(w);

    click(w, 10, 10);
    ASSERT_TRUE(reported("/step", "n", "jump"));
    click(w, 10, 50);
    ASSERT_TRUE(server.waitForPath("/frame2.html"));
    click(w, 10, 90);
    ASSERT_TRUE(reported("/step", "n", "script"));
    // The page is still shown at the size it gave itself: none of these began a new
    // document, which would have hidden it and applied its declaration again.
    EXPECT_TRUE(waitForColour(w, "#FF00FF"));
    Box c = windows.client(w);
    EXPECT_EQ(c.width(), 500);
    EXPECT_EQ(c.height(), 350);
    screenshot("in-document-navigations");
    closeAndExpectExit(shell, w);
}

TEST_F(HostDialogTest, ANewDocumentShowsThePreviousPagesPictureUntilItCompletes) {
    server.serve("/next.html",
                 page(declaring(R"(clientWidth="300px" clientHeight="200px")"),
                      "<div style=\"background:#0f0;height:200px\"><img src=\"/held.png\"></div>"));
    server.serve("/held.png", "", "image/png");
    server.hold("/held.png");
    write("start.htm", page(declaring(R"(clientWidth="400px" clientHeight="250px")"),
                            "<a href=\"SERVER/next.html\" style=\"display:block;height:250px;"
                            "background:#f00\">next</a>"));
    Process shell = start();
    XWindow w = waitForWindow();
    ASSERT_NE(w, 0u) << shell.output();
    ASSERT_TRUE(waitForColour(w, "#FF0000"));
    click(w, 20, 20);
    // The next document is loading (it asked for its image), the previous one is gone.
    ASSERT_TRUE(server.waitForPath("/held.png")) << shell.output();
    EXPECT_EQ(pixel(windows.client(w).left + 200, windows.client(w).top + 125), "#FF0000");
    screenshot("snapshot-while-loading");
    server.release("/held.png");
    EXPECT_TRUE(waitForClientSize(w, 300, 200)) << windows.client(w);
    EXPECT_TRUE(waitForColour(w, "#00FF00"));
    closeAndExpectExit(shell, w);
}

TEST_F(HostDialogTest, ReloadPrintAndWindowKeysAreSwallowedWhileOthersReachThePage) {
    server.serve("/key", "", "text/plain");
    server.serve("/loaded", "", "text/plain");
    server.serve("/menu", "", "text/plain");
    server.serve("/popup.html", "<title>Popup</title>popup");
    write("start.htm",
          page(declaring(R"(clientWidth="400px" clientHeight="200px")"),
               "<p id=\"text\">copied words</p>"
               "<a id=\"popup\" href=\"SERVER/popup.html\" target=\"_blank\" "
               "style=\"position:absolute;left:0;top:100px;width:200px;height:40px\">popup</a>"
               "<script>"
               "fetch('SERVER/loaded');"
               "addEventListener('keydown', e => {"
               "  if (['Control', 'Shift', 'Alt'].includes(e.key)) return;"
               "  fetch('SERVER/key?k=' + encodeURIComponent((e.ctrlKey ? 'ctrl+' : '') + e.key));"
               "});"
               "addEventListener('contextmenu', () => fetch('SERVER/menu'));"
               "getSelection().selectAllChildren(document.getElementById('text'));"
               "</script>"));
    Process shell = start();
    XWindow w = waitForWindow();
    ASSERT_NE(w, 0u) << shell.output();
    ASSERT_TRUE(server.waitForPath("/loaded"));
    ASSERT_TRUE(waitUntil([&] { return x.findWindows("^Norv E2E$", true).size() == 1; }))
        << "the splash is gone";
    windows.watchMappedWindows();

    for (const char* swallowed : {"ctrl+p", "F5", "ctrl+F5", "ctrl+n", "ctrl+o", "ctrl+l"})
        key(w, swallowed);
    key(w, "a");
    ASSERT_TRUE(reported("/key", "k", "a")) << shell.output();
    // The page saw none of them, nothing was reloaded, printed or opened.
    for (const HttpRequest& r : server.requests()) {
        if (r.path == "/key") {
            EXPECT_EQ(r.param("k"), "a");
        }
    }
    EXPECT_EQ(count("/loaded"), 1u);

    key(w, "ctrl+c");
    EXPECT_TRUE(reported("/key", "k", "ctrl+c"));
    EXPECT_TRUE(waitUntil([&] { return clipboard() == "copied words"; })) << clipboard();

    click(w, 20, 20, "3");
    ASSERT_TRUE(server.waitForPath("/menu"));
    key(w, "b");
    ASSERT_TRUE(reported("/key", "k", "b"));

    // A new window is refused while Shift is held.
    x.run({"xdotool", "mousemove", "--window", std::to_string(w), "20", "110", "keydown", "shift",
           "click", "1", "keyup", "shift"});
    key(w, "c");
    ASSERT_TRUE(reported("/key", "k", "c"));
    EXPECT_EQ(count("/popup.html"), 0u);
    // No window was mapped since: no menu, no print dialog, no window.
    EXPECT_EQ(windows.mappedWindows().size(), 0u);

    // Without Shift the page opens in a browser window of its own.
    click(w, 20, 110);
    EXPECT_NE(waitForWindow("^Popup$"), 0u);
    EXPECT_EQ(count("/popup.html"), 1u);
    screenshot("keys-menus-windows");
    shell.stop();
}

// An uncaught error on line 12 of a page from another origin (script errors are shown for
// every page).
constexpr const char* kScriptErrorPage = R"(<!DOCTYPE html>
<html>
<head>
<style>/*<ui:window xmlns:ui="urn:schemas-tavimark-mixed1.0" clientWidth="300px" clientHeight="150px"></ui:window>*/</style>
</head>
<body>
<p>script error</p>
<script>
function later() {
  var x = 1;
  // the next line throws
  undefinedFunction(x);
}
setTimeout(later, 0);
// Runs after the host was told of the error (which it learns from a listener of its own,
// registered before any of the page's).
addEventListener('error', function () { setTimeout(function () { fetch('/after'); }, 0); });
</script>
</body>
</html>)";

TEST_F(HostDialogTest, AScriptErrorShowsItsFourLinesUnderScriptErrorAndThePageGoesOn) {
    server.serve("/error.html", kScriptErrorPage);
    server.serve("/after", "", "text/plain");
    write("start.htm", "<!DOCTYPE html><script>location.replace('SERVER/error.html');</script>");
    Process shell = start();
    XWindow box = waitForWindow("^Script error$");
    ASSERT_NE(box, 0u) << shell.output();
    // The page waits while the message is shown.
    EXPECT_EQ(count("/after"), 0u);
    key(box, "ctrl+c");
    const std::string text = clipboard();
    EXPECT_TRUE(std::regex_match(text, std::regex("Error:\tReferenceError: Can't find variable: "
                                                  "undefinedFunction\nLine:\t12\nCode:\t0\n"
                                                  "Char:\t[0-9]+")))
        << text;
    key(box, "Return");
    EXPECT_TRUE(waitUntilGone("^Script error$"));
    EXPECT_TRUE(server.waitForPath("/after"));
    XWindow w = waitForWindow();
    ASSERT_NE(w, 0u);
    closeAndExpectExit(shell, w);
}

TEST_F(HostDialogTest, APageOfAnotherOriginHasNoNativeAccessAndThePageBackHasItAgain) {
    HttpServer other;
    server.serve("/report", "", "text/plain");
    other.serve("/other.html", page({}, "<script>fetch('" + server.url("/report") +
                                            "?page=other&tavi=' + typeof window.tavi).then(() => "
                                            "history.back());</script>"));
    write("start.htm", page({}, "<script>"
                                "var type = performance.getEntriesByType('navigation')[0].type;"
                                "fetch('SERVER/report?page=start&visit=' + type + '&tavi=' + "
                                "(window.tavi && window.tavi.host ? 'host' : typeof window.tavi))"
                                ".then(() => { if (type != 'back_forward') location.href = '" +
                                    other.url("/other.html") + "'; });</script>"));
    Process shell = start();
    auto visit = [&](const std::string& page, const std::string& kind) {
        return server.waitFor([&](const HttpRequest& r) {
            return r.path == "/report" && r.param("page") == page &&
                   (kind.empty() || r.param("visit") == kind);
        });
    };
    auto first = visit("start", "navigate");
    ASSERT_TRUE(first) << shell.output();
    EXPECT_EQ(first->param("tavi"), "host");
    auto there = visit("other", "");
    ASSERT_TRUE(there) << shell.output();
    EXPECT_EQ(there->param("tavi"), "undefined");
    auto back = visit("start", "back_forward");
    ASSERT_TRUE(back) << shell.output();
    EXPECT_EQ(back->param("tavi"), "host");
    EXPECT_NE(shell.output().find("No window.tavi for " + other.url("/other.html")),
              std::string::npos)
        << shell.output();
    shell.stop();
}

TEST_F(HostDialogTest, ThePagesOwnResizeGoesThroughTheHostsChecksAndMoveDoesNothing) {
    server.serve("/result", "", "text/plain");
    server.serve("/step", "", "text/plain");
    write("start.htm", page(declaring(R"(clientWidth="300px" clientHeight="200px")"),
                            "<script>"
                            "function attempt(f) { try { f(); return 'ok'; }"
                            "  catch (e) { return e.number + ' ' + e.description; } }"
                            "addEventListener('load', () => {"
                            "  fetch('SERVER/result?small=' + encodeURIComponent("
                            "    attempt(() => window.resizeTo(40, 300))) + '&move=' + "
                            "    encodeURIComponent(attempt(() => { window.moveTo(0, 0); "
                            "window.moveBy(5, 5); })))"
                            "    .then(() => fetch('SERVER/step?n=small'));"
                            "});"
                            "addEventListener('keydown', e => {"
                            "  if (e.key == 'r') window.resizeTo(420, 260);"
                            "  if (e.key == 's') window.resizeBy(10, 20);"
                            "  fetch('SERVER/step?n=' + e.key);"
                            "});"
                            "</script>"));
    Process shell = start();
    XWindow w = waitForWindow();
    ASSERT_NE(w, 0u) << shell.output();
    ASSERT_TRUE(reported("/step", "n", "small"));
    auto result = server.waitForPath("/result");
    ASSERT_TRUE(result);
    EXPECT_EQ(result->param("small"),
              "-2147467259 The client area is small. Permitted size of not less than 50x50.");
    EXPECT_EQ(result->param("move"), "ok");
    // The page's load event may run before the window is laid out: what counts is that
    // the refused size never reached it.
    EXPECT_TRUE(waitForClientSize(w, 300, 200)) << windows.client(w);
    const Box placed = windows.outer(w);

    key(w, "r");
    ASSERT_TRUE(reported("/step", "n", "r"));
    EXPECT_TRUE(waitForClientSize(w, 420, 260)) << windows.client(w);
    key(w, "s");
    ASSERT_TRUE(reported("/step", "n", "s"));
    EXPECT_TRUE(waitForClientSize(w, 430, 280)) << windows.client(w);
    // Sizing keeps the top-left corner; moving did nothing.
    EXPECT_EQ(windows.outer(w).left, placed.left);
    EXPECT_EQ(windows.outer(w).top, placed.top);
    closeAndExpectExit(shell, w);
}

TEST_F(HostDialogTest, ClosingOneOfTwoWindowsKeepsTheProgramAndClosingTheLastEndsIt) {
    server.serve("/second", "", "text/plain");
    server.serve("/key", "", "text/plain");
    write("start.htm",
          page(declaring(R"(clientWidth="300px" clientHeight="150px")"),
               "<script>addEventListener('load', () => setTimeout(() => "
               "tavi.host.run('" +
                   (cwd.path() / "second.htm").string() + "', 'Second'), 0));</script>"));
    // The second page goes on to another document, whose window.close() closes the window
    // although the engine itself would refuse it to a page with history.
    write("second.htm", page(declaring(R"(clientWidth="200px" clientHeight="100px")"),
                             "<script>addEventListener('keydown', () => "
                             "location.href = 'second-b.htm');</script>"));
    write("second-b.htm", page({}, "<script>fetch('SERVER/second').then(() => "
                                   "window.close());</script>"));
    Process shell = start();
    XWindow first = waitForWindow("^Norv E2E$");
    ASSERT_NE(first, 0u) << shell.output();
    XWindow second = waitForWindow("^Second$");
    ASSERT_NE(second, 0u) << shell.output();
    key(second, "a");
    ASSERT_TRUE(server.waitForPath("/second"));
    EXPECT_TRUE(waitUntilGone("^Second$"));
    // The first window is still there, and so is the program.
    EXPECT_EQ(waitForWindow("^Norv E2E$"), first);
    EXPECT_TRUE(shell.running());
    closeAndExpectExit(shell, first);
}

TEST_F(HostDialogTest, EveryTrustedPageHasThePlatformObjectAndItsFileDialogsAreModalForTheWindow) {
    server.serve("/report", "", "text/plain");
    const std::string report = "function report(k, v) { return fetch('SERVER/report?k=' + k + "
                               "'&v=' + encodeURIComponent(String(v))); }"
                               "function code(f) { try { f(); return 'ok'; } catch (e) {"
                               " return e.number === undefined ? e.name : e.number; } }";
    write("start.htm",
          page({}, "<script>" + report +
                       "var p = tavi.platform;"
                       "report('display', p.getService('display') === p.getService('display'))"
                       ".then(() => report('ui', p.getService('ui') !== p.getService('ui')))"
                       ".then(() => report('case', code(() => p.getService('Display')) + ' ' +"
                       "  code(() => p.getService('UI')) + ' ' + code(() => p.getService(''))))"
                       ".then(() => location.href = 'second.htm');</script>"));
    // The next document of the same window has it too, and its file dialog belongs to the
    // window.
    write("second.htm",
          page({}, "<p>second</p><script>" + report +
                       "var d = tavi.platform.getService('ui').createFileDialog();"
                       "d.type = 'open'; d.title = 'Choose for the host';"
                       "d.addEventListener('cancel', () => report('event', 'cancel [' + d.result "
                       "+ ']'));"
                       "addEventListener('keydown', e => { if (e.key == 'o') "
                       "report('shown', code(() => d.show())); });"
                       "report('second', typeof tavi.platform.getService);</script>"));
    Env env = x.env();
    env.emplace_back("GTK_USE_PORTAL", "0");
    Process shell = start(env);
    auto value = [&](const std::string& k) {
        auto r = server.waitFor(
            [&](const HttpRequest& q) { return q.path == "/report" && q.param("k") == k; });
        return r ? r->param("v") : "<none>";
    };
    EXPECT_EQ(value("display"), "true") << shell.output();
    EXPECT_EQ(value("ui"), "true");
    // E_NOINTERFACE for every name that is not exactly one of the services.
    EXPECT_EQ(value("case"), "-2147467262 -2147467262 -2147467262");
    ASSERT_EQ(value("second"), "function");

    XWindow w = waitForWindow();
    ASSERT_NE(w, 0u);
    key(w, "o");
    XWindow dialog = waitForWindow("^Choose for the host$");
    ASSERT_NE(dialog, 0u) << shell.output();
    std::ostringstream parent;
    parent << "0x" << std::hex << w;
    auto [code, transient] = x.run({"xprop", "-id", std::to_string(dialog), "WM_TRANSIENT_FOR"});
    EXPECT_NE(transient.find(parent.str()), std::string::npos) << transient;
    key(dialog, "Escape");
    EXPECT_EQ(value("event"), "cancel []");
    EXPECT_EQ(value("shown"), "ok");
    EXPECT_TRUE(waitUntilGone("^Choose for the host$"));
    closeAndExpectExit(shell, w);
}

} // namespace
} // namespace norv::test
