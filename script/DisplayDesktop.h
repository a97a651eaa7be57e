#pragma once
// What the display service needs from the desktop: the screen-saver and power-off
// time-outs, the restart of the idle countdown, which window is in front, timers, and the
// desktop's own idle inhibition. The program's implementation is X11DisplayDesktop; unit
// tests use their own.

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

namespace norv::script {

// A page's native window: its X window id. 0 is no window.
using NativeWindow = std::uint64_t;

// The two things a page can keep away, with their bit in a window's flag word.
enum class DisplayKind : std::uint32_t { powerOff = 1, screenSaver = 2 };

class DisplayDesktop {
public:
    // Something that lasts as long as this object: a running timer, a held inhibition.
    class Handle {
    public:
        virtual ~Handle() = default;
    };

    // Desktop changes that matter to a display service. Called from the main loop, never
    // from inside a call the service makes.
    class Observer {
    public:
        virtual void foregroundChanged() = 0;
        // A window given to watchWindow was destroyed.
        virtual void windowDestroyed(NativeWindow window) = 0;

    protected:
        ~Observer() = default;
    };

    virtual ~DisplayDesktop() = default;

    // The kind's time-out in seconds (0: the desktop never starts it); nullopt when it
    // cannot be read.
    virtual std::optional<std::uint32_t> timeout(DisplayKind kind) = 0;
    // Writes the time-out 0 and then the current value again; false when writing the
    // value back failed.
    virtual bool rewriteTimeout(DisplayKind kind) = 0;
    // Restarts the desktop's idle countdown, as user input would.
    virtual void resetIdle() = 0;

    // Whether `window` is in front: the foreground window is it, contains it, or is a
    // dialog of its top-level window.
    virtual bool isInFront(NativeWindow window) = 0;

    // Calls `tick` every `interval` until the handle goes. The kind is for diagnostics.
    virtual std::unique_ptr<Handle> startTimer(DisplayKind kind, std::chrono::milliseconds interval,
                                               std::function<void()> tick) = 0;

    // Asks the desktop not to consider the session idle while the handle lives (the
    // window is the one in front that asks). Null when nothing could be asked.
    virtual std::unique_ptr<Handle> inhibitIdle(NativeWindow window) = 0;

    // Reports the destruction of `window` to the observers; false when it does not exist.
    virtual bool watchWindow(NativeWindow window) = 0;
    virtual void unwatchWindow(NativeWindow window) = 0;

    virtual void addObserver(Observer* observer) = 0;
    virtual void removeObserver(Observer* observer) = 0;
};

} // namespace norv::script
