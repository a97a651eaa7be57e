#pragma once
// HostDialog: the host window that `run` opens. The dialog base with the script objects
// of its pages: every top-level document of a trusted origin (see TrustedOrigins) gets
// window.tavi with the host object; the page's script errors are shown in the host's own
// "Script error" message box and the page goes on; the page's window.resizeTo and resizeBy
// go through the host's checks, moveTo and moveBy do nothing, window.close() closes the
// window. The window model's own rules for types (the cached type, the maximised window)
// apply.
//
// The process counts its live host dialogs: when the last one is gone the quit message
// ends the loop of `run`.
//
// Places kept for what comes with later parts of the host: the platform object and the
// native window object (set on the page beside the host object when they exist), the
// error page and splash (onNavigateError, the splash flag, the failed address), the
// chrome elements' clicks and drag, the native window's events (fireWindowEvent).

#include <memory>
#include <optional>

#include "app/HostWindow.h"
#include "host/HostBrowserSite.h"
#include "host/TaviDialogBase.h"
#include "host/TrustedOrigins.h"
#include "platform/com/ComPtr.h"
#include "script/EventTarget.h"
#include "script/NativeWindowHost.h"

namespace norv::app {
class TaviHost;
}

namespace norv::script {
class TaviWindow;
}

namespace norv::host {

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

    // The native window object of the dialog's pages (tavi.nativeWindow()).
    com::IDispatch* nativeWindow() const { return nativeWindow_.get(); }

    bool splashOnNextLoad() const { return splashOnNextLoad_; }
    const std::u16string& failedUrl() const { return failedUrl_; }

protected:
    void onClose() override;
    void onDestroy() override;
    void onWindowDestroyed() override;
    void onBeforeNavigate(const std::u16string& url) override;
    void onDocumentCompleted(const std::u16string& url) override;
    // "moved" and "resized" to the native window's listeners.
    void fireWindowEvent(std::u16string_view type) override;

private:
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
    void reloadPage(bool splash) override;
    void detachNativeWindow();

    com::ComPtr<app::TaviHost> host_;
    com::ComPtr<com::IDispatch> platform_; // window.tavi.platform, once there is one
    script::EventTarget events_;           // the native window's listeners
    com::ComPtr<script::TaviWindow> taviWindow_;
    com::ComPtr<com::IDispatch> nativeWindow_; // window.tavi._nw: taviWindow_'s interface
    std::vector<std::string> extraOrigins_;
    std::optional<TrustedOrigins> trusted_; // fixed by the first address navigated to
    std::unique_ptr<HostBrowserSite> site_;
    bool splashOnNextLoad_ = false;
    bool errorPageEnabled_ = true;
    std::u16string failedUrl_;
    bool errorPagePending_ = false;
    std::unique_ptr<app::HostWindow> self_; // the dialog belongs to its window
};

} // namespace norv::host
