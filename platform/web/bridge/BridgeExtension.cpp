// libnorv-bridge.so: the web-process extension of the script bridge. WebKit loads it
// into every web process of a context prepared by ScriptBridge::prepareContext; it
// gives each page a PageBridge and tells it when the top frame's main-world window
// object is ready.

#include <webkit2/webkit-web-extension.h>

#include "platform/web/bridge/PageBridge.h"

namespace {

using norv::web::bridge::PageBridge;

constexpr const char* bridgeKey = "norv-bridge";

void onPageCreated(WebKitWebExtension*, WebKitWebPage* page, gpointer) {
    g_object_set_data_full(G_OBJECT(page), bridgeKey, new PageBridge(page),
                           [](gpointer p) { delete static_cast<PageBridge*>(p); });
}

void onWindowObjectCleared(WebKitScriptWorld* world, WebKitWebPage* page, WebKitFrame* frame,
                           gpointer) {
    if (auto* bridge = static_cast<PageBridge*>(g_object_get_data(G_OBJECT(page), bridgeKey)))
        bridge->windowObjectCleared(frame, world);
}

} // namespace

extern "C" G_MODULE_EXPORT void
webkit_web_extension_initialize_with_user_data(WebKitWebExtension* extension, GVariant*) {
    g_signal_connect(extension, "page-created", G_CALLBACK(onPageCreated), nullptr);
    g_signal_connect(webkit_script_world_get_default(), "window-object-cleared",
                     G_CALLBACK(onWindowObjectCleared), nullptr);
}
