#pragma once
// A plain host window: a GtkWindow holding a WebKitWebView on the startup address, with
// window.tavi and tavi.host in every top-level document. It accepts the configuration that
// `run` hands a host window and posts the quit message when its window is destroyed. The
// full host dialog (declared window types, chrome elements, splash and error pages) takes
// its place behind the same interface.

#include <memory>
#include <optional>
#include <string>

#include "app/HostWindow.h"
#include "platform/com/ComPtr.h"
#include "platform/web/WebView.h"

typedef struct _GtkWindow GtkWindow;
typedef struct _GtkWidget GtkWidget;

namespace norv::web {
class ScriptBridge;
}

namespace norv::app {
class TaviHost;
}

namespace norv::host {

class WebSession;

class PlaceholderHostWindow final : public app::HostWindow {
public:
    PlaceholderHostWindow(com::ComPtr<app::TaviHost> host, WebSession& session);
    ~PlaceholderHostWindow() override;

    void navigate(const std::u16string& address) override;
    bool windowExists() const override { return window_ != nullptr; }
    void setPendingCaption(const std::u16string& caption) override;
    void setWindowText(const std::u16string& caption) override;
    void setDefaultDeclaration(const com::Bstr& declaration) override;
    void setOptionKeyPath(const std::u16string& path) override;
    void setSplash(bool splash) override;
    void createWithOwner(std::unique_ptr<app::HostWindow> self, app::OwnerWindow& owner) override;

    const com::Bstr& defaultDeclaration() const { return defaultDeclaration_; }
    const std::u16string& optionKeyPath() const { return optionKeyPath_; }
    bool splash() const { return splash_; }

    // The address WebKit loads for an address handed to navigate: absolute file paths
    // become file URIs; everything else is used as it is.
    static std::string loadableAddress(const std::u16string& address);

private:
    static void onDestroy(GtkWidget* widget, PlaceholderHostWindow* self);

    com::ComPtr<app::TaviHost> host_;
    WebSession& session_;
    std::u16string address_;
    std::u16string pendingCaption_;
    com::Bstr defaultDeclaration_;
    std::u16string optionKeyPath_ = u"default";
    bool splash_ = false;
    GtkWindow* window_ = nullptr;
    std::optional<web::WebView> view_;
    std::unique_ptr<web::ScriptBridge> bridge_;
    std::unique_ptr<app::HostWindow> self_;
};

} // namespace norv::host
