#pragma once
// GestureHandler: what a touch or drag gesture inside a browser window is offered to
// (GestureEngine). The operations come in the order of a handler's table: accept press,
// move, end of a tap, press during inertia, start of a flick, inertia step, inertia stop,
// flick start during inertia, capture state, capture start.

namespace norv::host {

// A point or a distance in client pixels.
struct GesturePoint {
    double x = 0;
    double y = 0;
    friend bool operator==(const GesturePoint&, const GesturePoint&) = default;
};

struct GestureRect {
    double left = 0;
    double top = 0;
    double right = 0;
    double bottom = 0;
    bool contains(GesturePoint p) const {
        return p.x >= left && p.x < right && p.y >= top && p.y < bottom;
    }
};

enum class PressAnswer {
    declined, // another handler may take the gesture
    accepted, // the gesture is this handler's; the browser gets the press too
    consumed, // the gesture is this handler's and the browser does not get the press
};

// Distances handed to move and inertiaStep are how far the content should travel: the
// previous pointer position minus the new one (a finger moving up by 10 scrolls down by 10).
// Distances handed to the flick calls are the pointer's travel from press to release.
class GestureHandler {
public:
    virtual ~GestureHandler() = default;

    virtual PressAnswer acceptPress(GesturePoint at) = 0;
    // A move with the button held; true when taken (the browser does not get it).
    virtual bool move(GesturePoint delta) = 0;
    virtual void tapEnded(GesturePoint at) = 0;
    // A press inside the capture rectangle while inertia runs; true keeps the inertia.
    virtual bool pressDuringInertia(GesturePoint at) = 0;
    // A release while moving; true starts inertia.
    virtual bool flickStart(GesturePoint distance) = 0;
    // One 50 ms step of inertia; false ends the animation.
    virtual bool inertiaStep(GesturePoint delta) = 0;
    virtual void inertiaStop() = 0;
    // A flick while inertia runs; true speeds the running animation up.
    virtual bool flickStartDuringInertia(GesturePoint distance) = 0;
    // Whether presses during inertia are offered to the handler, and where.
    virtual bool captureState(GestureRect& rect) = 0;
    // The browser got the accepted press; the gesture is now captured.
    virtual void captureStart(GesturePoint at) = 0;
};

} // namespace norv::host
