#include "host/PlaceholderHostWindow.h"

#include <gtk/gtk.h>

#include <utility>

#include "app/TaviHost.h"
#include "host/ExtInitScript.h"
#include "host/ShellOwnerWindow.h"
#include "host/WebSession.h"
#include "platform/com/Exceptions.h"
#include "platform/glib/Owned.h"
#include "platform/gtk/MessageLoop.h"
#include "platform/web/ScriptBridge.h"

namespace norv::host {

namespace {

constexpr int kDefaultWidth = 1024;
constexpr int kDefaultHeight = 720;

} // namespace

PlaceholderHostWindow::PlaceholderHostWindow(com::ComPtr<app::TaviHost> host, WebSession& session)
    : host_(std::move(host)), session_(session) {}

PlaceholderHostWindow::~PlaceholderHostWindow() {
    bridge_.reset();
    if (window_) {
        GtkWindow* window = std::exchange(window_, nullptr);
        g_signal_handlers_disconnect_by_data(window, this);
        gtk_widget_destroy(GTK_WIDGET(window));
    }
}

void PlaceholderHostWindow::navigate(const std::u16string& address) {
    address_ = address;
    if (view_)
        view_->loadUri(loadableAddress(address_));
}

void PlaceholderHostWindow::setPendingCaption(const std::u16string& caption) {
    pendingCaption_ = caption;
}

void PlaceholderHostWindow::setWindowText(const std::u16string& caption) {
    pendingCaption_ = caption;
    if (window_)
        gtk_window_set_title(window_, com::utf16ToUtf8(caption).c_str());
}

void PlaceholderHostWindow::setDefaultDeclaration(const com::Bstr& declaration) {
    defaultDeclaration_ = declaration;
}

void PlaceholderHostWindow::setOptionKeyPath(const std::u16string& path) {
    optionKeyPath_ = path;
}

void PlaceholderHostWindow::setSplash(bool splash) {
    splash_ = splash;
}

void PlaceholderHostWindow::createWithOwner(std::unique_ptr<app::HostWindow> self,
                                            app::OwnerWindow& owner) {
    auto* shellOwner = dynamic_cast<ShellOwnerWindow*>(&owner);
    if (self.get() != this || shellOwner == nullptr || window_ != nullptr)
        throw com::InvalidArgException();

    const web::WebContext context = session_.contextFor(optionKeyPath_);
    GtkWidget* widget = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    window_ = GTK_WINDOW(widget);
    gtk_window_set_title(window_, com::utf16ToUtf8(pendingCaption_).c_str());
    gtk_window_set_default_size(window_, kDefaultWidth, kDefaultHeight);
    gtk_window_set_position(window_, GTK_WIN_POS_CENTER);
    if (GdkPixbuf* icon = gtk_window_get_icon(shellOwner->window().window()))
        gtk_window_set_icon(window_, icon);

    view_.emplace(context);
    gtk_container_add(GTK_CONTAINER(widget), view_->widget());
    session_.track(view_->get());
    // Every top document gets window.tavi from the bridge script, then tavi.host. A page
    // without script simply has no bridge.
    bridge_ = std::make_unique<web::ScriptBridge>(view_->get());
    bridge_->setInitScript(kExtInitScript);
    bridge_->bindScriptValue(u"window.tavi.host", com::ComPtr<com::IDispatch>(host_.get()));

    platform::gtk::OwnerWindow::markClosableByOwner(window_);
    shellOwner->window().adopt(window_);
    g_signal_connect(widget, "destroy", G_CALLBACK(onDestroy), this);
    self_ = std::move(self);

    gtk_widget_show_all(widget);
    if (!address_.empty())
        view_->loadUri(loadableAddress(address_));
}

std::string PlaceholderHostWindow::loadableAddress(const std::u16string& address) {
    std::string text = com::utf16ToUtf8(address);
    if (!text.empty() && text.front() == '/') {
        glib::OwnedText uri(g_filename_to_uri(text.c_str(), nullptr, nullptr));
        if (uri)
            return uri.get();
    }
    return text;
}

void PlaceholderHostWindow::onDestroy(GtkWidget*, PlaceholderHostWindow* self) {
    // The view still exists here: the bridge goes before it.
    self->bridge_.reset();
    self->window_ = nullptr;
    self->view_.reset();
    platform::gtk::MessageLoop::postQuit(0);
    // The window is gone, and with it this object.
    std::unique_ptr<app::HostWindow> keep = std::move(self->self_);
}

} // namespace norv::host
