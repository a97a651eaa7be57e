// Touch and drag gestures on a fake document: what the browser still gets, how far the
// page scrolls while dragging and with inertia after a flick, and the timing rules, all on
// a clock the test moves.

#include <gtest/gtest.h>

#include <algorithm>

#include "host/GestureEngine.h"
#include "host/ScrollingHandler.h"

namespace norv::host {
namespace {

using ms = std::chrono::milliseconds;

// A scrollable document: the element keeps its values within [0, max].
struct FakeDocument : ScrollTarget {
    int top = 0, left = 0;
    int maxTop = 100000, maxLeft = 0;
    int height = 100800, width = 0;
    std::optional<Metrics> metrics() override { return Metrics{top, left, height, width}; }
    void setScrollTop(int v) override { top = std::clamp(v, 0, maxTop); }
    void setScrollLeft(int v) override { left = std::clamp(v, 0, maxLeft); }
};

struct FakeSite : GestureSite {
    bool timer = false;
    std::vector<GesturePoint> moves;
    std::vector<GesturePoint> cancelled;
    void startTimer(ms period) override {
        EXPECT_EQ(period, ms(50));
        timer = true;
    }
    void stopTimer() override { timer = false; }
    void sendMouseMove(GesturePoint at) override { moves.push_back(at); }
    void cancelBrowserPress(GesturePoint at) override { cancelled.push_back(at); }
};

class GestureTest : public testing::Test {
protected:
    GestureTest() { engine.addHandler(scroller); }

    // A mouse drag from `from` by `dy` pixels in `steps` moves, `stepTime` apart.
    void drag(GesturePoint from, double dy, int steps, ms stepTime) {
        EXPECT_TRUE(engine.press(from));
        for (int i = 1; i <= steps; ++i) {
            now += stepTime;
            EXPECT_FALSE(engine.move({from.x, from.y + dy * i / steps}, true));
        }
    }
    // Ticks until the inertia ends; the number of ticks.
    int runInertia() {
        int ticks = 0;
        while (engine.inertiaRunning() && ticks < 10000) {
            now += ms(50);
            engine.timerTick();
            ++ticks;
        }
        return ticks;
    }

    ms now{1000000};
    FakeSite site;
    GestureEngine engine{site, [this] {
                             return now;
                         }};
    std::shared_ptr<FakeDocument> document = std::make_shared<FakeDocument>();
    std::shared_ptr<ScrollingHandler> scroller = std::make_shared<ScrollingHandler>(document);
};

TEST_F(GestureTest, ADragScrolls175TimesItsDistanceAndTheBrowserOnlyGetsThePress) {
    document->top = 1000;
    // The finger moves up 100 pixels in ten moves: 17.5 pixels each, truncated.
    drag({200, 500}, -100, 10, ms(10));
    EXPECT_EQ(document->top, 1170);
    EXPECT_TRUE(site.timer);
}

TEST_F(GestureTest, AFlickThatRestedBeforeLiftingScrollsOnlyAsFarAsDragged) {
    document->top = 1000;
    drag({200, 500}, -100, 10, ms(10));
    now += ms(500);
    EXPECT_FALSE(engine.release({200, 400}));
    EXPECT_FALSE(engine.inertiaRunning());
    EXPECT_FALSE(site.timer);
    EXPECT_EQ(document->top, 1170);
    // The browser got the press: it is told the press is over.
    ASSERT_EQ(site.cancelled.size(), 1u);
}

// 100 pixels up in 100 ms: speed 10, so 100 steps of 12.5 pixels, the last 74 shrinking
// by a quarter each. The scroller moves 1.75 × a step, truncated: 25 steps of 21 pixels,
// then 16, 12, 9, 6, 5, 3, 2, 2, 1, 1, and at 0 it is done.
TEST_F(GestureTest, AQuickFlickGoesOnWithInertiaThatDecays) {
    document->top = 1000;
    drag({200, 500}, -100, 10, ms(10));
    EXPECT_FALSE(engine.release({200, 400}));
    EXPECT_TRUE(engine.inertiaRunning());
    EXPECT_TRUE(site.timer);
    EXPECT_TRUE(site.cancelled.size() == 1u); // the release stayed from the browser

    const int ticks = runInertia();
    EXPECT_EQ(ticks, 36);
    EXPECT_EQ(document->top, 1170 + 25 * 21 + 16 + 12 + 9 + 6 + 5 + 3 + 2 + 2 + 1 + 1);
    EXPECT_FALSE(site.timer);
    // A new press is a new gesture the browser gets.
    EXPECT_TRUE(engine.press({10, 10}));
}

TEST_F(GestureTest, InertiaEndsWhenThePageCannotScrollFurther) {
    document->top = 900;
    document->maxTop = 1200;
    drag({200, 500}, -100, 10, ms(10));
    engine.release({200, 400});
    EXPECT_LT(runInertia(), 36);
    EXPECT_EQ(document->top, 1200);
    EXPECT_FALSE(site.timer);
}

TEST_F(GestureTest, ATapThatMovesFivePixelsOrLessIsNotAFlick) {
    // Mouse.
    EXPECT_TRUE(engine.press({100, 100}));
    now += ms(20);
    engine.move({100, 95}, true);
    now += ms(20);
    EXPECT_TRUE(engine.release({100, 95}));
    EXPECT_FALSE(engine.inertiaRunning());
    EXPECT_FALSE(site.timer);

    // Touch: the contact's own travel counts.
    now += ms(400);
    engine.touchDown({100, 100});
    EXPECT_TRUE(engine.press({100, 100}));
    now += ms(20);
    engine.move({104, 100}, true);
    engine.touchUp({105, 100});
    EXPECT_TRUE(engine.release({105, 100}));
    EXPECT_FALSE(engine.inertiaRunning());

    // Six pixels is a flick.
    now += ms(400);
    EXPECT_TRUE(engine.press({100, 100}));
    now += ms(20);
    engine.move({100, 94}, true);
    EXPECT_FALSE(engine.release({100, 94}));
    EXPECT_TRUE(engine.inertiaRunning());
}

TEST_F(GestureTest, AShortTouchFlickCountsFiveTimesItsLength) {
    auto flick = [&](bool touch) {
        document->top = 1000;
        now += ms(1000);
        if (touch)
            engine.touchDown({100, 200});
        engine.press({100, 200});
        now += ms(50);
        engine.move({100, 188}, true);
        if (touch)
            engine.touchUp({100, 188});
        engine.release({100, 188});
        runInertia();
        return document->top - 1000;
    };
    const int mouse = flick(false);
    const int touch = flick(true);
    EXPECT_GT(mouse, 21); // 12 × 1.75 from the drag, and some inertia
    EXPECT_GT(touch, 5 * mouse);
}

TEST_F(GestureTest, TheReleaseOfATouchIsPulledBackToTheLiftOffPoint) {
    // The pointer overshoots where the finger left the screen: the flick counts from the
    // lift-off point, like a flick that ended there.
    auto flick = [&](double releaseY) {
        document->top = 1000;
        now += ms(1000);
        engine.touchDown({100, 300});
        engine.press({100, 300});
        now += ms(100);
        engine.move({100, 200}, true);
        engine.touchUp({100, 200});
        engine.release({100, releaseY});
        runInertia();
        return document->top;
    };
    EXPECT_EQ(flick(150), flick(200));
}

TEST_F(GestureTest, ATapStopsTheInertiaOnlyAfterTheFlickHasSettled) {
    document->top = 1000;
    drag({200, 500}, -100, 10, ms(10));
    engine.release({200, 400});
    ASSERT_TRUE(engine.inertiaRunning());

    // A tap 100 ms after the flick: swallowed, the inertia goes on.
    now += ms(100);
    engine.timerTick();
    EXPECT_FALSE(engine.press({300, 300})); // taken by the scroller while it scrolls
    EXPECT_FALSE(engine.release({300, 300}));
    EXPECT_TRUE(engine.inertiaRunning());

    // A tap 400 ms after that one stops it: the browser gets a move at the pointer and
    // the release, never the press.
    now += ms(400);
    engine.timerTick();
    const int top = document->top;
    EXPECT_FALSE(engine.press({300, 310}));
    EXPECT_TRUE(engine.release({300, 310}));
    EXPECT_FALSE(engine.inertiaRunning());
    EXPECT_FALSE(site.timer);
    ASSERT_EQ(site.moves.size(), 1u);
    EXPECT_EQ(site.moves[0], (GesturePoint{300, 310}));
    engine.timerTick();
    EXPECT_EQ(document->top, top);
}

TEST_F(GestureTest, AFlickDuringInertiaSpeedsItUp) {
    auto scrolled = [&](bool again) {
        document->top = 0;
        now += ms(1000);
        drag({200, 500}, -100, 10, ms(10));
        engine.release({200, 400});
        for (int i = 0; i < 5; ++i) {
            now += ms(50);
            engine.timerTick();
        }
        if (again) {
            // Moves are swallowed while inertia runs; the flick counts press to release.
            EXPECT_FALSE(engine.press({200, 500}));
            now += ms(50);
            EXPECT_FALSE(engine.move({200, 450}, true));
            EXPECT_FALSE(engine.release({200, 400}));
            EXPECT_TRUE(engine.inertiaRunning());
        }
        return std::pair(runInertia(), document->top);
    };
    const auto [onceTicks, once] = scrolled(false);
    const auto [twiceTicks, twice] = scrolled(true);
    EXPECT_GT(twiceTicks, onceTicks - 5);
    EXPECT_GT(twice, once + 175);
}

TEST_F(GestureTest, QuickClicksAllReachTheBrowserButAClickRightAfterADragDoesNot) {
    // Two links clicked one right after the other: both clicks are the page's.
    EXPECT_TRUE(engine.press({10, 10}));
    now += ms(50);
    EXPECT_TRUE(engine.release({10, 10}));
    now += ms(100);
    EXPECT_TRUE(engine.press({10, 50}));
    now += ms(50);
    EXPECT_TRUE(engine.release({10, 50}));
    EXPECT_TRUE(site.cancelled.empty());

    // A drag that rested is a gesture: a tap at once after it is held back.
    drag({200, 500}, -100, 10, ms(10));
    now += ms(500);
    EXPECT_FALSE(engine.release({200, 400}));
    now += ms(100);
    EXPECT_TRUE(engine.press({10, 10}));
    now += ms(50);
    EXPECT_FALSE(engine.release({10, 10}));
}

TEST_F(GestureTest, MovesWithoutTheButtonEndTheGesture) {
    document->top = 1000;
    engine.press({100, 100});
    now += ms(10);
    EXPECT_FALSE(engine.move({100, 90}, true));
    EXPECT_TRUE(engine.move({100, 80}, false));
    EXPECT_FALSE(site.timer);
    EXPECT_TRUE(engine.move({100, 70}, true)); // no gesture: the browser's
    EXPECT_TRUE(engine.release({100, 70}));
    EXPECT_EQ(document->top, 1000 + 17);
}

TEST_F(GestureTest, DoubleClicks) {
    // Without a gesture the browser gets it.
    EXPECT_TRUE(engine.doubleClick({50, 50}));

    // A tap while inertia runs, soon after the flick, is swallowed and the inertia goes
    // on; the second click of a double click on that tap stops the inertia once 332 ms
    // have passed since the tap, and never reaches the browser.
    drag({200, 500}, -100, 10, ms(10));
    engine.release({200, 400});
    now += ms(100);
    EXPECT_FALSE(engine.press({300, 300}));
    EXPECT_FALSE(engine.release({300, 300}));
    now += ms(100);
    EXPECT_FALSE(engine.doubleClick({300, 300}));
    EXPECT_TRUE(engine.inertiaRunning());
    now += ms(400);
    EXPECT_FALSE(engine.doubleClick({301, 300}));
    EXPECT_FALSE(engine.inertiaRunning());
    ASSERT_EQ(site.moves.size(), 1u);
    EXPECT_EQ(site.moves[0], (GesturePoint{301, 300}));

    // One that moved from the tap ends the gesture instead.
    drag({200, 500}, -100, 10, ms(10));
    engine.release({200, 400});
    now += ms(100);
    engine.press({300, 300});
    engine.release({300, 300});
    EXPECT_FALSE(engine.doubleClick({320, 300}));
    EXPECT_TRUE(engine.doubleClick({320, 300}));
}

// A handler that wants only presses in the left half, and keeps its inertia for presses
// inside its capture rectangle.
struct HalfHandler : GestureHandler {
    std::shared_ptr<FakeDocument> doc;
    bool scrolling = false;
    explicit HalfHandler(std::shared_ptr<FakeDocument> d) : doc(std::move(d)) {}
    PressAnswer acceptPress(GesturePoint at) override {
        return at.x < 100 ? PressAnswer::accepted : PressAnswer::declined;
    }
    bool move(GesturePoint delta) override {
        doc->setScrollTop(doc->top + static_cast<int>(delta.y));
        return true;
    }
    void tapEnded(GesturePoint) override {}
    bool pressDuringInertia(GesturePoint) override { return true; }
    bool flickStart(GesturePoint) override { return scrolling = true; }
    bool inertiaStep(GesturePoint delta) override { return move(delta); }
    void inertiaStop() override { scrolling = false; }
    bool flickStartDuringInertia(GesturePoint) override { return true; }
    bool captureState(GestureRect& rect) override {
        rect = {0, 0, 100, 1000};
        return scrolling;
    }
    void captureStart(GesturePoint) override {}
};

TEST(GestureHandlers, TheFirstHandlerThatAcceptsOwnsTheGesture) {
    ms now{0};
    FakeSite site;
    GestureEngine engine(site, [&] { return now; });
    auto leftDoc = std::make_shared<FakeDocument>();
    auto rightDoc = std::make_shared<FakeDocument>();
    auto left = std::make_shared<HalfHandler>(leftDoc);
    EXPECT_FALSE(engine.addHandler(nullptr));
    EXPECT_TRUE(engine.addHandler(left));
    EXPECT_TRUE(engine.addHandler(left));
    EXPECT_TRUE(engine.addHandler(std::make_shared<ScrollingHandler>(rightDoc)));

    engine.press({150, 500});
    now += ms(10);
    engine.move({150, 400}, true);
    engine.release({150, 400});
    EXPECT_EQ(leftDoc->top, 0);
    EXPECT_GT(rightDoc->top, 0);
    while (engine.inertiaRunning())
        engine.timerTick();

    // A flick in the left half; then a press outside the left handler's capture rectangle
    // stops its inertia, a press inside keeps it.
    now += ms(1000);
    engine.press({50, 500});
    now += ms(10);
    engine.move({50, 400}, true);
    engine.release({50, 400});
    ASSERT_TRUE(engine.inertiaRunning());
    now += ms(1000);
    engine.press({50, 600});
    EXPECT_TRUE(engine.inertiaRunning());
    engine.release({50, 600});
    now += ms(1000);
    engine.press({150, 600});
    EXPECT_FALSE(engine.inertiaRunning());

    engine.removeHandler(left);
    now += ms(1000);
    const int before = rightDoc->top;
    engine.press({50, 500});
    engine.move({50, 490}, true);
    EXPECT_GT(rightDoc->top, before);
}

TEST(ScrollingHandlerTest, ScrollsWithinTheElementAndSaysWhenItCannot) {
    auto doc = std::make_shared<FakeDocument>();
    ScrollingHandler handler(doc);
    doc->top = 10;
    EXPECT_TRUE(handler.scroll({0, -4})); // 10 - 7 = 3
    EXPECT_EQ(doc->top, 3);
    EXPECT_TRUE(handler.scroll({0, -4})); // never below 0
    EXPECT_EQ(doc->top, 0);
    EXPECT_FALSE(handler.scroll({0, -4}));
    EXPECT_FALSE(handler.scroll({0, 0.5})); // 0.875 truncates to nothing

    // Horizontal only where the element has a scroll width.
    doc->width = 2000;
    doc->maxLeft = 1000;
    EXPECT_TRUE(handler.scroll({10, 0}));
    EXPECT_EQ(doc->left, 17);
    doc->height = 0;
    EXPECT_FALSE(handler.scroll({0, 100}));
    EXPECT_EQ(doc->top, 0);

    // At the end of its range the element does not move: done.
    doc->left = doc->maxLeft;
    EXPECT_FALSE(handler.scroll({10, 0}));
}

} // namespace
} // namespace norv::host
