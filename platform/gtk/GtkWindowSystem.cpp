#include "platform/gtk/GtkWindowSystem.h"

#include <gdk/gdkx.h>
#include <gtk/gtk.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "platform/x11/FrameExtents.h"

namespace norv::platform::gtk {

namespace {

// The kinds of frame a window manager draws; windows of one kind get the same extents.
enum class FrameClass { none, border, titledFixed, titledSizable };

FrameClass frameClassOf(const WindowLook& look) {
    if (!look.bordered)
        return FrameClass::none;
    if (!look.titled)
        return FrameClass::border;
    return look.sizable ? FrameClass::titledSizable : FrameClass::titledFixed;
}

// What the window manager told about each kind of frame (one display per process).
std::map<FrameClass, FrameExtents>& knownFrames() {
    static std::map<FrameClass, FrameExtents> frames;
    return frames;
}

GdkWMDecoration decorationsOf(const WindowLook& look) {
    if (!look.bordered)
        return GdkWMDecoration(0);
    if (!look.titled)
        return GDK_DECOR_BORDER;
    int d = GDK_DECOR_BORDER | GDK_DECOR_TITLE | GDK_DECOR_MENU;
    if (look.sizable)
        d |= GDK_DECOR_RESIZEH;
    if (look.minimizeBox)
        d |= GDK_DECOR_MINIMIZE;
    if (look.maximizeBox)
        d |= GDK_DECOR_MAXIMIZE;
    return GdkWMDecoration(d);
}

GdkWMFunction functionsOf(const WindowLook& look) {
    int f = GDK_FUNC_MOVE | GDK_FUNC_CLOSE;
    if (look.sizable)
        f |= GDK_FUNC_RESIZE;
    if (look.minimizeBox)
        f |= GDK_FUNC_MINIMIZE;
    if (look.maximizeBox)
        f |= GDK_FUNC_MAXIMIZE;
    return GdkWMFunction(f);
}

// Learns, once per process, which frame the window manager draws for each kind of frame.
void probeFrames(GtkWindow* window) {
    static bool probed = false;
    if (probed)
        return;
    probed = true;
    std::vector<FrameClass> kinds{FrameClass::titledFixed, FrameClass::titledSizable,
                                  FrameClass::border};
    std::vector<x11::MotifHints> hints;
    for (FrameClass kind : kinds) {
        WindowLook look;
        look.titled = kind != FrameClass::border;
        look.sizable = kind != FrameClass::titledFixed;
        hints.push_back({functionsOf(look), decorationsOf(look)});
    }
    const char* display = gdk_display_get_name(gtk_widget_get_display(GTK_WIDGET(window)));
    auto answers = x11::probeFrameExtents(display, hints, std::chrono::milliseconds(250));
    for (std::size_t i = 0; i < kinds.size(); ++i)
        if (const auto& e = answers[i])
            knownFrames()[kinds[i]] = {static_cast<int>(e->left), static_cast<int>(e->top),
                                       static_cast<int>(e->right), static_cast<int>(e->bottom)};
}

// Decorations and functions as the window manager reads them: GTK writes its own
// (everything or nothing) whenever GTK's decorated flag changes, so ours come after.
void writeFrameHints(GtkWindow* window, const WindowLook& look) {
    gtk_window_set_decorated(window, look.bordered);
    if (GdkWindow* gdk = gtk_widget_get_window(GTK_WIDGET(window))) {
        gdk_window_set_decorations(gdk, decorationsOf(look));
        gdk_window_set_functions(gdk, functionsOf(look));
    }
}

bool isX11(GtkWindow* window) {
    return GDK_IS_X11_DISPLAY(gtk_widget_get_display(GTK_WIDGET(window)));
}

Display* xDisplayOf(GtkWindow* window) {
    return gdk_x11_display_get_xdisplay(gtk_widget_get_display(GTK_WIDGET(window)));
}

unsigned long xWindowOf(GtkWindow* window) {
    return gdk_x11_window_get_xid(gtk_widget_get_window(GTK_WIDGET(window)));
}

std::optional<FrameExtents> readFrameOf(GtkWindow* window) {
    auto frame = x11::readFrameExtents(xDisplayOf(window), xWindowOf(window));
    if (!frame)
        return std::nullopt;
    return FrameExtents{static_cast<int>(frame->left), static_cast<int>(frame->top),
                        static_cast<int>(frame->right), static_cast<int>(frame->bottom)};
}

bool isFrameExtentsAtom(GdkAtom atom) {
    return atom == gdk_atom_intern_static_string("_NET_FRAME_EXTENTS");
}

Rect toRect(const GdkRectangle& r) {
    return Rect::fromOriginSize(r.x, r.y, r.width, r.height);
}

MonitorArea areaOf(GdkMonitor* monitor) {
    GdkRectangle geometry;
    GdkRectangle work;
    gdk_monitor_get_geometry(monitor, &geometry);
    gdk_monitor_get_workarea(monitor, &work);
    return {toRect(geometry), toRect(work)};
}

Rect shrink(const Rect& r, const FrameExtents& e) {
    return {r.left + e.left, r.top + e.top, r.right - e.right, r.bottom - e.bottom};
}

Rect grow(const Rect& r, const FrameExtents& e) {
    return {r.left - e.left, r.top - e.top, r.right + e.right, r.bottom + e.bottom};
}

const int kWindowEvents = GDK_POINTER_MOTION_MASK | GDK_BUTTON_RELEASE_MASK |
                          GDK_PROPERTY_CHANGE_MASK | GDK_STRUCTURE_MASK;

void addWindowEvents(GtkWidget* widget) {
    gtk_widget_add_events(widget, kWindowEvents);
    if (GdkWindow* gdk = gtk_widget_get_window(widget))
        gdk_window_set_events(gdk, GdkEventMask(gdk_window_get_events(gdk) | kWindowEvents));
}

} // namespace

struct GtkWindowSystemSignals {
    static gboolean configure(GtkWidget*, GdkEventConfigure* e, gpointer data) {
        static_cast<GtkWindowSystem*>(data)->onConfigure(
            Rect::fromOriginSize(e->x, e->y, e->width, e->height), e->send_event != 0);
        return FALSE;
    }
    // Whether a window manager put the window into a frame (or took it out again).
    static GdkFilterReturn xEvent(GdkXEvent* xevent, GdkEvent*, gpointer data) {
        auto* self = static_cast<GtkWindowSystem*>(data);
        const auto* e = static_cast<const XEvent*>(xevent);
        if (e->type == ReparentNotify &&
            e->xreparent.window == gdk_x11_window_get_xid(self->gdkWindow_.get()))
            self->reparented_ = e->xreparent.parent != gdk_x11_get_default_root_xwindow();
        return GDK_FILTER_CONTINUE;
    }
    static gboolean flush(gpointer data) {
        auto* self = static_cast<GtkWindowSystem*>(data);
        self->flushSource_ = 0;
        self->flushPlacement();
        return G_SOURCE_REMOVE;
    }
    static gboolean property(GtkWidget*, GdkEventProperty* e, gpointer data) {
        if (isFrameExtentsAtom(e->atom))
            static_cast<GtkWindowSystem*>(data)->onFrameExtentsChanged();
        return FALSE;
    }
    static gboolean windowState(GtkWidget*, GdkEventWindowState* e, gpointer data) {
        GtkWindowSystem::State state;
        if (e->new_window_state & GDK_WINDOW_STATE_FULLSCREEN)
            state.zoom = GtkWindowSystem::Zoom::covering;
        else if (e->new_window_state & GDK_WINDOW_STATE_MAXIMIZED)
            state.zoom = GtkWindowSystem::Zoom::maximized;
        state.minimized = (e->new_window_state & GDK_WINDOW_STATE_ICONIFIED) != 0;
        static_cast<GtkWindowSystem*>(data)->onStateChanged(state);
        return FALSE;
    }
    // The events may close the window: nothing of the object is touched after them.
    static gboolean motion(GtkWidget*, GdkEventMotion* e, gpointer data) {
        auto* self = static_cast<GtkWindowSystem*>(data);
        gboolean consumed = self->captured_;
        if (WindowEvents* events = self->events_)
            events->onPointerMotion({static_cast<int>(e->x_root), static_cast<int>(e->y_root)},
                                    (e->state & GDK_BUTTON1_MASK) != 0);
        return consumed;
    }
    static gboolean buttonRelease(GtkWidget*, GdkEventButton* e, gpointer data) {
        auto* self = static_cast<GtkWindowSystem*>(data);
        gboolean consumed = self->captured_;
        if (e->button == GDK_BUTTON_PRIMARY)
            if (WindowEvents* events = self->events_)
                events->onLeftButtonUp();
        return consumed;
    }
    static gboolean grabBroken(GtkWidget*, GdkEventGrabBroken*, gpointer data) {
        static_cast<GtkWindowSystem*>(data)->captured_ = false;
        return FALSE;
    }
    static void activeChanged(GObject* window, GParamSpec*, gpointer data) {
        auto* self = static_cast<GtkWindowSystem*>(data);
        if (gtk_window_is_active(GTK_WINDOW(window)))
            if (WindowEvents* events = self->events_)
                events->onActivated();
    }
};

GtkWindowSystem::GtkWindowSystem(GtkWindow* window) : window_(window) {
    g_object_ref(window_);
    GtkWidget* widget = GTK_WIDGET(window_);
    // GTK's fixed size would stop the program's own placements (see the header).
    gtk_window_set_resizable(window_, TRUE);
    // Positions are the client area's own (see the header).
    gtk_window_set_gravity(window_, GDK_GRAVITY_STATIC);
    addWindowEvents(widget);
    gtk_widget_realize(widget);
    addWindowEvents(widget);
    gdkWindow_ = glib::GObjectRef<GdkWindow>::retain(gtk_widget_get_window(widget));
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    gtk_window_get_position(window_, &x, &y);
    gtk_window_get_size(window_, &width, &height);
    placement_ = PlacementTracker(Rect::fromOriginSize(x, y, width, height));
    normal_ = placement_.actual();
    using S = GtkWindowSystemSignals;
    g_signal_connect(widget, "configure-event", G_CALLBACK(S::configure), this);
    g_signal_connect(widget, "property-notify-event", G_CALLBACK(S::property), this);
    g_signal_connect(widget, "window-state-event", G_CALLBACK(S::windowState), this);
    g_signal_connect(widget, "motion-notify-event", G_CALLBACK(S::motion), this);
    g_signal_connect(widget, "button-release-event", G_CALLBACK(S::buttonRelease), this);
    g_signal_connect(widget, "grab-broken-event", G_CALLBACK(S::grabBroken), this);
    g_signal_connect(widget, "notify::is-active", G_CALLBACK(S::activeChanged), this);
    if (isX11(window_)) {
        gdk_window_add_filter(gdkWindow_.get(), S::xEvent, this);
        probeFrames(window_);
        reported_ = readFrameOf(window_);
        reportedLook_ = look_;
    }
}

GtkWindowSystem::~GtkWindowSystem() {
    if (flushSource_)
        g_source_remove(flushSource_);
    if (isX11(window_))
        gdk_window_remove_filter(gdkWindow_.get(), GtkWindowSystemSignals::xEvent, this);
    releaseCapture();
    g_signal_handlers_disconnect_by_data(window_, this);
    g_object_unref(window_);
}

void GtkWindowSystem::applyLook(const WindowLook& look) {
    if (lookApplied_ && look == look_)
        return;
    bool frameChanged = !lookApplied_ || decorationsOf(look) != decorationsOf(look_) ||
                        look.sizable != look_.sizable;
    Rect outer = windowRect();
    look_ = look;
    lookApplied_ = true;
    writeFrameHints(window_, look);
    gtk_window_set_type_hint(window_, look.toolWindow ? GDK_WINDOW_TYPE_HINT_UTILITY
                                                      : GDK_WINDOW_TYPE_HINT_NORMAL);
    gtk_window_set_skip_taskbar_hint(window_, !look.taskbar);
    gtk_window_set_keep_above(window_, look.keepAbove);
    if (!frameChanged)
        return;
    if (isX11(window_) && !gtk_widget_get_mapped(GTK_WIDGET(window_)))
        x11::requestFrameExtents(xDisplayOf(window_), xWindowOf(window_));
    // The window rectangle stays; the client area fills what the new frame leaves.
    if (!isZoomed())
        setWindowRect(outer);
}

FrameExtents GtkWindowSystem::frameExtentsFor(const WindowLook& look) const {
    FrameClass kind = frameClassOf(look);
    if (kind == FrameClass::none)
        return {};
    const auto& known = knownFrames();
    if (auto it = known.find(kind); it != known.end())
        return it->second;
    // A window manager that does not say beforehand: what it said about this window.
    if (reported_ && !reportedZoomed_ && frameClassOf(reportedLook_) == kind)
        return *reported_;
    return {};
}

FrameExtents GtkWindowSystem::currentExtents() const {
    State s = state();
    if (s.zoom == Zoom::covering)
        return {};
    return frameExtentsFor(look_);
}

Rect GtkWindowSystem::clientRect() const {
    return placement_.answer();
}

Rect GtkWindowSystem::windowRect() const {
    return grow(clientRect(), currentExtents());
}

void GtkWindowSystem::placeClient(const Rect& client, bool move, bool size) {
    Rect placed = client;
    placed.right = std::max(placed.right, placed.left + 1);
    placed.bottom = std::max(placed.bottom, placed.top + 1);
    placement_.want(placed, move, size);
    if (!flushSource_)
        flushSource_ =
            g_idle_add_full(G_PRIORITY_HIGH_IDLE, GtkWindowSystemSignals::flush, this, nullptr);
}

void GtkWindowSystem::flushPlacement() {
    auto request = placement_.takeUnsent();
    if (!request || gtk_widget_in_destruction(GTK_WIDGET(window_)))
        return;
    // With static gravity the position of a top-level window is its client area's.
    if (request->move)
        gtk_window_move(window_, request->client.left, request->client.top);
    if (request->size)
        gtk_window_resize(window_, request->client.width(), request->client.height());
}

void GtkWindowSystem::setWindowRect(const Rect& outer) {
    placeClient(shrink(outer, currentExtents()), true, true);
}

void GtkWindowSystem::moveWindowTo(Point topLeft) {
    Rect outer = windowRect();
    Rect moved = outer.offsetBy(topLeft.x - outer.left, topLeft.y - outer.top);
    placeClient(shrink(moved, currentExtents()), true, false);
}

void GtkWindowSystem::resizeWindow(int outerWidth, int outerHeight) {
    Rect outer = windowRect();
    outer.right = outer.left + outerWidth;
    outer.bottom = outer.top + outerHeight;
    placeClient(shrink(outer, currentExtents()), false, true);
}

Rect GtkWindowSystem::normalPlacement() const {
    State s = state();
    if (s.zoom == Zoom::normal && !s.minimized)
        return windowRect();
    return normal_;
}

bool GtkWindowSystem::isZoomed() const {
    State s = state();
    return s.zoom != Zoom::normal && !s.minimized;
}

bool GtkWindowSystem::isMinimized() const {
    return state().minimized;
}

bool GtkWindowSystem::maximizedByWindowManager() const {
    return look_.titled && look_.sizable && look_.maximizeBox;
}

void GtkWindowSystem::maximize() {
    flushPlacement();
    State s = state();
    if (s.zoom == Zoom::normal && !s.minimized)
        normal_ = windowRect();
    if (s.minimized)
        gtk_window_deiconify(window_);
    if (s.zoom == Zoom::covering)
        gtk_window_unfullscreen(window_);
    state_ = {Zoom::maximized, false};
    auto area = monitorOfWindow();
    managerMaximized_ = maximizedByWindowManager();
    if (managerMaximized_) {
        gtk_window_maximize(window_);
        // The window manager fills the work area with the framed window.
        if (area)
            placement_.expect(shrink(area->workArea, currentExtents()));
    } else if (area) {
        setWindowRect(area->workArea);
    }
}

void GtkWindowSystem::coverMonitor(const Rect& monitor) {
    flushPlacement();
    State s = state();
    if (s.zoom == Zoom::normal && !s.minimized)
        normal_ = windowRect();
    if (s.minimized)
        gtk_window_deiconify(window_);
    if (s.zoom == Zoom::maximized && managerMaximized_)
        gtk_window_unmaximize(window_);
    GdkDisplay* display = gtk_widget_get_display(GTK_WIDGET(window_));
    int index = -1;
    for (int i = 0; i < gdk_display_get_n_monitors(display); ++i)
        if (areaOf(gdk_display_get_monitor(display, i)).monitor == monitor)
            index = i;
    state_ = {Zoom::covering, false};
    if (index >= 0)
        gtk_window_fullscreen_on_monitor(window_, gtk_window_get_screen(window_), index);
    else
        gtk_window_fullscreen(window_);
    placement_.expect(monitor);
}

void GtkWindowSystem::minimize() {
    flushPlacement();
    State s = state();
    if (s.zoom == Zoom::normal && !s.minimized)
        normal_ = windowRect();
    state_.minimized = true;
    gtk_window_iconify(window_);
}

void GtkWindowSystem::restore() {
    flushPlacement();
    State s = state();
    if (s.minimized) {
        // As from the taskbar: back to what it was before, maximised or not.
        state_.minimized = false;
        gtk_window_deiconify(window_);
        return;
    }
    if (s.zoom == Zoom::normal)
        return;
    state_ = {Zoom::normal, false};
    if (s.zoom == Zoom::covering)
        gtk_window_unfullscreen(window_);
    else if (managerMaximized_)
        gtk_window_unmaximize(window_);
    // The window manager puts the window back where it was, but GTK's next request would
    // name the zoomed position: name the normal one.
    setWindowRect(normal_);
}

std::optional<MonitorArea> GtkWindowSystem::monitorNearest(Point point) const {
    GdkDisplay* display = gtk_widget_get_display(GTK_WIDGET(window_));
    GdkMonitor* monitor = gdk_display_get_monitor_at_point(display, point.x, point.y);
    if (!monitor)
        return std::nullopt;
    return areaOf(monitor);
}

std::optional<MonitorArea> GtkWindowSystem::monitorOfWindow() const {
    Rect window = windowRect();
    GdkDisplay* display = gtk_widget_get_display(GTK_WIDGET(window_));
    std::optional<MonitorArea> best;
    long bestArea = 0;
    for (int i = 0; i < gdk_display_get_n_monitors(display); ++i) {
        MonitorArea area = areaOf(gdk_display_get_monitor(display, i));
        long w =
            std::min(window.right, area.monitor.right) - std::max(window.left, area.monitor.left);
        long h =
            std::min(window.bottom, area.monitor.bottom) - std::max(window.top, area.monitor.top);
        if (w > 0 && h > 0 && w * h > bestArea) {
            bestArea = w * h;
            best = area;
        }
    }
    if (best)
        return best;
    return monitorNearest({(window.left + window.right) / 2, (window.top + window.bottom) / 2});
}

bool GtkWindowSystem::isLeftButtonDown() const {
    GdkWindow* gdk = gtk_widget_get_window(GTK_WIDGET(window_));
    GdkSeat* seat = gdk_display_get_default_seat(gtk_widget_get_display(GTK_WIDGET(window_)));
    if (!gdk || !seat)
        return false;
    GdkModifierType mask = GdkModifierType(0);
    gdk_window_get_device_position(gdk, gdk_seat_get_pointer(seat), nullptr, nullptr, &mask);
    return (mask & GDK_BUTTON1_MASK) != 0;
}

Point GtkWindowSystem::pointerPosition() const {
    GdkSeat* seat = gdk_display_get_default_seat(gtk_widget_get_display(GTK_WIDGET(window_)));
    if (!seat)
        return {};
    int x = 0;
    int y = 0;
    gdk_device_get_position(gdk_seat_get_pointer(seat), nullptr, &x, &y);
    return {x, y};
}

void GtkWindowSystem::setCapture() {
    GdkWindow* gdk = gtk_widget_get_window(GTK_WIDGET(window_));
    GdkSeat* seat = gdk_display_get_default_seat(gtk_widget_get_display(GTK_WIDGET(window_)));
    if (!gdk || !seat)
        return;
    GdkGrabStatus status = gdk_seat_grab(seat, gdk, GDK_SEAT_CAPABILITY_ALL_POINTING, FALSE,
                                         nullptr, nullptr, nullptr, nullptr);
    captured_ = status == GDK_GRAB_SUCCESS;
}

void GtkWindowSystem::releaseCapture() {
    if (!captured_)
        return;
    captured_ = false;
    if (GdkSeat* seat = gdk_display_get_default_seat(gtk_widget_get_display(GTK_WIDGET(window_))))
        gdk_seat_ungrab(seat);
}

void GtkWindowSystem::setTitle(std::string_view title) {
    gtk_window_set_title(window_, std::string(title).c_str());
}

std::string GtkWindowSystem::title() const {
    const char* text = gtk_window_get_title(window_);
    return text ? text : "";
}

void GtkWindowSystem::onConfigure(const Rect& client, bool synthetic) {
    bool mapped =
        gdkWindow_ && !(gdk_window_get_state(gdkWindow_.get()) & GDK_WINDOW_STATE_WITHDRAWN);
    placement_.report(client, synthetic || !reparented_, mapped);
}

void GtkWindowSystem::onFrameExtentsChanged() {
    if (!isX11(window_))
        return;
    reported_ = readFrameOf(window_);
    reportedLook_ = look_;
    reportedZoomed_ = state().zoom != Zoom::normal;
}

void GtkWindowSystem::onStateChanged(State reported) {
    // Only what the window manager changed counts: reports repeat the state for other
    // reasons (the focus), and it never reports a maximised state it did not make.
    if (reported.zoom != reportedState_.zoom) {
        if (state_.zoom == Zoom::normal && reported.zoom != Zoom::normal && !state_.minimized)
            normal_ = windowRect();
        state_.zoom = reported.zoom;
        managerMaximized_ = reported.zoom == Zoom::maximized;
    }
    if (reported.minimized != reportedState_.minimized)
        state_.minimized = reported.minimized;
    reportedState_ = reported;
}

} // namespace norv::platform::gtk
