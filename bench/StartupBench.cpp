// bench/startup: the program's start-up against a bare WebKitGTK window (bench/BareWindow.c)
// on the same page, side by side in one run, alternating, several rounds:
//   - from the process start to its first document complete (the page's load event
//     reports to a loopback server),
//   - from the process start to its window mapped (the window manager maps its frame),
//     and to both (the complete page shown: the program maps its window only then),
//   - the resident memory of the UI process and its web process once the page is shown.
// Prints the median of each and the program's ratio to the bare window.
// Needs an X display: without DISPLAY it starts a private one (Xvfb with openbox).
//
//   bench_startup [ROUNDS]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/HttpServer.h"
#include "tests/support/Process.h"
#include "tests/support/XSession.h"
#include "tests/support/XWindows.h"

using namespace norv::test;
using Clock = std::chrono::steady_clock;

namespace {

// A page like an application's first one: a declared window, styles, a table, a script.
std::string benchPage(const std::string& server) {
    std::string rows;
    for (int i = 0; i < 40; ++i)
        rows += "<tr><td>row " + std::to_string(i) + "</td><td><code>value " +
                std::to_string(i * 7) + "</code></td></tr>";
    return "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>Bench</title>"
           "<style>/*<ui:window xmlns:ui=\"urn:schemas-tavimark-mixed1.0\" "
           "clientWidth=\"560px\" clientHeight=\"400px\"></ui:window>*/</style>"
           "<style>body{margin:0;font:14px sans-serif}table{border-collapse:collapse;width:100%}"
           "td{border:1px solid #ccc;padding:4px}</style></head><body><h1>Start-up</h1>"
           "<table>" +
           rows +
           "</table><script>addEventListener('load', function () {"
           "fetch('" +
           server + "/loaded'); });</script></body></html>";
}

long rssKiB(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmRSS:", 0) == 0)
            return std::strtol(line.c_str() + 6, nullptr, 10);
    return 0;
}

// The processes whose parent is `pid`, with their names.
std::vector<std::pair<pid_t, std::string>> children(pid_t pid) {
    std::vector<std::pair<pid_t, std::string>> out;
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        const std::string name = entry.path().filename();
        if (name.find_first_not_of("0123456789") != std::string::npos)
            continue;
        std::ifstream stat(entry.path() / "stat");
        std::string text;
        std::getline(stat, text);
        const auto close = text.rfind(')');
        const auto open = text.find('(');
        if (close == std::string::npos || open == std::string::npos)
            continue;
        std::istringstream rest(text.substr(close + 2));
        char state = 0;
        pid_t parent = 0;
        rest >> state >> parent;
        if (parent == pid)
            out.emplace_back(static_cast<pid_t>(std::stol(name)),
                             text.substr(open + 1, close - open - 1));
    }
    return out;
}

struct Sample {
    double documentMs = 0;
    double mappedMs = 0;
    long uiKiB = 0;
    long webKiB = 0;
};

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

class Bench {
public:
    Bench() {
        if (!std::getenv("DISPLAY")) {
            session_ = std::make_unique<XSession>();
            env_ = session_->env();
            display_ = session_->display();
        } else {
            display_ = std::getenv("DISPLAY");
            env_ = {{"DISPLAY", display_}, {"WEBKIT_DISABLE_COMPOSITING_MODE", "1"}};
        }
        server_.serve("/loaded", "", "text/plain");
        std::ofstream(folder_.path() / "start.htm") << benchPage(server_.url(""));
    }

    std::optional<Sample> run(const std::vector<std::string>& program) {
        XWindows x(display_);
        if (!x)
            return std::nullopt;
        x.watchMappedWindows();
        const std::size_t before =
            server_.count([](const HttpRequest& r) { return r.path == "/loaded"; });
        std::vector<std::string> argv = {"sh", "-c", "cd \"$1\" && shift && exec \"$@\"", "sh",
                                         folder_.path().string()};
        argv.insert(argv.end(), program.begin(), program.end());
        const auto start = Clock::now();
        Process process = Process::spawn(argv, env_);
        std::optional<Clock::time_point> document;
        std::optional<Clock::time_point> mapped;
        const auto deadline = start + std::chrono::seconds(60);
        while ((!document || !mapped) && Clock::now() < deadline) {
            if (!document &&
                server_.count([](const HttpRequest& r) { return r.path == "/loaded"; }) > before)
                document = Clock::now();
            if (!mapped && !x.mappedWindows().empty())
                mapped = Clock::now();
            std::this_thread::sleep_for(std::chrono::microseconds(500));
        }
        if (!document || !mapped) {
            std::fprintf(stderr, "%s did not start: %s\n", program.front().c_str(),
                         process.output().c_str());
            return std::nullopt;
        }
        Sample s;
        auto ms = [&](Clock::time_point t) {
            return std::chrono::duration<double, std::milli>(t - start).count();
        };
        s.documentMs = ms(*document);
        s.mappedMs = ms(*mapped);
        s.uiKiB = rssKiB(process.pid());
        // The web processes, also when a sandbox launcher stands between (their names are
        // cut to 15 characters: "WebKitWebProces").
        std::vector<pid_t> below = {process.pid()};
        while (!below.empty()) {
            pid_t parent = below.back();
            below.pop_back();
            for (const auto& [pid, name] : children(parent)) {
                below.push_back(pid);
                if (name.find("WebProces") != std::string::npos)
                    s.webKiB += rssKiB(pid);
            }
        }
        process.stop();
        return s;
    }

    std::string page() const { return "file://" + (folder_.path() / "start.htm").string(); }

private:
    std::unique_ptr<XSession> session_;
    Env env_;
    std::string display_;
    HttpServer server_;
    TempDir folder_;
};

} // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    Bench bench;
    std::vector<Sample> bare;
    std::vector<Sample> program;
    // A first start of each warms the caches (fonts, shaders, the web process image).
    bench.run({NORV_BENCH_BARE, bench.page()});
    bench.run({NORV_BENCH_VIEW});
    for (int i = 0; i < rounds; ++i) {
        if (auto s = bench.run({NORV_BENCH_BARE, bench.page()}))
            bare.push_back(*s);
        if (auto s = bench.run({NORV_BENCH_VIEW}))
            program.push_back(*s);
    }
    if (bare.empty() || program.empty())
        return 1;
    auto column = [](const std::vector<Sample>& v, auto field) {
        std::vector<double> out;
        for (const Sample& s : v)
            out.push_back(field(s));
        return median(out);
    };
    struct Row {
        const char* name;
        double (*field)(const Sample&);
        const char* unit;
    };
    const Row table[] = {
        {"start to document complete", [](const Sample& s) { return s.documentMs; }, "ms"},
        {"start to window mapped", [](const Sample& s) { return s.mappedMs; }, "ms"},
        // The program maps its window only once the document is complete; the bare window
        // maps an empty one first. What a user waits for is both.
        {"start to complete page shown",
         [](const Sample& s) { return std::max(s.mappedMs, s.documentMs); }, "ms"},
        {"resident UI process", [](const Sample& s) { return s.uiKiB / 1024.0; }, "MiB"},
        {"resident web process", [](const Sample& s) { return s.webKiB / 1024.0; }, "MiB"},
        {"resident UI + web", [](const Sample& s) { return (s.uiKiB + s.webKiB) / 1024.0; }, "MiB"},
    };
    std::printf("start-up, median of %d rounds: norv-view against a bare WebKitGTK window\n",
                rounds);
    std::printf("%-28s %12s %12s %8s\n", "", "norv-view", "bare", "ratio");
    for (const Row& row : table) {
        const double ours = column(program, row.field);
        const double reference = column(bare, row.field);
        std::printf("%-28s %9.1f %-3s %8.1f %-3s %7.2fx\n", row.name, ours, row.unit, reference,
                    row.unit, reference > 0 ? ours / reference : 0);
    }
    return 0;
}
