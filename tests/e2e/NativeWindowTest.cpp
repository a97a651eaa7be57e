// The page moves, resizes, minimises and closes its own window, end to end: the real
// program under Xvfb with openbox on pages of its startup folder, driven with real X input
// (xdotool: press, move in steps, release) and checked by the window's geometry as the X
// server has it and by what the page reports to a loopback HTTP server.
#include <gtest/gtest.h>

#include <fstream>

#include "tests/support/HttpServer.h"
#include "tests/support/Process.h"
#include "tests/support/XSession.h"
#include "tests/support/XWindows.h"

namespace norv::test {
namespace {

constexpr const char* kFailed = "-2147467259"; // E_FAIL, as script sees the number

// A custom window of 400 x 300 with its own title bar (an input field inside it, the
// minimise and close elements at its right end), a grip on its left edge, one in its
// bottom right corner, and two areas whose presses start a move or try the engine's
// argument errors. Everything the page sees goes to SERVER/<what>?v=<text>.
std::string chromePage(const std::string& extraAttributes = {}) {
    return R"(<!DOCTYPE html><html><head><meta charset="utf-8">
<style>/*<ui:window xmlns:ui="urn:schemas-tavimark-mixed1.0" type="custom"
  clientWidth="400px" clientHeight="300px" )" +
           extraAttributes + R"(>
  <title cssSelector="#bar"><buttonMinimize cssSelector="#min" />
    <buttonClose cssSelector="#close" /></title></ui:window>*/</style>
<style>
html, body { margin: 0; height: 100%; overflow: hidden; background: #eee; }
div { position: absolute; }
#bar { left: 0; top: 0; width: 400px; height: 40px; background: #246; }
#field { position: absolute; left: 150px; top: 8px; width: 100px; }
#min { left: 300px; top: 0; width: 40px; height: 40px; background: #68a; }
#close { left: 350px; top: 0; width: 40px; height: 40px; background: #a44; }
#grip { left: 0; top: 100px; width: 10px; height: 100px; background: #888; }
#corner { right: 0; bottom: 0; width: 16px; height: 16px; background: #888; }
#mover { left: 100px; top: 150px; width: 60px; height: 60px; background: #4a4; }
#errors { left: 200px; top: 150px; width: 80px; height: 40px; background: #aa4; }
</style></head><body>
<div id="bar"><input id="field"><div id="min"></div><div id="close"></div></div>
<div id="grip"></div><div id="corner"></div><div id="mover"></div><div id="errors"></div>
<script>
var nw = tavi.nativeWindow();
function report(path, v) {
  fetch('SERVER/' + path + '?v=' + encodeURIComponent(v === undefined ? '' : String(v)));
}
function attempt(f) {
  try { f(); return 'ok'; } catch (e) { return e.number + ' ' + e.description; }
}
// The listeners, in the order they are called.
var counts = { counted: 0, capital: 0, once: 0, afterResize: 0 };
function counted() { counts.counted++; }
function once() { counts.once++; nw.removeEventListener('moved', once); }
function afterResize() { counts.afterResize++; }
nw.addEventListener('moved', counted);
nw.addEventListener('moved', counted);
nw.addEventListener('Moved', function () { counts.capital++; });
nw.addEventListener('moved', once);
nw.addEventListener('moved', afterResize);
nw.addEventListener('resized', function () { nw.removeEventListener('moved', afterResize); });
var capture = attempt(function () { nw.addEventListener('moved', function () {}, true); });
function describe(e) {
  var t = e.timeStamp instanceof Date ? e.timeStamp.getTime() : NaN;
  return [e.type, e.eventPhase, e.currentTarget === e.target, e.target === nw,
          t === Date.UTC(1899, 11, 30) || t === new Date(1899, 11, 30).getTime(),
          e.bubbles, e.cancelable, JSON.stringify(counts)].join(',');
}
nw.addEventListener('moved', function (e) { report('event', describe(e)); });
nw.addEventListener('resized', function (e) { report('event', describe(e)); });

document.getElementById('grip').onmousedown = function () {
  report('grip', attempt(function () {
    nw.beginResizing(200, 150, 500, 0, tavi.windowGravity.left);
  }));
};
document.getElementById('corner').onmousedown = function () {
  report('corner', attempt(function () {
    nw.beginResizing(0, 0, 0, 0, tavi.windowGravity.right | tavi.windowGravity.bottom);
  }));
};
document.getElementById('mover').onmousedown = function () {
  report('mover', attempt(function () { nw.beginMove(); }));
};
document.getElementById('errors').onmousedown = function () {
  var r = [];
  r.push(attempt(function () { nw.beginResizing(0, 200, 0, 0, 2); }));
  r.push(attempt(function () { nw.beginResizing(200, 100, 150, 0, 2); }));
  r.push(attempt(function () { nw.beginResizing(200, 100, 0, 0, 3); }));
  r.push(attempt(function () { nw.beginResizing(200, 100, 0, 0, 12); }));
  r.push(attempt(function () { nw.beginMove(); nw.beginResizing(200, 100, 0, 0, 2); }));
  nw.abortMove();
  r.push(attempt(function () { nw.beginResizing(200, 100, 0, 0, 2); nw.beginMove(); }));
  nw.abortResizing();
  r.push(attempt(function () { nw.beginResizing(); }));
  nw.abortResizing();
  report('errors', r.join('|'));
};
addEventListener('mousedown', function (e) { report('down', e.target.id); });
addEventListener('mouseup', function () { report('up'); });
addEventListener('click', function () { report('click'); });
addEventListener('dblclick', function () { report('dblclick'); });
addEventListener('mousemove', function (e) { if (e.defaultPrevented) report('grabbed'); });
addEventListener('keydown', function (e) {
  if (e.key === 'a') { nw.abortMove(); report('aborted'); }
  if (e.key === 'm') report('mark', nw.getType());
});
addEventListener('load', function () {
  report('ready', [capture, attempt(function () { nw.beginMove(); }),
                   attempt(function () { nw.resizeTo(40, 300); }),
                   attempt(function () { nw.moveTo(-10, 0); }),
                   window.getAttributes() === nw].join('|'));
});
</script></body></html>)";
}

class NativeWindowTest : public ::testing::Test {
protected:
    void write(const std::string& name, std::string html) {
        const std::string base = server.url("");
        for (auto at = html.find("SERVER"); at != std::string::npos;
             at = html.find("SERVER", at + base.size()))
            html.replace(at, 6, base);
        std::ofstream(cwd.path() / name, std::ios::trunc) << html;
    }

    // The program on ./start.htm; waits for its window and for the page's first report.
    XWindow start(const std::string& html, const std::string& title = "^Norv E2E$") {
        write("start.htm", html);
        shell.emplace(Process::spawn(
            {"sh", "-c", "cd \"$1\" && exec \"$2\"", "sh", cwd.path().string(), NORV_VIEW_RELATIVE},
            x.env()));
        XWindow found = 0;
        waitUntil([&] {
            auto ids = x.findWindows(title);
            if (ids.size() == 1)
                found = std::stoul(ids.front());
            return found != 0;
        });
        if (!found)
            screenshot("no-window");
        return found;
    }

    std::string value(const std::string& path) {
        auto request = server.waitForPath("/" + path);
        if (!request)
            ADD_FAILURE() << "no report of " << path << ": " << shell->output();
        return request ? request->param("v").value_or("") : "<none>";
    }
    std::size_t count(const std::string& path) {
        return server.count([&](const HttpRequest& r) { return r.path == "/" + path; });
    }
    std::vector<std::string> values(const std::string& path) {
        std::vector<std::string> out;
        for (const HttpRequest& r : server.requests())
            if (r.path == "/" + path)
                out.push_back(r.param("v").value_or(""));
        return out;
    }
    bool waitForCount(const std::string& path, std::size_t n) {
        return waitUntil([&] { return count(path) >= n; });
    }

    void xdotool(const std::vector<std::string>& args) {
        std::vector<std::string> argv{"xdotool"};
        argv.insert(argv.end(), args.begin(), args.end());
        auto [code, out] = x.run(argv);
        EXPECT_EQ(code, 0) << "xdotool " << args.front() << ": " << out;
    }
    void pointerTo(int px, int py) {
        xdotool({"mousemove", std::to_string(px), std::to_string(py)});
    }
    // Presses the left button at a point of the screen, once the page has seen the press.
    void pressAt(int px, int py) {
        const std::size_t downs = count("down");
        pointerTo(px, py);
        xdotool({"mousedown", "1"});
        ASSERT_TRUE(waitForCount("down", downs + 1)) << shell->output();
    }
    void moveInSteps(int fromX, int fromY, int dx, int dy, int steps = 6) {
        for (int i = 1; i <= steps; ++i)
            pointerTo(fromX + dx * i / steps, fromY + dy * i / steps);
    }
    void releaseButton() { xdotool({"mouseup", "1"}); }
    // A key to the window, and the page's answer to "m": every report the page sent
    // before it has arrived by then.
    void key(XWindow window, const std::string& keys) {
        xdotool({"windowactivate", "--sync", std::to_string(window)});
        xdotool({"key", "--clearmodifiers", keys});
    }
    void mark(XWindow window) {
        const std::size_t marks = count("mark");
        key(window, "m");
        ASSERT_TRUE(waitForCount("mark", marks + 1)) << shell->output();
    }
    bool clientBecomes(XWindow window, const Box& expected) {
        return waitUntil([&] { return windows.client(window) == expected; });
    }
    // Presses on the title at a point of the client area and makes the first move, which
    // starts move mode; answers the screen point the window follows from.
    std::pair<int, int> grabTitle(XWindow window, int cx, int cy) {
        Box c = windows.client(window);
        const std::size_t grabs = count("grabbed");
        pressAt(c.left + cx, c.top + cy);
        pointerTo(c.left + cx + 2, c.top + cy + 2);
        EXPECT_TRUE(waitForCount("grabbed", grabs + 1)) << shell->output();
        return {c.left + cx + 2, c.top + cy + 2};
    }
    void screenshot(const std::string& name) {
        x.screenshot(std::filesystem::path(NORV_E2E_OUTPUT_DIR) /
                     ("nativewindow-" + name + ".png"));
    }
    void closeAndExpectExit(XWindow window) {
        windows.requestClose(window);
        EXPECT_EQ(shell->wait(), 0) << shell->output();
    }

    XSession x;
    XWindows windows{x.display()};
    HttpServer server;
    TempDir cwd;
    std::optional<Process> shell;
};

TEST_F(NativeWindowTest, DraggingTheTitleMovesTheWindowByThePointersOffsetAndFiresOneMoved) {
    XWindow w = start(chromePage());
    ASSERT_NE(w, 0u) << shell->output();
    // Outside a press the engine refuses; the page's own checks and its alias of the
    // native window hold.
    // A capturing listener is refused.
    EXPECT_EQ(value("ready"), "-2147024809 The parameter is incorrect.|" + std::string(kFailed) +
                                  " Invalid state of the mouse or keyboard buttons.|" + kFailed +
                                  " The client area is small. Permitted size of not less than "
                                  "50x50.|" +
                                  kFailed +
                                  " The window area is out of range. Permitted size not less "
                                  "than desktop rectangle.|true");
    const Box before = windows.client(w);
    ASSERT_EQ(before.width(), 400);

    auto [fromX, fromY] = grabTitle(w, 60, 20);
    moveInSteps(fromX, fromY, -120, 70);
    releaseButton();
    EXPECT_TRUE(clientBecomes(
        w, {before.left - 120, before.top + 70, before.right - 120, before.bottom + 70}))
        << windows.client(w);
    ASSERT_TRUE(waitForCount("event", 1));
    // The page saw the button's release, though the window held the pointer meanwhile.
    EXPECT_TRUE(waitForCount("up", 1));
    mark(w);
    EXPECT_EQ(values("mark"), std::vector<std::string>{"3"});
    EXPECT_EQ(values("event"),
              std::vector<std::string>{"moved,2,true,true,true,false,false,"
                                       R"({"counted":1,"capital":1,"once":1,"afterResize":1})"});
    screenshot("title-dragged");
    closeAndExpectExit(w);
}

TEST_F(NativeWindowTest, APressOnAnInputInTheTitleOrAButtonDoesNotMoveTheWindow) {
    XWindow w = start(chromePage());
    ASSERT_NE(w, 0u) << shell->output();
    ASSERT_NE(value("ready"), "<none>");
    const Box before = windows.client(w);
    for (int cx : {200, 320}) { // the input field, the minimise element
        pressAt(before.left + cx, before.top + 20);
        moveInSteps(before.left + cx, before.top + 20, 80, 60);
        releaseButton();
        ASSERT_TRUE(waitForCount("up", cx == 200 ? 1 : 2));
    }
    // A plain press and release on the title, without a move, fires nothing either.
    pressAt(before.left + 60, before.top + 20);
    releaseButton();
    ASSERT_TRUE(waitForCount("up", 3));
    mark(w);
    EXPECT_EQ(windows.client(w), before);
    EXPECT_EQ(count("grabbed"), 0u);
    EXPECT_EQ(count("event"), 0u);
    closeAndExpectExit(w);
}

TEST_F(NativeWindowTest, ADragPastTheWorkAreasEdgeStopsFivePixelsInsideIt) {
    XWindow w = start(chromePage());
    ASSERT_NE(w, 0u) << shell->output();
    ASSERT_NE(value("ready"), "<none>");
    const Box work = windows.workArea();
    const Box before = windows.client(w);
    auto [fromX, fromY] = grabTitle(w, 60, 20);
    // Where the grabbed point lies in the client area.
    const int grabX = fromX - before.left;
    const int grabY = fromY - before.top;
    // To the screen's corner, which is the work area's (openbox has no panel here).
    moveInSteps(fromX, fromY, work.left - fromX, work.top - fromY);
    releaseButton();
    const int left = work.left + 5 - grabX;
    const int top = work.top + 5 - grabY;
    EXPECT_TRUE(clientBecomes(w, {left, top, left + 400, top + 300})) << windows.client(w);
    EXPECT_TRUE(waitForCount("event", 1));
    closeAndExpectExit(w);
}

TEST_F(NativeWindowTest, TheLeftGripKeepsTheRightEdgeAtTheMaximumAndTheMinimum) {
    XWindow w = start(chromePage());
    ASSERT_NE(w, 0u) << shell->output();
    ASSERT_NE(value("ready"), "<none>");
    const Box before = windows.client(w);
    // Outwards past the maximum of 500.
    pressAt(before.left + 5, before.top + 150);
    EXPECT_EQ(value("grip"), "ok");
    moveInSteps(before.left + 5, before.top + 150, -200, 30);
    releaseButton();
    EXPECT_TRUE(clientBecomes(w, {before.right - 500, before.top, before.right, before.bottom}))
        << windows.client(w);
    ASSERT_TRUE(waitForCount("event", 1));
    // Inwards past the minimum of 200.
    const Box wide = windows.client(w);
    pressAt(wide.left + 5, wide.top + 150);
    moveInSteps(wide.left + 5, wide.top + 150, 400, -20);
    releaseButton();
    EXPECT_TRUE(clientBecomes(w, {before.right - 200, before.top, before.right, before.bottom}))
        << windows.client(w);
    ASSERT_TRUE(waitForCount("event", 2));
    mark(w);
    auto events = values("event");
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].substr(0, 8), "resized,");
    EXPECT_EQ(events[1].substr(0, 8), "resized,");
    screenshot("left-grip");
    closeAndExpectExit(w);
}

TEST_F(NativeWindowTest, ACornerGripWithoutLimitsStopsAtTheDeclaredClientSize) {
    XWindow w = start(chromePage());
    ASSERT_NE(w, 0u) << shell->output();
    ASSERT_NE(value("ready"), "<none>");
    const Box before = windows.client(w);
    pressAt(before.right - 8, before.bottom - 8);
    EXPECT_EQ(value("corner"), "ok");
    moveInSteps(before.right - 8, before.bottom - 8, 100, 80);
    releaseButton();
    EXPECT_TRUE(clientBecomes(w, {before.left, before.top, before.right + 100, before.bottom + 80}))
        << windows.client(w);
    ASSERT_TRUE(waitForCount("event", 1));
    const Box grown = windows.client(w);
    pressAt(grown.right - 8, grown.bottom - 8);
    moveInSteps(grown.right - 8, grown.bottom - 8, -300, -300);
    releaseButton();
    EXPECT_TRUE(clientBecomes(w, before)) << windows.client(w);
    EXPECT_TRUE(waitForCount("event", 2));
    closeAndExpectExit(w);
}

TEST_F(NativeWindowTest, TheEnginesArgumentErrorsReachScriptWithTheirTextsAndCodes) {
    XWindow w = start(chromePage());
    ASSERT_NE(w, 0u) << shell->output();
    ASSERT_NE(value("ready"), "<none>");
    const Box before = windows.client(w);
    pressAt(before.left + 240, before.top + 170);
    const std::string failed = kFailed;
    EXPECT_EQ(value("errors"), failed + " The size of client area is very small.|" +
                                   "-2147024809 The parameter is incorrect.|" + failed +
                                   " Invalid window gravity flags set.|" + failed +
                                   " Invalid window gravity flags set.|" + failed +
                                   " The window in the move mode now.|" + failed +
                                   " The window in the resize mode now.|ok");
    releaseButton();
    mark(w);
    EXPECT_EQ(windows.client(w), before);
    EXPECT_EQ(count("event"), 0u);
    closeAndExpectExit(w);
}

TEST_F(NativeWindowTest, AnAbortedMoveStopsFollowingThePointerAndFiresNothing) {
    XWindow w = start(chromePage());
    ASSERT_NE(w, 0u) << shell->output();
    ASSERT_NE(value("ready"), "<none>");
    const Box before = windows.client(w);
    pressAt(before.left + 130, before.top + 180);
    EXPECT_EQ(value("mover"), "ok");
    moveInSteps(before.left + 130, before.top + 180, 50, 40);
    EXPECT_TRUE(clientBecomes(
        w, {before.left + 50, before.top + 40, before.right + 50, before.bottom + 40}))
        << windows.client(w);
    // The keyboard still reaches the page while the window holds the pointer.
    xdotool({"key", "a"});
    ASSERT_TRUE(waitForCount("aborted", 1));
    moveInSteps(before.left + 180, before.top + 220, 60, 60);
    releaseButton();
    ASSERT_TRUE(waitForCount("up", 1));
    mark(w);
    EXPECT_EQ(windows.client(w),
              (Box{before.left + 50, before.top + 40, before.right + 50, before.bottom + 40}));
    EXPECT_EQ(count("event"), 0u);
    // A press and release without a move in between: no event either.
    pressAt(before.left + 190, before.top + 230);
    releaseButton();
    ASSERT_TRUE(waitForCount("up", 2));
    mark(w);
    EXPECT_EQ(count("event"), 0u);
    closeAndExpectExit(w);
}

TEST_F(NativeWindowTest, TheListenerRulesHoldAcrossMovesAndAResize) {
    XWindow w = start(chromePage());
    ASSERT_NE(w, 0u) << shell->output();
    ASSERT_NE(value("ready"), "<none>");
    auto drag = [&](int dx) {
        auto [fromX, fromY] = grabTitle(w, 60, 20);
        moveInSteps(fromX, fromY, dx, 10);
        releaseButton();
    };
    drag(40);
    ASSERT_TRUE(waitForCount("event", 1));
    const Box moved = windows.client(w);
    pressAt(moved.right - 8, moved.bottom - 8);
    moveInSteps(moved.right - 8, moved.bottom - 8, 30, 30);
    releaseButton();
    ASSERT_TRUE(waitForCount("event", 2));
    drag(-40);
    ASSERT_TRUE(waitForCount("event", 3));
    mark(w);
    auto events = values("event");
    ASSERT_EQ(events.size(), 3u);
    // Registered twice, called once; "Moved" hears "moved"; a listener that removed itself
    // is not called again; the one the resize listener removed is gone at once.
    EXPECT_EQ(events[0], "moved,2,true,true,true,false,false,"
                         R"({"counted":1,"capital":1,"once":1,"afterResize":1})");
    EXPECT_EQ(events[1], "resized,2,true,true,true,false,false,"
                         R"({"counted":1,"capital":1,"once":1,"afterResize":1})");
    EXPECT_EQ(events[2], "moved,2,true,true,true,false,false,"
                         R"({"counted":2,"capital":2,"once":1,"afterResize":1})");
    closeAndExpectExit(w);
}

TEST_F(NativeWindowTest, TheMinimiseElementWorksByClickAndTheCloseElementByDoubleClick) {
    XWindow w = start(chromePage());
    ASSERT_NE(w, 0u) << shell->output();
    ASSERT_NE(value("ready"), "<none>");
    auto hidden = [&] {
        return windows.hasState(w, "_NET_WM_STATE_HIDDEN");
    };
    {
        Box c = windows.client(w);
        xdotool(
            {"mousemove", std::to_string(c.left + 320), std::to_string(c.top + 20), "click", "1"});
        EXPECT_TRUE(waitUntil(hidden));
        // The click has reached the page before the window is shown again.
        ASSERT_TRUE(waitForCount("click", 1));
        xdotool({"windowactivate", "--sync", std::to_string(w)});
        EXPECT_TRUE(waitUntil([&] { return !hidden(); }));
    }
    // A double click on the close element closes the window as a click does.
    Box c = windows.client(w);
    xdotool({"mousemove", std::to_string(c.left + 370), std::to_string(c.top + 20), "click",
             "--repeat", "2", "1"});
    EXPECT_EQ(shell->wait(), 0) << shell->output();
}

TEST_F(NativeWindowTest, AClickOnTheCloseElementClosesTheWindow) {
    XWindow w = start(chromePage());
    ASSERT_NE(w, 0u) << shell->output();
    ASSERT_NE(value("ready"), "<none>");
    Box c = windows.client(w);
    xdotool({"mousemove", std::to_string(c.left + 370), std::to_string(c.top + 20), "click", "1"});
    EXPECT_EQ(shell->wait(), 0) << shell->output();
}

TEST_F(NativeWindowTest,
       AWindowWithoutTaskbarPresenceCannotBeMinimisedAndMaximisesOntoTheWorkArea) {
    XWindow w = start(chromePage(R"(isApplicationWindow="false")") +
                      "<script>addEventListener('keydown', function (e) {"
                      "  if (e.key !== 'x') return;"
                      "  report('minimize', attempt(function () { nw.minimize(); }));"
                      "  report('maximize', attempt(function () { nw.maximize(); }));"
                      "  report('type', nw.getType());"
                      "});</script>");
    ASSERT_NE(w, 0u) << shell->output();
    ASSERT_NE(value("ready"), "<none>");
    key(w, "x");
    EXPECT_EQ(value("maximize"), "ok");
    EXPECT_EQ(value("minimize"), "-2147024891 Access is denied.");
    EXPECT_EQ(value("type"), "3");
    const Box work = windows.workArea();
    EXPECT_TRUE(waitUntil([&] { return windows.outer(w) == work; })) << windows.outer(w);
    EXPECT_FALSE(windows.hasState(w, "_NET_WM_STATE_HIDDEN"));
    closeAndExpectExit(w);
}

// The program's own demo: its title bar moves the window and its corner grip sizes it,
// never below the declared 560 x 400.
TEST_F(NativeWindowTest, TheDemosTitleMovesItAndItsGripSizesIt) {
    shell.emplace(Process::spawn({NORV_VIEW}, x.env()));
    XWindow w = 0;
    waitUntil(
        [&] {
            auto ids = x.findWindows("^Norv View$");
            if (ids.size() == 1 && windows.isViewable(std::stoul(ids.front())))
                w = std::stoul(ids.front());
            return w != 0;
        },
        60s);
    ASSERT_NE(w, 0u) << shell->output();
    ASSERT_TRUE(waitUntil([&] { return windows.client(w).width() == 560; }, 60s))
        << windows.client(w);
    const Box before = windows.client(w);
    ASSERT_EQ(before.height(), 400);
    // The drag begins with the first move over the caption after the page has seen the
    // press (on a busy machine that may take a while): the pointer creeps right, a pixel
    // at a time along the caption, until the window follows it, then goes on by (80, 50).
    const int pressX = before.left + 200;
    const int pressY = before.top + 18;
    pointerTo(pressX, pressY);
    xdotool({"mousedown", "1"});
    int creep = 0;
    ASSERT_TRUE(waitUntil([&] {
        if (creep < 150)
            pointerTo(pressX + ++creep, pressY);
        return windows.client(w).left != before.left;
    })) << windows.client(w)
        << " creep " << creep;
    moveInSteps(pressX + creep, pressY, 80, 50, 10);
    releaseButton();
    // The window followed the pointer from wherever it was when the drag began.
    EXPECT_TRUE(waitUntil([&] {
        Box c = windows.client(w);
        return c.top == before.top + 50 && c.left >= before.left + 80 &&
               c.left <= before.left + 80 + creep && c.width() == 560;
    })) << windows.client(w)
        << " creep " << creep;
    screenshot("demo-moved");
    const Box moved = windows.client(w);
    // The grip too: the pointer creeps out of the corner until the window grows with it,
    // then goes on by (120, 60).
    const int gripX = moved.right - 5;
    const int gripY = moved.bottom - 5;
    pointerTo(gripX, gripY);
    xdotool({"mousedown", "1"});
    int grip = 0;
    ASSERT_TRUE(waitUntil([&] {
        if (grip < 60) {
            ++grip;
            pointerTo(gripX + grip, gripY + grip);
        }
        return windows.client(w).right != moved.right;
    })) << windows.client(w)
        << " grip " << grip;
    moveInSteps(gripX + grip, gripY + grip, 120, 60);
    releaseButton();
    EXPECT_TRUE(waitUntil([&] {
        Box c = windows.client(w);
        return c.left == moved.left && c.top == moved.top && c.right >= moved.right + 120 &&
               c.right <= moved.right + 120 + grip && c.bottom >= moved.bottom + 60 &&
               c.bottom <= moved.bottom + 60 + grip;
    })) << windows.client(w)
        << " grip " << grip;
    screenshot("demo-sized");
    const Box grown = windows.client(w);
    pointerTo(grown.right - 5, grown.bottom - 5);
    xdotool({"mousedown", "1"});
    moveInSteps(grown.right - 5, grown.bottom - 5, -400, -300);
    releaseButton();
    EXPECT_TRUE(clientBecomes(w, moved)) << windows.client(w);
    closeAndExpectExit(w);
}

} // namespace
} // namespace norv::test
