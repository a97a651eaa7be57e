#pragma once
// WebView: a browser view, the GtkWidget that shows the pages of its context. A handle:
// copies share the view, and each keeps it alive (also after its window destroyed it, when
// it shows nothing any more). All members must be called on the UI thread.

#include <string>
#include <string_view>

#include "platform/glib/GObjectRef.h"

typedef struct _GtkWidget GtkWidget;
typedef struct _WebKitWebView WebKitWebView;

namespace norv::web {

class WebContext;

class WebView {
public:
    // A new view showing nothing yet.
    explicit WebView(const WebContext& context);
    // Another handle on an existing view (null: none).
    static WebView of(WebKitWebView* view);

    WebKitWebView* get() const { return view_.get(); }
    GtkWidget* widget() const;
    // The page zoom: how many of the widget's pixels a CSS pixel of the page takes.
    double zoomLevel() const;

    void loadUri(const std::string& uri) const;

    // The user agent of the view's pages: navigator.userAgent and the User-Agent header
    // WebKit writes. Empty: WebKit's own.
    void setUserAgent(const std::string& text) const;
    std::string userAgent() const;

    // Sets a boolean property of the view's WebKitSettings by its name, for example
    // "enable-developer-extras"; false (and nothing set) when WebKit has no such boolean.
    bool setSetting(std::string_view name, bool value) const;

    // WebKit's own user agent.
    static std::string defaultUserAgent();
    // The version of the WebKitGTK library in use ("2.42.5").
    static std::string engineVersion();

private:
    explicit WebView(glib::GObjectRef<WebKitWebView> view);

    glib::GObjectRef<WebKitWebView> view_;
};

} // namespace norv::web
