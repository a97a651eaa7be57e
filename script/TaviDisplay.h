#pragma once
// TaviDisplay: the display service of a platform object (ITaviDisplay,
// getService("display")). A page calls enableScreenSaver(window, false) or
// enablePowerOff(window, false) to keep the screen saver or the display's power-off away
// while its window is in front, and the same with true to allow them again.
//
// The service keeps a table of the windows that asked, each with a flag word (1 power-off
// kept away, 2 screen saver kept away; a window without bits is not in the table), and one
// timer per kind while some window keeps that kind away. The interval is 80 % of the
// kind's time-out, or 10 000 ms when the time-out is 0 or cannot be read; the time-out is
// read again at each tick and the timer restarted when it changed. A tick acts only while
// a window that keeps the timer's kind away is in front: it writes the time-out back
// (0, then the value read, so the setting stays the user's) and restarts the desktop's
// idle countdown. While any registered window is in front the service also holds the
// desktop's idle inhibition, and gives it back as soon as no such window is in front, the
// window is allowed again or destroyed, or the service goes away.
//
// Allowing a kind again for one window stops that kind's timer only when no other window
// still keeps the kind away.
//
// UI thread only (script calls, timer ticks and desktop notifications).

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <unordered_map>

#include "platform/com/DispatchObject.h"
#include "script/DisplayDesktop.h"
#include "typelib/ShellInterfaces.h"

namespace norv::script {

class TaviDisplay final : public com::DispatchObject<TaviDisplay, typelib::ITaviDisplay>,
                          private DisplayDesktop::Observer {
public:
    // Finds the native window of the window object script hands in. A failure is
    // returned to script as it is.
    using WindowResolver = std::function<com::HRESULT(com::IDispatch* window, NativeWindow* out)>;

    // The default resolver: the window object answers INativeWindowHandle. E_POINTER for
    // a null object, E_NOINTERFACE for one that is no page window.
    static com::HRESULT resolveNativeWindowHandle(com::IDispatch* window, NativeWindow* out);

    // The timer interval for a time-out of `seconds` (0: none or unreadable).
    static std::chrono::milliseconds intervalFor(std::uint32_t seconds);

    explicit TaviDisplay(std::shared_ptr<DisplayDesktop> desktop,
                         WindowResolver resolver = resolveNativeWindowHandle);
    ~TaviDisplay() override;

    // ITaviDisplay
    com::HRESULT enableScreenSaver(com::IDispatch* window, com::VARIANT_BOOL newVal) override;
    com::HRESULT enablePowerOff(com::IDispatch* window, com::VARIANT_BOOL newVal) override;

    // The flag word of `window` (0 when it is not in the table), for diagnostics and tests.
    std::uint32_t flags(NativeWindow window);
    std::size_t windowCount();
    // The interval of the kind's running timer; nullopt when none runs.
    std::optional<std::chrono::milliseconds> timerInterval(DisplayKind kind);
    // The window for which the desktop's idle inhibition is held; 0 when none is.
    NativeWindow inhibitedWindow();

private:
    struct KindState {
        std::unique_ptr<DisplayDesktop::Handle> timer;
        std::optional<std::uint32_t> timeout; // what the running timer was started from
        std::chrono::milliseconds interval{0};
    };

    com::HRESULT enable(com::IDispatch* window, com::VARIANT_BOOL newVal, DisplayKind kind);
    com::HRESULT arm(DisplayKind kind);
    void tick(DisplayKind kind);
    bool keptAway(DisplayKind kind) const;
    void stopUnused();
    void updateInhibition();
    KindState& state(DisplayKind kind) {
        return kind == DisplayKind::powerOff ? powerOff_ : screenSaver_;
    }

    // DisplayDesktop::Observer
    void foregroundChanged() override;
    void windowDestroyed(NativeWindow window) override;

    std::recursive_mutex lock_;
    std::shared_ptr<DisplayDesktop> desktop_;
    WindowResolver resolver_;
    std::unordered_map<NativeWindow, std::uint32_t> windows_;
    KindState powerOff_;
    KindState screenSaver_;
    std::unique_ptr<DisplayDesktop::Handle> inhibition_;
    NativeWindow inhibitedWindow_ = 0;
};

} // namespace norv::script
