#include "tests/support/XWindows.h"

#include <cstdio>

#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <algorithm>
#include <ostream>

namespace norv::test {

std::ostream& operator<<(std::ostream& out, const Box& b) {
    return out << "(" << b.left << "," << b.top << " - " << b.right << "," << b.bottom << ")";
}

namespace {

// A window may go between two questions about it (a splash that closes, a dialog): Xlib's
// default handler would end the test for that. The question then simply has no answer.
int ignoreVanishedWindows(Display*, XErrorEvent* error) {
    if (error->error_code == BadWindow || error->error_code == BadDrawable)
        return 0;
    char text[128];
    XGetErrorText(error->display, error->error_code, text, sizeof text);
    std::fprintf(stderr, "X error: %s (request %d)\n", text, error->request_code);
    return 0;
}

} // namespace

XWindows::XWindows(const std::string& display) : display_(XOpenDisplay(display.c_str())) {
    XSetErrorHandler(ignoreVanishedWindows);
}

XWindows::~XWindows() {
    if (display_)
        XCloseDisplay(display_);
}

Box XWindows::client(XWindow window) {
    Window root = 0;
    Window child = 0;
    int x = 0;
    int y = 0;
    unsigned width = 0;
    unsigned height = 0;
    unsigned border = 0;
    unsigned depth = 0;
    if (!XGetGeometry(display_, window, &root, &x, &y, &width, &height, &border, &depth))
        return {};
    XTranslateCoordinates(display_, window, root, 0, 0, &x, &y, &child);
    return {x, y, x + static_cast<int>(width), y + static_cast<int>(height)};
}

std::vector<long> XWindows::frame(XWindow window) {
    return cardinals(window, "_NET_FRAME_EXTENTS", "CARDINAL");
}

Box XWindows::outer(XWindow window) {
    Box c = client(window);
    auto f = frame(window);
    if (f.size() != 4)
        return c;
    return {c.left - static_cast<int>(f[0]), c.top - static_cast<int>(f[2]),
            c.right + static_cast<int>(f[1]), c.bottom + static_cast<int>(f[3])};
}

long XWindows::decorations(XWindow window) {
    auto hints = cardinals(window, "_MOTIF_WM_HINTS", "_MOTIF_WM_HINTS");
    return hints.size() >= 3 ? hints[2] : -1;
}

long XWindows::functions(XWindow window) {
    auto hints = cardinals(window, "_MOTIF_WM_HINTS", "_MOTIF_WM_HINTS");
    return hints.size() >= 2 ? hints[1] : -1;
}

std::vector<std::string> XWindows::atoms(XWindow window, const char* property) {
    std::vector<std::string> names;
    for (long atom : cardinals(window, property, "ATOM")) {
        char* name = XGetAtomName(display_, static_cast<Atom>(atom));
        names.emplace_back(name ? name : "");
        XFree(name);
    }
    return names;
}

bool XWindows::hasState(XWindow window, const std::string& state) {
    auto states = atoms(window, "_NET_WM_STATE");
    return std::find(states.begin(), states.end(), state) != states.end();
}

std::string XWindows::windowType(XWindow window) {
    auto types = atoms(window, "_NET_WM_WINDOW_TYPE");
    return types.empty() ? "" : types.front();
}

Box XWindows::screen() {
    Screen* s = DefaultScreenOfDisplay(display_);
    return {0, 0, WidthOfScreen(s), HeightOfScreen(s)};
}

Box XWindows::workArea() {
    auto area = cardinals(DefaultRootWindow(display_), "_NET_WORKAREA", "CARDINAL");
    if (area.size() < 4)
        return screen();
    return {static_cast<int>(area[0]), static_cast<int>(area[1]),
            static_cast<int>(area[0] + area[2]), static_cast<int>(area[1] + area[3])};
}

bool XWindows::isViewable(XWindow window) {
    XWindowAttributes attributes{};
    return XGetWindowAttributes(display_, window, &attributes) &&
           attributes.map_state == IsViewable;
}

std::string XWindows::title(XWindow window) {
    char* name = nullptr;
    if (!XFetchName(display_, window, &name) || !name)
        return {};
    std::string text(name);
    XFree(name);
    return text;
}

void XWindows::requestClose(XWindow window) {
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(display_, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(XInternAtom(display_, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(display_, window, False, NoEventMask, &event);
    XFlush(display_);
}

void XWindows::watchMappedWindows() {
    XSelectInput(display_, DefaultRootWindow(display_), SubstructureNotifyMask);
    XSync(display_, False);
}

std::set<XWindow> XWindows::mappedWindows() {
    XSync(display_, False);
    while (XPending(display_) > 0) {
        XEvent event;
        XNextEvent(display_, &event);
        if (event.type == MapNotify)
            mapped_.insert(event.xmap.window);
    }
    return mapped_;
}

std::vector<long> XWindows::cardinals(XWindow window, const char* property, const char* type) {
    Atom actual = None;
    int format = 0;
    unsigned long count = 0;
    unsigned long after = 0;
    unsigned char* data = nullptr;
    std::vector<long> values;
    if (XGetWindowProperty(display_, window, XInternAtom(display_, property, False), 0, 64, False,
                           XInternAtom(display_, type, False), &actual, &format, &count, &after,
                           &data) == Success &&
        data && format == 32) {
        auto* items = reinterpret_cast<long*>(data);
        values.assign(items, items + count);
    }
    if (data)
        XFree(data);
    return values;
}

} // namespace norv::test
