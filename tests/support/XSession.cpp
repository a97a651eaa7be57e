#include "tests/support/XSession.h"

#include <cstring>
#include <sstream>
#include <stdexcept>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace norv::test {

namespace {
// Reads the display number Xvfb writes to -displayfd once it accepts connections.
std::string readDisplayNumber(int fd, std::chrono::milliseconds deadline) {
    std::string text;
    auto end = std::chrono::steady_clock::now() + deadline;
    while (text.find('\n') == std::string::npos) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            end - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return {};
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left.count())) <= 0)
            return {};
        char buf[32];
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n <= 0)
            return {};
        text.append(buf, static_cast<std::size_t>(n));
    }
    return text.substr(0, text.find('\n'));
}
} // namespace

XSession::XSession(int width, int height) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe2 failed");
    // The write end must survive exec in Xvfb only.
    int writeEnd = ::fcntl(fds[1], F_DUPFD, 100);
    ::close(fds[1]);
    std::string geometry = std::to_string(width) + "x" + std::to_string(height) + "x24";
    xvfb_.emplace(Process::spawn({"Xvfb", "-displayfd", std::to_string(writeEnd), "-screen", "0",
                                  geometry, "-nolisten", "tcp", "-noreset", "+extension", "XTEST",
                                  "+extension", "MIT-SCREEN-SAVER", "+extension", "DPMS"}));
    ::close(writeEnd);
    std::string number = readDisplayNumber(fds[0], 30s);
    ::close(fds[0]);
    if (number.empty())
        throw std::runtime_error("Xvfb did not start: " + xvfb_->output());
    display_ = ":" + number;

    std::filesystem::create_directories(home() / ".config");
    wm_.emplace(Process::spawn({"openbox", "--sm-disable"}, env()));
    bool managed = waitUntil([this] {
        auto [code, out] = run({"xprop", "-root", "_NET_SUPPORTING_WM_CHECK"});
        return code == 0 && out.find("window id") != std::string::npos;
    });
    if (!managed)
        throw std::runtime_error("openbox did not start: " + wm_->output());
}

XSession::~XSession() {
    if (wm_)
        wm_->stop();
    if (xvfb_)
        xvfb_->stop();
}

Env XSession::env() const {
    const auto h = home().string();
    return {{"DISPLAY", display_},
            {"HOME", h},
            {"XDG_CONFIG_HOME", h + "/.config"},
            {"XDG_DATA_HOME", h + "/.local/share"},
            {"XDG_CACHE_HOME", h + "/.cache"},
            {"XDG_RUNTIME_DIR", h},
            {"GDK_BACKEND", "x11"},
            {"NO_AT_BRIDGE", "1"},
            {"GTK_A11Y", "none"},
            {"LIBGL_ALWAYS_SOFTWARE", "1"},
            {"WEBKIT_DISABLE_COMPOSITING_MODE", "1"}};
}

std::pair<int, std::string> XSession::run(const std::vector<std::string>& argv) const {
    return runCommand(argv, env(), 30s);
}

bool XSession::screenshot(const std::filesystem::path& png) const {
    return run({"import", "-window", "root", png.string()}).first == 0;
}

std::vector<std::string> XSession::findWindows(const std::string& titleRegex,
                                               bool includeSplash) const {
    auto [code, out] = run({"xdotool", "search", "--onlyvisible", "--name", titleRegex});
    std::vector<std::string> ids;
    if (code != 0)
        return ids;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) {
        if (line.empty())
            continue;
        // The role is read for every window, also to see that it still exists: a window
        // destroyed since the search (the splash going away as the page shows) fails the
        // query and is no window of the program any more.
        auto [roleCode, role] = run({"xprop", "-id", line, "WM_WINDOW_ROLE"});
        if (roleCode != 0 || role.find("WM_WINDOW_ROLE") != 0)
            continue;
        if (!includeSplash && role.find("\"splash\"") != std::string::npos)
            continue;
        ids.push_back(line);
    }
    return ids;
}

std::string XSession::windowTitle(const std::string& id) const {
    auto [code, out] = run({"xdotool", "getwindowname", id});
    if (code != 0)
        return {};
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r'))
        out.pop_back();
    return out;
}

} // namespace norv::test
