#include "host/HostDialog.h"

#include <gdk/gdkx.h>
#include <gtk/gtk.h>

#include <cstdio>

#include "app/TaviHost.h"
#include "host/BridgeMutePage.h"
#include "host/BridgeScrollTarget.h"
#include "host/BrowserGestures.h"
#include "host/ExtInitScript.h"
#include "host/ScrollingHandler.h"
#include "host/SessionWatcher.h"
#include "host/ShellOwnerWindow.h"
#include "platform/com/Exceptions.h"
#include "platform/gtk/MessageLoop.h"
#include "platform/web/ScriptBridge.h"
#include "script/DialogOwner.h"
#include "script/PlatformServices.h"
#include "script/TaviPlatform.h"

namespace norv::host {

namespace {

// Whether the object handed in is the current document's window (and the probe is gone).
constexpr std::u16string_view kWindowProbePath = u"window.tavi.___dwTarget";
constexpr std::u16string_view kWindowProbeScript =
    u"(function(){var n=window.tavi;var r=n.___dwTarget===window;delete n.___dwTarget;"
    u"return r;})()";

int& liveDialogs() {
    static int count = 0;
    return count;
}

// The dialog's window as the parent of its pages' file dialogs. The platform object and
// the services it hands out hold it weakly: a dialog object a page keeps after the window
// is gone opens without a parent.
class WindowAsDialogOwner final : public script::DialogOwner {
public:
    explicit WindowAsDialogOwner(TaviDialogBase& dialog) : dialog_(dialog) {}
    GtkWindow* dialogParent() override { return dialog_.window(); }

private:
    TaviDialogBase& dialog_;
};

} // namespace

HostDialog::HostDialog(com::ComPtr<app::TaviHost> host, WebSession& session,
                       std::vector<std::string> extraOrigins)
    : TaviDialogBase(session), host_(std::move(host)), extraOrigins_(std::move(extraOrigins)) {
    ++liveDialogs();
}

HostDialog::~HostDialog() {
    stopNotifications();
    dialogOwner_.reset();
    site_.reset();
    if (--liveDialogs() == 0)
        platform::gtk::MessageLoop::postQuit(0);
}

int HostDialog::liveCount() {
    return liveDialogs();
}

void HostDialog::navigate(const std::u16string& address) {
    if (!trusted_)
        trusted_.emplace(loadableAddress(address), extraOrigins_);
    TaviDialogBase::navigate(address);
}

void HostDialog::createWithOwner(std::unique_ptr<app::HostWindow> self, app::OwnerWindow& owner) {
    auto* shellOwner = dynamic_cast<ShellOwnerWindow*>(&owner);
    if (self.get() != this || !shellOwner || windowExists())
        throw com::InvalidArgException();
    // One platform object per dialog, for every page it shows; a service it cannot make
    // fails the dialog's creation. The native window object comes with the part of the
    // host that defines it.
    com::ComPtr<script::TaviPlatform> platform;
    com::throwIfFailed(script::TaviPlatform::create(
        script::desktopPlatformServices([this](com::IDispatch* window, script::NativeWindow* out) {
            return resolvePageWindow(window, out);
        }),
        &platform));
    dialogOwner_ = std::make_shared<WindowAsDialogOwner>(*this);
    platform->setDialogOwner(dialogOwner_);
    platform_ = com::ComPtr<com::IDispatch>(static_cast<typelib::ITaviPlatform*>(platform.get()));
    create(shellOwner->window());
    site_ = std::make_unique<HostBrowserSite>(*this, *browser(), *bridge(),
                                              [this] { onWindowClosing(false); });
    self_ = std::move(self);
    session_ = std::make_unique<SessionWatcher>([this](bool mute) {
        g_debug("login session: %s the page's players", mute ? "muting" : "unmuting");
        // The mute script works through window.tavi, which only trusted pages have.
        if (web::ScriptBridge* page = bridge(); page && pageTrusted_) {
            BridgeMutePage target(*page);
            muteForSession(target, mute);
        }
    });
    // The view is the widget that receives the browser's input.
    gestures_ =
        std::make_unique<BrowserGestures>(reinterpret_cast<GtkWidget*>(browser()->view().get()));
}

com::HRESULT HostDialog::resolvePageWindow(com::IDispatch* window, script::NativeWindow* out) {
    *out = 0;
    web::ScriptBridge* page = bridge();
    if (!window || !page)
        return com::E_NOINTERFACE;
    // The page's own window object is the one the current document calls `window`.
    com::HRESULT hr = page->setScriptValue(kWindowProbePath, com::Variant::fromDispatch(window));
    if (com::failed(hr))
        return hr;
    com::Variant same;
    hr = page->runScript(kWindowProbeScript, &same);
    if (com::failed(hr))
        return hr;
    if (same.vt() != com::VT_BOOL || same.boolVal() == com::VARIANT_FALSE)
        return com::E_NOINTERFACE;
    if (GtkWindow* w = this->window(); w && gtk_widget_get_window(GTK_WIDGET(w)))
        *out = gdk_x11_window_get_xid(gtk_widget_get_window(GTK_WIDGET(w)));
    return com::S_OK;
}

void HostDialog::stopNotifications() {
    session_.reset();
    scroller_.reset();
    gestures_.reset();
}

void HostDialog::setType(TaviWindowTypes type) {
    model().setType(type);
}

TaviWindowTypes HostDialog::getType() {
    return model().getType();
}

void HostDialog::setResizable(bool flag) {
    model().setResizable(flag);
}

bool HostDialog::getResizable() {
    return model().getResizable();
}

void HostDialog::onScriptWindowReady(const com::Bstr& url) {
    pageTrusted_ = false;
    // Native access only for the application's own pages.
    if (!trusted_ || !trusted_->isTrusted(url.toUtf8())) {
        auto origin = TrustedOrigins::originOf(url.toUtf8());
        g_message("No window.tavi for %s: its origin (%s) is not one the program trusts",
                  url.toUtf8().c_str(), origin ? origin->c_str() : "none");
        return;
    }
    pageTrusted_ = true;
    web::ScriptBridge& page = *bridge();
    // A page without script, or one that throws here, simply has no bridge.
    page.runScript(kExtInitScript);
    page.setScriptValue(u"window.tavi.host",
                        com::Variant::fromDispatch(static_cast<app::TaviHost*>(host_.get())));
    if (platform_)
        page.setScriptValue(u"window.tavi.platform", com::Variant::fromDispatch(platform_.get()));
    if (nativeWindow_)
        page.setScriptValue(u"window.tavi._nw", com::Variant::fromDispatch(nativeWindow_.get()));
}

void HostDialog::onWindowClosing(bool) {
    onClose();
}

void HostDialog::onCloseClicked(com::IDispatch*) {
    onClose();
}

void HostDialog::onMinimizeClicked(com::IDispatch*) {
    if (GtkWindow* w = window())
        gtk_window_iconify(w);
}

void HostDialog::onTitleDragged(com::IDispatch*) {
    model().beginMove();
}

bool HostDialog::onScriptError(const com::Bstr&, const com::Bstr& message, std::int32_t line,
                               std::int32_t code, std::int32_t character) {
    std::string text = "Error:\t" + message.toUtf8() + "\nLine:\t" + std::to_string(line) +
                       "\nCode:\t" + std::to_string(code) + "\nChar:\t" + std::to_string(character);
    messageBox(com::utf8ToUtf16(text), u"Script error", platform::gtk::MessageBoxIcon::Warning);
    return true;
}

void HostDialog::resizeBy(std::int32_t dx, std::int32_t dy) {
    model().resizeBy(dx, dy);
}

void HostDialog::resizeTo(std::int32_t width, std::int32_t height) {
    model().resizeTo(width, height);
}

void HostDialog::onClose() {
    // Modeless: the window destroys itself from the main loop.
    TaviDialogBase::onClose();
}

void HostDialog::onDestroy() {
    errorPageEnabled_ = false;
    stopNotifications();
    site_.reset();
}

void HostDialog::onWindowDestroyed() {
    // The window is gone, and with it this object.
    std::unique_ptr<app::HostWindow> keep = std::move(self_);
}

void HostDialog::onBeforeNavigate(const std::u16string&) {
    if (scroller_ && gestures_)
        gestures_->engine().removeHandler(scroller_);
    scroller_.reset();
    if (!errorPagePending_)
        failedUrl_.clear();
    // The splash shown while the next document loads comes with the splash and error
    // pages; until then the flag is only kept.
}

void HostDialog::onDocumentCompleted(const std::u16string&) {
    web::ScriptBridge* page = bridge();
    if (gestures_ && !scroller_ && page && page->hasScriptWindow()) {
        scroller_ = std::make_shared<ScrollingHandler>(std::make_shared<BridgeScrollTarget>(*page));
        gestures_->engine().addHandler(scroller_);
    }
    // Closing the splash and ending the error page's wait come with the splash and error
    // pages.
}

} // namespace norv::host
