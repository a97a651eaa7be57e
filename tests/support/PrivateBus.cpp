#include "tests/support/PrivateBus.h"

#include <fstream>
#include <sstream>
#include <stdexcept>

namespace norv::test {

int occurrences(const std::string& text, const std::string& needle) {
    int n = 0;
    for (auto at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1))
        ++n;
    return n;
}

PrivateBus::PrivateBus() {
    daemon_.emplace(Process::spawn({"dbus-daemon", "--session", "--nofork", "--print-address=1"}));
    const bool started = waitUntil([this] {
        const std::string out = daemon_->output();
        const auto line = out.find("unix:");
        const auto end = out.find('\n', line);
        if (line == std::string::npos || end == std::string::npos)
            return false;
        address_ = out.substr(line, end - line);
        return true;
    });
    if (!started)
        throw std::runtime_error("dbus-daemon did not start: " + daemon_->output());
}

std::pair<int, std::string> PrivateBus::call(const std::string& destination,
                                             const std::string& path, const std::string& method,
                                             const std::vector<std::string>& args) const {
    std::vector<std::string> argv = {"gdbus",    "call",      "--address",     address_,
                                     "--dest",   destination, "--object-path", path,
                                     "--method", method};
    argv.insert(argv.end(), args.begin(), args.end());
    return runCommand(argv);
}

bool PrivateBus::hasOwner(const std::string& name) const {
    auto [code, out] = call("org.freedesktop.DBus", "/org/freedesktop/DBus",
                            "org.freedesktop.DBus.NameHasOwner", {name});
    return code == 0 && out.find("true") != std::string::npos;
}

FakeService::FakeService(const PrivateBus& bus, const std::string& name, const std::string& templ,
                         bool system)
    : logPath_(dir_.path() / "calls.log") {
    std::vector<std::string> argv = {"/usr/bin/python3", "-m", "dbusmock", "-t", templ, "-l",
                                     logPath_.string()};
    argv.push_back(system ? "--system" : "--session");
    mock_.emplace(Process::spawn(argv, {{"DBUS_SESSION_BUS_ADDRESS", bus.address()},
                                        {"DBUS_SYSTEM_BUS_ADDRESS", bus.address()}}));
    if (!waitUntil([&] { return bus.hasOwner(name) || !mock_->running(); }) || !mock_->running())
        throw std::runtime_error("the fake " + name + " did not start: " + mock_->output());
}

std::string FakeService::log() const {
    std::ifstream in(logPath_);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

int FakeService::count(const std::string& text) const {
    return occurrences(log(), text);
}

} // namespace norv::test
