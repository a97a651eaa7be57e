#pragma once
// The browser session of the process: the web contexts (one per option key path), the
// protocol handlers the program registered, and the pages that follow them.
//
// WebKit asks for no user agent per request in this process; it sends the user agent of
// each view's settings with every request of the page and shows the same text as
// navigator.userAgent. So the session keeps the setting of every page it tracks equal to
// what the registered http handler answers (the https one when only it is registered),
// and to WebKit's own default when no handler gives a text. WebKit applies a new setting
// in the page's web process only after the page's current script turn; so the session
// also hands the same text (WebKit's own when none) to the script bridge of the view,
// which writes it into the User-Agent header of each http and https request the page
// sends from the moment the change is made.

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/InternetSession.h"
#include "platform/web/WebContext.h"

typedef struct _WebKitWebView WebKitWebView;

namespace norv::host {

class WebSession final : public app::InternetSession {
public:
    static WebSession& instance();

    com::HRESULT registerNameSpace(std::shared_ptr<app::ProtocolHandlerFactory> factory,
                                   std::string_view protocol) override;
    com::HRESULT unregisterNameSpace(const app::ProtocolHandlerFactory* factory,
                                     std::string_view protocol) override;
    void handlersChanged() override;

    // WebKit's own user agent.
    std::string defaultUserAgent() const;
    // The user agent pages carry now; empty when it is WebKit's own.
    std::string currentUserAgent() const;

    // The web context for an option key path, prepared with the `res` scheme and the
    // script bridge. "default" (or empty) is WebKit's default context; any other path
    // gives a context whose data and cache live under dataDirectory/cacheDirectory.
    web::WebContext contextFor(const std::u16string& optionKeyPath);

    // $XDG_DATA_HOME (or its default) + the path with '\' as '/'.
    static std::string dataDirectory(const std::u16string& optionKeyPath);
    // $XDG_CACHE_HOME (or its default) + the path with '\' as '/'.
    static std::string cacheDirectory(const std::u16string& optionKeyPath);

    // Gives `view` the current user agent, now and whenever the handlers change, until the
    // view is destroyed.
    void track(WebKitWebView* view);

private:
    WebSession() = default;
    void apply(WebKitWebView* view) const;
    static void onViewDestroyed(WebKitWebView* view, WebSession* self);

    std::map<std::string, std::shared_ptr<app::ProtocolHandlerFactory>, std::less<>> handlers_;
    std::map<std::string, web::WebContext> contexts_;
    std::vector<WebKitWebView*> views_;
    mutable std::string defaultUserAgent_; // WebKit's own, once asked for
};

} // namespace norv::host
