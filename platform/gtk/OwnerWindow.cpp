#include "platform/gtk/OwnerWindow.h"

#include <glib-unix.h>
#include <gtk/gtk.h>

#include <csignal>
#include <string>

namespace norv::platform::gtk {

namespace {

constexpr const char* kClosableKey = "norv-closable-by-owner";
constexpr int kOffScreen = 35000;

gboolean onDelete(GtkWidget*, GdkEvent*, gpointer self) {
    static_cast<OwnerWindow*>(self)->closeOwnedWindows();
    return TRUE; // the owner itself does not close
}

gboolean onEndSession(gpointer self) {
    static_cast<OwnerWindow*>(self)->closeOwnedWindows();
    return G_SOURCE_CONTINUE;
}

gboolean closeLater(gpointer window) {
    gtk_window_close(GTK_WINDOW(window));
    g_object_unref(window);
    return G_SOURCE_REMOVE;
}

} // namespace

OwnerWindow::OwnerWindow() {
    GtkWidget* widget = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    window_ = GTK_WINDOW(widget);
    g_object_ref_sink(window_);
    gtk_window_set_decorated(window_, FALSE);
    gtk_window_set_type_hint(window_, GDK_WINDOW_TYPE_HINT_UTILITY);
    gtk_window_set_skip_taskbar_hint(window_, TRUE);
    gtk_window_set_skip_pager_hint(window_, TRUE);
    gtk_window_set_accept_focus(window_, FALSE);
    gtk_window_set_focus_on_map(window_, FALSE);
    gtk_window_set_default_size(window_, 1, 1);
    gtk_window_move(window_, kOffScreen, kOffScreen);
    gtk_widget_realize(widget);
    g_signal_connect(widget, "delete-event", G_CALLBACK(onDelete), this);
    signalSource_ = g_unix_signal_add(SIGTERM, onEndSession, this);
}

OwnerWindow::~OwnerWindow() {
    if (signalSource_)
        g_source_remove(signalSource_);
    g_signal_handlers_disconnect_by_data(window_, this);
    gtk_widget_destroy(GTK_WIDGET(window_));
    g_object_unref(window_);
}

void OwnerWindow::setTitle(std::string_view title) {
    gtk_window_set_title(window_, std::string(title).c_str());
}

void OwnerWindow::setIcon(GdkPixbuf* icon) {
    gtk_window_set_icon(window_, icon);
}

void OwnerWindow::showNoActivate() {
    gtk_widget_realize(GTK_WIDGET(window_));
}

void OwnerWindow::adopt(GtkWindow* owned) {
    gtk_widget_realize(GTK_WIDGET(owned));
    gdk_window_set_group(gtk_widget_get_window(GTK_WIDGET(owned)),
                         gtk_widget_get_window(GTK_WIDGET(window_)));
}

bool OwnerWindow::owns(GtkWindow* window) const {
    GdkWindow* gdk = gtk_widget_get_window(GTK_WIDGET(window));
    return gdk && gdk_window_get_group(gdk) == gtk_widget_get_window(GTK_WIDGET(window_));
}

void OwnerWindow::markClosableByOwner(GtkWindow* window) {
    g_object_set_data(G_OBJECT(window), kClosableKey, GINT_TO_POINTER(1));
}

void OwnerWindow::closeOwnedWindows() {
    GList* toplevels = gtk_window_list_toplevels();
    for (GList* item = toplevels; item; item = item->next) {
        auto* window = GTK_WINDOW(item->data);
        if (window == window_ || !g_object_get_data(G_OBJECT(window), kClosableKey))
            continue;
        if (owns(window))
            g_idle_add(closeLater, g_object_ref(window));
    }
    g_list_free(toplevels);
}

} // namespace norv::platform::gtk
