#pragma once
// ForegroundWindow: which window is in front, as the window manager says
// (_NET_ACTIVE_WINDOW on the root window), and whether that puts a given window in front:
// the active window is that window, one of its ancestors, or a dialog of it or of one of
// its ancestors (its WM_TRANSIENT_FOR chain reaches them). Also reports, through
// processEvents, when the active window changes and when a watched window is destroyed.

#include <functional>
#include <set>

#include "platform/x11/X11Connection.h"

namespace norv::platform::x11 {

class ForegroundWindow {
public:
    // Starts listening for changes of the active window.
    explicit ForegroundWindow(X11Connection& connection);

    // The active window; 0 when none is active or no window manager says.
    XWindow active();
    // Whether `window` is in front (see above); false for 0.
    bool isInFront(XWindow window);

    // Reports the destruction of `window`; false when there is no such window.
    bool watch(XWindow window);
    void unwatch(XWindow window);

    // Whether events wait in the connection's queue (read while answering a request).
    bool hasQueuedEvents();
    // Handles every event that has arrived.
    void processEvents(const std::function<void()>& activeChanged,
                       const std::function<void(XWindow)>& destroyed);

private:
    std::set<XWindow> ancestry(XWindow window);

    X11Connection& connection_;
    unsigned long activeAtom_ = 0;
};

} // namespace norv::platform::x11
