// The host window's model: its type and maximised rules and the move and resize engine,
// driven by pointer events of a window system in memory.
#include <gtest/gtest.h>

#include <memory>

#include "host/HostWindowModel.h"
#include "platform/com/Exceptions.h"
#include "tests/host/FakeWindowSystem.h"
#include "tests/host/RecordingHooks.h"

namespace norv::test {
namespace {

using namespace host;
using namespace typelib;

struct Failure {
    HRESULT hr = S_OK;
    std::u16string message;
    friend bool operator==(const Failure&, const Failure&) = default;
};

std::ostream& operator<<(std::ostream& out, const Failure& f) {
    return out << std::hex << f.hr << " " << com::utf16ToUtf8(f.message);
}

Failure failureOf(const std::function<void()>& body) {
    try {
        body();
    } catch (const com::FrameworkException& e) {
        return {e.hresult(), e.message()};
    }
    return {};
}

Failure windowMessage(const char16_t* text) {
    return {E_FAIL, text};
}

class HostWindowModelTest : public ::testing::Test {
protected:
    void SetUp() override {
        model->attach(window);
        model->setType(wtCustom);
        window.client = {100, 100, 500, 400};
    }
    // A press at `from`, a drag by (dx, dy) in two moves and the release.
    void drag(Point from, int dx, int dy, const std::function<void()>& begin) {
        window.pointer = from;
        begin();
        window.motion(from.x + dx / 2, from.y + dy / 2);
        window.motion(from.x + dx, from.y + dy);
        window.release();
    }
    void resizeDrag(int dx, int dy, ResizeLimits l, std::int32_t edges) {
        drag({300, 250}, dx, dy, [&] {
            model->beginResizing(l.minWidth, l.minHeight, l.maxWidth, l.maxHeight, edges);
        });
    }

    RecordingHooks hooks;
    FakeWindowSystem window;
    std::unique_ptr<HostWindowModel> model = std::make_unique<HostWindowModel>(hooks);
};

TEST_F(HostWindowModelTest, BeginningADragChecksTheButtonTheModeAndTheArguments) {
    const Failure buttons = windowMessage(u"Invalid state of the mouse or keyboard buttons.");
    window.leftButton = false;
    EXPECT_EQ(failureOf([&] { model->beginMove(); }), buttons);
    EXPECT_EQ(failureOf([&] { model->beginResizing(200, 100, 0, 0, 2); }), buttons);
    window.leftButton = true;

    const Failure edges = windowMessage(u"Invalid window gravity flags set.");
    EXPECT_EQ(failureOf([&] { model->beginResizing(200, 100, 0, 0, 3); }), edges);
    EXPECT_EQ(failureOf([&] { model->beginResizing(200, 100, 0, 0, 12 | 1); }), edges);
    const Failure small = windowMessage(u"The size of client area is very small.");
    EXPECT_EQ(failureOf([&] { model->beginResizing(0, 200, 0, 0, 2); }), small);
    EXPECT_EQ(failureOf([&] { model->beginResizing(99, 30, 0, 0, 2); }), small);
    EXPECT_EQ(failureOf([&] { model->beginResizing(100, 29, 0, 0, 2); }), small);
    EXPECT_EQ(failureOf([&] { model->beginResizing(200, 100, 150, 0, 2); }).hr, E_INVALIDARG);
    EXPECT_EQ(failureOf([&] { model->beginResizing(200, 100, 0, 100, 2); }).hr, E_INVALIDARG);
    EXPECT_FALSE(model->isResizing());

    model->beginResizing(100, 30, 0, 0, 2);
    EXPECT_TRUE(model->isResizing());
    EXPECT_EQ(failureOf([&] { model->beginMove(); }),
              windowMessage(u"The window in the resize mode now."));
    // Without the grab (another window took it) the resize ends silently.
    window.loseCapture();
    model->beginMove();
    EXPECT_TRUE(model->isMoving());
    EXPECT_FALSE(model->isResizing());
    EXPECT_EQ(failureOf([&] { model->beginResizing(100, 30, 0, 0, 2); }),
              windowMessage(u"The window in the move mode now."));
}

TEST_F(HostWindowModelTest, ResizeDragsMoveTheGrabbedEdgesWithinTheLimits) {
    model->setResizable(true); // a sizing border of 1 around the client area
    const Rect start = window.client;
    const ResizeLimits limits{150, 100, 450, 350};
    struct Case {
        const char* what;
        std::int32_t edges;
        int dx, dy;
        Rect expected;
    } cases[] = {
        {"left past the minimum", 1, 300, 0, {350, 100, 500, 400}},
        {"left past the maximum", 1, -100, 0, {50, 100, 500, 400}},
        {"right past the minimum keeps the left edge", 2, -300, 0, {100, 100, 250, 400}},
        {"top past the maximum", 4, 0, -200, {100, 50, 500, 400}},
        {"bottom past the maximum", 8, 0, 200, {100, 100, 500, 450}},
        {"right and top: the left edge stays", 6, -300, 250, {100, 300, 250, 400}},
        {"left and bottom: the top edge stays", 9, 300, -250, {350, 100, 500, 200}},
        {"bottom-right within the limits", 10, 20, -30, {100, 100, 520, 370}},
    };
    for (const Case& c : cases) {
        window.client = start;
        hooks.events.clear();
        resizeDrag(c.dx, c.dy, limits, c.edges);
        EXPECT_EQ(window.client, c.expected) << c.what;
        EXPECT_EQ(hooks.events, std::vector<std::u16string>{u"resized"}) << c.what;
    }
}

TEST_F(HostWindowModelTest, ResizingWithoutMinimumsUsesTheDeclaredClientSize) {
    hooks.declared = {326, 180};
    resizeDrag(-1000, -1000, {0, 0, 0, 0}, 10);
    EXPECT_EQ(window.client, (Rect{100, 100, 426, 280}));
    hooks.declared = {-1, -1};
    resizeDrag(-1000, -1000, {0, 0, 0, 0}, 10);
    EXPECT_EQ(window.client, (Rect{100, 100, 200, 130}));
}

TEST_F(HostWindowModelTest, AMoveDragKeepsTheGrabbedPointUnderThePointerAndFiresOnce) {
    drag({150, 120}, 200, 90, [&] { model->beginMove(); });
    EXPECT_EQ(window.client, (Rect{300, 190, 700, 490}));
    EXPECT_EQ(hooks.events, std::vector<std::u16string>{u"moved"});
    EXPECT_FALSE(window.hasCapture());

    // Without a move of the pointer, or after an abort, nothing is fired.
    hooks.events.clear();
    window.pointer = {400, 300};
    model->beginMove();
    window.release();
    model->beginMove();
    window.motion(410, 300);
    model->abortMove();
    window.motion(450, 300);
    window.release();
    EXPECT_EQ(window.client.left, 310) << "the abort stops the window";
    EXPECT_TRUE(hooks.events.empty());
    // The aborted drag had moved: a press and release after it is still no move, for a
    // move or a resize.
    model->beginMove();
    window.release();
    model->beginResizing(100, 30, 0, 0, gravity::right);
    window.motion(460, 300);
    model->abortResizing();
    model->beginMove();
    window.release();
    EXPECT_TRUE(hooks.events.empty());

    // A move without the button ends the drag as a release does; the release after it
    // finds nothing to end.
    model->beginMove();
    window.motion(420, 300);
    window.motion(430, 300, false);
    window.release();
    EXPECT_EQ(hooks.events, std::vector<std::u16string>{u"moved"});

    // A drag whose grab another window took ends without an event.
    hooks.events.clear();
    model->beginMove();
    window.motion(440, 310);
    window.loseCapture();
    window.release();
    EXPECT_TRUE(hooks.events.empty());
    EXPECT_FALSE(model->isMoving());
}

TEST_F(HostWindowModelTest, AMoveDragStaysInsideTheWorkAreaOfTheMonitorUnderThePointer) {
    FakeWindowSystem twoMonitors(
        {{{0, 0, 1280, 800}, {0, 0, 1280, 760}}, {{1280, 0, 2560, 1024}, {1280, 40, 2560, 1024}}});
    HostWindowModel wide(hooks);
    wide.attach(twoMonitors);
    wide.setType(wtCustom);
    twoMonitors.client = {100, 100, 500, 400};
    auto dragWide = [&](Point from, int dx, int dy) {
        twoMonitors.pointer = from;
        wide.beginMove();
        twoMonitors.motion(from.x + dx / 2, from.y + dy / 2);
        twoMonitors.motion(from.x + dx, from.y + dy);
        twoMonitors.release();
    };
    // Grabbed 50, 20 into the client area, dragged down past the first work area...
    dragWide({150, 120}, 0, 900);
    EXPECT_EQ(twoMonitors.client.top, 755 - 20);
    // ...then onto the second monitor and up past its work area.
    dragWide({150, 755}, 1400, -900);
    EXPECT_EQ(twoMonitors.client.topLeft(), (Point{1550 - 50, 45 - 20}));
}

TEST_F(HostWindowModelTest, ProgrammaticMovesAndSizesCheckTheirArgumentsAndTheType) {
    EXPECT_EQ(failureOf([&] { model->moveTo(-10, 0); }),
              windowMessage(u"The window area is out of range. Permitted size not less than "
                            u"desktop rectangle."));
    EXPECT_EQ(failureOf([&] { model->resizeTo(49, 300); }),
              windowMessage(u"The client area is small. Permitted size of not less than 50x50."));
    EXPECT_EQ(failureOf([&] { model->resizeBy(-351, 0); }).message.substr(0, 20),
              u"The client area is s");

    // Beyond the right edge of the work area the left edge lands on it.
    model->moveTo(5000, 100);
    EXPECT_EQ(window.windowRect().topLeft(), (Point{1280, 100}));
    model->moveTo(200, 5000);
    EXPECT_EQ(window.windowRect().topLeft(), (Point{200, 760}));
    model->moveBy(-20, -700);
    EXPECT_EQ(window.windowRect().topLeft(), (Point{180, 60}));
    model->resizeBy(-100, 20);
    EXPECT_EQ(window.client, (Rect{180, 60, 480, 380}));

    model->setType(wtScreen);
    const Failure screen = windowMessage(u"The window is screen mode now.");
    EXPECT_EQ(failureOf([&] { model->moveTo(10, 10); }), screen);
    EXPECT_EQ(failureOf([&] { model->moveBy(1, 1); }), screen);
    EXPECT_EQ(failureOf([&] { model->resizeTo(300, 300); }), screen);
    EXPECT_EQ(failureOf([&] { model->maximize(); }), screen);
}

TEST_F(HostWindowModelTest, ACustomWindowMaximisesOntoTheWorkAreaAndKeepsItsType) {
    model->setResizable(true);
    model->maximize();
    EXPECT_EQ(window.windowRect(), (Rect{0, 0, 1280, 760}));
    EXPECT_FALSE(window.look.sizable) << "not resizable while maximised";
    EXPECT_TRUE(model->getResizable());
    EXPECT_EQ(model->getType(), wtCustom);

    // The window system moved it; activation puts it back.
    window.client = {10, 10, 300, 300};
    window.activate();
    EXPECT_EQ(window.windowRect(), (Rect{0, 0, 1280, 760}));

    // A new type keeps it maximised.
    model->setType(wtNormal);
    EXPECT_TRUE(window.isZoomed());
    EXPECT_EQ(model->getType(), wtNormal);

    // A resize restores it first, with the resizable flag it had.
    model->resizeTo(300, 200);
    EXPECT_FALSE(window.isZoomed());
    EXPECT_TRUE(window.look.sizable);
    EXPECT_EQ(window.client.width(), 300);
}

TEST_F(HostWindowModelTest, ANormalWindowWithAMaximizeBoxIsLeftToTheWindowSystem) {
    model->setType(wtNormal);
    int placements = window.moveCalls;
    model->maximize();
    EXPECT_EQ(window.maximizeCalls, 1);
    EXPECT_EQ(window.moveCalls, placements);
    window.client = {10, 10, 300, 300};
    window.activate();
    EXPECT_EQ(window.client, (Rect{10, 10, 300, 300}));

    // Resizable only in name while maximised: the flag is kept for the restore.
    model->setResizable(true);
    EXPECT_FALSE(window.look.sizable);
    EXPECT_TRUE(model->getResizable());
}

TEST_F(HostWindowModelTest, OnlyAnApplicationWindowMinimises) {
    model->setApplicationWindow(false);
    EXPECT_EQ(failureOf([&] { model->minimize(); }).hr, E_ACCESSDENIED);
    EXPECT_FALSE(window.isMinimized());
    model->setApplicationWindow(true);
    model->minimize();
    EXPECT_TRUE(window.isMinimized());
}

TEST_F(HostWindowModelTest, AListenerMayCloseTheWindowWhileTheDragEnds) {
    hooks.onEvent = [&] {
        model.reset();
    };
    drag({150, 120}, 30, 0, [&] { model->beginMove(); });
    EXPECT_EQ(hooks.events, std::vector<std::u16string>{u"moved"});
    EXPECT_FALSE(model);

    // The next window's drags start from a clean state.
    hooks.onEvent = nullptr;
    FakeWindowSystem next;
    HostWindowModel other(hooks);
    other.attach(next);
    other.setType(wtCustom);
    next.pointer = {300, 300};
    other.beginMove();
    next.release();
    EXPECT_EQ(hooks.events.size(), 1u) << "a press and release only";
}

TEST_F(HostWindowModelTest, AnotherWindowDoesNotDisturbTheDragUnderWay) {
    FakeWindowSystem otherWindow;
    HostWindowModel other(hooks);
    other.attach(otherWindow);
    window.pointer = {150, 120};
    model->beginMove();
    window.motion(170, 120);
    otherWindow.motion(600, 600, false);
    otherWindow.release();
    window.motion(190, 120);
    window.release();
    EXPECT_EQ(window.client.left, 140);
    EXPECT_EQ(hooks.events, std::vector<std::u16string>{u"moved"});
}

} // namespace
} // namespace norv::test
