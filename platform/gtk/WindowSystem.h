#pragma once
// What the host's window model asks of the window system for one top-level window: how it
// is framed and listed, its rectangles, placement and state, the monitors around it, the
// pointer's left button and the pointer grab, and the pointer and activation events that
// reach it. Plain C++: the model and its tests see no toolkit.
//
// Geometry is in the desktop's logical pixels; rectangles are in screen coordinates with
// exclusive right and bottom edges. The window rectangle is the outer one, frame included;
// the client rectangle is the area inside the frame.

#include <optional>
#include <string>
#include <string_view>

namespace norv::platform::gtk {

struct Point {
    int x = 0;
    int y = 0;
    friend bool operator==(const Point&, const Point&) = default;
};

struct Rect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;

    static Rect fromOriginSize(int x, int y, int width, int height) {
        return {x, y, x + width, y + height};
    }
    int width() const { return right - left; }
    int height() const { return bottom - top; }
    bool isEmpty() const { return right <= left || bottom <= top; }
    bool contains(Point p) const {
        return p.x >= left && p.x < right && p.y >= top && p.y < bottom;
    }
    Point topLeft() const { return {left, top}; }
    Rect offsetBy(int dx, int dy) const { return {left + dx, top + dy, right + dx, bottom + dy}; }
    friend bool operator==(const Rect&, const Rect&) = default;
};

// How wide the frame drawn around the client area is on each side.
struct FrameExtents {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
    friend bool operator==(const FrameExtents&, const FrameExtents&) = default;
};

// A monitor's whole rectangle and the part of it that windows may use (without panels).
struct MonitorArea {
    Rect monitor;
    Rect workArea;
};

// How a window presents itself.
struct WindowLook {
    bool titled = true;      // a title bar
    bool bordered = true;    // a frame of any kind (title bar, sizing or dialog border)
    bool sizable = false;    // the user may resize it
    bool minimizeBox = true; // the title bar offers minimising
    bool maximizeBox = true; // the title bar offers maximising
    bool toolWindow = false; // a utility window
    bool taskbar = true;     // listed in the taskbar
    bool keepAbove = false;  // kept above ordinary windows
    friend bool operator==(const WindowLook&, const WindowLook&) = default;
};

// What the window tells its model.
class WindowEvents {
public:
    // The pointer moved (reported while the window holds the grab, and whenever the pointer
    // moves over the window's own surface); `leftButton` is the button's state then.
    virtual void onPointerMotion(Point screen, bool leftButton) = 0;
    virtual void onLeftButtonUp() = 0;
    // The window became the active one.
    virtual void onActivated() = 0;

protected:
    ~WindowEvents() = default;
};

class WindowSystem {
public:
    virtual ~WindowSystem() = default;

    // Who hears the window's events (nullptr: nobody).
    virtual void setEvents(WindowEvents* events) = 0;

    // Frames and lists the window as `look` says; the window rectangle stays where it is
    // (the client area grows or shrinks inside it).
    virtual void applyLook(const WindowLook& look) = 0;
    // The frame the window would get with `look`.
    virtual FrameExtents frameExtentsFor(const WindowLook& look) const = 0;

    // The rectangles as last placed (a placement asked for counts at once, as the window
    // system carries it out later).
    virtual Rect windowRect() const = 0;
    virtual Rect clientRect() const = 0;
    virtual void setWindowRect(const Rect& outer) = 0;
    virtual void moveWindowTo(Point topLeft) = 0;
    virtual void resizeWindow(int outerWidth, int outerHeight) = 0;
    // The window rectangle it has (or gets back) when neither maximised nor minimised.
    virtual Rect normalPlacement() const = 0;

    // Maximised, or covering its monitor (and not minimised).
    virtual bool isZoomed() const = 0;
    virtual bool isMinimized() const = 0;
    virtual void maximize() = 0;
    // Covers `monitor` (a monitor's rectangle) exactly, above everything else.
    virtual void coverMonitor(const Rect& monitor) = 0;
    virtual void minimize() = 0;
    // Back to the normal placement from maximised, covering or minimised.
    virtual void restore() = 0;

    // The monitor that holds `point`, or the one nearest to it; nothing when the window
    // system cannot tell.
    virtual std::optional<MonitorArea> monitorNearest(Point point) const = 0;
    // The monitor that shows most of the window.
    virtual std::optional<MonitorArea> monitorOfWindow() const = 0;

    virtual bool isLeftButtonDown() const = 0;
    // Where the pointer is now, in screen coordinates.
    virtual Point pointerPosition() const = 0;
    // The pointer grab: while the window holds it, every pointer event goes to it.
    virtual bool hasCapture() const = 0;
    virtual void setCapture() = 0;
    virtual void releaseCapture() = 0;

    // The window's title, UTF-8.
    virtual void setTitle(std::string_view title) = 0;
    virtual std::string title() const = 0;
};

} // namespace norv::platform::gtk
