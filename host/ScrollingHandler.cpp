#include "host/ScrollingHandler.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace norv::host {

namespace {

int scrolled(int value, double distance) {
    const double target = std::trunc(value + ScrollingHandler::factor * distance);
    return static_cast<int>(std::clamp(target, 0.0, double(std::numeric_limits<int>::max())));
}

} // namespace

ScrollingHandler::ScrollingHandler(std::shared_ptr<ScrollTarget> target)
    : target_(std::move(target)) {}

bool ScrollingHandler::scroll(GesturePoint delta) {
    const auto before = target_->metrics();
    if (!before)
        return false;
    if (before->scrollHeight != 0) {
        const int top = scrolled(before->scrollTop, delta.y);
        if (top != before->scrollTop)
            target_->setScrollTop(top);
    }
    if (before->scrollWidth != 0) {
        const int left = scrolled(before->scrollLeft, delta.x);
        if (left != before->scrollLeft)
            target_->setScrollLeft(left);
    }
    // The element keeps its values within its range: read back what moved.
    const auto after = target_->metrics();
    return after &&
           (after->scrollTop != before->scrollTop || after->scrollLeft != before->scrollLeft);
}

PressAnswer ScrollingHandler::acceptPress(GesturePoint) {
    return inertia_ ? PressAnswer::consumed : PressAnswer::accepted;
}
bool ScrollingHandler::move(GesturePoint delta) {
    return scroll(delta);
}
void ScrollingHandler::tapEnded(GesturePoint) {}
bool ScrollingHandler::pressDuringInertia(GesturePoint) {
    return true;
}
bool ScrollingHandler::flickStart(GesturePoint) {
    inertia_ = true;
    return true;
}
bool ScrollingHandler::inertiaStep(GesturePoint delta) {
    return scroll(delta);
}
void ScrollingHandler::inertiaStop() {
    inertia_ = false;
}
bool ScrollingHandler::flickStartDuringInertia(GesturePoint) {
    return true;
}
bool ScrollingHandler::captureState(GestureRect& rect) {
    constexpr double far = std::numeric_limits<double>::max();
    rect = {-far, -far, far, far};
    return inertia_;
}
void ScrollingHandler::captureStart(GesturePoint) {}

} // namespace norv::host
