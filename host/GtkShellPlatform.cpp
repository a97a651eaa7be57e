#include "host/GtkShellPlatform.h"

#include <cerrno>
#include <vector>

#include <unistd.h>

#include "app/Application.h"
#include "app/TaviHost.h"
#include "host/HostDialog.h"
#include "host/ShellOwnerWindow.h"
#include "host/TrustedOrigins.h"
#include "host/WebSession.h"
#include "platform/com/Bstr.h"
#include "platform/com/Exceptions.h"
#include "platform/gtk/MessageBox.h"
#include "platform/gtk/MessageLoop.h"
#include "res/Resources.h"

namespace norv::host {

std::optional<std::u16string> GtkShellPlatform::loadString(unsigned id) {
    auto text = res::loadString(id);
    if (!text)
        return std::nullopt;
    return com::utf8ToUtf16(*text);
}

std::optional<std::array<std::uint16_t, 4>> GtkShellPlatform::fileVersion() {
    return res::fileVersion();
}

void GtkShellPlatform::messageBox(const std::u16string& text) {
    platform::gtk::messageBox(nullptr, com::utf16ToUtf8(text),
                              com::utf16ToUtf8(app::Application::loadCaption(*this)));
}

std::string GtkShellPlatform::defaultUserAgent() {
    return WebSession::instance().defaultUserAgent();
}

app::InternetSession& GtkShellPlatform::internetSession() {
    return WebSession::instance();
}

std::u16string GtkShellPlatform::currentDirectory() {
    std::vector<char> buffer(261);
    while (getcwd(buffer.data(), buffer.size()) == nullptr) {
        if (errno != ERANGE)
            throw com::OleException(com::hresultFromLastError());
        buffer.resize(buffer.size() * 2);
    }
    return com::utf8ToUtf16(buffer.data());
}

std::unique_ptr<app::HostWindow>
GtkShellPlatform::createHostWindow(com::ComPtr<app::TaviHost> host) {
    return std::make_unique<HostDialog>(std::move(host), WebSession::instance(),
                                        TrustedOrigins::parseList(res::trustedOrigins()));
}

std::unique_ptr<app::OwnerWindow> GtkShellPlatform::createOwnerWindow() {
    return std::make_unique<ShellOwnerWindow>();
}

int GtkShellPlatform::runMessageLoop() {
    const int code = platform::gtk::MessageLoop::run();
    // A loop of a `run` that a page started ends when the last host window closes; the
    // loops around it must end too, or the program would stay without a window.
    if (HostDialog::liveCount() == 0 && platform::gtk::MessageLoop::isRunning())
        platform::gtk::MessageLoop::postQuit(code);
    return code;
}

int GtkShellPlatform::lastQuitCode() const {
    return platform::gtk::MessageLoop::lastQuitCode();
}

} // namespace norv::host
