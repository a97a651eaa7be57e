#include "host/GestureEngine.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace norv::host {

namespace {

GesturePoint minus(GesturePoint a, GesturePoint b) {
    return {a.x - b.x, a.y - b.y};
}

// Pulls `value` back to `limit` when it lies beyond it as seen from `origin`.
double pullBack(double origin, double value, double limit) {
    if (value > origin && limit >= origin && value > limit)
        return limit;
    if (value < origin && limit <= origin && value < limit)
        return limit;
    return value;
}

} // namespace

GestureEngine::GestureEngine(GestureSite& site, Clock clock)
    : site_(site), clock_(std::move(clock)),
      lastEventTime_(ms(std::numeric_limits<ms::rep>::min() / 2)) {}

bool GestureEngine::addHandler(std::shared_ptr<GestureHandler> handler) {
    if (!handler)
        return false;
    std::lock_guard lock(handlersLock_);
    if (std::find(handlers_.begin(), handlers_.end(), handler) == handlers_.end())
        handlers_.push_back(std::move(handler));
    return true;
}

void GestureEngine::removeHandler(const std::shared_ptr<GestureHandler>& handler) {
    std::lock_guard lock(handlersLock_);
    std::erase(handlers_, handler);
}

void GestureEngine::touchDown(GesturePoint at) {
    touchDown_ = true;
    touchUpSeen_ = false;
    downPoint_ = at;
}

void GestureEngine::touchUp(GesturePoint at) {
    touchUpSeen_ = true;
    upPoint_ = at;
}

bool GestureEngine::press(GesturePoint at) {
    const ms now = clock_();
    pressed_ = true;
    buttonDown_ = true;
    browserPressed_ = false;
    pressPoint_ = lastPoint_ = at;
    pressTime_ = lastTime_ = now;

    if (inertia_) {
        GestureRect capture;
        const bool offered = inertiaHandler_->captureState(capture) && capture.contains(at) &&
                             inertiaHandler_->pressDuringInertia(at);
        if (!offered)
            stopInertia();
    }

    std::vector<std::shared_ptr<GestureHandler>> handlers;
    {
        std::lock_guard lock(handlersLock_);
        handlers = handlers_;
    }
    handler_ = nullptr;
    PressAnswer answer = PressAnswer::declined;
    for (const auto& h : handlers) {
        answer = h->acceptPress(at);
        if (answer != PressAnswer::declined) {
            handler_ = h;
            break;
        }
    }
    if (handler_ && answer == PressAnswer::consumed)
        return false;
    if (handler_) {
        handler_->captureStart(at);
        site_.startTimer(timerPeriod);
    }
    browserPressed_ = true;
    return true;
}

bool GestureEngine::move(GesturePoint at, bool buttonHeld) {
    if (inertia_)
        return false;
    if (!pressed_ || at == lastPoint_)
        return true;
    if (!buttonHeld) {
        resetGesture();
        site_.stopTimer();
        return true;
    }
    const bool taken = handler_ && handler_->move(minus(lastPoint_, at));
    lastPoint_ = at;
    lastTime_ = clock_();
    return !taken;
}

bool GestureEngine::movedBeyondTap(GesturePoint releaseAt) const {
    GesturePoint from = pressPoint_, to = releaseAt;
    if (touchDown_) {
        from = downPoint_;
        to = touchUpSeen_ ? upPoint_ : releaseAt;
    }
    return std::abs(to.x - from.x) > tapSlop || std::abs(to.y - from.y) > tapSlop;
}

bool GestureEngine::release(GesturePoint at) {
    buttonDown_ = false;
    if (!handler_ || !pressed_) {
        resetGesture();
        return true;
    }
    const ms now = clock_();
    const bool touch = touchDown_;
    bool forward = false;
    bool plainTap = false;
    if (movedBeyondTap(at) && now - lastTime_ <= flickWindow) {
        GesturePoint end = at;
        if (touch && touchUpSeen_) {
            end.x = pullBack(pressPoint_.x, end.x, upPoint_.x);
            end.y = pullBack(pressPoint_.y, end.y, upPoint_.y);
        }
        const GesturePoint distance = minus(end, pressPoint_);
        const bool during = inertia_ && inertiaHandler_ == handler_;
        if (inertia_ && !during)
            stopInertia();
        const bool agreed =
            during ? handler_->flickStartDuringInertia(distance) : handler_->flickStart(distance);
        if (agreed)
            startInertia(distance, now - pressTime_, touch, end);
    } else if (movedBeyondTap(at)) {
        // Held still before lifting: the drag scrolled as far as it went, and no further.
    } else if (now - lastEventTime_ >= tapInterval) {
        if (inertia_) {
            stopInertia();
            site_.sendMouseMove(at);
        } else {
            handler_->tapEnded(at);
            // A plain click is no gesture: the next click is not held back by it.
            plainTap = true;
        }
        forward = true;
    }
    if (!plainTap)
        lastEventTime_ = now;
    if (!forward && browserPressed_)
        site_.cancelBrowserPress(at);
    browserPressed_ = false;
    if (!inertia_) {
        resetGesture();
        site_.stopTimer();
    }
    return forward;
}

bool GestureEngine::doubleClick(GesturePoint at) {
    if (!pressed_)
        return true;
    const ms now = clock_();
    if (movedBeyondTap(at)) {
        resetGesture();
    } else if (now - lastEventTime_ > doubleClickInterval) {
        if (inertia_) {
            stopInertia();
            site_.sendMouseMove(at);
        } else if (handler_) {
            handler_->tapEnded(at);
        }
    }
    lastEventTime_ = now;
    return false;
}

void GestureEngine::startInertia(GesturePoint distance, ms duration, bool touch,
                                 GesturePoint from) {
    double dx = std::abs(distance.x), dy = std::abs(distance.y);
    if (touch) {
        double& dominant = dx >= dy ? dx : dy;
        if (dominant <= shortTouchFlick)
            dominant *= 5;
    }
    const double t = static_cast<double>(std::max(duration, timerPeriod).count());
    speed_ = std::max(dx, dy) / (t / 10.0);
    if (speed_ == 0)
        speed_ = 1;
    const bool running = inertia_;
    totalSteps_ = running ? 2 * stepsLeft_ : static_cast<int>(speed_ * 10);
    stepX_ = (running ? stepX_ : 0) + dx / 8;
    stepY_ = (running ? stepY_ : 0) + dy / 8;
    if (distance.x != 0)
        directionX_ = distance.x < 0 ? -1 : 1;
    if (distance.y != 0)
        directionY_ = distance.y < 0 ? -1 : 1;
    stepsLeft_ = totalSteps_;
    origin_ = position_ = from;
    inertiaHandler_ = handler_;
    inertia_ = totalSteps_ > 0;
    if (inertia_)
        site_.startTimer(timerPeriod);
    else
        inertiaHandler_ = nullptr;
}

void GestureEngine::timerTick() {
    if (!inertia_)
        return;
    --stepsLeft_;
    if (stepsLeft_ < decay * totalSteps_) {
        stepX_ *= decay;
        stepY_ *= decay;
    }
    const GesturePoint before = position_;
    position_.x += directionX_ * stepX_;
    position_.y += directionY_ * stepY_;
    const bool goOn = inertiaHandler_->inertiaStep(minus(before, position_));
    if (stepsLeft_ <= 0 || !goOn) {
        stopInertia();
        if (!buttonDown_)
            resetGesture();
    }
}

void GestureEngine::stopInertia() {
    if (!inertia_)
        return;
    inertia_ = false;
    auto handler = std::move(inertiaHandler_);
    handler->inertiaStop();
    site_.stopTimer();
}

void GestureEngine::resetGesture() {
    pressed_ = false;
    buttonDown_ = false;
    browserPressed_ = false;
    handler_ = nullptr;
    touchDown_ = false;
    touchUpSeen_ = false;
}

} // namespace norv::host
