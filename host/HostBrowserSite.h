#pragma once
// HostBrowserSite: the host dialog's site for its browser. It hands the page's uncaught
// script errors to the dialog's hooks (the page goes on as the hooks say), applies the
// dialog's URL action policy to the engine (script, form submission and cookies are
// always allowed), and turns the page's own window.resizeTo and resizeBy into the
// dialog's operations with all their checks and messages (a refusal reaches the page as
// an exception with the message); window.moveTo and moveBy have no effect, and
// window.close() closes the dialog.

#include <functional>

#include "host/DialogHooks.h"

namespace norv::web {
class BrowserControl;
class ScriptBridge;
} // namespace norv::web

namespace norv::host {

class HostBrowserSite {
public:
    // `close`: what the page's window.close() does.
    HostBrowserSite(IDialogHooks& hooks, web::BrowserControl& browser, web::ScriptBridge& bridge,
                    std::function<void()> close);
    ~HostBrowserSite();
    HostBrowserSite(const HostBrowserSite&) = delete;
    HostBrowserSite& operator=(const HostBrowserSite&) = delete;

private:
    web::ScriptBridge& bridge_;
};

} // namespace norv::host
