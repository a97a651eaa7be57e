#include "host/WebSession.h"

#include <webkit2/webkit2.h>

#include <algorithm>

#include "app/UserAgent.h"
#include "platform/web/ScriptBridge.h"
#include "res/ResourceScheme.h"

namespace norv::host {

namespace {

std::string keyPathAsRelativePath(const std::u16string& optionKeyPath) {
    std::string path = com::utf16ToUtf8(optionKeyPath);
    std::replace(path.begin(), path.end(), '\\', '/');
    return path;
}

std::string joinPath(const char* base, const std::string& relative) {
    std::unique_ptr<char, decltype(&g_free)> joined(
        g_build_filename(base, relative.c_str(), nullptr), &g_free);
    return joined.get();
}

bool isDefaultKeyPath(const std::u16string& optionKeyPath) {
    return optionKeyPath.empty() || optionKeyPath == u"default";
}

void prepare(WebKitWebContext* context) {
    res::registerResourceScheme(context);
    web::ScriptBridge::prepareContext(context);
}

} // namespace

WebSession& WebSession::instance() {
    static WebSession session;
    return session;
}

com::HRESULT WebSession::registerNameSpace(std::shared_ptr<app::ProtocolHandlerFactory> factory,
                                           std::string_view protocol) {
    if (!factory || protocol.empty())
        return com::E_INVALIDARG;
    handlers_.insert_or_assign(std::string(protocol), std::move(factory));
    handlersChanged();
    return com::S_OK;
}

com::HRESULT WebSession::unregisterNameSpace(const app::ProtocolHandlerFactory* factory,
                                             std::string_view protocol) {
    auto it = handlers_.find(protocol);
    if (it == handlers_.end() || it->second.get() != factory)
        return com::E_INVALIDARG;
    handlers_.erase(it);
    handlersChanged();
    return com::S_OK;
}

void WebSession::handlersChanged() {
    for (WebKitWebView* view : views_)
        apply(view);
}

std::string WebSession::defaultUserAgent() const {
    if (defaultUserAgent_.empty()) {
        auto settings = web::GObjectRef<WebKitSettings>::adopt(webkit_settings_new());
        defaultUserAgent_ = webkit_settings_get_user_agent(settings.get());
    }
    return defaultUserAgent_;
}

std::string WebSession::currentUserAgent() const {
    for (const char* protocol : {"http", "https"}) {
        auto it = handlers_.find(protocol);
        if (it == handlers_.end())
            continue;
        std::u16string agent = it->second->userAgent();
        if (!agent.empty())
            return com::utf16ToUtf8(agent);
    }
    return {};
}

WebKitWebContext* WebSession::contextFor(const std::u16string& optionKeyPath) {
    if (isDefaultKeyPath(optionKeyPath)) {
        WebKitWebContext* context = webkit_web_context_get_default();
        prepare(context);
        return context;
    }
    std::string key = com::utf16ToUtf8(optionKeyPath);
    if (auto it = contexts_.find(key); it != contexts_.end())
        return it->second.get();
    std::string data = dataDirectory(optionKeyPath);
    std::string cache = cacheDirectory(optionKeyPath);
    auto manager = web::GObjectRef<WebKitWebsiteDataManager>::adopt(webkit_website_data_manager_new(
        "base-data-directory", data.c_str(), "base-cache-directory", cache.c_str(), nullptr));
    auto context = web::GObjectRef<WebKitWebContext>::adopt(
        webkit_web_context_new_with_website_data_manager(manager.get()));
    prepare(context.get());
    WebKitWebContext* result = context.get();
    contexts_.emplace(std::move(key), std::move(context));
    return result;
}

std::string WebSession::dataDirectory(const std::u16string& optionKeyPath) {
    return joinPath(g_get_user_data_dir(), keyPathAsRelativePath(optionKeyPath));
}

std::string WebSession::cacheDirectory(const std::u16string& optionKeyPath) {
    return joinPath(g_get_user_cache_dir(), keyPathAsRelativePath(optionKeyPath));
}

void WebSession::track(WebKitWebView* view) {
    if (std::find(views_.begin(), views_.end(), view) == views_.end()) {
        views_.push_back(view);
        g_signal_connect(view, "destroy", G_CALLBACK(onViewDestroyed), this);
    }
    apply(view);
}

void WebSession::apply(WebKitWebView* view) const {
    std::string agent = currentUserAgent();
    // One rule for both ways the text reaches the page, applied before either changes: a
    // text the engine's setting would refuse goes to neither.
    if (!agent.empty() && !app::isValidUserAgent(agent))
        agent.clear();
    // An empty text gives the view WebKit's own user agent back.
    webkit_settings_set_user_agent(webkit_web_view_get_settings(view),
                                   agent.empty() ? nullptr : agent.c_str());
    // The setting reaches the page's web process only after the script turn that may be
    // running there now; the bridge sets the header of the page's http and https
    // requests at once. It gets WebKit's own text explicitly rather than none, because
    // until the setting arrives the page's own header is still the previous text.
    // A text that cannot be a header value leaves the page WebKit's own header.
    web::ScriptBridge::setRequestUserAgent(view, agent.empty() ? defaultUserAgent() : agent);
}

void WebSession::onViewDestroyed(WebKitWebView* view, WebSession* self) {
    std::erase(self->views_, view);
}

} // namespace norv::host
