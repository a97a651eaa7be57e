#pragma once
// WebContext: a browser context (web processes, website data and cache shared by its
// views). A handle: copies share the context.

#include <string>

#include "platform/glib/GObjectRef.h"

typedef struct _WebKitWebContext WebKitWebContext;

namespace norv::web {

class WebContext {
public:
    // WebKit's default context: data and cache where WebKit keeps them.
    static WebContext defaultContext();
    // A new context whose website data live under dataDirectory and whose cache under
    // cacheDirectory.
    static WebContext withDirectories(const std::string& dataDirectory,
                                      const std::string& cacheDirectory);

    WebKitWebContext* get() const { return context_.get(); }

private:
    explicit WebContext(glib::GObjectRef<WebKitWebContext> context);

    glib::GObjectRef<WebKitWebContext> context_;
};

} // namespace norv::web
