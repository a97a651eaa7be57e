/* A reference of bench/startup: a bare GTK window the size of the program's splash, mapped
   by a trivial program: what any GTK program pays before its first window is on screen. */
#include <gtk/gtk.h>

int main(int argc, char** argv) {
    gtk_init(&argc, &argv);
    GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_title(GTK_WINDOW(window), "Bare GTK");
    gtk_window_set_default_size(GTK_WINDOW(window), 326, 180);
    gtk_container_add(GTK_CONTAINER(window), gtk_label_new("Loading..."));
    g_signal_connect(window, "destroy", G_CALLBACK(gtk_main_quit), NULL);
    gtk_widget_show_all(window);
    gtk_main();
    return 0;
}
