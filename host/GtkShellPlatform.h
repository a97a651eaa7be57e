#pragma once
// The application shell on the GTK desktop: resources from the executable's bundle,
// GtkMessageDialogs, WebKit's session, the host dialog, the hidden owner window and the
// GLib message loop.

#include "app/ShellPlatform.h"

namespace norv::host {

class GtkShellPlatform final : public app::ShellPlatform {
public:
    std::optional<std::u16string> loadString(unsigned id) override;
    std::optional<std::array<std::uint16_t, 4>> fileVersion() override;
    void messageBox(const std::u16string& text) override;
    std::string defaultUserAgent() override;
    app::InternetSession& internetSession() override;
    std::u16string currentDirectory() override;
    std::unique_ptr<app::HostWindow> createHostWindow(com::ComPtr<app::TaviHost> host) override;
    std::unique_ptr<app::OwnerWindow> createOwnerWindow() override;
    int runMessageLoop() override;
    int lastQuitCode() const override;
};

} // namespace norv::host
