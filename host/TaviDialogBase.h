#pragma once
// TaviDialogBase: the host window without its script objects. A top-level window holding
// the browser, which owns the page's life: it navigates, follows the engine's navigation
// events, stays hidden until its first document is complete, reads the window declaration
// of every new top-level document from its head (or takes the default one) and applies
// it (window type, styles, client size), then shows the window; before each new document
// it hides the browser behind a picture of the page shown so far. It swallows the keys
// that would reload, print, open or start another window, shows no context menu, and
// routes navigation and script errors to its overridable operations.
//
// The overridable operations, in the order the design of the host window numbers them
// (HostDialog overrides those that need the script objects, the error page and splash,
// the move and resize engine and the page's events):
//    1 create               2 navigate              3 isDocumentReady     4 reload
//    5 setType              6 getType               7 setResizable        8 getResizable
//    9 onNavigateError     10 onScriptWindowReady  11 reservedHook       12 onWindowClosing
//   13 onCloseClicked      14 onMinimizeClicked    15 onTitleDragged     16 documentSize
//   17 messageBox          18 notifyAmbientChange
//
// Life: created hidden by `create`, shown at its first complete document, closed through
// `close` (a request, answered by destroying the window from the main loop, never from
// inside a call of its own), destroyed with its window. Everything runs on the UI thread.

#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "host/ChromeBinding.h"
#include "host/DialogHooks.h"
#include "host/HostWindowModel.h"
#include "markup/WindowDescription.h"
#include "platform/com/ComPtr.h"
#include "platform/gtk/MessageBox.h"
#include "platform/web/BrowserControl.h"

typedef struct _GtkWindow GtkWindow;

namespace norv::platform::gtk {
class GtkWindowSystem;
class HeldWindow;
class OwnerWindow;
} // namespace norv::platform::gtk

namespace norv::web {
class ScriptBridge;
}

namespace norv::host {

class PlayerElementHost;
class ChromeEvents;
class WebSession;

class TaviDialogBase : public IDialogHooks, protected WindowHooks, private web::BrowserEvents {
public:
    explicit TaviDialogBase(WebSession& session);
    virtual ~TaviDialogBase();
    TaviDialogBase(const TaviDialogBase&) = delete;
    TaviDialogBase& operator=(const TaviDialogBase&) = delete;

    // 1. Creates the window, hidden, from the pending window state, as a member of the
    // owner's window group (with its icon when the dialog has none), and opens the first
    // page. Raises a framework exception when it fails.
    virtual void create(platform::gtk::OwnerWindow& owner);
    // 2. Opens `url` once its address check passes (0x800704D9 otherwise); before the
    // window exists it only remembers the address.
    virtual void navigate(const std::u16string& url);
    // 3. The browser's document is complete; false without a browser.
    virtual bool isDocumentReady() const;
    // 4. Stops the browser and opens again the address last asked for.
    virtual void reload();
    // 5 to 8: the window type and the resizable flag (the window model's own rules here).
    virtual void setType(TaviWindowTypes type);
    virtual TaviWindowTypes getType();
    virtual void setResizable(bool flag);
    virtual bool getResizable();
    // 9. A failed navigation of the top document: a message box with the system's text
    // for the status (or "Navigate error: 0x%p"); true would mean that the dialog takes
    // the failure over (the engine shows no page of its own).
    virtual bool onNavigateError(const std::u16string& url, const std::u16string& frame,
                                 com::HRESULT status);
    // 10. The new document's script window is ready, before its own scripts run.
    virtual void onScriptWindowReady(const com::Bstr& url);
    // 11. Reserved: no effect.
    virtual void reservedHook();
    // 12. The page asked to close its window (window.close()).
    virtual void onWindowClosing(bool isChild);
    // 13 to 15: the page's close and minimise elements were clicked, its title dragged.
    virtual void onCloseClicked(com::IDispatch* element);
    virtual void onMinimizeClicked(com::IDispatch* element);
    virtual void onTitleDragged(com::IDispatch* element);
    // 16. The scroll size the document's content needs (width, height).
    virtual std::pair<int, int> documentSize();
    // 17. A modal message box over the window; an empty caption takes the window's.
    virtual void messageBox(const std::u16string& text, const std::u16string& caption,
                            platform::gtk::MessageBoxIcon icon);
    // 18. The engine has no ambient properties to be told of: E_NOINTERFACE, as for a
    // dialog without a browser control.
    virtual com::HRESULT notifyAmbientChange(com::DISPID dispid);

    // IDialogHooks: script errors are not shown here and stop nothing; URL actions as
    // the host allows them.
    bool onScriptError(const com::Bstr& url, const com::Bstr& message, std::int32_t line,
                       std::int32_t code, std::int32_t character) override;
    std::uint8_t urlActionPolicy(std::uint32_t action) override;

    // Asks the dialog to close (what a close request of the window system does).
    void close();

    bool windowExists() const;
    GtkWindow* window() const;
    HostWindowModel& model() { return model_; }
    // The caption: the window's text, or the pending caption before the window exists.
    void setCaption(const std::u16string& caption);
    void setDefaultDeclaration(const com::Bstr& declaration) { defaultDeclaration_ = declaration; }
    void setOptionKeyPath(const std::u16string& path) { optionKeyPath_ = path; }
    const std::u16string& currentAddress() const { return currentAddress_; }
    const com::Bstr& defaultDeclaration() const { return defaultDeclaration_; }
    const std::u16string& optionKeyPath() const { return optionKeyPath_; }
    WebSession& session() const { return session_; }

    // The address the browser loads for one handed to navigate: its canonical form (an
    // absolute file path becomes a file address), or the text as it is.
    static std::string loadableAddress(const std::u16string& address);

protected:
    // What the dialog does when it is asked to close: destroy itself, from the main loop.
    virtual void onClose();
    // The window is about to be destroyed.
    virtual void onDestroy();
    // The window is gone; the dialog deletes itself here when it belongs to its window.
    virtual void onWindowDestroyed() {}
    // Before a new top-level document begins (after the dialog's own steps), and when the
    // document is complete (before the declaration is applied): for HostDialog's frame,
    // splash and error page handling. onDocumentCompleted returns false to put the
    // document's layout off until layOutIfPending.
    virtual void onBeforeNavigate(const std::u16string& url) { (void)url; }
    virtual bool onDocumentCompleted(const std::u16string& url) {
        (void)url;
        return true;
    }
    // Lays out the complete document whose layout was put off (nothing when there is none).
    void layOutIfPending();

    // Opens `url` without the address check of navigate (once the window exists).
    void openUnchecked(const std::u16string& url);

    // Opens `url` without the address check of navigate (nothing before the window exists).
    void reopen(const std::u16string& url);

    web::BrowserControl* browser() const { return browser_.get(); }
    web::ScriptBridge* bridge() const { return bridge_.get(); }
    markup::IWindowDescription& description() { return *description_; }
    ChromeBinding& chrome() { return chrome_; }
    bool isLayoutPendingNow() const { return layoutPending_; }

    // WindowHooks
    bool isLayoutPending() const override { return layoutPending_; }
    void sizeToDeclaration() override;
    std::pair<int, int> declaredClientSize() override;
    void fireWindowEvent(std::u16string_view type) override { (void)type; }
    void dragEnded() override;

    // Keeps the dialog alive while one of its own calls runs: a close that comes meanwhile
    // (from a nested main loop) is carried out once the last of them returns.
    class Busy {
    public:
        explicit Busy(TaviDialogBase& dialog);
        ~Busy();
        Busy(const Busy&) = delete;
        Busy& operator=(const Busy&) = delete;

    private:
        TaviDialogBase& dialog_;
    };

private:
    // web::BrowserEvents
    void onBeforeNavigate(const std::string& uri, bool engineErrorPage) override;
    void onNavigationAddress(const std::string& uri) override;
    void onNavigateComplete(const std::string& uri) override;
    void onDocumentComplete(const std::string& uri) override;
    bool onNavigateError(const std::string& uri, com::HRESULT status) override;
    bool onNewWindow(const std::string& uri, bool shift) override;
    void onWindowClosing() override;
    bool onKey(const web::KeyPress& key) override;
    bool onContextMenu() override;
    void onWebProcessTerminated(bool outOfMemory) override;

    void open(const std::u16string& url);
    void layOut();
    void loadDeclaration();
    void applyDeclaration();
    void sizeWindow();
    // The document's mouse events for its chrome elements, and their end.
    void watchChrome();
    void dropChrome();
    void centre();
    void showWindow();
    void postDestroy();
    void destroyNow();
    void reportAndClose(const std::exception& error);
    static int onDelete(GtkWindow* window, void* event, TaviDialogBase* self);
    static void onDestroyed(GtkWindow* window, TaviDialogBase* self);

    WebSession& session_;
    std::unique_ptr<platform::gtk::HeldWindow> held_;
    std::unique_ptr<platform::gtk::GtkWindowSystem> system_;
    HostWindowModel model_{*this};
    std::unique_ptr<web::BrowserControl> browser_;
    std::unique_ptr<web::ScriptBridge> bridge_;
    std::unique_ptr<PlayerElementHost> players_; // after the bridge: gone before it
    com::ComPtr<markup::WindowDescription> description_;
    com::Bstr defaultDeclaration_ = com::Bstr::empty();
    ChromeBinding chrome_;
    com::ComPtr<ChromeEvents> chromeEvents_;
    std::u16string optionKeyPath_ = u"default";
    std::u16string pendingAddress_; // the address to open once the window exists
    std::u16string lastRequested_;  // the address last asked for
    std::u16string currentAddress_;
    bool scriptWindow_ = false; // the current document's script window is known
    com::HRESULT navigationError_ = com::S_OK;
    bool engineErrorPage_ = false; // the document loading is the engine's error page
    bool centerPending_ = true;
    bool firstNavigation_ = true;
    bool layoutPending_ = true;
    bool shown_ = false;
    unsigned navigations_ = 0; // new top-level documents begun so far
    int busy_ = 0;
    bool destroyPending_ = false;
    unsigned destroySource_ = 0;
};

} // namespace norv::host
