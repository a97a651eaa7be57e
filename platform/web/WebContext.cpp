#include "platform/web/WebContext.h"

#include <webkit2/webkit2.h>

#include <filesystem>
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
    auto context = glib::GObjectRef<WebKitWebContext>::adopt(
        webkit_web_context_new_with_website_data_manager(manager.get()));
    // Cookies are kept with the rest of the browser's data: without a store of their own
    // WebKit keeps them in memory only, and a page's login would be gone at the next start.
    if (WebKitCookieManager* cookies = webkit_web_context_get_cookie_manager(context.get()))
        webkit_cookie_manager_set_persistent_storage(
            cookies, (std::filesystem::path(dataDirectory) / "cookies.sqlite").c_str(),
            WEBKIT_COOKIE_PERSISTENT_STORAGE_SQLITE);
    return WebContext(std::move(context));
}

} // namespace norv::web
