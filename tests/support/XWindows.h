#pragma once
// Test support: what the X server tells about the windows on a display, as a user (or the
// window manager) sees them: placement and frame, the window manager hints and states a
// program set, which windows were mapped, and requests to close.

#include <set>
#include <string>
#include <vector>

typedef struct _XDisplay Display;

namespace norv::test {

using XWindow = unsigned long;

struct Box {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
    int width() const { return right - left; }
    int height() const { return bottom - top; }
    friend bool operator==(const Box&, const Box&) = default;
};
std::ostream& operator<<(std::ostream& out, const Box& b);

class XWindows {
public:
    explicit XWindows(const std::string& display);
    ~XWindows();
    XWindows(const XWindows&) = delete;
    XWindows& operator=(const XWindows&) = delete;
    explicit operator bool() const { return display_ != nullptr; }

    // The client area in root coordinates.
    Box client(XWindow window);
    // The frame widths (left, right, top, bottom) of _NET_FRAME_EXTENTS; empty without it.
    std::vector<long> frame(XWindow window);
    // The client area grown by the frame.
    Box outer(XWindow window);
    // _MOTIF_WM_HINTS decorations and functions; -1 without the property.
    long decorations(XWindow window);
    long functions(XWindow window);
    // The names of the atoms of an ATOM list property.
    std::vector<std::string> atoms(XWindow window, const char* property);
    bool hasState(XWindow window, const std::string& state);
    std::string windowType(XWindow window);
    // The root window's size and the window manager's work area.
    Box screen();
    Box workArea();
    bool isViewable(XWindow window);
    std::string title(XWindow window);

    // Asks a window to close, as a window manager does (WM_DELETE_WINDOW).
    void requestClose(XWindow window);

    // From now on, notes every window mapped on the screen (the frames the window manager
    // maps, and windows placed without it, such as menus).
    void watchMappedWindows();
    // The windows mapped since watchMappedWindows, up to everything the server did so far.
    std::set<XWindow> mappedWindows();

private:
    std::vector<long> cardinals(XWindow window, const char* property, const char* type);

    Display* display_;
    std::set<XWindow> mapped_;
};

// Motif hint bits as the window manager reads them.
namespace motif {
inline constexpr long decorBorder = 2;
inline constexpr long decorResizeHandle = 4;
inline constexpr long decorTitle = 8;
inline constexpr long funcResize = 2;
} // namespace motif

} // namespace norv::test
