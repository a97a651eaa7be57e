#pragma once
// Test support: child processes with deadlines, temporary folders and condition waits.

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <sys/types.h>

namespace norv::test {

using namespace std::chrono_literals;
using Env = std::vector<std::pair<std::string, std::string>>;

// Polls cond() until it holds or the deadline passes; true when it held.
bool waitUntil(const std::function<bool()>& cond, std::chrono::milliseconds deadline = 30s);

// A temporary folder, removed with everything in it on destruction.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

// A child process. Its standard output and error go to a file read by output().
// The destructor ends it (SIGTERM, then SIGKILL) and reaps it.
class Process {
public:
    // argv[0] is looked up in PATH when it has no slash. `env` is added to (and
    // overrides) the current environment.
    static Process spawn(const std::vector<std::string>& argv, const Env& env = {});

    Process(Process&& other) noexcept;
    Process& operator=(Process&& other) noexcept;
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;
    ~Process();

    pid_t pid() const { return pid_; }
    bool running();
    // The exit code (128 + signal for a signalled child) once it ends; nullopt when the
    // deadline passes first.
    std::optional<int> wait(std::chrono::milliseconds deadline = 30s);
    void signal(int sig);
    // Ends the process and waits for it.
    void stop();
    std::string output() const;

private:
    Process() = default;
    void reapIfDone(bool block);

    pid_t pid_ = -1;
    std::optional<int> status_;
    std::filesystem::path outputPath_;
};

// Runs a command to its end and returns its exit code and standard output.
std::pair<int, std::string> runCommand(const std::vector<std::string>& argv, const Env& env = {},
                                       std::chrono::milliseconds deadline = 30s);

// Directory of the running test executable.
std::filesystem::path executableDir();

} // namespace norv::test
