// A host window without a browser, for end-to-end tests of the window model and the move
// and resize engine on a real X server: a GtkWindow whose client area is a plain drawing
// area, driven by commands read line by line from a named pipe (argv[1]).
//
// Each command is "<id> <name> <arguments...>"; the answer on standard output is
// "<id> ok [value]" or "<id> error 0xHHHHHHHH <message>". A press of the left button on
// the drawing area does what "onPress" set last (like a page's mousedown handler calling
// beginMove or beginResizing) and reports "press ok" or "press error ...". A release of
// the left button that reaches the window is reported as "release" before the window
// model sees it, window events as "event <type>". "ready <xid>" comes first.

#include <gdk/gdkx.h>
#include <gtk/gtk.h>

#include <fcntl.h>

#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "host/HostWindowModel.h"
#include "platform/com/Exceptions.h"
#include "platform/gtk/GtkWindowSystem.h"

namespace {

using norv::host::HostWindowModel;
using norv::platform::gtk::GtkWindowSystem;
using norv::platform::gtk::Rect;
using namespace norv::typelib;

void say(const std::string& line) {
    std::fputs((line + "\n").c_str(), stdout);
    std::fflush(stdout);
}

// Runs `body`, turning a framework exception into "error 0x... message".
std::string attempt(const std::function<std::string()>& body) {
    try {
        return "ok" + body();
    } catch (const norv::com::FrameworkException& e) {
        char code[16];
        std::snprintf(code, sizeof code, "0x%08X", static_cast<unsigned>(e.hresult()));
        return std::string("error ") + code + " " + e.what();
    } catch (const std::exception& e) {
        return std::string("error exception ") + e.what();
    }
}

std::string rectText(const Rect& r) {
    return " " + std::to_string(r.left) + " " + std::to_string(r.top) + " " +
           std::to_string(r.right) + " " + std::to_string(r.bottom);
}

class Driver final : public norv::host::WindowHooks {
public:
    explicit Driver(const char* pipePath) {
        window_ = GTK_WINDOW(gtk_window_new(GTK_WINDOW_TOPLEVEL));
        area_ = gtk_drawing_area_new();
        gtk_widget_add_events(area_, GDK_BUTTON_PRESS_MASK);
        gtk_container_add(GTK_CONTAINER(window_), area_);
        g_signal_connect(area_, "draw", G_CALLBACK(onDraw), this);
        g_signal_connect(area_, "button-press-event", G_CALLBACK(onPress), this);
        g_signal_connect(window_, "destroy", G_CALLBACK(gtk_main_quit), nullptr);
        // Before the window system's own handler, which keeps the release while dragging.
        g_signal_connect(window_, "button-release-event", G_CALLBACK(onRelease), nullptr);

        system_ = std::make_unique<GtkWindowSystem>(window_);
        model_.pending().captionText = u"Norv Window Test";
        model_.pending().clientWidth = 400;
        model_.pending().clientHeight = 300;
        model_.attach(*system_);

        int fd = ::open(pipePath, O_RDWR | O_NONBLOCK | O_CLOEXEC);
        channel_ = g_io_channel_unix_new(fd);
        g_io_channel_set_close_on_unref(channel_, TRUE);
        g_io_add_watch(channel_, G_IO_IN, onInput, this);
        say("ready " +
            std::to_string(gdk_x11_window_get_xid(gtk_widget_get_window(GTK_WIDGET(window_)))));
    }
    ~Driver() {
        model_.detach();
        g_io_channel_unref(channel_);
    }

    bool isLayoutPending() const override { return false; }
    void sizeToDeclaration() override {
        if (declaredWidth_ > 0 && declaredHeight_ > 0)
            model_.setClientSize(declaredWidth_, declaredHeight_);
    }
    std::pair<int, int> declaredClientSize() override { return {declaredWidth_, declaredHeight_}; }
    void fireWindowEvent(std::u16string_view type) override {
        say("event " + norv::com::utf16ToUtf8(type));
    }

private:
    static gboolean onInput(GIOChannel* channel, GIOCondition, gpointer data) {
        auto* self = static_cast<Driver*>(data);
        gchar* line = nullptr;
        while (g_io_channel_read_line(channel, &line, nullptr, nullptr, nullptr) ==
               G_IO_STATUS_NORMAL) {
            std::string text(line);
            g_free(line);
            self->run(text);
        }
        return TRUE;
    }

    void run(const std::string& line) {
        std::istringstream in(line);
        std::string id;
        std::string name;
        in >> id >> name;
        std::vector<int> a;
        for (int v; in >> v;)
            a.push_back(v);
        a.resize(5, 0);
        std::string answer = attempt([&]() -> std::string { return execute(name, a); });
        say(id + " " + answer);
    }

    std::string execute(const std::string& name, const std::vector<int>& a) {
        HostWindowModel& m = model_;
        auto flag = [](bool b) {
            return std::string(b ? " 1" : " 0");
        };
        if (name == "show") {
            gtk_widget_show_all(GTK_WIDGET(window_));
        } else if (name == "setType") {
            m.setType(static_cast<TaviWindowTypes>(a[0]));
        } else if (name == "getType") {
            return " " + std::to_string(m.getType());
        } else if (name == "setResizable") {
            m.setResizable(a[0] != 0);
        } else if (name == "getResizable") {
            return flag(m.getResizable());
        } else if (name == "setApplicationWindow") {
            m.setApplicationWindow(a[0] != 0);
        } else if (name == "setAlwaysOnTop") {
            m.setAlwaysOnTop(a[0] != 0);
        } else if (name == "setMinimizeBox") {
            m.setMinimizeBox(a[0] != 0);
        } else if (name == "setMaximizeBox") {
            m.setMaximizeBox(a[0] != 0);
        } else if (name == "setClientSize") {
            m.setClientSize(a[0], a[1]);
        } else if (name == "resizeTo") {
            m.resizeTo(a[0], a[1]);
        } else if (name == "moveTo") {
            m.moveTo(a[0], a[1]);
        } else if (name == "moveBy") {
            m.moveBy(a[0], a[1]);
        } else if (name == "maximize") {
            m.maximize();
        } else if (name == "minimize") {
            m.minimize();
        } else if (name == "isZoomed") {
            return flag(system_->isZoomed());
        } else if (name == "declare") {
            declaredWidth_ = a[0];
            declaredHeight_ = a[1];
        } else if (name == "onPressMove") {
            onPress_ = [this] {
                model_.beginMove();
            };
        } else if (name == "onPressResize") {
            onPress_ = [this, a] {
                model_.beginResizing(a[0], a[1], a[2], a[3], a[4]);
            };
        } else if (name == "onPressNothing") {
            onPress_ = nullptr;
        } else if (name == "abortMove") {
            m.abortMove();
        } else if (name == "abortResizing") {
            m.abortResizing();
        } else if (name == "rects") {
            return rectText(system_->windowRect()) + rectText(system_->clientRect());
        } else if (name == "dock") {
            addDock(a[0]);
        } else if (name == "quit") {
            gtk_widget_destroy(GTK_WIDGET(window_));
        } else {
            throw norv::com::OleException(norv::com::E_NOTIMPL);
        }
        return {};
    }

    // A panel along the top of the screen that keeps `height` pixels to itself, so that
    // the work area is smaller than the monitor.
    void addDock(int height) {
        GtkWindow* dock = GTK_WINDOW(gtk_window_new(GTK_WINDOW_TOPLEVEL));
        gtk_window_set_type_hint(dock, GDK_WINDOW_TYPE_HINT_DOCK);
        gtk_window_set_decorated(dock, FALSE);
        GdkRectangle monitor;
        gdk_monitor_get_geometry(
            gdk_display_get_primary_monitor(gtk_widget_get_display(GTK_WIDGET(dock))), &monitor);
        gtk_window_set_default_size(dock, monitor.width, height);
        gtk_window_move(dock, monitor.x, monitor.y);
        gtk_widget_realize(GTK_WIDGET(dock));
        gulong strut[12] = {0,
                            0,
                            static_cast<gulong>(height),
                            0,
                            0,
                            0,
                            0,
                            0,
                            static_cast<gulong>(monitor.x),
                            static_cast<gulong>(monitor.x + monitor.width - 1),
                            0,
                            0};
        gdk_property_change(gtk_widget_get_window(GTK_WIDGET(dock)),
                            gdk_atom_intern_static_string("_NET_WM_STRUT_PARTIAL"),
                            gdk_atom_intern_static_string("CARDINAL"), 32, GDK_PROP_MODE_REPLACE,
                            reinterpret_cast<guchar*>(strut), 12);
        gtk_widget_show(GTK_WIDGET(dock));
    }

    static gboolean onPress(GtkWidget*, GdkEventButton* event, gpointer data) {
        auto* self = static_cast<Driver*>(data);
        if (event->type != GDK_BUTTON_PRESS || event->button != GDK_BUTTON_PRIMARY)
            return FALSE;
        if (!self->onPress_)
            return FALSE;
        say("press " + attempt([self]() -> std::string {
                self->onPress_();
                return {};
            }));
        return TRUE;
    }

    static gboolean onRelease(GtkWidget*, GdkEventButton* event, gpointer) {
        if (event->button == GDK_BUTTON_PRIMARY)
            say("release");
        return FALSE;
    }

    // A light client area with a dark edge, so that a screenshot shows where it is.
    static gboolean onDraw(GtkWidget* widget, cairo_t* cr, gpointer) {
        int w = gtk_widget_get_allocated_width(widget);
        int h = gtk_widget_get_allocated_height(widget);
        cairo_set_source_rgb(cr, 0.85, 0.9, 1.0);
        cairo_paint(cr);
        cairo_set_source_rgb(cr, 0.1, 0.2, 0.5);
        cairo_set_line_width(cr, 2);
        cairo_rectangle(cr, 1, 1, w - 2, h - 2);
        cairo_stroke(cr);
        return FALSE;
    }

    GtkWindow* window_ = nullptr;
    GtkWidget* area_ = nullptr;
    std::unique_ptr<GtkWindowSystem> system_;
    HostWindowModel model_{*this};
    GIOChannel* channel_ = nullptr;
    std::function<void()> onPress_;
    int declaredWidth_ = -1;
    int declaredHeight_ = -1;
};

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fputs("usage: window-driver PIPE\n", stderr);
        return 2;
    }
    gdk_set_allowed_backends("x11");
    gtk_init(&argc, &argv);
    auto driver = std::make_unique<Driver>(argv[1]);
    gtk_main();
    return 0;
}
