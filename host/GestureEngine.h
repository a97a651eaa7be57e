#pragma once
// GestureEngine: the touch and drag gestures of one browser window, with the inertia that
// follows a flick. It is fed the window's pointer and touch events (press, move, release,
// double click, touch down and up) and the ticks of its 50 ms timer, tells for each event
// whether the browser should still get it, and drives the registered gesture handlers.
//
// The rules, with times from the injected clock:
// - a press is offered to each handler in turn; the first that accepts owns the gesture
//   (while inertia runs, a press inside the owner's capture rectangle is first offered to
//   it, and otherwise stops the animation);
// - moves with the button held go to the owner; while inertia runs moves are swallowed;
// - the pointer has moved when it travelled more than 5 pixels in x or y between press
//   (touch: down) and release (touch: up). Moved and released within 499 ms of the last
//   move: a flick, which starts (or speeds up) inertia. Moved and released later: the
//   release is swallowed. Not moved: 333 ms or more after the previous gesture a tap
//   stops the running inertia or ends as a tap, and the browser gets the release; sooner
//   the release is swallowed (a plain click that reached the browser is no gesture here);
// - inertia: speed = the larger distance / (duration / 10 ms) (touch flicks of 15 pixels
//   or less count five times their length); speed × 10 steps of 50 ms (twice the remaining
//   steps for a flick during inertia), each step adding distance / 8 to the running step
//   size; once fewer than 75 % of the steps remain the step sizes shrink by 25 % a step.
//
// When the engine keeps a release from the browser after the browser got the press, the
// site is asked to end the browser's press without a click (cancelBrowserPress).

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "host/GestureHandler.h"

namespace norv::host {

// What the engine needs from its window.
class GestureSite {
public:
    virtual ~GestureSite() = default;
    virtual void startTimer(std::chrono::milliseconds period) = 0;
    virtual void stopTimer() = 0;
    // A pointer move at `at` sent to the browser (after a tap stopped the inertia).
    virtual void sendMouseMove(GesturePoint at) = 0;
    // The browser got the gesture's press but will not get its release.
    virtual void cancelBrowserPress(GesturePoint at) = 0;
};

class GestureEngine {
public:
    using ms = std::chrono::milliseconds;
    using Clock = std::function<ms()>;

    static constexpr ms timerPeriod{50};
    static constexpr int timerId = 1448;
    static constexpr double tapSlop = 5;          // pixels a tap may move
    static constexpr ms flickWindow{499};         // release after the last move
    static constexpr ms tapInterval{333};         // between gestures, for a release
    static constexpr ms doubleClickInterval{332}; // between gestures, for a double click
    static constexpr double shortTouchFlick = 15; // pixels
    static constexpr double decay = 0.75;

    // `clock` gives the time of each event (a steady clock in milliseconds).
    GestureEngine(GestureSite& site, Clock clock);

    // Handlers are offered presses in the order they were added; a handler is added once.
    // A null handler is refused (false).
    bool addHandler(std::shared_ptr<GestureHandler> handler);
    void removeHandler(const std::shared_ptr<GestureHandler>& handler);

    // Touch contacts (they come before the pointer events they produce).
    void touchDown(GesturePoint at);
    void touchUp(GesturePoint at);

    // Each returns true when the browser should get the event.
    bool press(GesturePoint at);
    bool move(GesturePoint at, bool buttonHeld);
    bool release(GesturePoint at);
    // The second press of a double click, in place of press().
    bool doubleClick(GesturePoint at);

    void timerTick();

    bool inertiaRunning() const { return inertia_; }

private:
    bool movedBeyondTap(GesturePoint releaseAt) const;
    void startInertia(GesturePoint distance, ms duration, bool touch, GesturePoint from);
    void stopInertia();
    void resetGesture();

    GestureSite& site_;
    Clock clock_;

    mutable std::mutex handlersLock_;
    std::vector<std::shared_ptr<GestureHandler>> handlers_;

    // Touch contact of the current gesture.
    bool touchDown_ = false;
    bool touchUpSeen_ = false;
    GesturePoint downPoint_, upPoint_;

    // The gesture.
    bool pressed_ = false;    // a press is recorded
    bool buttonDown_ = false; // between press and release
    bool browserPressed_ = false;
    GesturePoint pressPoint_, lastPoint_;
    ms pressTime_{0}, lastTime_{0};
    ms lastEventTime_;
    std::shared_ptr<GestureHandler> handler_;

    // Inertia.
    bool inertia_ = false;
    std::shared_ptr<GestureHandler> inertiaHandler_;
    int totalSteps_ = 0;
    int stepsLeft_ = 0;
    double speed_ = 0;
    GesturePoint origin_, position_;
    double stepX_ = 0, stepY_ = 0;
    double directionX_ = 1, directionY_ = 1;
};

} // namespace norv::host
