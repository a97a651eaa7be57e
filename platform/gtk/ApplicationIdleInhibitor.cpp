#include "platform/gtk/ApplicationIdleInhibitor.h"

#include <gdk/gdkx.h>
#include <gtk/gtk.h>

#include <chrono>

#include "platform/glib/DbusFlush.h"

namespace norv::platform::gtk {

namespace {

// GTK sends the release without waiting; the program may be about to exit.
constexpr std::chrono::milliseconds kFlushBound{1000};

GtkWindow* windowFor(unsigned long xwindow) {
    if (xwindow == 0)
        return nullptr;
    GdkDisplay* display = gdk_display_get_default();
    if (!display || !GDK_IS_X11_DISPLAY(display))
        return nullptr;
    GdkWindow* gdkWindow = gdk_x11_window_lookup_for_display(display, xwindow);
    if (!gdkWindow)
        return nullptr;
    gpointer widget = nullptr;
    gdk_window_get_user_data(gdk_window_get_toplevel(gdkWindow), &widget);
    if (!widget || !GTK_IS_WINDOW(widget))
        return nullptr;
    return GTK_WINDOW(widget);
}

} // namespace

ApplicationIdleInhibitor::Hold::Hold(GtkApplication* application, unsigned cookie)
    : application_(GTK_APPLICATION(g_object_ref(application))), cookie_(cookie) {}

ApplicationIdleInhibitor::Hold::~Hold() {
    gtk_application_uninhibit(application_, cookie_);
    platform::glib::flushDbusConnection(
        g_application_get_dbus_connection(G_APPLICATION(application_)), kFlushBound);
    g_object_unref(application_);
}

ApplicationIdleInhibitor::ApplicationIdleInhibitor(GtkApplication* application)
    : application_(GTK_APPLICATION(g_object_ref(application))) {}

ApplicationIdleInhibitor::~ApplicationIdleInhibitor() {
    g_object_unref(application_);
}

std::unique_ptr<ApplicationIdleInhibitor::Hold>
ApplicationIdleInhibitor::inhibit(unsigned long xwindow, const std::string& reason) {
    if (!g_application_get_is_registered(G_APPLICATION(application_)))
        return nullptr;
    const unsigned cookie = gtk_application_inhibit(application_, windowFor(xwindow),
                                                    GTK_APPLICATION_INHIBIT_IDLE, reason.c_str());
    if (cookie == 0)
        return nullptr;
    return std::make_unique<Hold>(application_, cookie);
}

} // namespace norv::platform::gtk
