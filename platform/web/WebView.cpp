#include "platform/web/WebView.h"

#include <webkit2/webkit2.h>

#include <utility>

#include "platform/web/WebContext.h"

namespace norv::web {

namespace {

// The life of the view's pages in the log (G_MESSAGES_DEBUG=norv-view).
void logLoad(WebKitWebView* view, WebKitLoadEvent event, gpointer) {
    const char* uri = webkit_web_view_get_uri(view);
    if (event == WEBKIT_LOAD_COMMITTED)
        g_debug("navigation: %s committed", uri ? uri : "");
    else if (event == WEBKIT_LOAD_FINISHED)
        g_debug("navigation: %s finished", uri ? uri : "");
}

gboolean logFailure(WebKitWebView*, WebKitLoadEvent, gchar* uri, GError* error, gpointer) {
    g_debug("navigation: %s failed: %s", uri ? uri : "", error ? error->message : "");
    return FALSE;
}

} // namespace

WebView::WebView(glib::GObjectRef<WebKitWebView> view) : view_(std::move(view)) {}

// The new widget's reference is floating: the handle takes it over, so the view does not
// belong to the first container it is added to.
WebView::WebView(const WebContext& context)
    : view_(glib::GObjectRef<WebKitWebView>::sink(
          WEBKIT_WEB_VIEW(webkit_web_view_new_with_context(context.get())))) {
    g_signal_connect(view_.get(), "load-changed", G_CALLBACK(logLoad), nullptr);
    g_signal_connect(view_.get(), "load-failed", G_CALLBACK(logFailure), nullptr);
}

WebView WebView::of(WebKitWebView* view) {
    return WebView(glib::GObjectRef<WebKitWebView>::retain(view));
}

GtkWidget* WebView::widget() const {
    return GTK_WIDGET(view_.get());
}

double WebView::zoomLevel() const {
    return view_ ? webkit_web_view_get_zoom_level(view_.get()) : 1.0;
}

void WebView::loadUri(const std::string& uri) const {
    g_debug("navigation: to %s", uri.c_str());
    webkit_web_view_load_uri(view_.get(), uri.c_str());
}

void WebView::setUserAgent(const std::string& text) const {
    webkit_settings_set_user_agent(webkit_web_view_get_settings(view_.get()),
                                   text.empty() ? nullptr : text.c_str());
}

std::string WebView::userAgent() const {
    const char* text = webkit_settings_get_user_agent(webkit_web_view_get_settings(view_.get()));
    return text ? text : "";
}

bool WebView::setSetting(std::string_view name, bool value) const {
    WebKitSettings* settings = webkit_web_view_get_settings(view_.get());
    const std::string property(name);
    GParamSpec* spec = g_object_class_find_property(G_OBJECT_GET_CLASS(settings), property.c_str());
    if (!spec || spec->value_type != G_TYPE_BOOLEAN || (spec->flags & G_PARAM_WRITABLE) == 0 ||
        (spec->flags & G_PARAM_CONSTRUCT_ONLY) != 0)
        return false;
    g_object_set(settings, property.c_str(), value ? TRUE : FALSE, nullptr);
    return true;
}

std::string WebView::defaultUserAgent() {
    auto settings = glib::GObjectRef<WebKitSettings>::adopt(webkit_settings_new());
    const char* text = webkit_settings_get_user_agent(settings.get());
    return text ? text : "";
}

std::string WebView::engineVersion() {
    return std::to_string(webkit_get_major_version()) + "." +
           std::to_string(webkit_get_minor_version()) + "." +
           std::to_string(webkit_get_micro_version());
}

} // namespace norv::web
