// bench/startup: the program's start-up against references started side by side in one run,
// alternating, several rounds:
//   - on a local page, against a bare WebKitGTK window (bench/BareWindow.c) on the same
//     page: from the process start to its first document complete (the page's load event
//     reports to a loopback server), to its window mapped (the window manager maps its
//     frame; the program's splash comes first, its own window second) and to both (the
//     complete page shown: the program maps its window only then); the resident memory of
//     the UI process and its web process once the page is shown;
//   - behind a slow server (the page is answered after a fixed delay), the program's start
//     address being that page: from the process start to its splash mapped, against a bare
//     GTK window mapped by a trivial program (bench/BareGtkWindow.c), and to the page shown,
//     against the bare WebKitGTK window on the same slow page.
// Prints the median of each and the program's ratio to its reference.
// Needs an X display: without DISPLAY it starts a private one (Xvfb with openbox).
//
//   bench_startup [ROUNDS] [DELAY_MS]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

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
    std::optional<double> documentMs;
    std::optional<double> splashMs; // the program's splash mapped
    std::optional<double> windowMs; // the first other window mapped
    long uiKiB = 0;
    long webKiB = 0;
};

// The program's splash is the window whose WM_WINDOW_ROLE is "splash": the client inside
// the frame the window manager mapped, looked up the moment the frame maps. A splash that
// closes as soon as it has been shown (the page was complete before it) may have left its
// frame by then: a frame without a client counts as the splash, the only window the
// program closes while it starts.
class SplashFinder {
public:
    explicit SplashFinder(const std::string& display) : display_(XOpenDisplay(display.c_str())) {
        XSetErrorHandler([](Display*, XErrorEvent*) { return 0; }); // a window that went
    }
    ~SplashFinder() {
        if (display_)
            XCloseDisplay(display_);
    }
    SplashFinder(const SplashFinder&) = delete;
    SplashFinder& operator=(const SplashFinder&) = delete;

    bool isSplash(Window frame) {
        if (!display_)
            return false;
        const std::optional<std::string> found = clientRole(frame, 0);
        return !found || *found == "splash";
    }

private:
    // The WM_WINDOW_ROLE of the client in `window` (empty without one); nullopt when there
    // is no client in it (any more).
    std::optional<std::string> clientRole(Window window, int depth) {
        if (depth > 3)
            return std::nullopt;
        XClassHint hint{};
        if (XGetClassHint(display_, window, &hint)) {
            XFree(hint.res_name);
            XFree(hint.res_class);
            return role(window);
        }
        Window root = 0, parent = 0;
        Window* children = nullptr;
        unsigned count = 0;
        if (!XQueryTree(display_, window, &root, &parent, &children, &count))
            return std::nullopt;
        std::optional<std::string> found;
        for (unsigned i = 0; i < count && !found; ++i)
            found = clientRole(children[i], depth + 1);
        if (children)
            XFree(children);
        return found;
    }

    std::string role(Window window) {
        Atom type = None;
        int format = 0;
        unsigned long items = 0, after = 0;
        unsigned char* data = nullptr;
        std::string text;
        if (XGetWindowProperty(display_, window, XInternAtom(display_, "WM_WINDOW_ROLE", False), 0,
                               64, False, XA_STRING, &type, &format, &items, &after,
                               &data) == Success &&
            data) {
            text.assign(reinterpret_cast<char*>(data), items);
            XFree(data);
        }
        return text;
    }

    Display* display_;
};

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

// What one start waits for: the page's load reported, the splash, a window other than it.
struct Expect {
    bool document = true;
    bool splash = false;
};

class Bench {
public:
    explicit Bench(std::chrono::milliseconds delay) : delay_(delay) {
        if (!std::getenv("DISPLAY")) {
            session_ = std::make_unique<XSession>();
            env_ = session_->env();
            display_ = session_->display();
        } else {
            display_ = std::getenv("DISPLAY");
            env_ = {{"DISPLAY", display_}, {"WEBKIT_DISABLE_COMPOSITING_MODE", "1"}};
        }
        server_.serve("/loaded", "", "text/plain");
        const std::string page = benchPage(server_.url(""));
        std::ofstream(folder_.path() / "start.htm") << page;
        // The slow server: the page comes after the delay, on the connection's own thread.
        server_.setFallback([page, delay](const HttpRequest& r) {
            if (r.path != "/slow.htm")
                return HttpResponse{404, "text/plain", ""};
            std::this_thread::sleep_for(delay);
            return HttpResponse{200, "text/html; charset=utf-8", page};
        });
        std::ofstream(folder_.path() / "132") << slowPage();
    }

    std::optional<Sample> run(const std::vector<std::string>& program, Expect expect,
                              const Env& extra = {}) {
        XWindows x(display_);
        SplashFinder splashes(display_);
        if (!x)
            return std::nullopt;
        x.watchMappedWindows();
        const std::size_t before =
            server_.count([](const HttpRequest& r) { return r.path == "/loaded"; });
        std::vector<std::string> argv = {"sh", "-c", "cd \"$1\" && shift && exec \"$@\"", "sh",
                                         folder_.path().string()};
        argv.insert(argv.end(), program.begin(), program.end());
        Env env = env_;
        env.insert(env.end(), extra.begin(), extra.end());
        const auto start = Clock::now();
        Process process = Process::spawn(argv, env);
        auto ms = [&] {
            return std::chrono::duration<double, std::milli>(Clock::now() - start);
        };
        Sample s;
        std::set<XWindow> seen;
        const auto deadline = start + std::chrono::seconds(60);
        while ((expect.document && !s.documentMs) || (expect.splash && !s.splashMs) ||
               !s.windowMs) {
            if (Clock::now() > deadline) {
                std::fprintf(stderr, "%s did not start (document %s, splash %s, window %s): %s\n",
                             program.front().c_str(), s.documentMs ? "complete" : "not complete",
                             s.splashMs ? "mapped" : "not mapped",
                             s.windowMs ? "mapped" : "not mapped", process.output().c_str());
                return std::nullopt;
            }
            if (!s.documentMs &&
                server_.count([](const HttpRequest& r) { return r.path == "/loaded"; }) > before)
                s.documentMs = ms().count();
            for (XWindow w : x.mappedWindows()) {
                if (!seen.insert(w).second)
                    continue;
                auto& when = splashes.isSplash(w) ? s.splashMs : s.windowMs;
                if (!when)
                    when = ms().count();
            }
            std::this_thread::sleep_for(std::chrono::microseconds(500));
        }
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
    std::string slowPage() const { return server_.url("/slow.htm"); }
    // The program's start address replaced by the slow page (GLib's resource overlay).
    Env slowStart() const {
        return {{"G_RESOURCE_OVERLAYS", "/norv/strings/132=" + (folder_.path() / "132").string()}};
    }
    std::chrono::milliseconds delay() const { return delay_; }

private:
    std::chrono::milliseconds delay_;
    std::unique_ptr<XSession> session_;
    Env env_;
    std::string display_;
    HttpServer server_;
    TempDir folder_;
};

struct Row {
    const char* name;
    std::vector<double> ours;
    const char* referenceName;
    std::vector<double> reference;
    const char* unit;
};

void print(const std::vector<Row>& rows) {
    std::printf("%-30s %12s   %-16s %12s %8s\n", "", "norv-view", "reference", "", "ratio");
    for (const Row& row : rows) {
        const double ours = median(row.ours);
        const double reference = median(row.reference);
        std::printf("%-30s %9.1f %-3s   %-16s %8.1f %-3s %7.2fx\n", row.name, ours, row.unit,
                    row.referenceName, reference, row.unit, reference > 0 ? ours / reference : 0);
    }
}

} // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    const auto delay = std::chrono::milliseconds(argc > 2 ? std::max(0, std::atoi(argv[2])) : 1500);
    Bench bench(delay);
    // The program maps its splash, then its own window once the page is complete. A local
    // page may be complete before the splash has a window: then there is none.
    const Expect program{true, false};
    const Expect programSlow{true, true};
    const Expect bareWebKit{true, false};
    const Expect bareGtk{false, false};
    // A first start of each warms the caches (fonts, shaders, the web process image).
    bench.run({NORV_BENCH_BARE, bench.page()}, bareWebKit);
    bench.run({NORV_BENCH_VIEW}, program);
    bench.run({NORV_BENCH_BARE_GTK}, bareGtk);

    std::vector<Sample> bare, ours, gtk, bareSlow, oursSlow;
    for (int i = 0; i < rounds; ++i) {
        if (auto s = bench.run({NORV_BENCH_BARE, bench.page()}, bareWebKit))
            bare.push_back(*s);
        if (auto s = bench.run({NORV_BENCH_VIEW}, program))
            ours.push_back(*s);
        if (auto s = bench.run({NORV_BENCH_BARE_GTK}, bareGtk))
            gtk.push_back(*s);
        if (auto s = bench.run({NORV_BENCH_BARE, bench.slowPage()}, bareWebKit))
            bareSlow.push_back(*s);
        if (auto s = bench.run({NORV_BENCH_VIEW}, programSlow, bench.slowStart()))
            oursSlow.push_back(*s);
    }
    if (bare.empty() || ours.empty() || gtk.empty() || bareSlow.empty() || oursSlow.empty())
        return 1;

    auto column = [](const std::vector<Sample>& v, auto field) {
        std::vector<double> out;
        for (const Sample& s : v)
            out.push_back(field(s));
        return out;
    };
    auto document = [](const Sample& s) {
        return s.documentMs.value_or(0);
    };
    auto splash = [](const Sample& s) {
        return s.splashMs.value_or(0);
    };
    auto window = [](const Sample& s) {
        return s.windowMs.value_or(0);
    };
    // What a user sees first: the splash, or the window when there was none.
    auto first = [](const Sample& s) {
        return std::min(s.splashMs.value_or(1e12), *s.windowMs);
    };
    // The program maps its window only once the document is complete; the bare window
    // maps an empty one first. What a user waits for is both.
    auto shown = [](const Sample& s) {
        return std::max(*s.windowMs, s.documentMs.value_or(0));
    };
    auto splashes = [](const std::vector<Sample>& v) {
        return std::count_if(v.begin(), v.end(), [](const Sample& s) { return s.splashMs; });
    };
    auto ui = [](const Sample& s) {
        return s.uiKiB / 1024.0;
    };
    auto web = [](const Sample& s) {
        return s.webKiB / 1024.0;
    };
    auto both = [](const Sample& s) {
        return (s.uiKiB + s.webKiB) / 1024.0;
    };

    std::printf("start-up on a local page, median of %d rounds (the splash first in %ld)\n", rounds,
                static_cast<long>(splashes(ours)));
    print({
        {"start to document complete", column(ours, document), "bare WebKitGTK",
         column(bare, document), "ms"},
        {"start to first window mapped", column(ours, first), "bare WebKitGTK", column(bare, first),
         "ms"},
        {"start to its window mapped", column(ours, window), "bare WebKitGTK", column(bare, window),
         "ms"},
        {"start to complete page shown", column(ours, shown), "bare WebKitGTK", column(bare, shown),
         "ms"},
        {"resident UI process", column(ours, ui), "bare WebKitGTK", column(bare, ui), "MiB"},
        {"resident web process", column(ours, web), "bare WebKitGTK", column(bare, web), "MiB"},
        {"resident UI + web", column(ours, both), "bare WebKitGTK", column(bare, both), "MiB"},
    });
    std::printf("\nstart-up behind a server that answers after %lld ms, median of %d rounds\n",
                static_cast<long long>(bench.delay().count()), rounds);
    print({
        {"start to splash mapped", column(oursSlow, splash), "bare GTK window", column(gtk, window),
         "ms"},
        {"start to splash mapped", column(oursSlow, splash), "bare WebKitGTK",
         column(bareSlow, window), "ms"},
        {"start to document complete", column(oursSlow, document), "bare WebKitGTK",
         column(bareSlow, document), "ms"},
        {"start to complete page shown", column(oursSlow, shown), "bare WebKitGTK",
         column(bareSlow, shown), "ms"},
    });
    return 0;
}
