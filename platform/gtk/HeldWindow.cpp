#include "platform/gtk/HeldWindow.h"

#include <gtk/gtk.h>

namespace norv::platform::gtk {

namespace {

constexpr const char* kHeldKey = "norv-held-window";

// A GtkWindow whose show and map are refused while it is marked as held.
struct NorvHeldWindow {
    GtkWindow parent;
};
struct NorvHeldWindowClass {
    GtkWindowClass parent;
};

G_DEFINE_TYPE(NorvHeldWindow, norv_held_window, GTK_TYPE_WINDOW)

bool heldNow(GtkWidget* widget) {
    return g_object_get_data(G_OBJECT(widget), kHeldKey) != nullptr;
}

void heldShow(GtkWidget* widget) {
    if (heldNow(widget))
        return;
    GTK_WIDGET_CLASS(norv_held_window_parent_class)->show(widget);
}

void heldMap(GtkWidget* widget) {
    if (heldNow(widget))
        return;
    GTK_WIDGET_CLASS(norv_held_window_parent_class)->map(widget);
}

void norv_held_window_class_init(NorvHeldWindowClass* klass) {
    GtkWidgetClass* widget = GTK_WIDGET_CLASS(klass);
    widget->show = heldShow;
    widget->map = heldMap;
}

void norv_held_window_init(NorvHeldWindow*) {}

} // namespace

HeldWindow::HeldWindow() {
    window_ =
        GTK_WINDOW(g_object_new(norv_held_window_get_type(), "type", GTK_WINDOW_TOPLEVEL, nullptr));
    hold(true);
    g_signal_connect(window_, "destroy", G_CALLBACK(onDestroy), this);
}

HeldWindow::~HeldWindow() {
    if (GtkWindow* window = window_) {
        g_signal_handlers_disconnect_by_data(window, this);
        window_ = nullptr;
        gtk_widget_destroy(GTK_WIDGET(window));
    }
}

void HeldWindow::onDestroy(GtkWindow*, HeldWindow* self) {
    self->window_ = nullptr;
}

void HeldWindow::hold(bool held) {
    if (window_)
        g_object_set_data(G_OBJECT(window_), kHeldKey, held ? GINT_TO_POINTER(1) : nullptr);
}

bool HeldWindow::isHeld() const {
    return window_ && heldNow(GTK_WIDGET(window_));
}

bool HeldWindow::isHeld(GtkWindow* window) {
    return window && G_TYPE_CHECK_INSTANCE_TYPE(window, norv_held_window_get_type()) &&
           heldNow(GTK_WIDGET(window));
}

} // namespace norv::platform::gtk
