#include "platform/web/BrowserControl.h"

#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <cstdlib>
#include <utility>

#include "platform/glib/GObjectRef.h"
#include "platform/web/WebContext.h"

// G_MESSAGES_DEBUG=Norv-Browser logs the events told to the host.
#define NORV_LOG(...) g_log("Norv-Browser", G_LOG_LEVEL_DEBUG, __VA_ARGS__)

namespace norv::web {

using glib::GObjectRef;

com::HRESULT navigationStatusOf(const GError* error) {
    if (!error)
        return com::S_OK;
    if (error->domain == WEBKIT_NETWORK_ERROR) {
        switch (error->code) {
        case WEBKIT_NETWORK_ERROR_CANCELLED:
            return com::S_OK;
        case WEBKIT_NETWORK_ERROR_UNKNOWN_PROTOCOL:
            return INET_E_UNKNOWN_PROTOCOL;
        case WEBKIT_NETWORK_ERROR_FILE_DOES_NOT_EXIST:
            return INET_E_OBJECT_NOT_FOUND;
        default:
            return INET_E_DOWNLOAD_FAILURE;
        }
    }
    if (error->domain == WEBKIT_POLICY_ERROR) {
        switch (error->code) {
        // The host refused the load, or it became a download.
        case WEBKIT_POLICY_ERROR_FRAME_LOAD_INTERRUPTED_BY_POLICY_CHANGE:
            return com::S_OK;
        case WEBKIT_POLICY_ERROR_CANNOT_USE_RESTRICTED_PORT:
        case WEBKIT_POLICY_ERROR_CANNOT_SHOW_URI:
            return INET_E_INVALID_URL;
        default:
            return INET_E_DOWNLOAD_FAILURE;
        }
    }
    if (error->domain == G_RESOLVER_ERROR)
        return INET_E_RESOURCE_NOT_FOUND;
    if (error->domain == G_TLS_ERROR)
        return INET_E_INVALID_CERTIFICATE;
    if (error->domain == G_IO_ERROR) {
        switch (error->code) {
        case G_IO_ERROR_CANCELLED:
            return com::S_OK;
        case G_IO_ERROR_TIMED_OUT:
            return INET_E_CONNECTION_TIMEOUT;
        case G_IO_ERROR_NOT_FOUND:
            return INET_E_OBJECT_NOT_FOUND;
        case G_IO_ERROR_HOST_NOT_FOUND:
            return INET_E_RESOURCE_NOT_FOUND;
        case G_IO_ERROR_CONNECTION_REFUSED:
        case G_IO_ERROR_HOST_UNREACHABLE:
        case G_IO_ERROR_NETWORK_UNREACHABLE:
        case G_IO_ERROR_CONNECTION_CLOSED:
        case G_IO_ERROR_PROXY_FAILED:
            return INET_E_CANNOT_CONNECT;
        default:
            return INET_E_DOWNLOAD_FAILURE;
        }
    }
    return INET_E_DOWNLOAD_FAILURE;
}

namespace {

// A page that asked for a new window, in a plain browser window of its own. It lives as
// long as its window.
class PopupWindow {
public:
    static GtkWidget* open(WebKitWebView* opener) {
        auto* popup = new PopupWindow(opener);
        return GTK_WIDGET(popup->view_);
    }

private:
    explicit PopupWindow(WebKitWebView* opener)
        : view_(WEBKIT_WEB_VIEW(webkit_web_view_new_with_related_view(opener))) {
        window_ = GTK_WINDOW(gtk_window_new(GTK_WINDOW_TOPLEVEL));
        gtk_window_set_default_size(window_, 800, 600);
        gtk_container_add(GTK_CONTAINER(window_), GTK_WIDGET(view_));
        g_signal_connect(view_, "ready-to-show", G_CALLBACK(onReady), this);
        g_signal_connect(view_, "close", G_CALLBACK(onClose), this);
        g_signal_connect(view_, "notify::title", G_CALLBACK(onTitle), this);
        g_signal_connect(window_, "destroy", G_CALLBACK(onDestroy), this);
    }

    static void onReady(WebKitWebView* view, PopupWindow* self) {
        GdkRectangle geometry{};
        webkit_window_properties_get_geometry(webkit_web_view_get_window_properties(view),
                                              &geometry);
        if (geometry.width > 0 && geometry.height > 0)
            gtk_window_set_default_size(self->window_, geometry.width, geometry.height);
        gtk_widget_show_all(GTK_WIDGET(self->window_));
    }
    static void onTitle(WebKitWebView* view, GParamSpec*, PopupWindow* self) {
        const char* title = webkit_web_view_get_title(view);
        gtk_window_set_title(self->window_, title ? title : "");
    }
    static void onClose(WebKitWebView*, PopupWindow* self) {
        gtk_widget_destroy(GTK_WIDGET(self->window_));
    }
    static void onDestroy(GtkWidget*, PopupWindow* self) { delete self; }

    WebKitWebView* view_; // owned by the window
    GtkWindow* window_;
};

} // namespace

class BrowserControl::Impl {
public:
    Impl(BrowserControl& owner, BrowserEvents& events) : owner_(owner), events_(events) {
        WebKitWebView* view = owner.view_.get();
        overlay_ = GObjectRef<GtkWidget>::sink(gtk_overlay_new());
        // Below the view: the picture that stands in for it while it is hidden.
        background_ = gtk_drawing_area_new();
        gtk_container_add(GTK_CONTAINER(overlay_.get()), background_);
        g_signal_connect(background_, "draw", G_CALLBACK(onDrawBackground), this);
        g_signal_connect(background_, "realize", G_CALLBACK(onBackgroundRealized), this);
        gtk_overlay_add_overlay(GTK_OVERLAY(overlay_.get()), GTK_WIDGET(view));
        // The view's place is the program's, whatever size the view would like.
        g_signal_connect(overlay_.get(), "get-child-position", G_CALLBACK(onChildPosition), this);
        gtk_widget_show(background_);
        gtk_widget_show(GTK_WIDGET(view));
        shrink();

        g_signal_connect(view, "decide-policy", G_CALLBACK(onDecidePolicy), this);
        g_signal_connect(view, "load-changed", G_CALLBACK(onLoadChanged), this);
        g_signal_connect(view, "load-failed", G_CALLBACK(onLoadFailed), this);
        g_signal_connect(view, "web-process-terminated", G_CALLBACK(onWebProcessTerminated), this);
        g_signal_connect(view, "create", G_CALLBACK(onCreate), this);
        g_signal_connect(view, "close", G_CALLBACK(onClose), this);
        g_signal_connect(view, "context-menu", G_CALLBACK(onContextMenu), this);
        g_signal_connect(view, "key-press-event", G_CALLBACK(onKey), this);
        g_signal_connect(view, "key-release-event", G_CALLBACK(onKey), this);
        // Nothing can be dropped on the page.
        gtk_drag_dest_unset(GTK_WIDGET(view));
    }

    ~Impl() {
        stopTimer();
        WebKitWebView* view = owner_.view_.get();
        g_signal_handlers_disconnect_by_data(view, this);
        g_signal_handlers_disconnect_by_data(background_, this);
        g_signal_handlers_disconnect_by_data(overlay_.get(), this);
        if (snapshotting_)
            g_cancellable_cancel(snapshotting_.get());
        // A decision still held goes its default way when it is dropped.
        held_.reset();
        GtkWidget* overlay = overlay_.get();
        if (GtkWidget* parent = gtk_widget_get_parent(overlay))
            gtk_container_remove(GTK_CONTAINER(parent), overlay);
        if (gtk_widget_get_parent(GTK_WIDGET(view)) == overlay)
            gtk_container_remove(GTK_CONTAINER(overlay), GTK_WIDGET(view));
        if (snapshot_)
            cairo_surface_destroy(snapshot_);
    }

    GtkWidget* widget() const { return overlay_.get(); }

    // Over the whole area when shown; in the corner, a pixel large, when hidden.
    static gboolean onChildPosition(GtkOverlay* overlay, GtkWidget* child, GdkRectangle* allocation,
                                    Impl* self) {
        if (child != GTK_WIDGET(self->owner_.view_.get()))
            return FALSE;
        allocation->x = 0;
        allocation->y = 0;
        allocation->width = self->shown_ ? gtk_widget_get_allocated_width(GTK_WIDGET(overlay)) : 1;
        allocation->height =
            self->shown_ ? gtk_widget_get_allocated_height(GTK_WIDGET(overlay)) : 1;
        return TRUE;
    }

    void shrink() {
        shown_ = false;
        gtk_widget_queue_resize(GTK_WIDGET(owner_.view_.get()));
        gtk_widget_queue_draw(background_);
    }

    void hideBeforeNextDocument() {
        if (!shown_)
            return;
        if (readyState_ >= 3 && loading_) {
            // The new document is there already: too late for a picture of the old one.
            hide(nullptr);
            return;
        }
        hideWanted_ = true;
    }

    void hide(cairo_surface_t* picture) {
        NORV_LOG("hidden behind %s", picture ? "the previous page" : "white");
        hideWanted_ = false;
        if (snapshot_)
            cairo_surface_destroy(snapshot_);
        snapshot_ = picture;
        shrink();
    }

    void show() {
        hideWanted_ = false;
        if (snapshot_) {
            cairo_surface_destroy(snapshot_);
            snapshot_ = nullptr;
        }
        shown_ = true;
        gtk_widget_queue_resize(GTK_WIDGET(owner_.view_.get()));
    }

    void setBusy(bool busy) {
        busy_ = busy;
        applyCursor();
    }

    void applyCursor() {
        GdkWindow* window = gtk_widget_get_window(background_);
        if (!window)
            return;
        GObjectRef<GdkCursor> cursor;
        if (busy_)
            cursor = GObjectRef<GdkCursor>::adopt(
                gdk_cursor_new_from_name(gdk_window_get_display(window), "wait"));
        gdk_window_set_cursor(window, cursor.get());
    }

    static void onBackgroundRealized(GtkWidget*, Impl* self) { self->applyCursor(); }

    static gboolean onDrawBackground(GtkWidget*, cairo_t* cr, Impl* self) {
        // White where the picture does not reach, as a page without a background.
        cairo_set_source_rgb(cr, 1, 1, 1);
        cairo_paint(cr);
        if (self->snapshot_) {
            cairo_set_source_surface(cr, self->snapshot_, 0, 0);
            cairo_paint(cr);
        }
        return TRUE;
    }

    static gboolean onDecidePolicy(WebKitWebView* view, WebKitPolicyDecision* decision,
                                   WebKitPolicyDecisionType type, Impl* self) {
        if (type == WEBKIT_POLICY_DECISION_TYPE_NAVIGATION_ACTION) {
            WebKitNavigationAction* action =
                webkit_navigation_policy_decision_get_navigation_action(
                    WEBKIT_NAVIGATION_POLICY_DECISION(decision));
            if (const char* uri =
                    webkit_uri_request_get_uri(webkit_navigation_action_get_request(action)))
                self->requested_ = uri;
            return FALSE;
        }
        if (type != WEBKIT_POLICY_DECISION_TYPE_RESPONSE)
            return FALSE;
        auto* response = WEBKIT_RESPONSE_POLICY_DECISION(decision);
        if (!webkit_response_policy_decision_is_main_frame_main_resource(response))
            return FALSE;
        if (const char* uri =
                webkit_uri_request_get_uri(webkit_response_policy_decision_get_request(response)))
            self->events_.onNavigationAddress(uri);
        NORV_LOG("main response %s%s",
                 webkit_uri_request_get_uri(webkit_response_policy_decision_get_request(response)),
                 self->hideWanted_ ? ", held for the picture" : "");
        if (!self->hideWanted_ || self->held_)
            return FALSE;
        // The old page is still there while the decision waits: its picture now.
        self->held_ = GObjectRef<WebKitPolicyDecision>::retain(decision);
        self->snapshotting_ = GObjectRef<GCancellable>::adopt(g_cancellable_new());
        webkit_web_view_get_snapshot(view, WEBKIT_SNAPSHOT_REGION_VISIBLE,
                                     WEBKIT_SNAPSHOT_OPTIONS_NONE, self->snapshotting_.get(),
                                     onSnapshot, self);
        return TRUE;
    }

    static void onSnapshot(GObject* view, GAsyncResult* result, gpointer data) {
        GError* error = nullptr;
        cairo_surface_t* picture =
            webkit_web_view_get_snapshot_finish(WEBKIT_WEB_VIEW(view), result, &error);
        if (error) {
            const bool cancelled = g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED);
            g_error_free(error);
            if (cancelled)
                return; // the control is gone
        }
        auto* self = static_cast<Impl*>(data);
        self->snapshotting_.reset();
        // Without a picture the view is hidden all the same.
        self->hide(picture);
        if (auto decision = std::move(self->held_))
            webkit_policy_decision_use(decision.get());
    }

    static void onLoadChanged(WebKitWebView* view, WebKitLoadEvent event, Impl* self) {
        const char* current = webkit_web_view_get_uri(view);
        switch (event) {
        case WEBKIT_LOAD_STARTED: {
            self->startTimer();
            self->loading_ = true;
            self->failed_ = false;
            self->readyState_ = 1;
            const bool errorPage = std::exchange(self->engineErrorPage_, false);
            std::string uri = errorPage || self->requested_.empty()
                                  ? std::string(current ? current : "")
                                  : self->requested_;
            self->requested_.clear();
            NORV_LOG("before-navigate %s%s", uri.c_str(), errorPage ? " (error page)" : "");
            self->events_.onBeforeNavigate(uri, errorPage);
            break;
        }
        case WEBKIT_LOAD_REDIRECTED:
            if (current)
                self->events_.onNavigationAddress(current);
            break;
        case WEBKIT_LOAD_COMMITTED:
            self->stopTimer();
            self->readyState_ = 3;
            if (self->hideWanted_)
                self->hide(nullptr);
            NORV_LOG("navigate-complete %s", current ? current : "");
            self->events_.onNavigateComplete(current ? current : "");
            break;
        case WEBKIT_LOAD_FINISHED: {
            self->stopTimer();
            self->loading_ = false;
            self->readyState_ = 4;
            // A failed load brought no document of its own.
            if (std::exchange(self->failed_, false))
                break;
            NORV_LOG("document-complete %s", current ? current : "");
            self->events_.onDocumentComplete(current ? current : "");
            break;
        }
        }
    }

    static gboolean onLoadFailed(WebKitWebView*, WebKitLoadEvent, const char* uri, GError* error,
                                 Impl* self) {
        self->stopTimer();
        self->failed_ = true;
        self->hideWanted_ = false;
        // The time-out stopped the load: its failure is the time-out, not the cancel.
        const com::HRESULT status = std::exchange(self->timedOut_, false)
                                        ? INET_E_CONNECTION_TIMEOUT
                                        : navigationStatusOf(error);
        if (status == com::S_OK)
            return TRUE;
        const std::string failing = uri ? uri : "";
        NORV_LOG("navigate-error %s 0x%08X (%s)", failing.c_str(), static_cast<unsigned>(status),
                 error->message);
        self->events_.onNavigationAddress(failing);
        if (self->events_.onNavigateError(failing, status))
            return TRUE;
        self->engineErrorPage_ = true;
        return FALSE;
    }

    static void onWebProcessTerminated(WebKitWebView*, WebKitWebProcessTerminationReason reason,
                                       Impl* self) {
        NORV_LOG("web process terminated (%s)", reason == WEBKIT_WEB_PROCESS_EXCEEDED_MEMORY_LIMIT
                                                    ? "out of memory"
                                                : reason == WEBKIT_WEB_PROCESS_CRASHED ? "crashed"
                                                                                       : "ended");
        // Whatever was loading is gone with the process.
        self->stopTimer();
        self->timedOut_ = false;
        self->loading_ = false;
        self->failed_ = false;
        self->hideWanted_ = false;
        self->readyState_ = 0;
        self->events_.onWebProcessTerminated(reason == WEBKIT_WEB_PROCESS_EXCEEDED_MEMORY_LIMIT);
    }

    // The navigation time-out: from the start of a top-level load to its first response.
    void startTimer() {
        stopTimer();
        timedOut_ = false;
        timer_ = g_timeout_add_seconds(navigationTimeoutSeconds(), onTimeout, this);
    }
    void stopTimer() {
        if (timer_)
            g_source_remove(std::exchange(timer_, 0));
    }
    static gboolean onTimeout(gpointer data) {
        auto* self = static_cast<Impl*>(data);
        self->timer_ = 0;
        NORV_LOG("navigation timed out after %u s", navigationTimeoutSeconds());
        self->timedOut_ = true;
        webkit_web_view_stop_loading(self->owner_.view_.get());
        return G_SOURCE_REMOVE;
    }

    static GtkWidget* onCreate(WebKitWebView* view, WebKitNavigationAction* action, Impl* self) {
        const char* uri = webkit_uri_request_get_uri(webkit_navigation_action_get_request(action));
        const bool shift = (webkit_navigation_action_get_modifiers(action) & GDK_SHIFT_MASK) != 0;
        if (self->events_.onNewWindow(uri ? uri : "", shift))
            return nullptr;
        return PopupWindow::open(view);
    }

    static void onClose(WebKitWebView*, Impl* self) { self->events_.onWindowClosing(); }

    static gboolean onContextMenu(WebKitWebView*, WebKitContextMenu*, GdkEvent*,
                                  WebKitHitTestResult*, Impl* self) {
        return self->events_.onContextMenu();
    }

    static gboolean onKey(GtkWidget*, GdkEventKey* event, Impl* self) {
        KeyPress key;
        key.keyval = event->keyval;
        key.control = (event->state & GDK_CONTROL_MASK) != 0;
        key.shift = (event->state & GDK_SHIFT_MASK) != 0;
        key.alt = (event->state & GDK_MOD1_MASK) != 0;
        key.release = event->type == GDK_KEY_RELEASE;
        return self->events_.onKey(key);
    }

    BrowserControl& owner_;
    BrowserEvents& events_;
    GObjectRef<GtkWidget> overlay_;
    GtkWidget* background_ = nullptr; // owned by the overlay
    cairo_surface_t* snapshot_ = nullptr;
    bool shown_ = false;
    bool hideWanted_ = false;
    bool busy_ = false;
    GObjectRef<WebKitPolicyDecision> held_;
    GObjectRef<GCancellable> snapshotting_;
    std::string requested_; // the address of the last navigation the engine asked about
    bool loading_ = false;
    bool failed_ = false;
    bool engineErrorPage_ = false;
    int readyState_ = 0;
    unsigned timer_ = 0;
    bool timedOut_ = false;
};

BrowserControl::BrowserControl(const WebContext& context, BrowserEvents& events)
    : view_(context), impl_(std::make_unique<Impl>(*this, events)) {}

BrowserControl::~BrowserControl() = default;

GtkWidget* BrowserControl::widget() const {
    return impl_->widget();
}

void BrowserControl::navigate(const std::string& uri) {
    view_.loadUri(uri);
}

unsigned BrowserControl::navigationTimeoutSeconds() {
    static const unsigned seconds = [] {
        const char* text = g_getenv("NORV_NAVIGATION_TIMEOUT");
        if (text) {
            char* end = nullptr;
            const unsigned long value = std::strtoul(text, &end, 10);
            if (end != text && *end == '\0' && value >= 1 && value <= 24 * 3600)
                return static_cast<unsigned>(value);
        }
        return 60u;
    }();
    return seconds;
}

void BrowserControl::stop() {
    webkit_web_view_stop_loading(view_.get());
}

int BrowserControl::readyState() const {
    return impl_->readyState_;
}

void BrowserControl::hideBeforeNextDocument() {
    impl_->hideBeforeNextDocument();
}

void BrowserControl::show() {
    impl_->show();
}

bool BrowserControl::isShown() const {
    return impl_->shown_;
}

bool BrowserControl::hasSnapshot() const {
    return impl_->snapshot_ != nullptr;
}

void BrowserControl::setBusy(bool busy) {
    impl_->setBusy(busy);
}

void BrowserControl::setScriptEnabled(bool enabled) {
    webkit_settings_set_enable_javascript(webkit_web_view_get_settings(view_.get()), enabled);
}

void BrowserControl::setAllCookiesAccepted(bool accepted) {
    WebKitCookieManager* cookies =
        webkit_web_context_get_cookie_manager(webkit_web_view_get_context(view_.get()));
    if (cookies)
        webkit_cookie_manager_set_accept_policy(
            cookies, accepted ? WEBKIT_COOKIE_POLICY_ACCEPT_ALWAYS
                              : WEBKIT_COOKIE_POLICY_ACCEPT_NO_THIRD_PARTY);
}

void BrowserControl::hideScrollBars() {
    WebKitUserContentManager* content = webkit_web_view_get_user_content_manager(view_.get());
    auto sheet = webkit_user_style_sheet_new("::-webkit-scrollbar { width: 0; height: 0; }",
                                             WEBKIT_USER_CONTENT_INJECT_TOP_FRAME,
                                             WEBKIT_USER_STYLE_LEVEL_USER, nullptr, nullptr);
    webkit_user_content_manager_add_style_sheet(content, sheet);
    webkit_user_style_sheet_unref(sheet);
}

} // namespace norv::web
