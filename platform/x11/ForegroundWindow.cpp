#include "platform/x11/ForegroundWindow.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace norv::platform::x11 {

namespace {
// Bounds on walks through window relations a faulty client could make circular or deep.
constexpr int kMaxDepth = 64;
constexpr int kMaxTransientHops = 16;
} // namespace

ForegroundWindow::ForegroundWindow(X11Connection& connection) : connection_(connection) {
    Display* display = connection_.display();
    if (!display)
        return;
    activeAtom_ = XInternAtom(display, "_NET_ACTIVE_WINDOW", False);
    // This connection's own event mask on the root: nobody else's selection changes.
    XSelectInput(display, connection_.root(), PropertyChangeMask);
    XFlush(display);
}

XWindow ForegroundWindow::active() {
    Display* display = connection_.display();
    if (!display)
        return 0;
    X11ErrorTrap trap(display);
    Atom type = 0;
    int format = 0;
    unsigned long count = 0;
    unsigned long after = 0;
    unsigned char* data = nullptr;
    XWindow window = 0;
    if (XGetWindowProperty(display, connection_.root(), activeAtom_, 0, 1, False, XA_WINDOW, &type,
                           &format, &count, &after, &data) == Success &&
        data) {
        if (type == XA_WINDOW && format == 32 && count == 1)
            window = reinterpret_cast<unsigned long*>(data)[0];
        XFree(data);
    }
    return window;
}

std::set<XWindow> ForegroundWindow::ancestry(XWindow window) {
    std::set<XWindow> windows;
    Display* display = connection_.display();
    const XWindow root = connection_.root();
    X11ErrorTrap trap(display);
    for (int depth = 0; window != 0 && window != root && depth < kMaxDepth; ++depth) {
        windows.insert(window);
        Window rootReturn = 0;
        Window parent = 0;
        Window* children = nullptr;
        unsigned count = 0;
        if (!XQueryTree(display, window, &rootReturn, &parent, &children, &count))
            break;
        if (children)
            XFree(children);
        window = parent;
    }
    return windows;
}

bool ForegroundWindow::isInFront(XWindow window) {
    Display* display = connection_.display();
    if (!display || window == 0)
        return false;
    XWindow front = active();
    if (front == 0)
        return false;
    const std::set<XWindow> mine = ancestry(window);
    X11ErrorTrap trap(display);
    for (int hop = 0; front != 0 && hop < kMaxTransientHops; ++hop) {
        if (mine.contains(front))
            return true;
        Window owner = 0;
        if (!XGetTransientForHint(display, front, &owner) || owner == front)
            break;
        front = owner;
    }
    return false;
}

bool ForegroundWindow::watch(XWindow window) {
    Display* display = connection_.display();
    if (!display || window == 0)
        return false;
    X11ErrorTrap trap(display);
    XSelectInput(display, window, StructureNotifyMask);
    return trap.sync() == 0;
}

void ForegroundWindow::unwatch(XWindow window) {
    Display* display = connection_.display();
    if (!display || window == 0)
        return;
    X11ErrorTrap trap(display);
    XSelectInput(display, window, NoEventMask);
}

bool ForegroundWindow::hasQueuedEvents() {
    Display* display = connection_.display();
    return display && XPending(display) > 0;
}

void ForegroundWindow::processEvents(const std::function<void()>& activeChanged,
                                     const std::function<void(XWindow)>& destroyed) {
    Display* display = connection_.display();
    if (!display)
        return;
    bool changed = false;
    while (XPending(display) > 0) {
        XEvent event;
        XNextEvent(display, &event);
        if (event.type == PropertyNotify && event.xproperty.atom == activeAtom_)
            changed = true;
        else if (event.type == DestroyNotify &&
                 event.xdestroywindow.window == event.xdestroywindow.event)
            destroyed(event.xdestroywindow.window);
    }
    if (changed)
        activeChanged();
}

} // namespace norv::platform::x11
