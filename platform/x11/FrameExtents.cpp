#include "platform/x11/FrameExtents.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <poll.h>

#include <algorithm>

namespace norv::platform::x11 {

namespace {

// Reads a property of 32-bit items; `out` receives at most `capacity` of them.
int readCardinals(Display* display, Window window, Atom property, Atom type, long* out,
                  unsigned long capacity) {
    Atom actualType = None;
    int actualFormat = 0;
    unsigned long count = 0;
    unsigned long after = 0;
    unsigned char* data = nullptr;
    int status = XGetWindowProperty(display, window, property, 0, static_cast<long>(capacity),
                                    False, type, &actualType, &actualFormat, &count, &after, &data);
    int read = 0;
    if (status == Success && data != nullptr && actualType == type && actualFormat == 32) {
        // Format-32 items arrive as longs, whatever the size of a long.
        auto* items = reinterpret_cast<long*>(data);
        for (unsigned long i = 0; i < count && i < capacity; ++i)
            out[read++] = items[i];
    }
    if (data != nullptr)
        XFree(data);
    return read;
}

} // namespace

std::optional<FrameExtents> readFrameExtents(Display* display, unsigned long window) {
    long values[4] = {};
    Atom property = XInternAtom(display, "_NET_FRAME_EXTENTS", False);
    if (readCardinals(display, window, property, XA_CARDINAL, values, 4) != 4)
        return std::nullopt;
    for (long v : values)
        if (v < 0 || v > 0xFFFF)
            return std::nullopt;
    return FrameExtents{values[0], values[1], values[2], values[3]};
}

void requestFrameExtents(Display* display, unsigned long window) {
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(display, "_NET_REQUEST_FRAME_EXTENTS", False);
    event.xclient.format = 32;
    XSendEvent(display, DefaultRootWindow(display), False,
               SubstructureRedirectMask | SubstructureNotifyMask, &event);
    XFlush(display);
}

namespace {

bool supportsRequest(Display* display) {
    Atom supported = XInternAtom(display, "_NET_SUPPORTED", False);
    Atom wanted = XInternAtom(display, "_NET_REQUEST_FRAME_EXTENTS", False);
    long atoms[1024];
    int n = readCardinals(display, DefaultRootWindow(display), supported, XA_ATOM, atoms, 1024);
    return std::find(atoms, atoms + n, static_cast<long>(wanted)) != atoms + n;
}

// An X connection of its own, so that its events never mix with the toolkit's.
class Connection {
public:
    explicit Connection(const char* name) : display_(XOpenDisplay(name)) {}
    ~Connection() {
        if (display_)
            XCloseDisplay(display_);
    }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;
    Display* get() const { return display_; }

private:
    Display* display_;
};

} // namespace

std::vector<std::optional<FrameExtents>> probeFrameExtents(const char* displayName,
                                                           const std::vector<MotifHints>& kinds,
                                                           std::chrono::milliseconds timeout) {
    std::vector<std::optional<FrameExtents>> answers(kinds.size());
    Connection connection(displayName);
    Display* display = connection.get();
    if (!display || !supportsRequest(display))
        return answers;
    Atom motif = XInternAtom(display, "_MOTIF_WM_HINTS", False);
    Atom frame = XInternAtom(display, "_NET_FRAME_EXTENTS", False);
    std::vector<Window> windows;
    for (const MotifHints& kind : kinds) {
        Window w =
            XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 100, 100, 0, 0, 0);
        XSelectInput(display, w, PropertyChangeMask);
        // Flags: functions and decorations are given.
        long hints[5] = {3, kind.functions, kind.decorations, 0, 0};
        XChangeProperty(display, w, motif, motif, 32, PropModeReplace,
                        reinterpret_cast<unsigned char*>(hints), 5);
        requestFrameExtents(display, w);
        windows.push_back(w);
    }
    auto deadline = std::chrono::steady_clock::now() + timeout;
    std::size_t answered = 0;
    while (answered < kinds.size()) {
        while (XPending(display) > 0) {
            XEvent event;
            XNextEvent(display, &event);
            if (event.type != PropertyNotify || event.xproperty.atom != frame)
                continue;
            auto at = std::find(windows.begin(), windows.end(), event.xproperty.window);
            if (at == windows.end() || answers[at - windows.begin()])
                continue;
            answers[at - windows.begin()] = readFrameExtents(display, event.xproperty.window);
            if (answers[at - windows.begin()])
                ++answered;
        }
        if (answered == kinds.size())
            break;
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            break;
        pollfd p{ConnectionNumber(display), POLLIN, 0};
        ::poll(&p, 1, static_cast<int>(left.count()));
    }
    for (Window w : windows)
        XDestroyWindow(display, w);
    XSync(display, False);
    return answers;
}

} // namespace norv::platform::x11
