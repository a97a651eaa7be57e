#include "platform/gtk/PlacementTracker.h"

#include <gtest/gtest.h>

namespace norv::platform::gtk {
namespace {

const Rect kStart = Rect::fromOriginSize(440, 250, 400, 300);

Rect at(int x, int y) {
    return Rect::fromOriginSize(x, y, 400, 300);
}

// Asks for `client` (moved and sized) and sends it.
void send(PlacementTracker& t, const Rect& client) {
    t.want(client, true, true);
    ASSERT_TRUE(t.takeUnsent());
}

TEST(PlacementTrackerTest, PlacementsOfOneTurnAreSentOnceAsTheLastOneAskedFor) {
    PlacementTracker t(kStart);
    t.want(at(10, 10), true, false);
    t.want(Rect::fromOriginSize(10, 10, 500, 350), false, true);
    EXPECT_EQ(t.answer(), Rect::fromOriginSize(10, 10, 500, 350)) << "the answer before sending";
    auto request = t.takeUnsent();
    ASSERT_TRUE(request);
    EXPECT_EQ(request->client, Rect::fromOriginSize(10, 10, 500, 350));
    EXPECT_TRUE(request->move);
    EXPECT_TRUE(request->size);
    EXPECT_FALSE(t.takeUnsent());
    EXPECT_EQ(t.answer(), Rect::fromOriginSize(10, 10, 500, 350)) << "the answer while waiting";
}

TEST(PlacementTrackerTest, ReportsOfEarlierStatesLeaveTheLastPlacementTheAnswer) {
    // A drag: several moves sent before the window manager reports the first.
    PlacementTracker t(kStart);
    for (int i = 1; i <= 5; ++i)
        send(t, at(440 + 10 * i, 250));
    for (int i = 1; i <= 4; ++i) {
        t.report(at(440 + 10 * i, 250), true, true);
        EXPECT_EQ(t.answer(), at(490, 250)) << "after the report of move " << i;
    }
    t.report(at(490, 250), true, true);
    EXPECT_FALSE(t.waiting());
}

TEST(PlacementTrackerTest, ReportsOfTheSizeAloneNeitherConfirmNorMove) {
    PlacementTracker t(kStart);
    send(t, at(600, 300));
    // While a new frame is on its way the position read is the frame's own origin.
    t.report(at(0, 0), false, true);
    EXPECT_EQ(t.answer(), at(600, 300));
    EXPECT_TRUE(t.waiting()) << "the size alone does not say the window was moved";
    t.report(at(600, 300), true, true);
    EXPECT_EQ(t.answer(), at(600, 300));

    // With nothing waiting the size is taken, the position stays the last one known.
    t.report(Rect::fromOriginSize(0, 0, 420, 310), false, true);
    EXPECT_EQ(t.answer(), Rect::fromOriginSize(600, 300, 420, 310));
}

TEST(PlacementTrackerTest, TheWindowManagersOwnPlacementBecomesFinal) {
    PlacementTracker t(kStart);
    send(t, at(-500, 10));
    for (int i = 0; i < 10 && t.waiting(); ++i)
        t.report(at(0, 10), true, true);
    EXPECT_FALSE(t.waiting()) << "a window manager that keeps windows on the screen";
    EXPECT_EQ(t.answer(), at(0, 10));

    // A size it does not allow, told by reports of the size alone.
    send(t, Rect::fromOriginSize(0, 10, 4000, 300));
    for (int i = 0; i < 10 && t.waiting(); ++i)
        t.report(Rect::fromOriginSize(5, 5, 1280, 300), false, true);
    EXPECT_FALSE(t.waiting());
    EXPECT_EQ(t.answer(), Rect::fromOriginSize(0, 10, 1280, 300));
}

TEST(PlacementTrackerTest, AnUnmappedWindowKeepsItsPlacementForTheMapping) {
    PlacementTracker t(kStart);
    send(t, at(300, 200));
    for (int i = 0; i < 10; ++i)
        t.report(at(0, 0), true, false);
    EXPECT_EQ(t.answer(), at(300, 200));
    t.report(at(300, 200), true, true);
    EXPECT_FALSE(t.waiting());
}

TEST(PlacementTrackerTest, WhatTheWindowManagerIsAskedToMakeIsTheAnswerUntilItIsDone) {
    PlacementTracker t(kStart);
    const Rect workArea{0, 40, 1280, 800};
    t.expect(workArea);
    EXPECT_EQ(t.answer(), workArea);
    t.report(kStart, true, true);
    EXPECT_EQ(t.answer(), workArea);
    t.report(workArea, true, true);
    EXPECT_FALSE(t.waiting());
    EXPECT_EQ(t.answer(), workArea);
}

} // namespace
} // namespace norv::platform::gtk
