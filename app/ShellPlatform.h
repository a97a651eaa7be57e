#pragma once
// What the application shell needs from the desktop it runs on: the program's resources,
// message boxes, the browser's session and default user agent, the windows of `run` and
// the thread's message loop. The program supplies the desktop implementation; tests supply
// their own.

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/com/ComPtr.h"

namespace norv::app {

class HostWindow;
class InternetSession;
class OwnerWindow;
class TaviHost;

class ShellPlatform {
public:
    virtual ~ShellPlatform() = default;

    // String table entry `id`; nullopt when the program has none.
    virtual std::optional<std::u16string> loadString(unsigned id) = 0;
    // The four parts of the program file's version; nullopt when it carries none.
    virtual std::optional<std::array<std::uint16_t, 4>> fileVersion() = 0;
    // A modal message box with the program's title and an OK button.
    virtual void messageBox(const std::u16string& text) = 0;

    // The browser engine's own user agent.
    virtual std::string defaultUserAgent() = 0;
    virtual InternetSession& internetSession() = 0;
    // The process's current directory; raises a framework exception when it cannot be read.
    virtual std::u16string currentDirectory() = 0;

    virtual std::unique_ptr<HostWindow> createHostWindow(com::ComPtr<TaviHost> host) = 0;
    virtual std::unique_ptr<OwnerWindow> createOwnerWindow() = 0;
    // Runs the thread's message loop until the quit message; returns its code.
    virtual int runMessageLoop() = 0;
    // The code of the last quit message (the process's exit code); 0 before any.
    virtual int lastQuitCode() const = 0;
};

} // namespace norv::app
