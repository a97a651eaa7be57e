#include "platform/x11/X11Connection.h"

#include <X11/Xlib.h>

#include <utility>

namespace norv::platform::x11 {

namespace {
using ErrorHandler = int (*)(Display*, XErrorEvent*);

// The innermost trap of this thread; the UI thread is the only one that uses Xlib here.
thread_local X11ErrorTrap* innermost = nullptr;

int trapHandler(Display* display, XErrorEvent* error) {
    for (X11ErrorTrap* trap = innermost; trap; trap = trap->outer()) {
        if (trap->display() == display) {
            trap->record(error->error_code);
            return 0;
        }
    }
    // Not ours: pass it on to the handler that was there before the outermost trap.
    X11ErrorTrap* outermost = innermost;
    while (outermost && outermost->outer())
        outermost = outermost->outer();
    auto previous =
        outermost ? reinterpret_cast<ErrorHandler>(outermost->previousHandler()) : nullptr;
    return previous ? previous(display, error) : 0;
}
} // namespace

X11Connection::X11Connection(const std::string& displayName)
    : display_(XOpenDisplay(displayName.empty() ? nullptr : displayName.c_str())) {}

X11Connection::~X11Connection() {
    if (display_)
        XCloseDisplay(display_);
}

int X11Connection::fd() const {
    return display_ ? ConnectionNumber(display_) : -1;
}

XWindow X11Connection::root() const {
    return display_ ? DefaultRootWindow(display_) : 0;
}

void X11Connection::flush() {
    if (display_)
        XFlush(display_);
}

X11ErrorTrap::X11ErrorTrap(Display* display) : display_(display), outer_(innermost) {
    // Errors of requests sent before the trap belong to whoever sent them.
    XSync(display_, False);
    innermost = this;
    previousHandler_ = reinterpret_cast<void*>(XSetErrorHandler(trapHandler));
}

X11ErrorTrap::~X11ErrorTrap() {
    XSync(display_, False);
    XSetErrorHandler(reinterpret_cast<ErrorHandler>(previousHandler_));
    innermost = outer_;
}

int X11ErrorTrap::sync() {
    XSync(display_, False);
    return std::exchange(error_, 0);
}

} // namespace norv::platform::x11
