#include "host/HostDialog.h"

#include <gdk/gdkx.h>
#include <gtk/gtk.h>

#include <cstdio>

#include "app/TaviHost.h"
#include "host/ExtInitScript.h"
#include "host/ShellOwnerWindow.h"
#include "platform/com/Exceptions.h"
#include "platform/gtk/MessageLoop.h"
#include "platform/web/ScriptBridge.h"
#include "script/TaviWindow.h"

namespace norv::host {

namespace {

int& liveDialogs() {
    static int count = 0;
    return count;
}

} // namespace

HostDialog::HostDialog(com::ComPtr<app::TaviHost> host, WebSession& session,
                       std::vector<std::string> extraOrigins)
    : TaviDialogBase(session), host_(std::move(host)), extraOrigins_(std::move(extraOrigins)) {
    ++liveDialogs();
    script::NativeWindowHost& self = *this;
    taviWindow_ = com::makeObject<script::TaviWindow>(self);
    nativeWindow_ =
        com::ComPtr<com::IDispatch>(static_cast<typelib::ITaviWindow*>(taviWindow_.get()));
}

HostDialog::~HostDialog() {
    detachNativeWindow();
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
    // The platform object comes with the part of the host that defines it; until then
    // the page has none.
    create(shellOwner->window());
    site_ = std::make_unique<HostBrowserSite>(*this, *browser(), *bridge(),
                                              [this] { onWindowClosing(false); });
    self_ = std::move(self);
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
    // Native access only for the application's own pages.
    if (!trusted_ || !trusted_->isTrusted(url.toUtf8())) {
        auto origin = TrustedOrigins::originOf(url.toUtf8());
        g_message("No window.tavi for %s: its origin (%s) is not one the program trusts",
                  url.toUtf8().c_str(), origin ? origin->c_str() : "none");
        return;
    }
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
    site_.reset();
    // Script may keep the native window object: from now on it reaches nothing.
    detachNativeWindow();
}

void HostDialog::detachNativeWindow() {
    if (taviWindow_)
        taviWindow_->detach();
    events_.clear();
}

script::NativeWindow HostDialog::nativeWindowId() {
    GtkWindow* w = window();
    GdkWindow* gdk = w ? gtk_widget_get_window(GTK_WIDGET(w)) : nullptr;
    if (!gdk || !GDK_IS_X11_WINDOW(gdk))
        return 0;
    return gdk_x11_window_get_xid(gdk);
}

void HostDialog::fireWindowEvent(std::u16string_view type) {
    if (!taviWindow_ || !taviWindow_->isAttached())
        return;
    Busy busy(*this);
    // Listeners' failures are the page's own business.
    events_.fire(type, nativeWindow_.get());
}

void HostDialog::reloadPage(bool splash) {
    if (splash)
        splashOnNextLoad_ = true;
    reopen(failedUrl_.empty() ? currentAddress() : failedUrl_);
}

void HostDialog::onWindowDestroyed() {
    // The window is gone, and with it this object.
    std::unique_ptr<app::HostWindow> keep = std::move(self_);
}

void HostDialog::onBeforeNavigate(const std::u16string&) {
    if (!errorPagePending_)
        failedUrl_.clear();
    // The splash shown while the next document loads comes with the splash and error
    // pages; until then the flag is only kept.
}

void HostDialog::onDocumentCompleted(const std::u16string&) {
    // Closing the splash and ending the error page's wait come with the splash and error
    // pages.
}

} // namespace norv::host
