// session-probe: a GTK window with a web page and the host's session notifications, driven
// by the end-to-end tests. It shows the page given with --page and takes the page's title
// as the window's title; on each session notification it prints "session mute 1" or
// "session mute 0" and runs the mute script in the page. It prints "session watched" once
// the session is found. SIGTERM ends it.
#include <glib-unix.h>
#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <csignal>
#include <cstdio>
#include <memory>
#include <string>

#include "host/BridgeMutePage.h"
#include "host/SessionWatcher.h"
#include "platform/web/ScriptBridge.h"

int main(int argc, char** argv) {
    std::string page;
    for (int i = 1; i + 1 < argc; ++i)
        if (std::string(argv[i]) == "--page")
            page = argv[i + 1];
    gdk_set_allowed_backends("x11");
    gtk_init(&argc, &argv);
    GMainLoop* loop = g_main_loop_new(nullptr, FALSE);
    g_unix_signal_add(
        SIGTERM,
        [](gpointer l) -> gboolean {
            g_main_loop_quit(static_cast<GMainLoop*>(l));
            return G_SOURCE_CONTINUE;
        },
        loop);

    WebKitWebContext* context = webkit_web_context_new();
    norv::web::ScriptBridge::prepareContext(context);
    GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_title(GTK_WINDOW(window), "Session Probe");
    gtk_window_set_default_size(GTK_WINDOW(window), 400, 300);
    auto* view = WEBKIT_WEB_VIEW(webkit_web_view_new_with_context(context));
    gtk_container_add(GTK_CONTAINER(window), GTK_WIDGET(view));
    g_signal_connect(view, "notify::title",
                     G_CALLBACK(+[](WebKitWebView* v, GParamSpec*, gpointer w) {
                         const char* title = webkit_web_view_get_title(v);
                         if (title && *title)
                             gtk_window_set_title(GTK_WINDOW(w), title);
                     }),
                     window);
    gtk_widget_show_all(window);
    auto bridge = std::make_unique<norv::web::ScriptBridge>(view);

    auto watcher = std::make_unique<norv::host::SessionWatcher>([&bridge](bool mute) {
        std::printf("session mute %d\n", mute ? 1 : 0);
        std::fflush(stdout);
        norv::host::BridgeMutePage target(*bridge);
        norv::host::muteForSession(target, mute);
    });
    watcher->setAvailableHandler([] {
        std::printf("session watched\n");
        std::fflush(stdout);
    });

    gchar* uri = g_filename_to_uri(page.c_str(), nullptr, nullptr);
    webkit_web_view_load_uri(view, uri);
    g_free(uri);
    g_main_loop_run(loop);

    watcher.reset();
    bridge.reset();
    gtk_widget_destroy(window);
    g_object_unref(context);
    g_main_loop_unref(loop);
    std::printf("closed\n");
    return 0;
}
