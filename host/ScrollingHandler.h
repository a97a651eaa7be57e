#pragma once
// ScrollingHandler: the gesture handler that scrolls a document element. Each movement it
// is given moves scrollTop by 1.75 times the vertical distance and scrollLeft by 1.75
// times the horizontal one (truncated, never below 0), each only when the element has a
// scroll height (width); when neither could move, it is done, which ends an inertia
// animation. While its inertia runs it takes presses for itself, so a tap that stops the
// scrolling does not reach the page underneath.

#include <memory>
#include <optional>

#include "host/GestureHandler.h"

namespace norv::host {

// The element a ScrollingHandler scrolls (the document's scrolling element, reached
// through the bridge).
class ScrollTarget {
public:
    struct Metrics {
        int scrollTop = 0;
        int scrollLeft = 0;
        int scrollHeight = 0;
        int scrollWidth = 0;
    };
    virtual ~ScrollTarget() = default;
    // The element's scroll values; nullopt when there is no element (yet).
    virtual std::optional<Metrics> metrics() = 0;
    virtual void setScrollTop(int value) = 0;
    virtual void setScrollLeft(int value) = 0;
};

class ScrollingHandler final : public GestureHandler {
public:
    static constexpr double factor = 1.75;

    explicit ScrollingHandler(std::shared_ptr<ScrollTarget> target);

    // Scrolls by `delta` × 1.75; false when neither value moved.
    bool scroll(GesturePoint delta);

    PressAnswer acceptPress(GesturePoint at) override;
    bool move(GesturePoint delta) override;
    void tapEnded(GesturePoint at) override;
    bool pressDuringInertia(GesturePoint at) override;
    bool flickStart(GesturePoint distance) override;
    bool inertiaStep(GesturePoint delta) override;
    void inertiaStop() override;
    bool flickStartDuringInertia(GesturePoint distance) override;
    bool captureState(GestureRect& rect) override;
    void captureStart(GesturePoint at) override;

private:
    std::shared_ptr<ScrollTarget> target_;
    bool inertia_ = false;
};

} // namespace norv::host
