// A bare GTK window hosting a WebKit view whose pages get window.tavi with the program's
// platform object (window.tavi.platform, the desktop's services, this window as the owner
// of its dialogs) through the script bridge, as the host window gives it to its pages.
//
// Usage: platform-probe URL. Prints "window <xid>" once the window is shown, then loads
// URL; the pages report what they see to their own servers. Ends when the window is
// closed.

#include <gdk/gdkx.h>
#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <cstdio>
#include <memory>
#include <string>

#include "host/ExtInitScript.h"
#include "platform/web/ScriptBridge.h"
#include "script/DialogOwner.h"
#include "script/TaviPlatform.h"
#include "script/X11DisplayDesktop.h"

namespace {

using namespace norv;

class WindowOwner final : public script::DialogOwner {
public:
    explicit WindowOwner(GtkWindow* window) : window_(window) {}
    GtkWindow* dialogParent() override { return window_; }

private:
    GtkWindow* window_;
};

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: platform-probe URL\n");
        return 2;
    }
    gdk_set_allowed_backends("x11");
    gtk_init(nullptr, nullptr);

    GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_title(GTK_WINDOW(window), "Platform Probe");
    gtk_window_set_default_size(GTK_WINDOW(window), 480, 320);
    g_signal_connect(window, "delete-event", G_CALLBACK(+[](GtkWidget*, GdkEvent*, gpointer) {
                         gtk_main_quit();
                         return TRUE;
                     }),
                     nullptr);

    WebKitWebContext* context = webkit_web_context_new();
    web::ScriptBridge::prepareContext(context);
    auto* view = WEBKIT_WEB_VIEW(webkit_web_view_new_with_context(context));
    gtk_container_add(GTK_CONTAINER(window), GTK_WIDGET(view));

    {
        web::ScriptBridge bridge(view);
        bridge.setInitScript(host::kExtInitScript);
        auto owner = std::make_shared<WindowOwner>(GTK_WINDOW(window));
        com::ComPtr<script::TaviPlatform> platform;
        if (com::HRESULT hr =
                script::TaviPlatform::create(script::desktopPlatformServices(), &platform);
            com::failed(hr)) {
            std::fprintf(stderr, "no platform object: 0x%08X\n", static_cast<unsigned>(hr));
            return 1;
        }
        platform->setDialogOwner(owner);
        bridge.bindScriptValue(
            u"window.tavi.platform",
            com::ComPtr<com::IDispatch>(static_cast<typelib::ITaviPlatform*>(platform.get())));

        gtk_widget_show_all(window);
        std::printf("window %lu\n", static_cast<unsigned long>(
                                        gdk_x11_window_get_xid(gtk_widget_get_window(window))));
        std::fflush(stdout);
        webkit_web_view_load_uri(view, argv[1]);
        gtk_main();
    }
    gtk_widget_destroy(window);
    script::X11DisplayDesktop::shutdown();
    g_object_unref(context);
    return 0;
}
