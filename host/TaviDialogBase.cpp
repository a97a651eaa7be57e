#include "host/TaviDialogBase.h"

#include "host/PlayerElementHost.h"

#include <gdk/gdkkeysyms.h>
#include <gtk/gtk.h>

#include <cstdio>

#include "host/ChromeEvents.h"
#include "host/LiveHtmlDocument.h"
#include "host/PlayerElementHost.h"
#include "host/WebSession.h"
#include "markup/Address.h"
#include "markup/WindowTypes.h"
#include "platform/com/Exceptions.h"
#include "platform/glib/Owned.h"
#include "platform/gtk/GtkWindowSystem.h"
#include "platform/gtk/HeldWindow.h"
#include "platform/gtk/OwnerWindow.h"
#include "platform/web/ScriptBridge.h"

namespace norv::host {

using com::HRESULT;
using namespace typelib;

namespace {

// What navigate raises for an address its check refuses (ERROR_INVALID_NETNAME).
constexpr HRESULT kInvalidAddress = com::hresult(0x800704D9);
// What the end of the page's web process stands for (ERROR_PROCESS_ABORTED).
constexpr HRESULT kWebProcessEnded = com::hresult(0x8007042B);
// What the engine's own error page stands for when no failure was reported before it.
constexpr HRESULT kEngineErrorPage = 53;

bool isTrue(com::VARIANT_BOOL value) {
    return value == com::VARIANT_TRUE;
}

bool startsWith(std::u16string_view text, std::u16string_view prefix) {
    return text.size() >= prefix.size() && text.substr(0, prefix.size()) == prefix;
}

bool shiftHeldNow() {
    GdkDisplay* display = gdk_display_get_default();
    return display &&
           (gdk_keymap_get_modifier_state(gdk_keymap_get_for_display(display)) & GDK_SHIFT_MASK);
}

} // namespace

std::string TaviDialogBase::loadableAddress(const std::u16string& address) {
    com::Bstr canonical;
    if (com::succeeded(markup::canonicalise(com::Bstr(address), canonical)) && !canonical.isEmpty())
        return canonical.toUtf8();
    return com::utf16ToUtf8(address);
}

TaviDialogBase::Busy::Busy(TaviDialogBase& dialog) : dialog_(dialog) {
    ++dialog_.busy_;
}

TaviDialogBase::Busy::~Busy() {
    if (--dialog_.busy_ == 0 && dialog_.destroyPending_)
        dialog_.postDestroy();
}

TaviDialogBase::TaviDialogBase(WebSession& session) : session_(session) {}

TaviDialogBase::~TaviDialogBase() {
    if (destroySource_)
        g_source_remove(destroySource_);
    dropChrome();
    model_.detach();
    players_.reset();
    bridge_.reset();
    browser_.reset();
    system_.reset();
    if (held_ && held_->window())
        g_signal_handlers_disconnect_by_data(held_->window(), this);
    held_.reset();
}

// ---- 1 to 4 ----------------------------------------------------------------------------

void TaviDialogBase::create(platform::gtk::OwnerWindow& owner) {
    if (held_)
        throw com::InvalidArgException();
    held_ = std::make_unique<platform::gtk::HeldWindow>();
    GtkWindow* window = held_->window();
    // The window exists from now on: the pending state becomes its styles, caption and
    // place.
    system_ = std::make_unique<platform::gtk::GtkWindowSystem>(window);
    model_.attach(*system_);
    owner.adopt(window);
    platform::gtk::OwnerWindow::markClosableByOwner(window);
    if (GdkPixbuf* icon = gtk_window_get_icon(owner.window()))
        gtk_window_set_icon(window, icon);
    g_signal_connect(window, "delete-event", G_CALLBACK(onDelete), this);
    g_signal_connect(window, "destroy", G_CALLBACK(onDestroyed), this);

    // The browser over the whole client area, with the bridge to its pages and the site
    // that answers them.
    description_ = com::makeObject<markup::WindowDescription>();
    web::BrowserEvents& events = *this;
    browser_ = std::make_unique<web::BrowserControl>(session_.contextFor(optionKeyPath_), events);
    browser_->hideScrollBars();
    session_.track(browser_->view().get());
    bridge_ = std::make_unique<web::ScriptBridge>(browser_->view().get());
    bridge_->setScriptWindowReadyHandler([this](const com::Bstr& url) {
        Busy busy(*this);
        scriptWindow_ = true;
        try {
            onScriptWindowReady(url);
        } catch (const std::exception& e) {
            reportAndClose(e);
        }
    });
    // The browser under the layer that shows the video of the page's players.
    gtk_widget_show(browser_->widget());
    players_ = std::make_unique<PlayerElementHost>(*bridge_, browser_->view(), browser_->widget());
    gtk_container_add(GTK_CONTAINER(window), players_->widget());

    if (!pendingAddress_.empty())
        open(std::exchange(pendingAddress_, {}));
}

void TaviDialogBase::navigate(const std::u16string& url) {
    HRESULT check = markup::validate(com::Bstr(url));
    if (com::failed(check) && check != com::E_NOTIMPL)
        throw com::OleException(kInvalidAddress);
    if (!browser_) {
        pendingAddress_ = url;
        return;
    }
    open(url);
}

void TaviDialogBase::open(const std::u16string& url) {
    lastRequested_ = url;
    browser_->navigate(loadableAddress(url));
}

void TaviDialogBase::openUnchecked(const std::u16string& url) {
    if (!browser_) {
        pendingAddress_ = url;
        return;
    }
    open(url);
}

void TaviDialogBase::reopen(const std::u16string& url) {
    if (browser_ && !url.empty())
        open(url);
}

bool TaviDialogBase::isDocumentReady() const {
    return browser_ && browser_->isDocumentReady();
}

void TaviDialogBase::reload() {
    if (!browser_)
        return;
    browser_->stop();
    if (!lastRequested_.empty())
        open(lastRequested_);
}

void TaviDialogBase::setType(TaviWindowTypes type) {
    model_.WindowStyleModel::setType(type);
}

TaviWindowTypes TaviDialogBase::getType() {
    return model_.WindowStyleModel::getType();
}

void TaviDialogBase::setResizable(bool flag) {
    model_.WindowStyleModel::setResizable(flag);
}

bool TaviDialogBase::getResizable() {
    return model_.WindowStyleModel::getResizable();
}

// ---- 9 to 18 ---------------------------------------------------------------------------

bool TaviDialogBase::onNavigateError(const std::u16string&, const std::u16string&, HRESULT status) {
    std::u16string text;
    if (auto system = com::systemMessageForHResult(status)) {
        text = *system;
    } else {
        char buffer[48];
        std::snprintf(buffer, sizeof buffer, "Navigate error: 0x%08X",
                      static_cast<unsigned>(status));
        text = com::utf8ToUtf16(buffer);
    }
    messageBox(text, {}, platform::gtk::MessageBoxIcon::Warning);
    return false;
}

void TaviDialogBase::onScriptWindowReady(const com::Bstr&) {}

void TaviDialogBase::reservedHook() {}

void TaviDialogBase::onWindowClosing(bool) {}

void TaviDialogBase::onCloseClicked(com::IDispatch*) {}

void TaviDialogBase::onMinimizeClicked(com::IDispatch*) {}

void TaviDialogBase::onTitleDragged(com::IDispatch*) {}

std::pair<int, int> TaviDialogBase::documentSize() {
    if (!bridge_)
        throw com::OleException(com::E_NOINTERFACE);
    com::Variant document;
    com::throwIfFailed(bridge_->runScript(u"document", &document));
    if (document.vt() != com::VT_DISPATCH || !document.dispatch())
        throw com::OleException(com::E_NOINTERFACE);
    com::ComPtr<com::IDispatch> body = dom::getObject(document.dispatch(), u"body");
    com::ComPtr<com::IDispatch> root = dom::getObject(document.dispatch(), u"documentElement");
    int width = 0;
    int height = 0;
    if (body) {
        width = dom::getInt(body.get(), u"scrollWidth");
        height = dom::getInt(body.get(), u"scrollHeight");
    }
    if (root) {
        width = std::max(width, dom::getInt(root.get(), u"scrollWidth"));
        height = std::max(height, dom::getInt(root.get(), u"scrollHeight"));
    }
    return {width, height};
}

void TaviDialogBase::messageBox(const std::u16string& text, const std::u16string& caption,
                                platform::gtk::MessageBoxIcon icon) {
    Busy busy(*this);
    const std::u16string title = caption.empty() ? model_.caption() : caption;
    platform::gtk::messageBox(held_ ? held_->window() : nullptr, com::utf16ToUtf8(text),
                              com::utf16ToUtf8(title), icon);
}

HRESULT TaviDialogBase::notifyAmbientChange(com::DISPID) {
    return com::E_NOINTERFACE;
}

bool TaviDialogBase::onScriptError(const com::Bstr&, const com::Bstr&, std::int32_t, std::int32_t,
                                   std::int32_t) {
    return false;
}

std::uint8_t TaviDialogBase::urlActionPolicy(std::uint32_t action) {
    switch (action) {
    case 0x1200: // run ActiveX controls
    case 0x1203: // script ActiveX controls
    case 0x1400: // run script
    case 0x1602: // submit forms
    case 0x1603:
    case 0x1A02: // cookies
    case 0x1A03:
    case 0x1A04:
    case 0x1A05:
    case 0x1A06:
    case 0x1A10:
    case 0x2000: // run element behaviours
        return 0;
    default:
        return 255;
    }
}

// ---- Window ----------------------------------------------------------------------------

bool TaviDialogBase::windowExists() const {
    return held_ && held_->window();
}

GtkWindow* TaviDialogBase::window() const {
    return held_ ? held_->window() : nullptr;
}

void TaviDialogBase::setCaption(const std::u16string& caption) {
    model_.setCaptionText(caption);
}

void TaviDialogBase::close() {
    onClose();
}

void TaviDialogBase::onClose() {
    postDestroy();
}

void TaviDialogBase::onDestroy() {}

void TaviDialogBase::postDestroy() {
    if (destroySource_ || !windowExists())
        return;
    destroySource_ = g_idle_add(
        [](gpointer data) -> gboolean {
            auto* self = static_cast<TaviDialogBase*>(data);
            self->destroySource_ = 0;
            self->destroyNow();
            return G_SOURCE_REMOVE;
        },
        this);
}

void TaviDialogBase::destroyNow() {
    if (busy_ > 0) {
        // A call of the dialog's own still runs further up (in a nested main loop).
        destroyPending_ = true;
        return;
    }
    destroyPending_ = false;
    if (windowExists())
        gtk_widget_destroy(GTK_WIDGET(held_->window()));
}

int TaviDialogBase::onDelete(GtkWindow*, void*, TaviDialogBase* self) {
    self->close();
    return TRUE; // the dialog destroys its window itself
}

void TaviDialogBase::onDestroyed(GtkWindow*, TaviDialogBase* self) {
    self->onDestroy();
    self->dropChrome();
    self->model_.detach();
    // The page's players go before the bridge they are elements of, the page before the
    // browser that shows it.
    self->players_.reset();
    self->bridge_.reset();
    self->browser_.reset();
    self->system_.reset();
    self->onWindowDestroyed();
}

void TaviDialogBase::reportAndClose(const std::exception& error) {
    std::u16string message;
    if (auto* framework = dynamic_cast<const com::FrameworkException*>(&error))
        message = framework->message();
    else if (dynamic_cast<const std::bad_alloc*>(&error))
        message = com::MemoryException().message();
    else
        message = com::utf8ToUtf16(error.what());
    messageBox(message, {}, platform::gtk::MessageBoxIcon::Warning);
    close();
}

// ---- Navigation ------------------------------------------------------------------------

void TaviDialogBase::onBeforeNavigate(const std::string& uri, bool engineErrorPage) {
    Busy busy(*this);
    const std::u16string url = com::utf8ToUtf16(uri);
    if (engineErrorPage) {
        // The engine's page for the failure just reported: it is shown as a document of
        // its own, without reporting the failure again.
        engineErrorPage_ = true;
        layoutPending_ = true;
        scriptWindow_ = false;
        dropChrome();
        return;
    }
    if (!firstNavigation_) {
        if (url.find(u'#') != std::u16string::npos &&
            markup::sameAddress(com::Bstr(url), com::Bstr(currentAddress_)))
            return; // a jump within the document
        if (startsWith(url, u"javascript:"))
            return;
    }
    // A new top-level document begins.
    ++navigations_;
    firstNavigation_ = false;
    layoutPending_ = true;
    engineErrorPage_ = false;
    if (shown_) {
        browser_->setBusy(true);
        browser_->hideBeforeNextDocument();
    }
    navigationError_ = com::S_OK;
    scriptWindow_ = false;
    dropChrome();
    onBeforeNavigate(url);
    currentAddress_ = url;
}

void TaviDialogBase::onNavigationAddress(const std::string& uri) {
    if (layoutPending_ && !engineErrorPage_)
        currentAddress_ = com::utf8ToUtf16(uri);
}

void TaviDialogBase::onNavigateComplete(const std::string&) {
    // The script window comes with the bridge's report of the new document, before the
    // page's own scripts run (see create).
}

bool TaviDialogBase::onNavigateError(const std::string& uri, HRESULT status) {
    Busy busy(*this);
    const std::u16string url = com::utf8ToUtf16(uri);
    if (!markup::sameAddress(com::Bstr(url), com::Bstr(currentAddress_)) ||
        startsWith(url, u"javascript:"))
        return false;
    currentAddress_ = url;
    navigationError_ = status;
    try {
        return onNavigateError(url, std::u16string(), status);
    } catch (const std::exception& e) {
        reportAndClose(e);
        return true;
    }
}

void TaviDialogBase::onDocumentComplete(const std::string& uri) {
    Busy busy(*this);
    const std::u16string url = com::utf8ToUtf16(uri);
    try {
        const bool layOutNow = onDocumentCompleted(url);
        if (!engineErrorPage_) {
            if (navigationError_ == com::S_OK && (url.empty() || !bridge_)) {
                onNavigateError(currentAddress_, std::u16string(), com::E_FAIL);
                return;
            }
            if (navigationError_ != com::S_OK) {
                onNavigateError(currentAddress_, std::u16string(), navigationError_);
                return;
            }
        }
        if (layOutNow && layoutPending_ && isDocumentReady())
            layOut();
    } catch (const std::exception& e) {
        reportAndClose(e);
    }
}

void TaviDialogBase::layOutIfPending() {
    Busy busy(*this);
    try {
        if (browser_ && layoutPending_ && isDocumentReady())
            layOut();
    } catch (const std::exception& e) {
        reportAndClose(e);
    }
}

void TaviDialogBase::layOut() {
    // Each step reads the page: the document may go away meanwhile (the page navigates
    // on, in another web process perhaps). Then the next document is the one to lay out,
    // and this one's failure is nobody's concern.
    const unsigned serial = navigations_;
    auto superseded = [&] {
        return navigations_ != serial;
    };
    try {
        loadDeclaration();
        if (!superseded())
            applyDeclaration();
        if (!superseded())
            sizeWindow();
    } catch (const com::FrameworkException& e) {
        if (superseded() || e.hresult() == com::RPC_E_DISCONNECTED)
            return;
        throw;
    }
    if (superseded())
        return;
    if (centerPending_) {
        centre();
        centerPending_ = false;
    } else {
        browser_->setBusy(false);
    }
    showWindow();
    layoutPending_ = false;
    engineErrorPage_ = false;
}

void TaviDialogBase::loadDeclaration() {
    if (!bridge_)
        throw com::OleException(com::E_NOINTERFACE);
    com::Variant document;
    com::throwIfFailed(bridge_->runScript(u"document", &document));
    if (document.vt() != com::VT_DISPATCH || !document.dispatch())
        throw com::OleException(com::E_NOINTERFACE);
    auto live = com::makeObject<LiveHtmlDocument>(com::ComPtr<com::IDispatch>(document.dispatch()));
    com::VARIANT_BOOL found = com::VARIANT_FALSE;
    HRESULT hr = description_->loadFromDocument(live.get(), &found);
    if (hr == com::S_OK)
        return;
    if (hr == com::S_FALSE || hr == com::E_NOTIMPL) {
        if (!defaultDeclaration_.isEmpty())
            description_->loadXml(defaultDeclaration_);
        else
            description_->reset();
        return;
    }
    com::throwIfFailed(hr);
}

void TaviDialogBase::applyDeclaration() {
    dropChrome();
    const int count = chrome_.bind(*description_, *bridge_);
    watchChrome();
    std::int32_t type = wtAuto;
    com::throwIfFailed(description_->get_type(&type));
    if (type == wtAuto)
        type = count == 2 ? wtCustom : wtNormal;
    setType(static_cast<TaviWindowTypes>(type));
    std::int32_t application = markup::kTriStateAuto;
    com::throwIfFailed(description_->get_isApplicationWindow(&application));
    model_.setApplicationWindow(application == markup::kTriStateYes ||
                                application == markup::kTriStateAuto);
    com::VARIANT_BOOL flag = com::VARIANT_FALSE;
    com::throwIfFailed(description_->get_isMinimizedBox(&flag));
    model_.setMinimizeBox(isTrue(flag));
    com::throwIfFailed(description_->get_isMaximizedBox(&flag));
    model_.setMaximizeBox(isTrue(flag));
    com::throwIfFailed(description_->get_isResizable(&flag));
    setResizable(isTrue(flag));
    com::throwIfFailed(description_->get_isAlwaysOnTop(&flag));
    model_.setAlwaysOnTop(isTrue(flag));
}

void TaviDialogBase::dropChrome() {
    chrome_.release();
    if (chromeEvents_)
        std::exchange(chromeEvents_, {})->detach();
}

void TaviDialogBase::watchChrome() {
    com::ComPtr<markup::IElementDescription> close;
    com::ComPtr<markup::IElementDescription> minimize;
    com::ComPtr<markup::ITitleDescription> title;
    if (com::succeeded(description_->get_title(title.put())) && title) {
        title->get_buttonClose(close.put());
        title->get_buttonMinimize(minimize.put());
    }
    ChromeActions actions{
        [this](com::IDispatch* source) { onTitleDragged(source); },
        [this](com::IDispatch* source) {
            Busy busy(*this);
            onCloseClicked(source);
        },
        [this](com::IDispatch* source) {
            Busy busy(*this);
            onMinimizeClicked(source);
        },
    };
    auto events = com::makeObject<ChromeEvents>(
        std::move(actions), com::ComPtr<com::IDispatch>(chrome_.titleElement()), close, minimize);
    // A document that does not take the watcher (no script) simply has no working chrome.
    if (com::succeeded(ChromeEvents::install(*bridge_, events.get())))
        chromeEvents_ = events;
    else
        events->detach();
}

void TaviDialogBase::dragEnded() {
    // The pointer grab kept the button's release from the page: it gets one now, where the
    // pointer is, so that neither the engine nor the page's script stays in a drag.
    if (!browser_)
        return;
    GtkWidget* view = GTK_WIDGET(browser_->view().get());
    GdkWindow* target = gtk_widget_get_window(view);
    GdkSeat* seat = gdk_display_get_default_seat(gtk_widget_get_display(view));
    if (!target || !seat)
        return;
    GdkDevice* pointer = gdk_seat_get_pointer(seat);
    GdkEvent* release = gdk_event_new(GDK_BUTTON_RELEASE);
    release->button.window = GDK_WINDOW(g_object_ref(target));
    release->button.send_event = TRUE;
    release->button.time = gtk_get_current_event_time();
    release->button.button = GDK_BUTTON_PRIMARY;
    GdkModifierType state = GdkModifierType(0);
    gdk_window_get_device_position_double(target, pointer, &release->button.x, &release->button.y,
                                          &state);
    gdk_device_get_position_double(pointer, nullptr, &release->button.x_root,
                                   &release->button.y_root);
    release->button.state = state | GDK_BUTTON1_MASK;
    gdk_event_set_device(release, pointer);
    gtk_widget_event(view, release);
    gdk_event_free(release);
}

void TaviDialogBase::sizeWindow() {
    if (model_.isScreenMode())
        return;
    auto [width, height] = declaredClientSize();
    if (width == -1 || height == -1) {
        auto [documentWidth, documentHeight] = documentSize();
        if (width == -1)
            width = documentWidth;
        if (height == -1)
            height = documentHeight;
    }
    model_.setClientSize(width, height);
}

void TaviDialogBase::sizeToDeclaration() {
    sizeWindow();
}

std::pair<int, int> TaviDialogBase::declaredClientSize() {
    std::int32_t width = -1;
    std::int32_t height = -1;
    if (!description_ || com::failed(description_->get_clientWidth(&width)))
        width = -1;
    if (!description_ || com::failed(description_->get_clientHeight(&height)))
        height = -1;
    return {width, height};
}

void TaviDialogBase::centre() {
    if (!system_ || model_.isScreenMode())
        return;
    auto area = system_->monitorOfWindow();
    if (!area)
        return;
    platform::gtk::Rect outer = system_->windowRect();
    const platform::gtk::Rect& work = area->workArea;
    system_->moveWindowTo({work.left + (work.width() - outer.width()) / 2,
                           work.top + (work.height() - outer.height()) / 2});
}

void TaviDialogBase::showWindow() {
    GtkWindow* window = held_->window();
    browser_->show();
    held_->hold(false);
    gtk_widget_show(GTK_WIDGET(window));
    shown_ = true;
    // To the top and to the foreground, the page taking the keyboard.
    gtk_window_present(window);
    gtk_widget_grab_focus(GTK_WIDGET(browser_->view().get()));
}

// ---- Browser ---------------------------------------------------------------------------

bool TaviDialogBase::onNewWindow(const std::string&, bool shift) {
    return shift || shiftHeldNow();
}

void TaviDialogBase::onWindowClosing() {
    Busy busy(*this);
    onWindowClosing(false);
}

bool TaviDialogBase::onKey(const web::KeyPress& key) {
    if (key.keyval == GDK_KEY_Control_L || key.keyval == GDK_KEY_Control_R)
        return false;
    if (key.keyval == GDK_KEY_F5)
        return true; // F5 and Ctrl+F5: no reload
    if (!key.control)
        return false;
    switch (gdk_keyval_to_upper(key.keyval)) {
    case GDK_KEY_N: // new window
    case GDK_KEY_L: // open location
    case GDK_KEY_P: // print
    case GDK_KEY_O: // open file
        return true;
    default:
        return false;
    }
}

bool TaviDialogBase::onContextMenu() {
    return true;
}

void TaviDialogBase::onWebProcessTerminated(bool outOfMemory) {
    Busy busy(*this);
    // The page is gone with its process: to the host it is the failure of the page's
    // address, and the next document (in a new process) is laid out as any other.
    layoutPending_ = true;
    scriptWindow_ = false;
    engineErrorPage_ = false;
    chrome_.release();
    navigationError_ = outOfMemory ? com::E_OUTOFMEMORY : kWebProcessEnded;
    try {
        onNavigateError(currentAddress_, std::u16string(), navigationError_);
    } catch (const std::exception& e) {
        reportAndClose(e);
    }
}

} // namespace norv::host
