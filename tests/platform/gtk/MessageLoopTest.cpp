#include "platform/gtk/MessageLoop.h"

#include <gtest/gtest.h>

#include <glib.h>

namespace norv::platform::gtk {
namespace {

gboolean quitWith(gpointer code) {
    MessageLoop::postQuit(GPOINTER_TO_INT(code));
    return G_SOURCE_REMOVE;
}

TEST(MessageLoopTest, RunsUntilTheQuitMessageAndReturnsItsCode) {
    EXPECT_FALSE(MessageLoop::isRunning());
    g_idle_add(quitWith, GINT_TO_POINTER(7));
    EXPECT_EQ(MessageLoop::run(), 7);
    EXPECT_EQ(MessageLoop::lastQuitCode(), 7);
    EXPECT_FALSE(MessageLoop::isRunning());
}

TEST(MessageLoopTest, QuitPostedBeforeTheLoopEndsItAtOnce) {
    MessageLoop::postQuit(0);
    EXPECT_EQ(MessageLoop::run(), 0);
    // Taken once: the next loop waits for its own quit message.
    g_idle_add(quitWith, GINT_TO_POINTER(3));
    EXPECT_EQ(MessageLoop::run(), 3);
}

gboolean runNested(gpointer seen) {
    // The inner loop ends on its own quit message; the outer one goes on.
    g_idle_add(quitWith, GINT_TO_POINTER(1));
    *static_cast<int*>(seen) = MessageLoop::run();
    EXPECT_TRUE(MessageLoop::isRunning());
    g_idle_add(quitWith, GINT_TO_POINTER(2));
    return G_SOURCE_REMOVE;
}

TEST(MessageLoopTest, NestedLoopsEachEndOnTheirOwnQuit) {
    int inner = -1;
    g_idle_add(runNested, &inner);
    EXPECT_EQ(MessageLoop::run(), 2);
    EXPECT_EQ(inner, 1);
}

} // namespace
} // namespace norv::platform::gtk
