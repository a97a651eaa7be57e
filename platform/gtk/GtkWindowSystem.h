#pragma once
// The window system of one GtkWindow on X11, as the host's window model sees it.
//
// Framing: the look becomes the window's decorations and functions (_MOTIF_WM_HINTS), the
// utility type hint, skip-taskbar and keep-above. A window without any frame is
// undecorated; a sizing border without a title bar is a border alone. Whether the user
// may resize the window is told by the functions alone: GTK's own fixed size (equal
// minimum and maximum size hints) would also stop the program from sizing the window
// and the window manager from making it cover a monitor.
//
// Geometry: the window manager places windows asynchronously, but the model reads back
// what it placed right away (and moves relative to it), so what it asked for counts at
// once (PlacementTracker). Placements asked for in one turn of the main loop are sent as
// one. The window's gravity is static: a position sent is the client area's own, whatever
// frame the window manager has when it gets to the request, and a new frame leaves the
// client area where it is. Positions are taken from the window manager's own reports
// (synthetic ConfigureNotify, in root coordinates) and, while no window manager has
// reparented the window, from the X server's; a real ConfigureNotify of a reparented window
// tells its size alone, as its position is only known relative to a frame that may still
// be on its way. Frames are known before the window has them: once per process the window
// manager is asked which frame it draws for each kind of decoration, about unmapped windows
// (_NET_REQUEST_FRAME_EXTENTS); where it does not say, what it last reported for this
// window (_NET_FRAME_EXTENTS) stands in.
//
// State: a window with a title bar that the user may resize and maximise is maximised by
// the window manager; any other window is placed on the work area of its monitor by hand
// (window managers do not maximise windows of a fixed size). Covering a monitor is the
// window manager's full-screen state on that monitor. Both count as zoomed. The state is
// the program's own: what it asked for counts at once, and a report of the window manager
// changes it only when the reported state itself changed (the user maximised the window
// with its title bar, say).
//
// The pointer grab is a GDK seat grab of every pointing device; pointer motion and the
// release of the left button that reach the window are passed on to the events.

#include <optional>

#include "platform/glib/GObjectRef.h"
#include "platform/gtk/PlacementTracker.h"
#include "platform/gtk/WindowSystem.h"

typedef struct _GtkWindow GtkWindow;
typedef struct _GdkWindow GdkWindow;

namespace norv::platform::gtk {

class GtkWindowSystem final : public WindowSystem {
public:
    // Takes a reference on `window` and realises it.
    explicit GtkWindowSystem(GtkWindow* window);
    ~GtkWindowSystem() override;
    GtkWindowSystem(const GtkWindowSystem&) = delete;
    GtkWindowSystem& operator=(const GtkWindowSystem&) = delete;

    GtkWindow* window() const { return window_; }

    void setEvents(WindowEvents* events) override { events_ = events; }
    void applyLook(const WindowLook& look) override;
    FrameExtents frameExtentsFor(const WindowLook& look) const override;
    Rect windowRect() const override;
    Rect clientRect() const override;
    void setWindowRect(const Rect& outer) override;
    void moveWindowTo(Point topLeft) override;
    void resizeWindow(int outerWidth, int outerHeight) override;
    Rect normalPlacement() const override;
    bool isZoomed() const override;
    bool isMinimized() const override;
    void maximize() override;
    void coverMonitor(const Rect& monitor) override;
    void minimize() override;
    void restore() override;
    std::optional<MonitorArea> monitorNearest(Point point) const override;
    std::optional<MonitorArea> monitorOfWindow() const override;
    bool isLeftButtonDown() const override;
    Point pointerPosition() const override;
    bool hasCapture() const override { return captured_; }
    void setCapture() override;
    void releaseCapture() override;
    void setTitle(std::string_view title) override;
    std::string title() const override;

private:
    friend struct GtkWindowSystemSignals;

    enum class Zoom { normal, maximized, covering };
    struct State {
        Zoom zoom = Zoom::normal;
        bool minimized = false;
        friend bool operator==(const State&, const State&) = default;
    };

    State state() const { return state_; }
    bool maximizedByWindowManager() const;
    FrameExtents currentExtents() const;
    void placeClient(const Rect& client, bool move, bool size);
    // Sends the placement asked for last, if it was not sent yet.
    void flushPlacement();
    void onConfigure(const Rect& client, bool synthetic);
    void onFrameExtentsChanged();
    void onStateChanged(State actual);

    GtkWindow* window_;
    WindowEvents* events_ = nullptr;
    WindowLook look_;
    bool lookApplied_ = false;
    glib::GObjectRef<GdkWindow> gdkWindow_;
    PlacementTracker placement_;
    unsigned flushSource_ = 0;
    bool reparented_ = false; // a window manager put the window into a frame of its own
    State state_;
    State reportedState_;
    bool managerMaximized_ = false; // the window manager maximised it, not the program
    Rect normal_;
    // The frame as the window manager last reported it, and for which look and state.
    std::optional<FrameExtents> reported_;
    WindowLook reportedLook_;
    bool reportedZoomed_ = false;
    bool captured_ = false;
};

} // namespace norv::platform::gtk
