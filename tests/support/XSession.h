#pragma once
// Test support: a private X server (Xvfb) with a real window manager (openbox) on a free
// display, for end-to-end tests. Everything is stopped on destruction.

#include <filesystem>
#include <optional>
#include <string>

#include "tests/support/Process.h"

namespace norv::test {

class XSession {
public:
    explicit XSession(int width = 1280, int height = 800);
    ~XSession();
    XSession(const XSession&) = delete;
    XSession& operator=(const XSession&) = delete;

    // ":N"
    const std::string& display() const { return display_; }
    // Environment for programs on this display: DISPLAY, a private HOME and XDG folders,
    // and settings that keep GTK and WebKit quiet and deterministic under Xvfb.
    Env env() const;
    const std::filesystem::path& home() const { return home_.path(); }

    // Runs a command on this display (xdotool, xprop, ...) and returns its output.
    std::pair<int, std::string> run(const std::vector<std::string>& argv) const;
    // Saves a PNG of the whole screen.
    bool screenshot(const std::filesystem::path& png) const;
    // Ids of the visible top-level client windows whose title matches (xdotool search).
    // The program's splash (the window whose WM_WINDOW_ROLE is "splash", which carries the
    // caption of the window it stands in for) counts only when asked for.
    std::vector<std::string> findWindows(const std::string& titleRegex,
                                         bool includeSplash = false) const;
    std::string windowTitle(const std::string& id) const;

private:
    std::string display_;
    TempDir home_;
    std::optional<Process> xvfb_;
    std::optional<Process> wm_;
};

} // namespace norv::test
