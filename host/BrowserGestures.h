#pragma once
// BrowserGestures: the gesture engine of a browser widget. The widget's pointer and touch
// events go through the engine before the browser sees them (the engine decides which the
// browser still gets), its 50 ms timer runs on the main loop, and what the engine sends the
// browser of its own (a move at the pointer, the end of a press without a click) reaches the
// widget as synthesised events. Gesture handlers are added to and removed from engine().
//
// The log (debug level, "touch:") tells each release the engine took and whether inertia
// followed, and the end of each inertia animation. UI thread.

#include <chrono>

#include "host/GestureEngine.h"
#include "platform/glib/MainLoopSource.h"

typedef struct _GtkWidget GtkWidget;
typedef union _GdkEvent GdkEvent;

namespace norv::host {

class BrowserGestures final : private GestureSite {
public:
    // `view` is the widget that receives the browser's input; it must outlive this object.
    explicit BrowserGestures(GtkWidget* view);
    ~BrowserGestures() override;
    BrowserGestures(const BrowserGestures&) = delete;
    BrowserGestures& operator=(const BrowserGestures&) = delete;

    GestureEngine& engine() { return engine_; }

private:
    static int onEvent(GtkWidget* widget, GdkEvent* event, BrowserGestures* self);
    // True when the browser should still get the event.
    bool feed(GdkEvent* event);
    void tick();
    // Sends the browser a synthesised pointer event at `at` (widget coordinates).
    void forward(int type, GesturePoint at);

    // GestureSite
    void startTimer(std::chrono::milliseconds period) override;
    void stopTimer() override;
    void sendMouseMove(GesturePoint at) override;
    void cancelBrowserPress(GesturePoint at) override;

    GtkWidget* view_;
    unsigned long handler_ = 0;
    GestureEngine engine_;
    platform::glib::MainLoopSource timer_;
    bool forwarding_ = false;     // an event of our own is on its way to the browser
    bool touchSequence_ = false;  // a touch contact drives the gesture
    unsigned pointerButtons_ = 0; // the modifier state of the last pointer event
};

} // namespace norv::host
