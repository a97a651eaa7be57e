#include "platform/gtk/MessageBox.h"

#include <gtk/gtk.h>

#include <string>

namespace norv::platform::gtk {

namespace {

GtkMessageType messageType(MessageBoxIcon icon) {
    switch (icon) {
    case MessageBoxIcon::Information:
        return GTK_MESSAGE_INFO;
    case MessageBoxIcon::Warning:
        return GTK_MESSAGE_WARNING;
    case MessageBoxIcon::Error:
        return GTK_MESSAGE_ERROR;
    case MessageBoxIcon::Question:
        return GTK_MESSAGE_QUESTION;
    case MessageBoxIcon::None:
        break;
    }
    return GTK_MESSAGE_OTHER;
}

gboolean onKey(GtkWidget* dialog, GdkEventKey* event, gpointer text) {
    const bool copy = (event->state & GDK_CONTROL_MASK) &&
                      (event->keyval == GDK_KEY_c || event->keyval == GDK_KEY_C ||
                       event->keyval == GDK_KEY_Insert);
    if (!copy)
        return FALSE;
    gtk_clipboard_set_text(gtk_widget_get_clipboard(dialog, GDK_SELECTION_CLIPBOARD),
                           static_cast<const std::string*>(text)->c_str(), -1);
    return TRUE;
}

} // namespace

void messageBox(GtkWindow* parent, std::string_view text, std::string_view caption,
                MessageBoxIcon icon) {
    std::string message(text);
    std::string title(caption);
    GtkWidget* dialog = gtk_message_dialog_new(parent, GTK_DIALOG_MODAL, messageType(icon),
                                               GTK_BUTTONS_OK, "%s", message.c_str());
    gtk_window_set_title(GTK_WINDOW(dialog), title.c_str());
    gtk_window_set_role(GTK_WINDOW(dialog), "norv-message-box");
    gtk_window_set_position(GTK_WINDOW(dialog), GTK_WIN_POS_CENTER);
    gtk_window_set_keep_above(GTK_WINDOW(dialog), TRUE);
    g_signal_connect(dialog, "key-press-event", G_CALLBACK(onKey), &message);
    gtk_dialog_run(GTK_DIALOG(dialog));
    gtk_widget_destroy(dialog);
}

} // namespace norv::platform::gtk
