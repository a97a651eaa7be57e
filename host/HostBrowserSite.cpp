#include "host/HostBrowserSite.h"

#include "platform/web/BrowserControl.h"
#include "platform/web/ScriptBridge.h"

namespace norv::host {

namespace {

// URL actions of the engine's security questions the site answers.
constexpr std::uint32_t kRunScript = 0x1400;
constexpr std::uint32_t kCookies = 0x1A02;
constexpr std::uint32_t kThirdPartyCookies = 0x1A04;

constexpr std::uint8_t kAllow = 0;

} // namespace

HostBrowserSite::HostBrowserSite(IDialogHooks& hooks, web::BrowserControl& browser,
                                 web::ScriptBridge& bridge, std::function<void()> close)
    : bridge_(bridge) {
    // The engine asks nothing per page: what the policy allows whatever the zone is set
    // once; what it leaves open stays the engine's default.
    if (hooks.urlActionPolicy(kRunScript) == kAllow)
        browser.setScriptEnabled(true);
    if (hooks.urlActionPolicy(kCookies) == kAllow &&
        hooks.urlActionPolicy(kThirdPartyCookies) == kAllow)
        browser.setAllCookiesAccepted(true);
    // Forms are submitted by the engine in any case.

    bridge_.setScriptErrorHandler([&hooks](const web::ScriptError& error) {
        try {
            return hooks.onScriptError(error.url, error.message, error.line, error.code,
                                       error.character);
        } catch (const std::exception&) {
            return true;
        }
    });
    bridge_.setWindowCallHandler(
        [&hooks, close = std::move(close)](web::WindowCall call, std::int32_t x,
                                           std::int32_t y) -> com::HRESULT {
            return com::guard(com::IID_NULL, [&] {
                switch (call) {
                case web::WindowCall::close:
                    close();
                    break;
                case web::WindowCall::resizeTo:
                    hooks.resizeTo(x, y);
                    break;
                case web::WindowCall::resizeBy:
                    hooks.resizeBy(x, y);
                    break;
                case web::WindowCall::moveTo:
                case web::WindowCall::moveBy:
                    // The hooks do not move the window; the page is not told.
                    try {
                        if (call == web::WindowCall::moveTo)
                            hooks.moveTo(x, y);
                        else
                            hooks.moveBy(x, y);
                    } catch (const com::FrameworkException&) {
                    }
                    break;
                }
                return com::S_OK;
            });
        });
}

HostBrowserSite::~HostBrowserSite() {
    bridge_.setScriptErrorHandler(nullptr);
    bridge_.setWindowCallHandler(nullptr);
}

} // namespace norv::host
