#include "tests/support/Process.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace norv::test {

bool waitUntil(const std::function<bool()>& cond, std::chrono::milliseconds deadline) {
    auto end = std::chrono::steady_clock::now() + deadline;
    auto pause = 2ms;
    while (true) {
        if (cond())
            return true;
        if (std::chrono::steady_clock::now() >= end)
            return false;
        std::this_thread::sleep_for(pause);
        pause = std::min<std::chrono::milliseconds>(pause * 2, 50ms);
    }
}

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "norv-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error(std::string("mkdtemp: ") + std::strerror(errno));
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

Process Process::spawn(const std::vector<std::string>& argv, const Env& env) {
    if (argv.empty())
        throw std::invalid_argument("spawn: empty argv");
    Process p;
    char pattern[] = "/tmp/norv-proc-XXXXXX";
    int out = ::mkstemp(pattern);
    if (out < 0)
        throw std::runtime_error(std::string("mkstemp: ") + std::strerror(errno));
    p.outputPath_ = pattern;

    // Build everything the child needs before fork: only async-signal-safe calls after it.
    std::vector<std::string> envStrings;
    for (char** e = environ; *e; ++e) {
        std::string entry(*e);
        std::string name = entry.substr(0, entry.find('='));
        bool overridden = false;
        for (const auto& [k, v] : env)
            overridden = overridden || k == name;
        if (!overridden)
            envStrings.push_back(entry);
    }
    for (const auto& [k, v] : env)
        envStrings.push_back(k + "=" + v);
    std::vector<char*> envp;
    for (auto& s : envStrings)
        envp.push_back(s.data());
    envp.push_back(nullptr);
    std::vector<std::string> args = argv;
    std::vector<char*> argp;
    for (auto& s : args)
        argp.push_back(s.data());
    argp.push_back(nullptr);

    pid_t pid = ::fork();
    if (pid < 0) {
        ::close(out);
        throw std::runtime_error(std::string("fork: ") + std::strerror(errno));
    }
    if (pid == 0) {
        ::setpgid(0, 0);
        int devnull = ::open("/dev/null", O_RDONLY);
        ::dup2(devnull, 0);
        ::dup2(out, 1);
        ::dup2(out, 2);
        ::execvpe(argp[0], argp.data(), envp.data());
        _exit(127);
    }
    ::close(out);
    p.pid_ = pid;
    return p;
}

Process::Process(Process&& other) noexcept
    : pid_(std::exchange(other.pid_, -1)), status_(other.status_),
      outputPath_(std::move(other.outputPath_)) {
    other.outputPath_.clear();
}

Process& Process::operator=(Process&& other) noexcept {
    if (this != &other) {
        stop();
        pid_ = std::exchange(other.pid_, -1);
        status_ = other.status_;
        outputPath_ = std::move(other.outputPath_);
        other.outputPath_.clear();
    }
    return *this;
}

Process::~Process() {
    stop();
    if (!outputPath_.empty()) {
        std::error_code ec;
        std::filesystem::remove(outputPath_, ec);
    }
}

void Process::reapIfDone(bool block) {
    if (pid_ < 0 || status_)
        return;
    int st = 0;
    pid_t r = ::waitpid(pid_, &st, block ? 0 : WNOHANG);
    if (r == pid_)
        status_ = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
}

bool Process::running() {
    reapIfDone(false);
    return pid_ >= 0 && !status_;
}

std::optional<int> Process::wait(std::chrono::milliseconds deadline) {
    waitUntil([this] { return !running(); }, deadline);
    return status_;
}

void Process::signal(int sig) {
    if (running())
        ::kill(pid_, sig);
}

void Process::stop() {
    if (!running())
        return;
    // The whole process group: the child may have started helpers of its own.
    ::kill(-pid_, SIGTERM);
    ::kill(pid_, SIGTERM);
    if (!wait(5s)) {
        ::kill(-pid_, SIGKILL);
        ::kill(pid_, SIGKILL);
        reapIfDone(true);
    }
}

std::string Process::output() const {
    std::ifstream in(outputPath_);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

std::pair<int, std::string> runCommand(const std::vector<std::string>& argv, const Env& env,
                                       std::chrono::milliseconds deadline) {
    Process p = Process::spawn(argv, env);
    auto code = p.wait(deadline);
    std::string out = p.output();
    if (!code) {
        p.stop();
        return {-1, out};
    }
    return {*code, out};
}

std::filesystem::path executableDir() {
    return std::filesystem::read_symlink("/proc/self/exe").parent_path();
}

} // namespace norv::test
