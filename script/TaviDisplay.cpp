#include "script/TaviDisplay.h"

#include "platform/com/Exceptions.h"
#include "script/NativeWindowHandle.h"

namespace norv::script {

namespace {
constexpr std::chrono::milliseconds kIntervalWithoutTimeout{10000};

std::uint32_t bit(DisplayKind kind) {
    return static_cast<std::uint32_t>(kind);
}
} // namespace

com::HRESULT TaviDisplay::resolveNativeWindowHandle(com::IDispatch* window, NativeWindow* out) {
    *out = 0;
    if (window == nullptr)
        return com::E_POINTER;
    com::ComPtr<INativeWindowHandle> handle;
    com::HRESULT hr = window->QueryInterface(INativeWindowHandle::iid, handle.putVoid());
    if (com::failed(hr))
        return hr;
    return handle->get_nativeWindow(out);
}

std::chrono::milliseconds TaviDisplay::intervalFor(std::uint32_t seconds) {
    if (seconds == 0)
        return kIntervalWithoutTimeout;
    const std::uint64_t ms = std::uint64_t{seconds} * 1000;
    return std::chrono::milliseconds(ms - ms / 5);
}

TaviDisplay::TaviDisplay(std::shared_ptr<DisplayDesktop> desktop, WindowResolver resolver)
    : desktop_(std::move(desktop)), resolver_(std::move(resolver)), windows_(17) {
    desktop_->addObserver(this);
}

TaviDisplay::~TaviDisplay() {
    desktop_->removeObserver(this);
    inhibition_.reset();
    powerOff_.timer.reset();
    screenSaver_.timer.reset();
    for (const auto& [window, flags] : windows_)
        desktop_->unwatchWindow(window);
}

com::HRESULT TaviDisplay::enableScreenSaver(com::IDispatch* window, com::VARIANT_BOOL newVal) {
    return enable(window, newVal, DisplayKind::screenSaver);
}

com::HRESULT TaviDisplay::enablePowerOff(com::IDispatch* window, com::VARIANT_BOOL newVal) {
    return enable(window, newVal, DisplayKind::powerOff);
}

com::HRESULT TaviDisplay::enable(com::IDispatch* window, com::VARIANT_BOOL newVal,
                                 DisplayKind kind) {
    return com::guard(typelib::ITaviDisplay::iid, [&]() -> com::HRESULT {
        NativeWindow native = 0;
        com::HRESULT hr = resolver_(window, &native);
        if (com::failed(hr))
            return hr;
        if (native == 0)
            return com::E_HANDLE;

        std::lock_guard lock(lock_);
        auto found = windows_.find(native);
        const std::uint32_t before = found == windows_.end() ? 0 : found->second;
        if (newVal != com::VARIANT_FALSE) {
            const std::uint32_t after = before & ~bit(kind);
            if (after == 0 && found != windows_.end()) {
                windows_.erase(found);
                desktop_->unwatchWindow(native);
            } else if (found != windows_.end()) {
                found->second = after;
            }
            stopUnused();
        } else {
            const bool added = found == windows_.end();
            if (added) {
                // Reserve the entry first, so that nothing can fail after arming.
                found = windows_.emplace(native, 0).first;
                if (!desktop_->watchWindow(native)) {
                    windows_.erase(found);
                    return com::E_HANDLE;
                }
            }
            hr = arm(kind);
            if (com::failed(hr)) {
                if (added) {
                    windows_.erase(found);
                    desktop_->unwatchWindow(native);
                }
                return hr;
            }
            found->second = before | bit(kind);
        }
        updateInhibition();
        return com::S_OK;
    });
}

com::HRESULT TaviDisplay::arm(DisplayKind kind) {
    const std::optional<std::uint32_t> timeout = desktop_->timeout(kind);
    const std::uint32_t seconds = timeout.value_or(0);
    if (seconds != 0 && !desktop_->rewriteTimeout(kind))
        return com::E_FAIL;
    desktop_->resetIdle();

    KindState& s = state(kind);
    if (s.timer && s.timeout == timeout)
        return com::S_OK;
    s.timer.reset();
    s.interval = intervalFor(seconds);
    s.timeout = timeout;
    s.timer = desktop_->startTimer(kind, s.interval, [this, kind] { tick(kind); });
    return s.timer ? com::S_OK : com::E_FAIL;
}

void TaviDisplay::tick(DisplayKind kind) {
    std::lock_guard lock(lock_);
    for (const auto& [window, flags] : windows_) {
        if ((flags & bit(kind)) != 0 && desktop_->isInFront(window)) {
            // A failure leaves the timer running: the next tick tries again.
            static_cast<void>(arm(kind));
            break;
        }
    }
    updateInhibition();
}

bool TaviDisplay::keptAway(DisplayKind kind) const {
    for (const auto& [window, flags] : windows_)
        if ((flags & bit(kind)) != 0)
            return true;
    return false;
}

void TaviDisplay::stopUnused() {
    for (DisplayKind kind : {DisplayKind::powerOff, DisplayKind::screenSaver}) {
        if (!keptAway(kind)) {
            KindState& s = state(kind);
            s.timer.reset();
            s.timeout.reset();
        }
    }
}

void TaviDisplay::updateInhibition() {
    NativeWindow front = 0;
    for (const auto& [window, flags] : windows_) {
        if (flags != 0 && desktop_->isInFront(window)) {
            front = window;
            break;
        }
    }
    if (front == inhibitedWindow_)
        return;
    inhibition_.reset();
    inhibitedWindow_ = front;
    if (front != 0)
        inhibition_ = desktop_->inhibitIdle(front);
}

void TaviDisplay::foregroundChanged() {
    std::lock_guard lock(lock_);
    updateInhibition();
}

void TaviDisplay::windowDestroyed(NativeWindow window) {
    std::lock_guard lock(lock_);
    if (windows_.erase(window) == 0)
        return;
    stopUnused();
    updateInhibition();
}

std::uint32_t TaviDisplay::flags(NativeWindow window) {
    std::lock_guard lock(lock_);
    auto found = windows_.find(window);
    return found == windows_.end() ? 0 : found->second;
}

std::size_t TaviDisplay::windowCount() {
    std::lock_guard lock(lock_);
    return windows_.size();
}

std::optional<std::chrono::milliseconds> TaviDisplay::timerInterval(DisplayKind kind) {
    std::lock_guard lock(lock_);
    KindState& s = state(kind);
    if (!s.timer)
        return std::nullopt;
    return s.interval;
}

NativeWindow TaviDisplay::inhibitedWindow() {
    std::lock_guard lock(lock_);
    return inhibitedWindow_;
}

} // namespace norv::script
