#include "platform/web/WebContext.h"

#include <webkit2/webkit2.h>

#include <utility>

namespace norv::web {

WebContext::WebContext(glib::GObjectRef<WebKitWebContext> context) : context_(std::move(context)) {}

WebContext WebContext::defaultContext() {
    return WebContext(glib::GObjectRef<WebKitWebContext>::retain(webkit_web_context_get_default()));
}

WebContext WebContext::withDirectories(const std::string& dataDirectory,
                                       const std::string& cacheDirectory) {
    auto manager = glib::GObjectRef<WebKitWebsiteDataManager>::adopt(
        webkit_website_data_manager_new("base-data-directory", dataDirectory.c_str(),
                                        "base-cache-directory", cacheDirectory.c_str(), nullptr));
    return WebContext(glib::GObjectRef<WebKitWebContext>::adopt(
        webkit_web_context_new_with_website_data_manager(manager.get())));
}

} // namespace norv::web
