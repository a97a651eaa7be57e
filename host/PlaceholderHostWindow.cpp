#include "host/PlaceholderHostWindow.h"

#include <webkit2/webkit2.h>

#include <utility>

#include "app/TaviHost.h"
#include "host/ExtInitScript.h"
#include "host/ShellOwnerWindow.h"
#include "host/WebSession.h"
#include "platform/com/Exceptions.h"
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
        webkit_web_view_load_uri(view_, loadableAddress(address_).c_str());
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

    WebKitWebContext* context = session_.contextFor(optionKeyPath_);
    GtkWidget* widget = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    window_ = GTK_WINDOW(widget);
    gtk_window_set_title(window_, com::utf16ToUtf8(pendingCaption_).c_str());
    gtk_window_set_default_size(window_, kDefaultWidth, kDefaultHeight);
    gtk_window_set_position(window_, GTK_WIN_POS_CENTER);
    if (GdkPixbuf* icon = gtk_window_get_icon(shellOwner->window().window()))
        gtk_window_set_icon(window_, icon);

    view_ = WEBKIT_WEB_VIEW(webkit_web_view_new_with_context(context));
    gtk_container_add(GTK_CONTAINER(widget), GTK_WIDGET(view_));
    session_.track(view_);
    bridge_ = std::make_unique<web::ScriptBridge>(view_);
    bridge_->setScriptWindowReadyHandler([this](const com::Bstr&) { onScriptWindowReady(); });

    platform::gtk::OwnerWindow::markClosableByOwner(window_);
    shellOwner->window().adopt(window_);
    g_signal_connect(widget, "destroy", G_CALLBACK(onDestroy), this);
    self_ = std::move(self);

    gtk_widget_show_all(widget);
    if (!address_.empty())
        webkit_web_view_load_uri(view_, loadableAddress(address_).c_str());
}

std::string PlaceholderHostWindow::loadableAddress(const std::u16string& address) {
    std::string text = com::utf16ToUtf8(address);
    if (!text.empty() && text.front() == '/') {
        std::unique_ptr<char, decltype(&g_free)> uri(
            g_filename_to_uri(text.c_str(), nullptr, nullptr), &g_free);
        if (uri)
            return uri.get();
    }
    return text;
}

void PlaceholderHostWindow::onScriptWindowReady() {
    if (!bridge_)
        return;
    // A page without script simply has no bridge: the results are not checked.
    const std::weak_ptr<bool> alive = alive_;
    bridge_->runScript(kExtInitScript);
    if (alive.expired() || !bridge_)
        return; // the window was closed meanwhile
    com::IDispatch* host = host_.get();
    bridge_->setScriptValue(u"window.tavi.host", com::Variant::fromDispatch(host));
}

void PlaceholderHostWindow::onDestroy(GtkWidget*, PlaceholderHostWindow* self) {
    // The view still exists here: the bridge goes before it.
    self->bridge_.reset();
    self->window_ = nullptr;
    self->view_ = nullptr;
    platform::gtk::MessageLoop::postQuit(0);
    // The window is gone, and with it this object.
    std::unique_ptr<app::HostWindow> keep = std::move(self->self_);
}

} // namespace norv::host
