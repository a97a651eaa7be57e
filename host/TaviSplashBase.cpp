#include "host/TaviSplashBase.h"

#include <gtk/gtk.h>

#include <utility>

#include "app/TaviHost.h"
#include "platform/web/BrowserControl.h"

namespace norv::host {

TaviSplashBase::TaviSplashBase(com::ComPtr<app::TaviHost> host, WebSession& session,
                               HostDialog& parent)
    : HostDialog(std::move(host), session), parent_(&parent) {}

TaviSplashBase::~TaviSplashBase() {
    if (mapDeadline_)
        g_source_remove(mapDeadline_);
    if (GtkWindow* w = window())
        g_signal_handlers_disconnect_by_data(w, this);
}

void TaviSplashBase::createWithOwner(std::unique_ptr<app::HostWindow> self,
                                     app::OwnerWindow& owner) {
    HostDialog::createWithOwner(std::move(self), owner);
    GtkWindow* w = window();
    // How the desktop (and a test) tells the splash from the window it stands in for,
    // whose caption it shows.
    gtk_window_set_role(w, "splash");
    g_signal_connect(w, "configure-event", G_CALLBACK(onConfigure), this);
    g_signal_connect(w, "map-event", G_CALLBACK(onConfigure), this);
    g_signal_connect(w, "map-event", G_CALLBACK(onMapped), this);
    // Before the page's own handlers (the view's class handlers run last).
    GtkWidget* view = GTK_WIDGET(browser()->view().get());
    for (const char* signal : {"button-press-event", "button-release-event", "motion-notify-event"})
        g_signal_connect(view, signal, G_CALLBACK(onPointer), this);
}

void TaviSplashBase::dismiss() {
    HostDialog::onClose();
}

bool TaviSplashBase::onNavigateError(const std::u16string&, const std::u16string&, com::HRESULT) {
    // Nothing to show for it; but the parent must not wait for a page that will not come
    // (its web process gone, say).
    documentDone_ = true;
    mapped_ = true; // nothing will be mapped for it
    reportShown();
    return false;
}

void TaviSplashBase::reportShown() {
    if (pageShown_ || !documentDone_)
        return;
    if (!mapped_) {
        // The window is shown once the page is laid out, and mapped by the window manager
        // after that; a window manager that never maps it holds nothing up for long.
        if (!mapDeadline_)
            mapDeadline_ = g_timeout_add(
                mapDeadlineMs,
                [](gpointer data) -> gboolean {
                    auto* self = static_cast<TaviSplashBase*>(data);
                    self->mapDeadline_ = 0;
                    self->mapped_ = true;
                    self->reportShown();
                    return G_SOURCE_REMOVE;
                },
                this);
        return;
    }
    if (mapDeadline_)
        g_source_remove(std::exchange(mapDeadline_, 0u));
    pageShown_ = true;
    if (parent_)
        parent_->splashShown(*this);
}

bool TaviSplashBase::onDocumentCompleted(const std::u16string& url) {
    const bool layOutNow = HostDialog::onDocumentCompleted(url);
    if (isDocumentReady()) {
        documentDone_ = true;
        reportShown();
    }
    return layOutNow;
}

void TaviSplashBase::onClose() {
    if (parent_)
        parent_->close();
    else
        HostDialog::onClose();
}

void TaviSplashBase::onWindowDestroyed() {
    if (parent_)
        parent_->splashGone(*this);
    parent_ = nullptr;
    HostDialog::onWindowDestroyed(); // the last thing: this object goes with it
}

std::vector<GtkWindow*> TaviSplashBase::otherVisibleWindows() const {
    std::vector<GtkWindow*> found;
    GtkWindow* parentWindow = parent_ ? parent_->window() : nullptr;
    if (!parentWindow)
        return found;
    GList* all = gtk_window_list_toplevels();
    for (GList* at = all; at; at = at->next) {
        auto* w = GTK_WINDOW(at->data);
        if (w != window() && gtk_window_get_transient_for(w) == parentWindow &&
            gtk_widget_get_visible(GTK_WIDGET(w)))
            found.push_back(w);
    }
    g_list_free(all);
    return found;
}

void TaviSplashBase::keepOthersBehind() {
    GtkWindow* w = window();
    GdkWindow* splash = w ? gtk_widget_get_window(GTK_WIDGET(w)) : nullptr;
    if (!splash || !gtk_widget_get_visible(GTK_WIDGET(w)) ||
        (gdk_window_get_state(splash) & GDK_WINDOW_STATE_ICONIFIED))
        return;
    for (GtkWindow* other : otherVisibleWindows())
        if (GdkWindow* that = gtk_widget_get_window(GTK_WIDGET(other)))
            gdk_window_restack(that, splash, FALSE);
}

int TaviSplashBase::onConfigure(GtkWindow*, void*, TaviSplashBase* self) {
    self->keepOthersBehind();
    return FALSE;
}

int TaviSplashBase::onMapped(GtkWindow*, void*, TaviSplashBase* self) {
    self->mapped_ = true;
    self->reportShown();
    return FALSE;
}

int TaviSplashBase::onPointer(void*, void*, TaviSplashBase* self) {
    // While a window of the parent waits for an answer, the splash takes no clicks.
    return self->otherVisibleWindows().empty() ? FALSE : TRUE;
}

} // namespace norv::host
