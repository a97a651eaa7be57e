#pragma once
// HostDialog: the host window that `run` opens. The dialog base with the script objects
// of its pages: every top-level document of a trusted origin (see TrustedOrigins) gets
// window.tavi with the host object; the page's script errors are shown in the host's own
// "Script error" message box and the page goes on; the page's window.resizeTo and resizeBy
// go through the host's checks, moveTo and moveBy do nothing, window.close() closes the
// window. The window model's own rules for types (the cached type, the maximised window)
// apply.
//
// The page's players are muted while the user's session is disconnected and unmuted when
// it is connected again (SessionWatcher, the mute script). Drags and flicks of the pointer
// or a finger inside the browser scroll the document, with inertia after a flick
// (BrowserGestures with a ScrollingHandler on the document's scrolling element, from the
// document's completion to the next navigation).
//
// The process counts its live host dialogs: when the last one is gone the quit message
// ends the loop of `run`.
//
// Each dialog makes one platform object (the desktop's services, this window as the owner
// of its file dialogs) when its window is made, and gives it to every trusted top-level
// document as window.tavi.platform.
//
// The splash and the error page: while the splash flag is set, the next new document hides
// the window and opens the UI settings' splash page in a TaviSplashBase of its own, which
// closes once a document of this window is complete. A failed top-level load (refused,
// unresolved, TLS, timed out, the web process gone) opens the UI settings' error page in
// this window, remembering the failed address for reloadPage; an error page that fails
// itself ends in a message box and the window closes, never in a loop. After the window
// is destroyed failures open nothing.
//
// Places kept for what comes with later parts of the host: the native window object (set
// on the page beside the host object when it exists), the chrome elements' clicks and
// drag, the native window's events (fireWindowEvent).

#include <memory>
#include <optional>

#include "app/HostWindow.h"
#include "host/HostBrowserSite.h"
#include "host/TaviDialogBase.h"
#include "host/TrustedOrigins.h"
#include "platform/com/ComPtr.h"
#include "script/DisplayDesktop.h"
#include "script/EventTarget.h"
#include "script/NativeWindowHost.h"
#include "typelib/ShellInterfaces.h"

namespace norv::app {
class TaviHost;
}

namespace norv::script {
class DialogOwner;
class TaviWindow;
} // namespace norv::script

namespace norv::host {
class BrowserGestures;
class ScrollingHandler;
class SessionWatcher;
} // namespace norv::host

namespace norv::host {

class ShellOwnerWindow;
class TaviSplashBase;

class HostDialog : public TaviDialogBase, public app::HostWindow, private script::NativeWindowHost {
public:
    // `extraOrigins`: origins trusted besides the startup address's and the program's own.
    HostDialog(com::ComPtr<app::TaviHost> host, WebSession& session,
               std::vector<std::string> extraOrigins = {});
    ~HostDialog() override;

    // The number of host dialogs alive in the process.
    static int liveCount();

    // app::HostWindow
    void navigate(const std::u16string& address) override;
    bool windowExists() const override { return TaviDialogBase::windowExists(); }
    void setPendingCaption(const std::u16string& caption) override { setCaption(caption); }
    void setWindowText(const std::u16string& caption) override { setCaption(caption); }
    void setDefaultDeclaration(const com::Bstr& declaration) override {
        TaviDialogBase::setDefaultDeclaration(declaration);
    }
    void setOptionKeyPath(const std::u16string& path) override {
        TaviDialogBase::setOptionKeyPath(path);
    }
    void setSplash(bool splash) override { splashOnNextLoad_ = splash; }
    void createWithOwner(std::unique_ptr<app::HostWindow> self, app::OwnerWindow& owner) override;

    // The dialog's own rules of the window type and the resizable flag.
    void setType(TaviWindowTypes type) override;
    TaviWindowTypes getType() override;
    void setResizable(bool flag) override;
    bool getResizable() override;

    void onScriptWindowReady(const com::Bstr& url) override;
    void onWindowClosing(bool isChild) override;
    void onCloseClicked(com::IDispatch* element) override;
    void onMinimizeClicked(com::IDispatch* element) override;
    void onTitleDragged(com::IDispatch* element) override;

    // IDialogHooks
    bool onScriptError(const com::Bstr& url, const com::Bstr& message, std::int32_t line,
                       std::int32_t code, std::int32_t character) override;
    void resizeBy(std::int32_t dx, std::int32_t dy) override;
    void resizeTo(std::int32_t width, std::int32_t height) override;

    // The error page step: opens the error page, or, when that cannot be, shows the
    // failure and closes the window. False: the dialog never takes the engine's handling
    // over except by opening its own page.
    bool onNavigateError(const std::u16string& url, const std::u16string& frame,
                         com::HRESULT status) override;

    // Loads again the address that failed, or else the current one, without the address
    // check; with the splash first when `useSplashScreen`.
    void reloadPage(bool useSplashScreen) override;
    // Opens the program's resource of that name (any case), or else `name` as an address.
    void openPageByName(const std::u16string& name);
    // The splash this dialog opened has shown its page, or is gone.
    void splashShown(TaviSplashBase& splash);
    void splashGone(TaviSplashBase& splash);
    TaviSplashBase* splash() const { return splash_; }
    // The native window object of the dialog's pages (tavi.nativeWindow()).
    com::IDispatch* nativeWindow() const { return nativeWindow_.get(); }

    bool splashOnNextLoad() const { return splashOnNextLoad_; }
    const std::u16string& failedUrl() const { return failedUrl_; }

protected:
    void onClose() override;
    void onDestroy() override;
    void onWindowDestroyed() override;
    void onBeforeNavigate(const std::u16string& url) override;
    // Whether the dialog mutes its page's players while the login session is switched
    // away (a splash has none to mute).
    virtual bool followsSession() const { return true; }
    bool onDocumentCompleted(const std::u16string& url) override;
    // "moved" and "resized" to the native window's listeners.
    void fireWindowEvent(std::u16string_view type) override;

private:
    // Ends the session notifications and the gestures (before the browser goes).
    void stopNotifications();
    // The X window of the page's own `window` object (the display service's windows).
    com::HRESULT resolvePageWindow(com::IDispatch* window, script::NativeWindow* out);
    // A new HTML document of the current page's own that belongs to no window.
    com::HRESULT newPageDocument(com::ComPtr<com::IDispatch>& document);
    void splashStep();
    void closeSplash();
    void layOutAfterSplash();
    com::ComPtr<typelib::ITaviUISettings> uiSettings() const;

    // script::NativeWindowHost
    script::EventTarget& windowEvents() override { return events_; }
    script::NativeWindow nativeWindowId() override;
    void setWindowType(TaviWindowTypes type) override { setType(type); }
    TaviWindowTypes windowType() override { return getType(); }
    void setApplicationWindow(bool flag) override { model().setApplicationWindow(flag); }
    bool isApplicationWindow() override { return model().isApplicationWindow(); }
    void setMinimizeBox(bool flag) override { model().setMinimizeBox(flag); }
    bool hasMinimizeBox() override { return model().hasMinimizeBox(); }
    void setMaximizeBox(bool flag) override { model().setMaximizeBox(flag); }
    bool hasMaximizeBox() override { return model().hasMaximizeBox(); }
    void setWindowResizable(bool flag) override { setResizable(flag); }
    bool isWindowResizable() override { return getResizable(); }
    void setAlwaysOnTop(bool flag) override { model().setAlwaysOnTop(flag); }
    bool isAlwaysOnTop() override { return model().isAlwaysOnTop(); }
    void beginResizing(std::int32_t minWidth, std::int32_t minHeight, std::int32_t maxWidth,
                       std::int32_t maxHeight, std::int32_t gravity) override {
        model().beginResizing(minWidth, minHeight, maxWidth, maxHeight, gravity);
    }
    void abortResizing() override { model().abortResizing(); }
    void beginMove() override { model().beginMove(); }
    void abortMove() override { model().abortMove(); }
    void resizeWindowBy(std::int32_t dx, std::int32_t dy) override { resizeBy(dx, dy); }
    void resizeWindowTo(std::int32_t width, std::int32_t height) override {
        resizeTo(width, height);
    }
    void moveWindowBy(std::int32_t dx, std::int32_t dy) override { model().moveBy(dx, dy); }
    void moveWindowTo(std::int32_t x, std::int32_t y) override { model().moveTo(x, y); }
    void minimizeWindow() override { model().minimize(); }
    void maximizeWindow() override { model().maximize(); }
    void closeWindow() override { close(); }
    void detachNativeWindow();

    com::ComPtr<app::TaviHost> host_;
    ShellOwnerWindow* owner_ = nullptr; // the owner of run, which outlives its windows
    TaviSplashBase* splash_ = nullptr;  // the open splash, which belongs to its window
    bool waitingForSplash_ = false;     // the document is complete, the splash not shown yet
    unsigned afterSplashSource_ = 0;
    com::ComPtr<com::IDispatch> platform_;             // window.tavi.platform, once there is one
    std::shared_ptr<script::DialogOwner> dialogOwner_; // this window, for the file dialogs
    com::ComPtr<com::IDispatch> nativeWindow_;         // window.tavi._nw, once there is one
    script::EventTarget events_;                       // the native window's listeners
    com::ComPtr<script::TaviWindow> taviWindow_;
    std::vector<std::string> extraOrigins_;
    std::optional<TrustedOrigins> trusted_; // fixed by the first address navigated to
    std::unique_ptr<HostBrowserSite> site_;
    std::unique_ptr<SessionWatcher> session_;
    bool pageTrusted_ = false; // the current document got window.tavi
    std::unique_ptr<BrowserGestures> gestures_;
    std::shared_ptr<ScrollingHandler> scroller_; // the current document's, once complete
    bool splashOnNextLoad_ = false;
    bool errorPageEnabled_ = true;
    std::u16string failedUrl_;
    bool errorPagePending_ = false;
    std::unique_ptr<app::HostWindow> self_; // the dialog belongs to its window
};

} // namespace norv::host
