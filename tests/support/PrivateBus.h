#pragma once
// Test support: a D-Bus daemon of the test's own (it plays the session bus, or the system
// bus for programs given its address in DBUS_SYSTEM_BUS_ADDRESS), and fake services on it
// made by python3-dbusmock, whose log records every call they receive.

#include <filesystem>
#include <optional>
#include <string>

#include "tests/support/Process.h"

namespace norv::test {

class PrivateBus {
public:
    PrivateBus();
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;

    const std::string& address() const { return address_; }
    // Whether some connection owns `name` now.
    bool hasOwner(const std::string& name) const;
    // Calls a method with gdbus (arguments in its text syntax); returns its exit code and
    // output.
    std::pair<int, std::string> call(const std::string& destination, const std::string& path,
                                     const std::string& method,
                                     const std::vector<std::string>& args = {}) const;

private:
    std::optional<Process> daemon_;
    std::string address_;
};

class FakeService {
public:
    // Starts python3-dbusmock with `templ` (a template name or file) on `bus`, as the
    // session bus or (system) the system bus, and waits until it owns `name`.
    FakeService(const PrivateBus& bus, const std::string& name, const std::string& templ,
                bool system = false);
    FakeService(const FakeService&) = delete;
    FakeService& operator=(const FakeService&) = delete;

    // The calls received so far, one a line: "<time> Method args...".
    std::string log() const;
    // How many received calls contain `text`.
    int count(const std::string& text) const;

private:
    TempDir dir_;
    std::filesystem::path logPath_;
    std::optional<Process> mock_;
};

// How many times `needle` occurs in `text`.
int occurrences(const std::string& text, const std::string& needle);

} // namespace norv::test
