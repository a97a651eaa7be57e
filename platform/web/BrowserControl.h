#pragma once
// BrowserControl: the browser of a host window. A WebKitWebView in a container that can
// hide it behind a picture of the page it showed before, and the engine's events told to
// the host in the order of a page's life:
//
//   before-navigate   a new top-level document begins to load (the main frame's load
//                     started); frames, fragment jumps and "javascript:" addresses never
//                     begin one;
//   navigate-complete the new document replaced the old one (committed);
//   document-complete the document and what it loads are there (the load event fired);
//   navigate-error    the top-level load failed (a superseded or refused load is no error).
//
// A failed load that the host does not take over is followed by the engine's own error
// page, whose load is told as a before-navigate marked as that page.
//
// Hiding: the view is laid out in the window's whole client area only while it is shown.
// Hidden, it is shrunk to a single pixel in the corner (the page lays itself out at its
// smallest, so that its scroll size is the size its content needs) and what the window
// shows is a picture: the page shown before, or white. The view starts hidden. Asked to
// hide before the next document, it takes the picture at the last moment the old page is
// still there (while the engine holds its decision about the new document's response)
// and hides then; the new document loads underneath until the host shows the view again.
//
// Also: keys reach the host before the page; the context menu, new windows and the
// page's own window.close() are the host's to decide; nothing can be dropped on the page.
// All members must be called on the UI thread.

#include <memory>
#include <string>

#include "platform/com/HResult.h"
#include "platform/web/WebView.h"

typedef struct _GtkWidget GtkWidget;
typedef struct _GError GError;

namespace norv::web {

class WebContext;

// Statuses of failed navigations, as the host's error handling knows them.
inline constexpr com::HRESULT INET_E_INVALID_URL = com::hresult(0x800C0002);
inline constexpr com::HRESULT INET_E_CANNOT_CONNECT = com::INET_E_CANNOT_CONNECT;
inline constexpr com::HRESULT INET_E_RESOURCE_NOT_FOUND = com::INET_E_RESOURCE_NOT_FOUND;
inline constexpr com::HRESULT INET_E_OBJECT_NOT_FOUND = com::hresult(0x800C0006);
inline constexpr com::HRESULT INET_E_DOWNLOAD_FAILURE = com::INET_E_DOWNLOAD_FAILURE;
inline constexpr com::HRESULT INET_E_CONNECTION_TIMEOUT = com::hresult(0x800C000B);
inline constexpr com::HRESULT INET_E_UNKNOWN_PROTOCOL = com::hresult(0x800C000D);
inline constexpr com::HRESULT INET_E_SECURITY_PROBLEM = com::hresult(0x800C000E);
inline constexpr com::HRESULT INET_E_INVALID_CERTIFICATE = com::hresult(0x800C0019);

// The status of a failed load; S_OK for a failure that is none (the load was superseded,
// cancelled, or turned into something else than a document).
com::HRESULT navigationStatusOf(const GError* error);

// A key as it reaches the browser. `keyval` is the toolkit's key value (GDK_KEY_F5, ...).
struct KeyPress {
    unsigned keyval = 0;
    bool control = false;
    bool shift = false;
    bool alt = false;
    bool release = false;
};

class BrowserEvents {
public:
    // A new top-level document begins to load at `uri`; `engineErrorPage`: the engine's
    // own page for the failure just reported.
    virtual void onBeforeNavigate(const std::string& uri, bool engineErrorPage) = 0;
    // The top-level load under way turned out to load `uri` (a redirection, say).
    virtual void onNavigationAddress(const std::string& uri) = 0;
    virtual void onNavigateComplete(const std::string& uri) = 0;
    virtual void onDocumentComplete(const std::string& uri) = 0;
    // True: the host takes the failure over, and the engine shows no page for it.
    virtual bool onNavigateError(const std::string& uri, com::HRESULT status) = 0;
    // The page asks for a new window (a link's target, window.open); `shift`: Shift was
    // held for the click that asked. True refuses it; otherwise the page opens in a plain
    // browser window of its own.
    virtual bool onNewWindow(const std::string& uri, bool shift) = 0;
    // The engine passes on the page's window.close().
    virtual void onWindowClosing() = 0;
    // True swallows the key: the page never sees it.
    virtual bool onKey(const KeyPress& key) = 0;
    // True: no menu is shown.
    virtual bool onContextMenu() = 0;
    // The web process that ran the page ended (it crashed, ran out of memory or was
    // killed): the view shows nothing until it loads again, in a new web process.
    virtual void onWebProcessTerminated(bool outOfMemory) = 0;

protected:
    ~BrowserEvents() = default;
};

class BrowserControl {
public:
    BrowserControl(const WebContext& context, BrowserEvents& events);
    ~BrowserControl();
    BrowserControl(const BrowserControl&) = delete;
    BrowserControl& operator=(const BrowserControl&) = delete;

    // The widget to put in the window: the view over its picture.
    GtkWidget* widget() const;
    const WebView& view() const { return view_; }

    // A top-level load whose response has not begun after the navigation time-out fails
    // with INET_E_CONNECTION_TIMEOUT (see navigationTimeoutSeconds).
    void navigate(const std::string& uri);
    void stop();

    // How long a top-level load may wait for its response: NORV_NAVIGATION_TIMEOUT in the
    // environment (whole seconds, 1 or more), else 60 seconds.
    static unsigned navigationTimeoutSeconds();
    // The document's ready state as the host's design counts it: 0 nothing loaded yet,
    // 1 loading, 3 interactive (the new document is there), 4 complete.
    int readyState() const;
    bool isDocumentReady() const { return readyState() == 4; }

    // Hides the view behind a picture of the page shown now when the next top-level
    // document is about to replace it (at once, behind white, when that moment has
    // passed already).
    void hideBeforeNextDocument();
    // The view fills the window again; the picture is dropped.
    void show();
    bool isShown() const;
    // Whether a picture of the previous page stands in for the view now.
    bool hasSnapshot() const;
    // The wait cursor over the picture.
    void setBusy(bool busy);

    // The engine's settings the host's URL action policy decides.
    void setScriptEnabled(bool enabled);
    void setAllCookiesAccepted(bool accepted);
    // No scroll bars on the page (it can still be scrolled).
    void hideScrollBars();

    class Impl;

private:
    WebView view_;
    std::unique_ptr<Impl> impl_;
};

} // namespace norv::web
