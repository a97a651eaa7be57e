#include "host/WebSession.h"

#include <glib-object.h>

#include <algorithm>

#include "app/UserAgent.h"
#include "platform/glib/Owned.h"
#include "platform/web/ResourceScheme.h"
#include "platform/web/ScriptBridge.h"
#include "platform/web/WebView.h"
#include "res/Resources.h"

namespace norv::host {

namespace {

std::string keyPathAsRelativePath(const std::u16string& optionKeyPath) {
    std::string path = com::utf16ToUtf8(optionKeyPath);
    std::replace(path.begin(), path.end(), '\\', '/');
    return path;
}

std::string joinPath(const char* base, const std::string& relative) {
    glib::OwnedText joined(g_build_filename(base, relative.c_str(), nullptr));
    return joined.get();
}

bool isDefaultKeyPath(const std::u16string& optionKeyPath) {
    return optionKeyPath.empty() || optionKeyPath == u"default";
}

// The program's resources at res: addresses.
std::optional<web::SchemeResource> programResource(std::string_view uri) {
    auto resource = res::resourceOfUrl(uri);
    if (!resource)
        return std::nullopt;
    return web::SchemeResource{std::move(resource->data), std::move(resource->mimeType)};
}

void prepare(const web::WebContext& context) {
    web::registerResourceScheme(context.get(), "res", programResource);
    web::ScriptBridge::prepareContext(context.get());
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
    if (defaultUserAgent_.empty())
        defaultUserAgent_ = web::WebView::defaultUserAgent();
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

web::WebContext WebSession::contextFor(const std::u16string& optionKeyPath) {
    if (isDefaultKeyPath(optionKeyPath)) {
        web::WebContext context = web::WebContext::defaultContext();
        prepare(context);
        return context;
    }
    std::string key = com::utf16ToUtf8(optionKeyPath);
    if (auto it = contexts_.find(key); it != contexts_.end())
        return it->second;
    web::WebContext context = web::WebContext::withDirectories(dataDirectory(optionKeyPath),
                                                               cacheDirectory(optionKeyPath));
    prepare(context);
    contexts_.emplace(std::move(key), context);
    return context;
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
    web::WebView::of(view).setUserAgent(agent);
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
