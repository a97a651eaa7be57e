#pragma once
// BrowserGestures: the gesture engine of a browser widget. The widget's pointer and touch
// events go through the engine before the browser sees them (the engine decides which the
// browser still gets), its 50 ms timer runs on the main loop, and what the engine sends the
// browser of its own (a move at the pointer, the end of a press without a click) reaches the
// widget as synthesised events. A touch contact whose end the engine keeps from the browser
// (a flick) reaches the browser as cancelled, so the page does not hold a finger that is
// gone. Gesture handlers are added to and removed from engine().
//
// The engine sees one event at a time. Its handlers reach the page through the script
// bridge, which runs rounds of the main loop while it waits; input and timer ticks that
// arrive meanwhile are kept and fed in order once the engine is done (what the engine then
// lets through is sent on to the browser).
//
// The log (debug level, "touch:") tells each release the engine took and whether inertia
// followed, and the end of each inertia animation. UI thread.

#include <chrono>
#include <deque>
#include <memory>

#include "host/GestureEngine.h"
#include "platform/glib/GObjectRef.h"
#include "platform/glib/MainLoopSource.h"

typedef struct _GtkWidget GtkWidget;
typedef union _GdkEvent GdkEvent;

namespace norv::host {

class BrowserGestures final : private GestureSite {
public:
    // `view` is the widget that receives the browser's input (held until destruction).
    explicit BrowserGestures(GtkWidget* view);
    ~BrowserGestures() override;
    BrowserGestures(const BrowserGestures&) = delete;
    BrowserGestures& operator=(const BrowserGestures&) = delete;

    GestureEngine& engine() { return engine_; }

private:
    static int onEvent(GtkWidget* widget, GdkEvent* event, BrowserGestures* self);
    // True when the browser should still get the event.
    bool feed(GdkEvent* event);
    // feed, and what came in meanwhile.
    bool feedInTurn(GdkEvent* event);
    void drain();
    void tick();
    // Sends the browser an event, past the engine.
    void forwardAsIs(GdkEvent* event);
    // Sends the browser a synthesised pointer event at `at` (widget coordinates).
    void forward(int type, GesturePoint at);

    // GestureSite
    void startTimer(std::chrono::milliseconds period) override;
    void stopTimer() override;
    void sendMouseMove(GesturePoint at) override;
    void cancelBrowserPress(GesturePoint at) override;

    struct EventFree {
        void operator()(GdkEvent* event) const;
    };

    glib::GObjectRef<GtkWidget> view_;
    unsigned long handler_ = 0;
    bool busy_ = false;        // the engine is handling an event or a tick
    bool tickPending_ = false; // a tick came while it was
    std::deque<std::unique_ptr<GdkEvent, EventFree>> deferred_;
    GestureEngine engine_;
    platform::glib::MainLoopSource timer_;
    bool forwarding_ = false;    // an event of our own is on its way to the browser
    bool touchSequence_ = false; // a touch contact drives the gesture
    // The begin of the touch contact the browser was given as the gesture's press: the
    // browser is told that contact was cancelled when it will not see its end.
    std::unique_ptr<GdkEvent, EventFree> browserTouch_;
    unsigned pointerButtons_ = 0; // the modifier state of the last pointer event
};

} // namespace norv::host
