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
#include "host/TaviSplashBase.h"
#include "markup/Address.h"
#include "platform/com/Exceptions.h"
#include "platform/gtk/MessageLoop.h"
#include "platform/web/ScriptBridge.h"
#include "res/Resources.h"
#include "script/DialogOwner.h"
#include "script/PlatformServices.h"
#include "script/TaviPlatform.h"
#include "script/TaviWindow.h"

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

bool endsWithIgnoringCase(std::u16string_view text, std::u16string_view end) {
    if (end.size() > text.size())
        return false;
    text = text.substr(text.size() - end.size());
    for (std::size_t i = 0; i < end.size(); ++i) {
        auto lower = [](char16_t c) {
            return c >= u'A' && c <= u'Z' ? char16_t(c + 32) : c;
        };
        if (lower(text[i]) != lower(end[i]))
            return false;
    }
    return true;
}

// Whether `url` shows the page `name` of the UI settings: the program's resource of that
// name, or that address.
bool isPageOfName(const std::u16string& url, std::u16string_view name) {
    const std::string utf8 = com::utf16ToUtf8(name);
    if (res::findResource(utf8)) {
        auto shown = res::resourceNameOfUrl(com::utf16ToUtf8(url));
        return shown && endsWithIgnoringCase(com::utf8ToUtf16(*shown), name) &&
               shown->size() == utf8.size();
    }
    return markup::sameAddress(com::Bstr(url), com::Bstr(name));
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
    stopNotifications();
    if (afterSplashSource_)
        g_source_remove(afterSplashSource_);
    dialogOwner_.reset();
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
    // One platform object per dialog, for every page it shows; a service it cannot make
    // fails the dialog's creation. The native window object comes with the part of the
    // host that defines it.
    com::ComPtr<script::TaviPlatform> platform;
    com::throwIfFailed(script::TaviPlatform::create(
        script::desktopPlatformServices(
            [this](com::IDispatch* window, script::NativeWindow* out) {
                return resolvePageWindow(window, out);
            },
            [this](com::ComPtr<com::IDispatch>& document) { return newPageDocument(document); }),
        &platform));
    owner_ = shellOwner;
    dialogOwner_ = std::make_shared<WindowAsDialogOwner>(*this);
    platform->setDialogOwner(dialogOwner_);
    platform_ = com::ComPtr<com::IDispatch>(static_cast<typelib::ITaviPlatform*>(platform.get()));
    create(shellOwner->window());
    site_ = std::make_unique<HostBrowserSite>(*this, *browser(), *bridge(),
                                              [this] { onWindowClosing(false); });
    self_ = std::move(self);
    if (followsSession())
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

com::HRESULT HostDialog::newPageDocument(com::ComPtr<com::IDispatch>& document) {
    document.reset();
    web::ScriptBridge* page = bridge();
    if (!page)
        return com::E_ACCESSDENIED;
    com::Variant made;
    com::HRESULT hr = page->runScript(u"document.implementation.createHTMLDocument('')", &made);
    if (com::failed(hr))
        return hr;
    if (made.vt() != com::VT_DISPATCH || made.dispatch() == nullptr)
        return com::E_NOINTERFACE;
    document = com::ComPtr<com::IDispatch>(made.dispatch());
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
    closeSplash();
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

void HostDialog::onWindowDestroyed() {
    // The window is gone, and with it this object.
    std::unique_ptr<app::HostWindow> keep = std::move(self_);
}

void HostDialog::onBeforeNavigate(const std::u16string&) {
    if (scroller_ && gestures_)
        gestures_->engine().removeHandler(scroller_);
    scroller_.reset();
    waitingForSplash_ = false;
    if (!errorPagePending_)
        failedUrl_.clear();
    try {
        splashStep();
    } catch (const com::FrameworkException& e) {
        messageBox(e.message(), {}, platform::gtk::MessageBoxIcon::Warning);
        close();
    }
}

bool HostDialog::onDocumentCompleted(const std::u16string& url) {
    web::ScriptBridge* page = bridge();
    if (gestures_ && !scroller_ && page && page->hasScriptWindow()) {
        scroller_ = std::make_shared<ScrollingHandler>(std::make_shared<BridgeScrollTarget>(*page));
        gestures_->engine().addHandler(scroller_);
    }
    bool layOutNow = true;
    if (isDocumentReady() && splash_) {
        // A page that fails (or loads) before the splash is up still shows the splash
        // first: the window comes once the splash has been seen.
        if (splash_->pageShown() || !splash_->windowExists()) {
            closeSplash();
        } else {
            waitingForSplash_ = true;
            layOutNow = false;
        }
    }
    if (errorPagePending_) {
        com::Bstr page;
        auto settings = uiSettings();
        if (!settings || com::failed(settings->get_errorDialogURI(&page)) || page.isEmpty() ||
            isPageOfName(url, page.view()))
            errorPagePending_ = false;
    }
    return layOutNow;
}

void HostDialog::splashShown(TaviSplashBase& splash) {
    if (splash_ != &splash || !waitingForSplash_ || afterSplashSource_)
        return;
    // Once the splash has been laid out and drawn, from the main loop.
    afterSplashSource_ = g_idle_add_full(
        G_PRIORITY_LOW,
        [](gpointer data) -> gboolean {
            auto* self = static_cast<HostDialog*>(data);
            self->afterSplashSource_ = 0;
            self->layOutAfterSplash();
            return G_SOURCE_REMOVE;
        },
        this, nullptr);
}

void HostDialog::layOutAfterSplash() {
    if (!std::exchange(waitingForSplash_, false))
        return;
    closeSplash();
    layOutIfPending();
}

com::ComPtr<typelib::ITaviUISettings> HostDialog::uiSettings() const {
    com::ComPtr<typelib::ITaviUISettings> settings;
    if (com::failed(host_->get_uiSettings(settings.put())))
        return nullptr;
    return settings;
}

void HostDialog::splashStep() {
    if (!splashOnNextLoad_)
        return;
    splashOnNextLoad_ = false;
    if (GtkWindow* w = window())
        gtk_widget_hide(GTK_WIDGET(w));
    auto settings = uiSettings();
    if (!settings)
        throw com::OleException(com::E_FAIL);
    com::Bstr page;
    com::throwIfFailed(settings->get_splashScreenURI(&page));
    if (page.isEmpty() || !owner_)
        return;
    closeSplash();
    auto splash = std::make_unique<TaviSplashBase>(host_, session(), *this);
    splash->setCaption(model().caption());
    splash->setDefaultDeclaration(defaultDeclaration());
    splash->setOptionKeyPath(optionKeyPath());
    TaviSplashBase& created = *splash;
    created.createWithOwner(std::move(splash), *owner_);
    splash_ = &created;
    created.openPageByName(std::u16string(page.view()));
}

void HostDialog::closeSplash() {
    if (TaviSplashBase* splash = std::exchange(splash_, nullptr)) {
        splash->detachParent();
        splash->dismiss();
    }
}

void HostDialog::splashGone(TaviSplashBase& splash) {
    if (splash_ != &splash)
        return;
    splash_ = nullptr;
    layOutAfterSplash();
}

void HostDialog::openPageByName(const std::u16string& name) {
    const std::string utf8 = com::utf16ToUtf8(name);
    if (res::findResource(utf8))
        navigate(com::utf8ToUtf16(res::resourceUrl(utf8)));
    else
        navigate(name);
}

void HostDialog::reloadPage(bool useSplashScreen) {
    if (useSplashScreen)
        splashOnNextLoad_ = true;
    openUnchecked(!failedUrl_.empty() ? failedUrl_ : currentAddress());
}

bool HostDialog::onNavigateError(const std::u16string& url, const std::u16string& frame,
                                 com::HRESULT status) {
    failedUrl_ = currentAddress();
    if (!errorPageEnabled_)
        return false;
    com::Bstr page;
    auto settings = uiSettings();
    if (settings && com::succeeded(settings->get_errorDialogURI(&page)) && !page.isEmpty()) {
        const std::string name = com::utf16ToUtf8(page.view());
        const bool resource = res::findResource(name).has_value();
        // The error page itself failed: no second attempt.
        const bool itself = resource ? endsWithIgnoringCase(failedUrl_, page.view())
                                     : markup::sameAddress(com::Bstr(failedUrl_), page);
        if (!itself) {
            errorPagePending_ = true;
            openUnchecked(resource ? com::utf8ToUtf16(res::resourceUrl(name))
                                   : std::u16string(page.view()));
            // The engine shows no page of its own for the failure: the error page is on
            // its way.
            return true;
        }
    }
    TaviDialogBase::onNavigateError(url, frame, status);
    close();
    return false;
}

} // namespace norv::host
