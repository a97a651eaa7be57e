// Touch gestures in a real browser: a WebKit view with the script bridge and the host's
// gesture engine scrolling its document, under a private X session. Xvfb has no touch
// device, so the touch screen's events are made here as GDK makes them from one (touch
// begin, updates and end of one contact that the system also plays as the pointer, then of
// further contacts that it does not) and queued to GDK, which hands them to GTK like any
// event from the X server. What counts is what the page sees: its scroll position, read
// with WebKit's own script evaluation, and the touches its listeners are given.
#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "host/BridgeScrollTarget.h"
#include "host/BrowserGestures.h"
#include "host/ScrollingHandler.h"
#include "platform/web/ScriptBridge.h"
#include "tests/support/HttpServer.h"
#include "tests/support/XSession.h"

using namespace norv::test;
using norv::host::BridgeScrollTarget;
using norv::host::BrowserGestures;
using norv::host::ScrollingHandler;
using norv::web::ScriptBridge;

namespace {

// A long page that keeps the number of touches of each touchstart, touchend and
// touchcancel, and counts its clicks.
constexpr const char* kLongPage = R"(<!DOCTYPE html>
<html><head><style>html,body{margin:0} div{height:40000px;
background:linear-gradient(#fff,#000)}</style></head><body><div></div>
<script>
var starts = [], ends = [], cancels = [], clicks = 0;
addEventListener("touchstart", function(e) { starts.push(e.touches.length); });
addEventListener("touchend", function(e) { ends.push(e.touches.length); });
addEventListener("touchcancel", function(e) { cancels.push(e.touches.length); });
addEventListener("click", function() { ++clicks; });
</script></body></html>)";

bool pumpUntil(const std::function<bool()>& cond, std::chrono::milliseconds deadline = 30s) {
    const auto end = std::chrono::steady_clock::now() + deadline;
    // A ticking source, so that the loop wakes to look at the condition.
    const guint tick = g_timeout_add(
        10, [](gpointer) -> gboolean { return G_SOURCE_CONTINUE; }, nullptr);
    bool ok = false;
    while (!(ok = cond()) && std::chrono::steady_clock::now() < end)
        g_main_context_iteration(nullptr, TRUE);
    g_source_remove(tick);
    return ok;
}

class TouchInertiaTest : public ::testing::Test {
protected:
    // The X session, GTK and the web context are the process's: GTK stays on the display it
    // opened first, also when the tests are repeated.
    static void SetUpTestSuite() {
        if (session_)
            return;
        session_ = std::make_unique<XSession>();
        for (const auto& [name, value] : session_->env())
            setenv(name.c_str(), value.c_str(), 1);
        setenv("G_MESSAGES_DEBUG", "norv-view", 1);
        // The engine's log tells which releases it took and how their inertia went.
        g_log_set_writer_func(
            +[](GLogLevelFlags level, const GLogField* fields, gsize n, gpointer) {
                for (gsize i = 0; i < n; ++i)
                    if (std::string_view(fields[i].key) == "MESSAGE" && fields[i].length < 0)
                        log_.emplace_back(static_cast<const char*>(fields[i].value));
                return (level & G_LOG_LEVEL_DEBUG)
                           ? G_LOG_WRITER_HANDLED
                           : g_log_writer_default(level, fields, n, nullptr);
            },
            nullptr, nullptr);
        gdk_set_allowed_backends("x11");
        gtk_init(nullptr, nullptr);
        context_ = webkit_web_context_new();
        // libnorv-bridge.so lies next to this test program.
        ScriptBridge::prepareContext(context_);
    }

    void SetUp() override {
        log_.clear();
        server_.serve("/long", kLongPage);
        window_ = gtk_window_new(GTK_WINDOW_TOPLEVEL);
        gtk_window_set_default_size(GTK_WINDOW(window_), 400, 300);
        view_ = WEBKIT_WEB_VIEW(webkit_web_view_new_with_context(context_));
        gtk_container_add(GTK_CONTAINER(window_), GTK_WIDGET(view_));
        gtk_widget_show_all(window_);
        bridge_ = std::make_unique<ScriptBridge>(view_);
        gestures_ = std::make_unique<BrowserGestures>(GTK_WIDGET(view_));
        webkit_web_view_load_uri(view_, server_.url("/long").c_str());
        // As the host window does once the document is complete.
        ASSERT_TRUE(pumpUntil([&] {
            return bridge_->hasScriptWindow() && !webkit_web_view_is_loading(view_) &&
                   gtk_widget_get_mapped(GTK_WIDGET(view_)) && evaluate("starts.length") == 0;
        }));
        gestures_->engine().addHandler(
            std::make_shared<ScrollingHandler>(std::make_shared<BridgeScrollTarget>(*bridge_)));
    }
    void TearDown() override {
        gestures_.reset();
        bridge_.reset();
        gtk_widget_destroy(window_);
    }

    // A number the page's script computes, through WebKit's own evaluation.
    std::optional<double> evaluate(const std::string& code) {
        struct Answer {
            bool done = false;
            std::optional<double> value;
        };
        // Held by the callback too: it may come after the wait gave up.
        auto* answer = new std::shared_ptr<Answer>(std::make_shared<Answer>());
        const std::shared_ptr<Answer> mine = *answer;
        webkit_web_view_evaluate_javascript(
            view_, code.c_str(), -1, nullptr, nullptr, nullptr,
            +[](GObject* view, GAsyncResult* result, gpointer data) {
                std::unique_ptr<std::shared_ptr<Answer>> held(
                    static_cast<std::shared_ptr<Answer>*>(data));
                Answer* a = held->get();
                if (JSCValue* v = webkit_web_view_evaluate_javascript_finish(WEBKIT_WEB_VIEW(view),
                                                                             result, nullptr)) {
                    if (jsc_value_is_number(v))
                        a->value = jsc_value_to_double(v);
                    g_object_unref(v);
                }
                a->done = true;
            },
            answer);
        pumpUntil([&] { return mine->done; });
        return mine->value;
    }
    int scrollTop() {
        return static_cast<int>(evaluate("document.scrollingElement.scrollTop").value_or(-1));
    }

    // Queues one touch event of contact `id` at (x, y) in the view, as GDK's X11 backend
    // makes it from the server's XI2 touch event.
    void touch(GdkEventType type, unsigned id, double x, double y, bool emulatingPointer = true) {
        GdkWindow* window = gtk_widget_get_window(GTK_WIDGET(view_));
        GdkSeat* seat = gdk_display_get_default_seat(gdk_window_get_display(window));
        GdkDevice* device = gdk_seat_get_pointer(seat);
        int originX = 0, originY = 0;
        gdk_window_get_origin(window, &originX, &originY);
        GdkEvent* event = gdk_event_new(type);
        event->touch.window = GDK_WINDOW(g_object_ref(window));
        event->touch.time = static_cast<guint32>(g_get_monotonic_time() / 1000);
        event->touch.x = x;
        event->touch.y = y;
        event->touch.x_root = originX + x;
        event->touch.y_root = originY + y;
        event->touch.sequence = reinterpret_cast<GdkEventSequence*>(GUINT_TO_POINTER(id));
        event->touch.emulating_pointer = emulatingPointer;
        if (emulatingPointer && type != GDK_TOUCH_BEGIN)
            event->touch.state = GDK_BUTTON1_MASK;
        gdk_event_set_device(event, device);
        gdk_event_set_source_device(event, device);
        gdk_event_put(event);
        gdk_event_free(event);
    }
    // One contact pressed at (x, y0) and moved in steps of 10 pixels to y1; lifted there
    // when `lift`.
    void swipe(unsigned id, double x, double y0, double y1, bool lift) {
        touch(GDK_TOUCH_BEGIN, id, x, y0);
        const double step = y1 < y0 ? -10 : 10;
        for (double y = y0 + step; step < 0 ? y >= y1 : y <= y1; y += step)
            touch(GDK_TOUCH_UPDATE, id, x, y);
        if (lift)
            touch(GDK_TOUCH_END, id, x, y1);
    }
    // Until GDK has handed out every queued event and the engine is done with them.
    bool delivered() {
        return pumpUntil([&] {
            GdkEvent* queued = gdk_display_peek_event(gdk_display_get_default());
            if (!queued)
                return true;
            gdk_event_free(queued);
            return false;
        });
    }

    // How many times the log holds `line` since the test began.
    static std::size_t logged(const std::string& line) {
        return static_cast<std::size_t>(std::count(log_.begin(), log_.end(), line));
    }

    static inline std::vector<std::string> log_;
    static inline std::unique_ptr<XSession> session_;
    static inline WebKitWebContext* context_ = nullptr;
    HttpServer server_;
    GtkWidget* window_ = nullptr;
    WebKitWebView* view_ = nullptr;
    std::unique_ptr<ScriptBridge> bridge_;
    std::unique_ptr<BrowserGestures> gestures_;
};

TEST_F(TouchInertiaTest, AFlickScrollsOnAfterTheFingerLiftsAndSlowsToAStop) {
    ASSERT_EQ(scrollTop(), 0);
    // The finger drags the page up by 200 pixels and lifts at once. The drag alone moves the
    // page 1.75 times as far as the finger went.
    swipe(1, 200, 250, 50, true);
    ASSERT_TRUE(pumpUntil([&] { return logged("touch: release, inertia") == 1; }));
    // It goes on by itself after the finger is gone, and comes to a stop.
    ASSERT_TRUE(pumpUntil([&] { return logged("touch: inertia ended") == 1; }));
    const int flung = scrollTop();
    EXPECT_GT(flung, 350 + 50) << "beyond the 350 pixels of the drag alone";
    EXPECT_EQ(scrollTop(), flung) << "and stays there";
}

TEST_F(TouchInertiaTest, ATapThatMovesFivePixelsOrLessIsNoFlick) {
    touch(GDK_TOUCH_BEGIN, 1, 200, 200);
    touch(GDK_TOUCH_UPDATE, 1, 203, 195);
    touch(GDK_TOUCH_END, 1, 203, 195);
    ASSERT_TRUE(pumpUntil([&] { return logged("touch: release, no inertia") == 1; }));
    // The page had the whole tap, and moved no further than the finger did.
    EXPECT_TRUE(pumpUntil([&] { return evaluate("ends.length") == 1; }));
    EXPECT_EQ(evaluate("cancels.length"), 0);
    EXPECT_EQ(logged("touch: release, inertia"), 0u);
    EXPECT_LT(scrollTop(), 10);
}

TEST_F(TouchInertiaTest, AfterAFlickThePageSeesOnlyTheFingersOnTheGlass) {
    swipe(1, 200, 250, 50, true);
    ASSERT_TRUE(pumpUntil([&] { return logged("touch: inertia ended") == 1; }));
    const int flung = scrollTop();
    EXPECT_GT(flung, 0);
    // The flick's contact left the page (WebKit tells a cancelled contact's end as either),
    // and clicked nothing.
    const std::string left = "ends.concat(cancels)";
    EXPECT_EQ(evaluate(left + ".length"), 1);
    EXPECT_EQ(evaluate(left + "[0]"), 0);
    EXPECT_EQ(evaluate("clicks"), 0);
    // The next finger is the only one on the glass.
    touch(GDK_TOUCH_BEGIN, 2, 100, 100);
    touch(GDK_TOUCH_END, 2, 100, 100);
    ASSERT_TRUE(delivered());
    ASSERT_TRUE(pumpUntil([&] { return evaluate("starts.length") == 2; }));
    EXPECT_EQ(evaluate("starts[1]"), 1);
    EXPECT_EQ(evaluate(left + "[1]"), 0);
    EXPECT_EQ(scrollTop(), flung);

    // A second finger the system does not play as the pointer reaches the page as it is,
    // beside the first, and starts no inertia of the engine.
    touch(GDK_TOUCH_BEGIN, 3, 100, 100);
    touch(GDK_TOUCH_BEGIN, 4, 150, 100, false);
    for (double y = 110; y <= 200; y += 10)
        touch(GDK_TOUCH_UPDATE, 4, 150, y, false);
    touch(GDK_TOUCH_END, 4, 150, 200, false);
    touch(GDK_TOUCH_END, 3, 100, 100);
    ASSERT_TRUE(delivered());
    ASSERT_TRUE(pumpUntil([&] { return evaluate("starts.length") == 4; }));
    EXPECT_EQ(evaluate("starts[3]"), 2);
    EXPECT_EQ(logged("touch: release, inertia"), 1u) << "the flick's only";
}

} // namespace
