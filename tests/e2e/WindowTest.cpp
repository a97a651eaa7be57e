// The window model and the move and resize engine on real X11 windows: the window driver
// (a GtkWindow with a plain drawing area, no browser) under Xvfb with openbox, driven by
// commands and by real pointer input (xdotool), checked by what the X server reports.
#include <gtest/gtest.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <sstream>

#include "tests/support/Process.h"
#include "tests/support/XSession.h"

namespace norv::test {
namespace {

struct Box {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
    int width() const { return right - left; }
    int height() const { return bottom - top; }
    friend bool operator==(const Box&, const Box&) = default;
};

std::ostream& operator<<(std::ostream& out, const Box& b) {
    return out << "(" << b.left << "," << b.top << " - " << b.right << "," << b.bottom << ")";
}

// Motif hint bits as the window manager reads them.
constexpr long kDecorBorder = 2;
constexpr long kDecorResizeHandle = 4;
constexpr long kDecorTitle = 8;
constexpr long kFuncResize = 2;

// What the X server says about the driver's window.
class XView {
public:
    explicit XView(const std::string& display) : display_(XOpenDisplay(display.c_str())) {}
    ~XView() {
        if (display_)
            XCloseDisplay(display_);
    }
    XView(const XView&) = delete;
    XView& operator=(const XView&) = delete;

    // The client area in root coordinates.
    Box client(Window window) {
        Window root = 0;
        Window child = 0;
        int x = 0;
        int y = 0;
        unsigned width = 0;
        unsigned height = 0;
        unsigned border = 0;
        unsigned depth = 0;
        XGetGeometry(display_, window, &root, &x, &y, &width, &height, &border, &depth);
        XTranslateCoordinates(display_, window, root, 0, 0, &x, &y, &child);
        return {x, y, x + static_cast<int>(width), y + static_cast<int>(height)};
    }
    // The frame widths (left, right, top, bottom); empty without the property.
    std::vector<long> frame(Window window) { return cardinals(window, "_NET_FRAME_EXTENTS"); }
    Box outer(Window window) {
        Box c = client(window);
        auto f = frame(window);
        if (f.size() != 4)
            return c;
        return {c.left - static_cast<int>(f[0]), c.top - static_cast<int>(f[2]),
                c.right + static_cast<int>(f[1]), c.bottom + static_cast<int>(f[3])};
    }
    std::vector<long> motifHints(Window window) {
        return cardinals(window, "_MOTIF_WM_HINTS", "_MOTIF_WM_HINTS");
    }
    long decorations(Window window) {
        auto hints = motifHints(window);
        return hints.size() >= 3 ? hints[2] : -1;
    }
    long functions(Window window) {
        auto hints = motifHints(window);
        return hints.size() >= 2 ? hints[1] : -1;
    }
    std::vector<std::string> atoms(Window window, const char* property) {
        std::vector<std::string> names;
        for (long atom : cardinals(window, property, "ATOM")) {
            char* name = XGetAtomName(display_, static_cast<Atom>(atom));
            names.emplace_back(name ? name : "");
            XFree(name);
        }
        return names;
    }
    bool hasState(Window window, const std::string& state) {
        auto states = atoms(window, "_NET_WM_STATE");
        return std::find(states.begin(), states.end(), state) != states.end();
    }
    std::string windowType(Window window) {
        auto types = atoms(window, "_NET_WM_WINDOW_TYPE");
        return types.empty() ? "" : types.front();
    }
    Box workArea() {
        auto area = cardinals(DefaultRootWindow(display_), "_NET_WORKAREA");
        if (area.size() < 4)
            return {};
        return {static_cast<int>(area[0]), static_cast<int>(area[1]),
                static_cast<int>(area[0] + area[2]), static_cast<int>(area[1] + area[3])};
    }

private:
    std::vector<long> cardinals(Window window, const char* property,
                                const char* type = "CARDINAL") {
        Atom actual = None;
        int format = 0;
        unsigned long count = 0;
        unsigned long after = 0;
        unsigned char* data = nullptr;
        std::vector<long> values;
        if (XGetWindowProperty(display_, window, XInternAtom(display_, property, False), 0, 64,
                               False, XInternAtom(display_, type, False), &actual, &format, &count,
                               &after, &data) == Success &&
            data && format == 32) {
            auto* items = reinterpret_cast<long*>(data);
            values.assign(items, items + count);
        }
        if (data)
            XFree(data);
        return values;
    }

    Display* display_;
};

// The driver process and its command pipe.
class Driver {
public:
    Driver(const XSession& x, const TempDir& dir) : pipe_((dir.path() / "commands").string()) {
        if (::mkfifo(pipe_.c_str(), 0600) != 0)
            throw std::runtime_error("mkfifo failed");
        process_.emplace(Process::spawn({NORV_WINDOW_DRIVER, pipe_}, x.env()));
        waitUntil([&] { return !lineStartingWith("ready ").empty(); });
        std::string ready = lineStartingWith("ready ");
        if (ready.empty())
            throw std::runtime_error("the driver did not start: " + process_->output());
        xid_ = static_cast<Window>(std::stoul(ready.substr(6)));
        fd_ = ::open(pipe_.c_str(), O_WRONLY | O_CLOEXEC);
    }
    ~Driver() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    Driver(const Driver&) = delete;
    Driver& operator=(const Driver&) = delete;

    Window window() const { return xid_; }

    // Runs a command and returns its answer: "ok ..." or "error 0x... message".
    std::string call(const std::string& command) {
        std::string id = std::to_string(++lastId_);
        std::string line = id + " " + command + "\n";
        if (::write(fd_, line.data(), line.size()) != static_cast<ssize_t>(line.size()))
            return "write failed";
        std::string answer;
        waitUntil([&] {
            answer = lineStartingWith(id + " ");
            return !answer.empty();
        });
        return answer.empty() ? "no answer to " + command : answer.substr(id.size() + 1);
    }
    // The lines the driver printed so far.
    std::vector<std::string> lines() const {
        std::vector<std::string> all;
        std::istringstream in(process_->output());
        for (std::string l; std::getline(in, l);)
            all.push_back(l);
        return all;
    }
    int count(const std::string& line) const {
        auto all = lines();
        return static_cast<int>(std::count(all.begin(), all.end(), line));
    }
    bool waitForCount(const std::string& line, int n) {
        return waitUntil([&] { return count(line) >= n; });
    }
    std::string output() const { return process_->output(); }

private:
    std::string lineStartingWith(const std::string& prefix) const {
        for (const std::string& l : lines())
            if (l.rfind(prefix, 0) == 0)
                return l;
        return {};
    }

    std::string pipe_;
    std::optional<Process> process_;
    Window xid_ = 0;
    int fd_ = -1;
    int lastId_ = 0;
};

class WindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        driver.emplace(x, dir);
        window = driver->window();
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
    // Presses the left button at a point and waits until the press handler ran.
    void pressAt(int px, int py) {
        int presses = driver->count("press ok");
        pointerTo(px, py);
        xdotool({"mousedown", "1"});
        ASSERT_TRUE(driver->waitForCount("press ok", presses + 1))
            << "the driver answers rects with " << driver->call("rects") << "\n"
            << driver->output();
    }
    // Releases the button and waits until the driver has seen the release and whatever it
    // led to.
    void release() {
        int releases = driver->count("release");
        xdotool({"mouseup", "1"});
        ASSERT_TRUE(driver->waitForCount("release", releases + 1)) << driver->output();
        driver->call("rects");
    }
    // Moves the pointer from `from` by (dx, dy) in a few steps.
    void dragBy(int fromX, int fromY, int dx, int dy, int steps = 4) {
        for (int i = 1; i <= steps; ++i)
            pointerTo(fromX + dx * i / steps, fromY + dy * i / steps);
    }
    bool clientBecomes(const Box& expected) {
        return waitUntil([&] { return view.client(window) == expected; }, 10s);
    }
    // The client area where the window model placed it.
    Box placed() {
        std::istringstream answer(driver->call("rects"));
        std::string ok;
        Box outer, client;
        answer >> ok >> outer.left >> outer.top >> outer.right >> outer.bottom >> client.left >>
            client.top >> client.right >> client.bottom;
        return client;
    }
    // Shows the window and waits until the window manager has put it where it was placed.
    void show(const std::string& type) {
        ASSERT_EQ(driver->call("setType " + type), "ok");
        ASSERT_EQ(driver->call("show"), "ok");
        Box expected = placed();
        ASSERT_TRUE(clientBecomes(expected)) << view.client(window) << " not " << expected;
        ASSERT_TRUE(waitUntil([&] { return view.frame(window).size() == 4; }));
    }
    void screenshot(const std::string& name) {
        x.screenshot(std::filesystem::path(NORV_E2E_OUTPUT_DIR) / ("window-" + name + ".png"));
    }
    // Puts a panel along the top, so that the work area is smaller than the monitor.
    void addDock(int height) {
        ASSERT_EQ(driver->call("dock " + std::to_string(height)), "ok");
        ASSERT_TRUE(waitUntil([&] { return view.workArea().top == height; })) << view.workArea();
    }

    XSession x;
    TempDir dir;
    XView view{x.display()};
    std::optional<Driver> driver;
    Window window = 0;
};

TEST_F(WindowTest, EachTypeHasItsFrameDecorationsAndClientSize) {
    show("1");
    Box client = view.client(window);
    EXPECT_EQ(client.width(), 400);
    EXPECT_EQ(client.height(), 300);
    EXPECT_EQ(view.windowType(window), "_NET_WM_WINDOW_TYPE_NORMAL");
    EXPECT_TRUE(view.decorations(window) & kDecorTitle);
    EXPECT_FALSE(view.functions(window) & kFuncResize);
    EXPECT_FALSE(view.hasState(window, "_NET_WM_STATE_SKIP_TASKBAR"));
    EXPECT_EQ(driver->call("getType"), "ok 1");
    screenshot("normal");

    ASSERT_EQ(driver->call("setResizable 1"), "ok");
    EXPECT_TRUE(waitUntil([&] { return view.functions(window) & kFuncResize; }));
    EXPECT_TRUE(view.decorations(window) & kDecorResizeHandle);
    EXPECT_EQ(driver->call("getType"), "ok 1");

    ASSERT_EQ(driver->call("setType 2"), "ok");
    EXPECT_TRUE(
        waitUntil([&] { return view.windowType(window) == "_NET_WM_WINDOW_TYPE_UTILITY"; }));
    EXPECT_TRUE(view.decorations(window) & kDecorTitle);
    EXPECT_EQ(driver->call("getType"), "ok 2");
    screenshot("utility");

    ASSERT_EQ(driver->call("setType 3"), "ok");
    EXPECT_TRUE(waitUntil([&] {
        return view.frame(window) == std::vector<long>{1, 1, 1, 1};
    })) << "a resizable custom window has a sizing border";
    EXPECT_EQ(view.decorations(window), kDecorBorder);
    EXPECT_TRUE(view.functions(window) & kFuncResize);
    EXPECT_EQ(view.windowType(window), "_NET_WM_WINDOW_TYPE_NORMAL");
    EXPECT_EQ(driver->call("getType"), "ok 3");
    screenshot("custom-resizable");

    ASSERT_EQ(driver->call("setResizable 0"), "ok");
    EXPECT_TRUE(waitUntil([&] { return view.frame(window) == std::vector<long>{0, 0, 0, 0}; }));
    EXPECT_EQ(view.decorations(window), 0);
    EXPECT_EQ(driver->call("getType"), "ok 3");
    screenshot("custom");

    ASSERT_EQ(driver->call("setType 4"), "ok");
    EXPECT_TRUE(clientBecomes({0, 0, 1280, 800})) << view.client(window);
    EXPECT_TRUE(view.hasState(window, "_NET_WM_STATE_FULLSCREEN"));
    EXPECT_EQ(driver->call("getType"), "ok 4");
    EXPECT_EQ(driver->call("setResizable 1"), "ok")
        << "a window covering the screen only keeps the flag for later";
    screenshot("screen");
}

TEST_F(WindowTest, ScreenBackToNormalRestoresThePlacementThenTheDeclaredClientSize) {
    show("1");
    Box normal = view.outer(window);
    ASSERT_EQ(driver->call("declare 520 330"), "ok");
    ASSERT_EQ(driver->call("setType 4"), "ok");
    ASSERT_TRUE(clientBecomes({0, 0, 1280, 800})) << view.client(window);

    ASSERT_EQ(driver->call("setType 1"), "ok");
    EXPECT_TRUE(waitUntil([&] {
        Box outer = view.outer(window);
        Box client = view.client(window);
        return outer.left == normal.left && outer.top == normal.top && client.width() == 520 &&
               client.height() == 330;
    })) << view.outer(window)
        << " from " << normal;
    EXPECT_FALSE(view.hasState(window, "_NET_WM_STATE_FULLSCREEN"));
}

TEST_F(WindowTest, FrameChangesKeepTheClientAreaInPlaceAndOnScreen) {
    show("1");
    Box client = view.client(window);
    for (const char* step : {"setType 3", "setResizable 1", "setType 2", "setType 1"}) {
        ASSERT_EQ(driver->call(step), "ok") << step;
        EXPECT_TRUE(clientBecomes(client)) << step << ": " << view.client(window);
    }

    // A frameless window in the top-left corner that gets a title bar: the frame cannot go
    // above or left of the screen, so the client area moves down and right instead.
    ASSERT_EQ(driver->call("setType 3"), "ok");
    ASSERT_EQ(driver->call("setResizable 0"), "ok");
    ASSERT_EQ(driver->call("moveTo 0 0"), "ok");
    ASSERT_TRUE(clientBecomes({0, 0, client.width(), client.height()})) << view.client(window);
    ASSERT_EQ(driver->call("setType 1"), "ok");
    EXPECT_TRUE(waitUntil([&] {
        Box outer = view.outer(window);
        return outer.left == 0 && outer.top == 0 && view.client(window).top > 0;
    })) << view.outer(window);
    EXPECT_EQ(view.client(window).width(), client.width());
}

TEST_F(WindowTest, TaskbarAndStackingFollowTheSwitches) {
    show("1");
    ASSERT_EQ(driver->call("setApplicationWindow 0"), "ok");
    EXPECT_TRUE(waitUntil([&] { return view.hasState(window, "_NET_WM_STATE_SKIP_TASKBAR"); }));
    EXPECT_EQ(driver->call("minimize"), "error 0x80070005 Access is denied.");
    ASSERT_EQ(driver->call("setApplicationWindow 1"), "ok");
    EXPECT_TRUE(waitUntil([&] { return !view.hasState(window, "_NET_WM_STATE_SKIP_TASKBAR"); }));

    ASSERT_EQ(driver->call("setAlwaysOnTop 1"), "ok");
    EXPECT_TRUE(waitUntil([&] { return view.hasState(window, "_NET_WM_STATE_ABOVE"); }));
    ASSERT_EQ(driver->call("setAlwaysOnTop 0"), "ok");
    EXPECT_TRUE(waitUntil([&] { return !view.hasState(window, "_NET_WM_STATE_ABOVE"); }));

    ASSERT_EQ(driver->call("minimize"), "ok");
    EXPECT_TRUE(waitUntil([&] { return view.hasState(window, "_NET_WM_STATE_HIDDEN"); }));
}

TEST_F(WindowTest, DraggingMovesTheWindowByThePointerOffsetAndFiresOneMoved) {
    show("3");
    ASSERT_EQ(driver->call("onPressMove"), "ok");
    Box start = view.client(window);
    int px = start.left + 50;
    int py = start.top + 40;
    pressAt(px, py);
    dragBy(px, py, 120, 70);
    EXPECT_TRUE(
        clientBecomes({start.left + 120, start.top + 70, start.right + 120, start.bottom + 70}))
        << view.client(window) << " from " << start;
    release();
    EXPECT_EQ(driver->count("event moved"), 1) << driver->output();
    EXPECT_EQ(driver->count("event resized"), 0);

    // The next drag is a drag of its own, with an event of its own.
    pressAt(px + 120, py + 70);
    dragBy(px + 120, py + 70, -20, 0, 2);
    EXPECT_TRUE(
        clientBecomes({start.left + 100, start.top + 70, start.right + 100, start.bottom + 70}));
    release();
    EXPECT_EQ(driver->count("event moved"), 2);
}

TEST_F(WindowTest, ADragStopsFivePixelsInsideTheWorkArea) {
    addDock(40);
    show("3");
    ASSERT_EQ(driver->call("onPressMove"), "ok");
    ASSERT_EQ(driver->call("moveTo 300 300"), "ok");
    ASSERT_TRUE(clientBecomes({300, 300, 700, 600})) << view.client(window);
    // The grabbed point is 30, 20 into the client area; the pointer goes far up and left.
    pressAt(330, 320);
    dragBy(330, 320, -330, -320);
    EXPECT_TRUE(clientBecomes({5 - 30, 45 - 20, 5 - 30 + 400, 45 - 20 + 300}))
        << view.client(window) << " in " << view.workArea();
    release();
    EXPECT_EQ(driver->count("event moved"), 1);
}

TEST_F(WindowTest, ResizeDragsKeepTheOppositeEdgesAndTheLimits) {
    show("3");
    ASSERT_EQ(driver->call("setResizable 1"), "ok");
    ASSERT_EQ(driver->call("moveTo 300 200"), "ok");
    ASSERT_TRUE(clientBecomes({301, 201, 701, 501})) << view.client(window);
    Box start = view.client(window);

    // The left grip dragged far right stops at the minimum width; the right edge stays.
    ASSERT_EQ(driver->call("onPressResize 150 100 0 0 1"), "ok");
    pressAt(start.left + 3, start.top + 100);
    dragBy(start.left + 3, start.top + 100, 400, 0);
    EXPECT_TRUE(clientBecomes({start.right - 150, start.top, start.right, start.bottom}))
        << view.client(window);
    release();
    EXPECT_EQ(driver->count("event resized"), 1) << driver->output();

    // The left grip dragged far left stops at the maximum width.
    Box narrow = view.client(window);
    ASSERT_EQ(driver->call("onPressResize 150 100 450 0 1"), "ok");
    pressAt(narrow.left + 3, narrow.top + 100);
    dragBy(narrow.left + 3, narrow.top + 100, -400, 0);
    EXPECT_TRUE(clientBecomes({narrow.right - 450, narrow.top, narrow.right, narrow.bottom}))
        << view.client(window);
    release();
    EXPECT_EQ(driver->count("event resized"), 2);

    // The bottom-right grip grows the window to its maximum; the top-left corner stays.
    Box wide = view.client(window);
    ASSERT_EQ(driver->call("onPressResize 150 100 480 320 10"), "ok");
    pressAt(wide.right - 3, wide.bottom - 3);
    dragBy(wide.right - 3, wide.bottom - 3, 200, 200);
    EXPECT_TRUE(clientBecomes({wide.left, wide.top, wide.left + 480, wide.top + 320}))
        << view.client(window);
    release();
    EXPECT_EQ(driver->count("event resized"), 3);
}

TEST_F(WindowTest, AbortedAndMotionlessDragsFireNothing) {
    show("3");
    ASSERT_EQ(driver->call("onPressMove"), "ok");
    Box start = view.client(window);
    int px = start.left + 50;
    int py = start.top + 50;

    pressAt(px, py);
    release();
    EXPECT_EQ(driver->count("event moved"), 0) << "a press and release without movement";

    pressAt(px, py);
    dragBy(px, py, 30, 0, 2);
    ASSERT_TRUE(clientBecomes({start.left + 30, start.top, start.right + 30, start.bottom}));
    ASSERT_EQ(driver->call("abortMove"), "ok");
    dragBy(px + 30, py, 40, 0, 2);
    release();
    EXPECT_EQ(view.client(window).left, start.left + 30) << "the window stays after the abort";
    EXPECT_EQ(driver->count("event moved"), 0) << driver->output();
}

TEST_F(WindowTest, CustomMaximiseCoversTheWorkAreaAndKeepsTheType) {
    addDock(40);
    show("3");
    ASSERT_EQ(driver->call("maximize"), "ok");
    EXPECT_TRUE(clientBecomes({0, 40, 1280, 800})) << view.client(window);
    EXPECT_EQ(driver->call("getType"), "ok 3");
    EXPECT_EQ(driver->call("isZoomed"), "ok 1");
    screenshot("custom-maximised");

    // A move restores it first.
    ASSERT_EQ(driver->call("moveTo 100 100"), "ok");
    EXPECT_TRUE(clientBecomes({100, 100, 500, 400})) << view.client(window);
    EXPECT_EQ(driver->call("isZoomed"), "ok 0");
}

TEST_F(WindowTest, ProgrammaticMovesAreRelativeToWhereTheLastOnePutTheWindow) {
    show("3");
    ASSERT_EQ(driver->call("moveTo 200 150"), "ok");
    ASSERT_EQ(driver->call("moveBy 20 10"), "ok");
    EXPECT_TRUE(clientBecomes({220, 160, 620, 460})) << view.client(window);
    ASSERT_EQ(driver->call("resizeTo 320 240"), "ok");
    EXPECT_TRUE(clientBecomes({220, 160, 540, 400})) << view.client(window);
    EXPECT_EQ(driver->call("resizeTo 40 300"),
              "error 0x80004005 The client area is small. Permitted size of not less than 50x50.");

    // A corner above the work area is moved into it.
    addDock(40);
    ASSERT_EQ(driver->call("moveTo 100 10"), "ok");
    EXPECT_TRUE(clientBecomes({100, 40, 420, 280})) << view.client(window);
}

} // namespace
} // namespace norv::test
