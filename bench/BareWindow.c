/* The reference of bench/startup: a bare WebKitGTK window on the page named by argv[1],
   as any program would open one. */
#include <webkit2/webkit2.h>

int main(int argc, char** argv) {
    gtk_init(&argc, &argv);
    GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_title(GTK_WINDOW(window), "Bare WebKit");
    gtk_window_set_default_size(GTK_WINDOW(window), 560, 400);
    GtkWidget* view = webkit_web_view_new();
    gtk_container_add(GTK_CONTAINER(window), view);
    g_signal_connect(window, "destroy", G_CALLBACK(gtk_main_quit), NULL);
    webkit_web_view_load_uri(WEBKIT_WEB_VIEW(view), argc > 1 ? argv[1] : "about:blank");
    gtk_widget_show_all(window);
    gtk_main();
    return 0;
}
