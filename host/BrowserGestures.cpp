#include "host/BrowserGestures.h"

#include <gtk/gtk.h>

namespace norv::host {

namespace {

GestureEngine::ms monotonicNow() {
    return std::chrono::duration_cast<GestureEngine::ms>(
        std::chrono::microseconds(g_get_monotonic_time()));
}

GesturePoint pointOf(GdkEvent* event) {
    double x = 0, y = 0;
    gdk_event_get_coords(event, &x, &y);
    return {x, y};
}

// Only a touch screen's contacts drive gestures. A mouse drag is the page's own on the
// desktop: it selects, drags the page's title bar or grip, or moves a slider, and must
// reach the page as it is.
bool isGestureEvent(GdkEvent* event) {
    switch (gdk_event_get_event_type(event)) {
    case GDK_TOUCH_BEGIN:
    case GDK_TOUCH_UPDATE:
    case GDK_TOUCH_END:
    case GDK_TOUCH_CANCEL:
        return true;
    default:
        return false;
    }
}

} // namespace

void BrowserGestures::EventFree::operator()(GdkEvent* event) const {
    gdk_event_free(event);
}

BrowserGestures::BrowserGestures(GtkWidget* view)
    : view_(glib::GObjectRef<GtkWidget>::retain(view)), engine_(*this, &monotonicNow) {
    handler_ = g_signal_connect(view_.get(), "event", G_CALLBACK(&BrowserGestures::onEvent), this);
}

BrowserGestures::~BrowserGestures() {
    g_signal_handler_disconnect(view_.get(), handler_);
    timer_.reset();
}

int BrowserGestures::onEvent(GtkWidget*, GdkEvent* event, BrowserGestures* self) {
    if (self->forwarding_ || !isGestureEvent(event))
        return FALSE;
    if (self->busy_) {
        // Its turn comes when the engine is done; the browser gets it then if at all.
        self->deferred_.emplace_back(gdk_event_copy(event));
        return TRUE;
    }
    const bool pass = self->feedInTurn(event);
    return pass ? FALSE : TRUE;
}

bool BrowserGestures::feedInTurn(GdkEvent* event) {
    busy_ = true;
    const bool pass = feed(event);
    busy_ = false;
    drain();
    return pass;
}

void BrowserGestures::drain() {
    while (!busy_ && (tickPending_ || !deferred_.empty())) {
        if (tickPending_) {
            tickPending_ = false;
            tick();
            continue;
        }
        std::unique_ptr<GdkEvent, EventFree> event = std::move(deferred_.front());
        deferred_.pop_front();
        busy_ = true;
        const bool pass = feed(event.get());
        busy_ = false;
        if (pass)
            forwardAsIs(event.get());
    }
}

bool BrowserGestures::feed(GdkEvent* event) {
    const GdkEventType type = gdk_event_get_event_type(event);
    switch (type) {
    case GDK_TOUCH_BEGIN:
    case GDK_TOUCH_UPDATE:
    case GDK_TOUCH_END:
    case GDK_TOUCH_CANCEL: {
        // Only the contact that the system also plays as the pointer drives a gesture;
        // further fingers reach the page as they are.
        if (!event->touch.emulating_pointer)
            return true;
        const GesturePoint at = pointOf(event);
        if (type == GDK_TOUCH_BEGIN) {
            touchSequence_ = true;
            engine_.touchDown(at);
            const bool pass = engine_.press(at);
            browserTouch_.reset(pass ? gdk_event_copy(event) : nullptr);
            return pass;
        }
        if (type == GDK_TOUCH_UPDATE)
            return engine_.move(at, true);
        touchSequence_ = false;
        engine_.touchUp(at);
        const bool pass = engine_.release(at);
        browserTouch_.reset();
        g_debug("touch: release, %s", engine_.inertiaRunning() ? "inertia" : "no inertia");
        return pass;
    }
    case GDK_BUTTON_PRESS:
    case GDK_2BUTTON_PRESS:
    case GDK_BUTTON_RELEASE: {
        if (touchSequence_ || event->button.button != 1)
            return true;
        const GesturePoint at = pointOf(event);
        if (type == GDK_BUTTON_PRESS)
            return engine_.press(at);
        if (type == GDK_2BUTTON_PRESS)
            return engine_.doubleClick(at);
        const bool pass = engine_.release(at);
        g_debug("touch: release, %s", engine_.inertiaRunning() ? "inertia" : "no inertia");
        return pass;
    }
    case GDK_MOTION_NOTIFY: {
        if (touchSequence_)
            return true;
        GdkModifierType state{};
        gdk_event_get_state(event, &state);
        pointerButtons_ = state;
        return engine_.move(pointOf(event), (state & GDK_BUTTON1_MASK) != 0);
    }
    default:
        return true;
    }
}

void BrowserGestures::tick() {
    if (busy_) {
        tickPending_ = true;
        return;
    }
    busy_ = true;
    const bool running = engine_.inertiaRunning();
    engine_.timerTick();
    if (running && !engine_.inertiaRunning())
        g_debug("touch: inertia ended");
    busy_ = false;
    drain();
}

void BrowserGestures::forwardAsIs(GdkEvent* event) {
    forwarding_ = true;
    gtk_widget_event(view_.get(), event);
    forwarding_ = false;
}

void BrowserGestures::startTimer(std::chrono::milliseconds period) {
    timer_ = platform::glib::MainLoopSource::timeout(period, [this] {
        tick();
        return true;
    });
}

void BrowserGestures::stopTimer() {
    timer_.reset();
    tickPending_ = false;
}

void BrowserGestures::forward(int type, GesturePoint at) {
    GdkWindow* window = gtk_widget_get_window(view_.get());
    if (!window)
        return;
    GdkSeat* seat = gdk_display_get_default_seat(gtk_widget_get_display(view_.get()));
    GdkDevice* pointer = seat ? gdk_seat_get_pointer(seat) : nullptr;
    GdkEvent* event = gdk_event_new(static_cast<GdkEventType>(type));
    if (type == GDK_MOTION_NOTIFY) {
        event->motion.window = GDK_WINDOW(g_object_ref(window));
        event->motion.time = GDK_CURRENT_TIME;
        event->motion.x = at.x;
        event->motion.y = at.y;
        event->motion.state = static_cast<GdkModifierType>(pointerButtons_ & ~GDK_BUTTON1_MASK);
    } else {
        event->button.window = GDK_WINDOW(g_object_ref(window));
        event->button.time = GDK_CURRENT_TIME;
        event->button.x = at.x;
        event->button.y = at.y;
        event->button.button = 1;
        event->button.state = GDK_BUTTON1_MASK;
    }
    if (pointer)
        gdk_event_set_device(event, pointer);
    forwardAsIs(event);
    gdk_event_free(event);
}

void BrowserGestures::sendMouseMove(GesturePoint at) {
    forward(GDK_MOTION_NOTIFY, at);
}

void BrowserGestures::cancelBrowserPress(GesturePoint at) {
    if (browserTouch_) {
        // The browser's contact is cancelled where it was last: no tap, and the page's list
        // of touches loses it.
        std::unique_ptr<GdkEvent, EventFree> cancel(gdk_event_copy(browserTouch_.get()));
        browserTouch_.reset();
        cancel->touch.type = GDK_TOUCH_CANCEL;
        cancel->touch.time = GDK_CURRENT_TIME;
        cancel->touch.x_root += at.x - cancel->touch.x;
        cancel->touch.y_root += at.y - cancel->touch.y;
        cancel->touch.x = at.x;
        cancel->touch.y = at.y;
        cancel->touch.state = static_cast<GdkModifierType>(cancel->touch.state | GDK_BUTTON1_MASK);
        forwardAsIs(cancel.get());
        return;
    }
    // A release far outside the page ends the browser's press on no element, so that
    // nothing is clicked.
    forward(GDK_BUTTON_RELEASE, {-32768, -32768});
}

} // namespace norv::host
