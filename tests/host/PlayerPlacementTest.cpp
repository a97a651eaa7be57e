// Where a player element's video goes over the page: the element's box in CSS pixels, the
// page zoom and the part of the viewport the element can be seen in.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "host/PlayerElementHost.h"

using norv::host::PlayerElementHost;
using norv::web::ElementBox;
using norv::web::ElementClip;
using Rect = PlayerElementHost::Rect;

namespace {

ElementBox shown(double x, double y, double w, double h) {
    return ElementBox{x, y, w, h, true};
}

TEST(PlayerPlacementTest, TheBoxIsScaledByTheZoomAndNeighboursStayEdgeToEdge) {
    auto p = PlayerElementHost::place(shown(10, 20, 320, 240), 1.0);
    ASSERT_TRUE(p);
    EXPECT_EQ(p->shown, (Rect{10, 20, 320, 240}));
    EXPECT_EQ(p->video, (Rect{0, 0, 320, 240}));

    p = PlayerElementHost::place(shown(10, 20, 320, 240), 1.5);
    ASSERT_TRUE(p);
    EXPECT_EQ(p->shown, (Rect{15, 30, 480, 360}));

    // Two boxes side by side at fractional places: no gap and no overlap between them.
    auto a = PlayerElementHost::place(shown(0.3, 0, 100.4, 50), 1.25);
    auto b = PlayerElementHost::place(shown(100.7, 0, 100.4, 50), 1.25);
    ASSERT_TRUE(a && b);
    EXPECT_EQ(a->shown.x + a->shown.width, b->shown.x);

    // Not rendered, empty, or no usable zoom: nothing shown.
    ElementBox hidden = shown(0, 0, 100, 100);
    hidden.visible = false;
    EXPECT_FALSE(PlayerElementHost::place(hidden, 1.0));
    EXPECT_FALSE(PlayerElementHost::place(shown(5, 5, 0, 100), 1.0));
    EXPECT_FALSE(PlayerElementHost::place(shown(5, 5, 0.2, 100), 1.0));
    EXPECT_FALSE(PlayerElementHost::place(shown(5, 5, 100, 100), 0.0));
    EXPECT_FALSE(
        PlayerElementHost::place(shown(5, 5, 100, 100), std::numeric_limits<double>::quiet_NaN()));

    // Far outside any screen the numbers stay within what a widget can be given.
    p = PlayerElementHost::place(shown(-1e300, 1e300, 1e300, 1e300), 1.0);
    if (p) {
        EXPECT_GT(p->shown.width, 0);
        EXPECT_GT(p->shown.height, 0);
    }
    p = PlayerElementHost::place(shown(-5e6, 10, 1e7, 20), 1.0);
    ASSERT_TRUE(p);
    EXPECT_GT(p->shown.width, 0);
    EXPECT_LE(p->shown.x, 0);
}

TEST(PlayerPlacementTest, AClippedBoxShowsOnlyItsVisiblePartWithTheVideoAtItsFullSize) {
    // A box whose top 40 pixels went under the edge of a scrolling pane at y = 60.
    ElementBox box = shown(50, 20, 200, 150);
    box.clip = ElementClip{0, 60, 400, 240};
    auto p = PlayerElementHost::place(box, 1.0);
    ASSERT_TRUE(p);
    EXPECT_EQ(p->shown, (Rect{50, 60, 200, 110}));
    EXPECT_EQ(p->video, (Rect{0, -40, 200, 150}));

    // Cut on every side: the video keeps its size, offset by what was cut on the left.
    box = shown(-30, 10, 500, 400);
    box.clip = ElementClip{0, 0, 300, 200};
    p = PlayerElementHost::place(box, 2.0);
    ASSERT_TRUE(p);
    EXPECT_EQ(p->shown, (Rect{0, 20, 600, 380}));
    EXPECT_EQ(p->video, (Rect{-60, 0, 1000, 800}));

    // Wholly outside its clip, or a clip of no size: nothing is shown.
    box = shown(50, 400, 200, 150);
    box.clip = ElementClip{0, 60, 400, 240};
    EXPECT_FALSE(PlayerElementHost::place(box, 1.0));
    box = shown(50, 60, 200, 150);
    box.clip = ElementClip{0, 60, 400, 0};
    EXPECT_FALSE(PlayerElementHost::place(box, 1.0));
    // A box exactly at the clip's edge is not shown either.
    box = shown(50, 300, 200, 150);
    box.clip = ElementClip{0, 60, 400, 240};
    EXPECT_FALSE(PlayerElementHost::place(box, 1.0));
}

} // namespace
