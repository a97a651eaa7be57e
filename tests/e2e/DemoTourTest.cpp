// The built-in demo walked the way a user walks it: the real norv-view on its own startup
// address (res:///DEMO.HTM) under Xvfb with openbox, every section driven with real X input
// (xdotool) at the places the page's elements are laid out, and checked by what a user sees:
// the window's geometry from the X server, the page's texts, the video's pixels on the
// screen, the recording on disk.
//
// The page tells where its elements are through a small probe added to the end of the demo's
// own text, which GLib's resource overlay (G_RESOURCE_OVERLAYS) gives the program in place of
// the built-in page; the program itself is the one `make run` starts. The probe answers each
// question of the test (a long-polled /ask on a loopback server) with a snapshot of the page:
// element boxes, texts, check boxes, the player's position and the native equaliser's gain.
#include <gtest/gtest.h>

#include <condition_variable>
#include <csignal>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>

#include "tests/media/pipeline/RecordingCheck.h"
#include "tests/support/HttpServer.h"
#include "tests/support/PrivateBus.h"
#include "tests/support/Process.h"
#include "tests/support/XSession.h"
#include "tests/support/XWindows.h"

namespace norv::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// Added before the demo's </body>. SERVER stands for the test server's address.
constexpr const char* kProbe = R"(<script>
(function () {
  var boxes = ["e_caption", "e_grip", "e_open", "e_player", "e_player_play", "e_player_stop",
               "e_awake", "e_swap", "e_grey", "e_record", "e_rec_stop", "e_band3", "e_close"];
  var texts = ["v_tavi", "v_emulation", "v_uaprops", "v_splash", "v_error", "v_ua", "v_events",
               "v_file", "e_file_status", "v_player_state", "e_player_status",
               "e_awake_status", "e_media_status", "v_recorder", "e_rec_status", "e_eq_status"];
  function flat(v) { return String(v).replace(/[\t\n]/g, " "); }
  function box(e) {
    var r = e.getBoundingClientRect();
    return [r.left, r.top, r.right, r.bottom].map(Math.round).join(" ");
  }
  function snapshot() {
    var lines = [], $ = function (id) { return document.getElementById(id); };
    function put(k, v) { lines.push(k + "\t" + flat(v)); }
    boxes.forEach(function (id) { if ($(id)) put("box." + id, box($(id))); });
    texts.forEach(function (id) { put("text." + id, $(id).textContent); });
    ["e_awake", "e_swap", "e_grey"].forEach(function (id) { put("checked." + id, $(id).checked); });
    put("box.main", box(document.querySelector("main")));
    put("scroll", document.querySelector("main").scrollTop);
    put("inner", innerWidth + " " + innerHeight);
    try { put("position", $("e_player").controls.currentPosition); } catch (e) {}
    try {
      put("band3", $("e_band3").value);
      put("gain3", $("e_player").services.settings.audio.equalizer.gainLevels(3));
    } catch (e) { put("band.error", e.description || e); }
    var c = $("e_spectrum"), px = c.getContext("2d").getImageData(0, 0, c.width, c.height).data;
    var lit = 0;
    for (var i = 3; i < px.length; i += 4) if (px[i]) lit++;
    put("spectrum", lit);
    put("downs", downs);
    put("grabbed", grabbed);
    return lines.join("\n");
  }
  // Presses the page has handled (its own handlers have run), and moves the host took for a
  // window drag.
  var downs = 0, grabbed = 0;
  addEventListener("mousedown", function () { downs++; });
  addEventListener("mousemove", function (e) { if (e.defaultPrevented) grabbed++; });
  function next(seq) {
    fetch("SERVER/ask?seq=" + seq).then(function (r) { return r.text(); }).then(function (asked) {
      var body;
      try { body = snapshot(); } catch (e) { body = "probe.error\t" + flat(e); }
      return fetch("SERVER/state?seq=" + asked, { method: "POST", body: body })
          .then(function () { next(asked); });
    });
  }
  next(0);
})();
</script>
)";

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

struct PageBox {
    int left = 0, top = 0, right = 0, bottom = 0;
    int cx() const { return (left + right) / 2; }
    int cy() const { return (top + bottom) / 2; }
};

class Snapshot {
public:
    explicit Snapshot(std::map<std::string, std::string> values) : values_(std::move(values)) {}
    std::string operator[](const std::string& key) const {
        auto it = values_.find(key);
        return it == values_.end() ? "<none>" : it->second;
    }
    std::string text(const std::string& id) const { return (*this)["text." + id]; }
    bool checked(const std::string& id) const { return (*this)["checked." + id] == "true"; }
    double number(const std::string& key) const {
        try {
            return std::stod((*this)[key]);
        } catch (const std::exception&) {
            return -1;
        }
    }
    PageBox box(const std::string& id) const {
        PageBox b;
        std::istringstream((*this)["box." + id]) >> b.left >> b.top >> b.right >> b.bottom;
        return b;
    }
    std::string dump() const {
        std::string out;
        for (const auto& [k, v] : values_)
            out += k + " = " + v + "\n";
        return out;
    }

private:
    std::map<std::string, std::string> values_;
};

class DemoTourTest : public ::testing::Test {
protected:
    DemoTourTest() {
        server.setFallback([this](const HttpRequest& r) { return answer(r); });
        std::string page = readFile(NORV_DEMO_PAGE);
        std::string probe = kProbe;
        for (auto at = probe.find("SERVER"); at != std::string::npos; at = probe.find("SERVER"))
            probe.replace(at, 6, server.url(""));
        const auto end = page.rfind("</body>");
        if (end != std::string::npos)
            page.insert(end, probe);
        std::ofstream(overlay.path() / "DEMO.HTM", std::ios::binary) << page;
    }
    ~DemoTourTest() override {
        if (shell)
            shell->stop();
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        changed_.notify_all();
    }

    // The probe's two requests: /ask waits until the test asks (answering the number of
    // the question), /state carries the answer.
    HttpResponse answer(const HttpRequest& r) {
        std::unique_lock lock(mutex_);
        if (r.path == "/ask") {
            const long seen = std::stol(r.param("seq").value_or("0"));
            changed_.wait_for(lock, 120s, [&] { return stopping_ || asked_ > seen; });
            return {200, "text/plain", std::to_string(asked_)};
        }
        if (r.path == "/state") {
            const long seq = std::stol(r.param("seq").value_or("0"));
            if (seq > answered_) {
                answered_ = seq;
                std::map<std::string, std::string> values;
                std::istringstream lines(r.body);
                for (std::string line; std::getline(lines, line);)
                    if (auto tab = line.find('\t'); tab != std::string::npos)
                        values[line.substr(0, tab)] = line.substr(tab + 1);
                state_ = std::move(values);
            }
            changed_.notify_all();
            return {200, "text/plain", "ok"};
        }
        return {404, "text/plain", "not found"};
    }

    // The page as it is now.
    Snapshot page() {
        std::unique_lock lock(mutex_);
        const long question = ++asked_;
        changed_.notify_all();
        if (!changed_.wait_for(lock, 30s, [&] { return answered_ >= question; }))
            ADD_FAILURE() << "the page's probe did not answer: " << shell->output();
        return Snapshot(state_);
    }
    // Waits until the page satisfies `cond`; the last snapshot either way.
    Snapshot pageUntil(const std::function<bool(const Snapshot&)>& cond,
                       std::chrono::milliseconds deadline = 60s) {
        Snapshot last({});
        bool held = waitUntil(
            [&] {
                last = page();
                return cond(last);
            },
            deadline);
        if (!held)
            ADD_FAILURE() << "the page did not get there:\n" << last.dump();
        return last;
    }

    void start() {
        Env env = x.env();
        env.emplace_back("DBUS_SESSION_BUS_ADDRESS", bus.address());
        env.emplace_back("G_MESSAGES_DEBUG", "norv-view");
        env.emplace_back("G_RESOURCE_OVERLAYS",
                         "/norv/html/DEMO.HTM=" + (overlay.path() / "DEMO.HTM").string());
        env.emplace_back("PULSE_SERVER", "unix:/nonexistent");
        env.emplace_back("GTK_USE_PORTAL", "0");
        env.emplace_back("TMPDIR", tmp.path().string());
        shell.emplace(Process::spawn({NORV_VIEW}, env));
    }

    XWindow waitForWindow(const std::string& title) {
        XWindow found = 0;
        waitUntil([&] {
            auto ids = x.findWindows(title);
            if (ids.size() == 1)
                found = std::stoul(ids.front());
            return found != 0;
        });
        return found;
    }
    bool waitUntilGone(const std::string& title) {
        return waitUntil([&] { return x.findWindows(title).empty(); });
    }

    void xdotool(const std::vector<std::string>& args) {
        std::vector<std::string> argv{"xdotool"};
        argv.insert(argv.end(), args.begin(), args.end());
        auto [code, out] = x.run(argv);
        EXPECT_EQ(code, 0) << "xdotool " << args.front() << ": " << out;
    }
    // Makes `w` the active window (input goes to it from then on).
    void activate(XWindow w) {
        EXPECT_TRUE(waitUntil([&] {
            x.run({"xdotool", "windowactivate", "--sync", std::to_string(w)});
            auto [code, out] = x.run({"xdotool", "getactivewindow"});
            return code == 0 && std::stoul(out) == w;
        })) << "window "
            << w << " does not become active";
    }
    void keys(XWindow w, const std::vector<std::string>& names) {
        activate(w);
        std::vector<std::string> args{"key", "--clearmodifiers"};
        args.insert(args.end(), names.begin(), names.end());
        xdotool(args);
    }
    // The screen point of a point of the page (CSS pixels at zoom 1 are the client's pixels).
    std::pair<int, int> onScreen(int px, int py) {
        const Box c = windows.client(window);
        return {c.left + px, c.top + py};
    }
    void pointerTo(int px, int py) {
        auto [sx, sy] = onScreen(px, py);
        xdotool({"mousemove", std::to_string(sx), std::to_string(sy)});
    }
    void click(const PageBox& b) {
        pointerTo(b.cx(), b.cy());
        xdotool({"click", "1"});
    }
    // Presses at a point of the page and waits until the page has handled the press; with
    // `grab`, makes a first small move and waits until the host took it for a window drag.
    // Answers the screen point the drag goes on from.
    std::pair<int, int> press(int px, int py, bool grab) {
        const double downs = page().number("downs"), grabs = page().number("grabbed");
        auto [sx, sy] = onScreen(px, py);
        xdotool({"mousemove", std::to_string(sx), std::to_string(sy), "mousedown", "1"});
        pageUntil([&](const Snapshot& p) { return p.number("downs") > downs; });
        if (grab) {
            sx += 2;
            sy += 2;
            xdotool({"mousemove", std::to_string(sx), std::to_string(sy)});
            pageUntil([&](const Snapshot& p) { return p.number("grabbed") > grabs; });
        }
        return {sx, sy};
    }
    // Drags from a point of the page by (dx, dy), in steps, and lets go.
    void drag(int px, int py, int dx, int dy, bool grab = false) {
        auto [sx, sy] = press(px, py, grab);
        for (int i = 1; i <= 8; ++i)
            xdotool(
                {"mousemove", std::to_string(sx + dx * i / 8), std::to_string(sy + dy * i / 8)});
        xdotool({"mouseup", "1"});
    }
    // Turns the mouse wheel over the page (beside the players, whose video takes the wheel)
    // until element `id` is inside the scrolling main part; its snapshot then.
    Snapshot scrollTo(const std::string& id) {
        Snapshot s = settled();
        for (int turn = 0; turn < 80; ++turn) {
            const PageBox b = s.box(id), main = s.box("main");
            const int bottom =
                std::min(main.bottom, std::stoi(s["inner"].substr(s["inner"].find(' '))));
            if (b.top >= main.top + 4 && b.bottom <= bottom - 4)
                return s;
            const std::string before = s["scroll"];
            pointerTo(main.right - 24, (main.top + bottom) / 2);
            xdotool({"click", b.top < main.top + 4 ? "4" : "5"});
            waitUntil([&] { return page()["scroll"] != before; }, 10s);
            s = settled();
        }
        ADD_FAILURE() << id << " cannot be scrolled into view:\n" << s.dump();
        return s;
    }
    // The page once its scrolling has come to rest (two snapshots in a row agree).
    Snapshot settled() {
        Snapshot last = page();
        waitUntil([&] {
            Snapshot next = page();
            const bool same = next["scroll"] == last["scroll"];
            last = next;
            return same;
        });
        return last;
    }
    // The mean HSL saturation (0 to 1) of a part of the screen: a grey picture has none.
    double saturation(const PageBox& b) {
        const fs::path shot = tmp.path() / "shot.png";
        if (!x.screenshot(shot))
            return -1;
        auto [sx, sy] = onScreen(b.left, b.top);
        std::ostringstream crop;
        crop << (b.right - b.left) << "x" << (b.bottom - b.top) << "+" << sx << "+" << sy;
        auto [code, out] =
            runCommand({"convert", shot.string(), "-crop", crop.str(), "+repage", "-colorspace",
                        "HSL", "-channel", "G", "-separate", "-format", "%[fx:mean]", "info:"});
        try {
            return code == 0 ? std::stod(out) : -1;
        } catch (const std::exception&) {
            return -1;
        }
    }
    // The upper part of the player's box, where its video is (the transport bar is below).
    static PageBox videoPart(const PageBox& player) {
        return {player.left + 20, player.top + 20, player.right - 20,
                player.top + (player.bottom - player.top) / 2};
    }
    void screenshot(const std::string& name) {
        x.screenshot(fs::path(NORV_E2E_OUTPUT_DIR) / ("demo-tour-" + name + ".png"));
    }
    // Clicks the clip player's Play and waits until it is heard playing (its position moves).
    void playClip() {
        Snapshot s = scrollTo("e_player_play");
        click(s.box("e_player_play"));
        pageUntil([](const Snapshot& p) {
            return p.text("v_player_state") == "State: playing" && p.number("position") > 0;
        });
    }

    // The probe's questions and answers; they outlive the server, whose connection threads
    // may wait on them until it is gone.
    std::mutex mutex_;
    std::condition_variable changed_;
    long asked_ = 0;
    long answered_ = 0;
    bool stopping_ = false;
    std::map<std::string, std::string> state_;

    XSession x;
    XWindows windows{x.display()};
    PrivateBus bus;
    HttpServer server;
    TempDir overlay, tmp, out;
    std::optional<Process> shell;
    XWindow window = 0;
};

TEST_F(DemoTourTest, EverySectionOfTheDemoWorksThroughRealInput) {
    start();
    // The host's facts as the page shows them, once it is laid out in its window (the
    // splash, which carries the same caption, has gone by then).
    Snapshot s = pageUntil([](const Snapshot& p) {
        return p.text("v_tavi") == "\"present\"" && p["inner"] == "560 400";
    });
    window = waitForWindow("^Norv View$");
    ASSERT_NE(window, 0u) << shell->output();
    EXPECT_EQ(s.text("v_emulation"), "false");
    EXPECT_EQ(s.text("v_splash"), "\"STARTUPSPLASH.HTM\"");
    EXPECT_EQ(s.text("v_error"), "\"CONNECTIONERROR.HTM\"");
    EXPECT_NE(s.text("v_ua").find("; Norv " NORV_VERSION ")"), std::string::npos) << s.text("v_ua");
    EXPECT_EQ(s["inner"], "560 400");
    const Box first = windows.client(window);
    EXPECT_EQ(first.width(), 560);
    EXPECT_EQ(first.height(), 400);
    activate(window);

    // The title bar moves the window by the pointer's offset, and the page hears of it.
    const PageBox caption = s.box("e_caption");
    drag(caption.left + 40, caption.cy(), -90, 60, true);
    EXPECT_TRUE(waitUntil([&] {
        return windows.client(window) ==
               Box{first.left - 90, first.top + 60, first.right - 90, first.bottom + 60};
    })) << windows.client(window);
    s = pageUntil([](const Snapshot& p) { return p.text("v_events") == "moved (560 \u00d7 400)"; });

    // The grip sizes it.
    const PageBox grip = s.box("e_grip");
    drag(grip.cx(), grip.cy(), 80, 60);
    EXPECT_TRUE(waitUntil([&] {
        const Box c = windows.client(window);
        return c.width() == 640 && c.height() == 460;
    })) << windows.client(window);
    EXPECT_EQ(windows.client(window).left, first.left - 90);
    s = pageUntil(
        [](const Snapshot& p) { return p.text("v_events") == "moved, resized (640 \u00d7 460)"; });
    EXPECT_EQ(s["inner"], "640 460");
    screenshot("moved-and-resized");

    // A file dialog opens for the window and is cancelled.
    s = scrollTo("e_open");
    click(s.box("e_open"));
    const XWindow dialog = waitForWindow("^Open$");
    if (!dialog)
        screenshot("no-open-dialog");
    ASSERT_NE(dialog, 0u) << shell->output();
    keys(dialog, {"Escape"});
    EXPECT_TRUE(waitUntilGone("^Open$"));
    pageUntil([](const Snapshot& p) { return p.text("v_file") == "No file chosen"; });
    activate(window);

    // The clip plays: its state and its position move; its colours are on the screen and
    // the spectrum of what is heard is drawn.
    s = scrollTo("e_player_stop");
    click(s.box("e_player_stop"));
    pageUntil([](const Snapshot& p) { return p.text("v_player_state") == "State: stopped"; });
    playClip();
    s = scrollTo("e_player");
    const PageBox video = videoPart(s.box("e_player"));
    EXPECT_TRUE(waitUntil([&] { return saturation(video) > 0.2; }, 30s)) << saturation(video);
    s = scrollTo("e_swap");
    pageUntil([](const Snapshot& p) { return p.number("spectrum") > 0; });
    EXPECT_EQ(s.text("e_player_status"), "");

    // The screen is kept awake while the box is ticked.
    s = scrollTo("e_awake");
    click(s.box("e_awake"));
    s = pageUntil([](const Snapshot& p) { return p.checked("e_awake"); });
    EXPECT_EQ(s.text("e_awake_status"), "The screen stays on while this window is in front.");
    EXPECT_TRUE(waitUntil([&] {
        return shell->output().find("display: screen saver timer") != std::string::npos;
    })) << shell->output();
    click(s.box("e_awake"));
    s = pageUntil([](const Snapshot& p) { return !p.checked("e_awake"); });
    EXPECT_EQ(s.text("e_awake_status"), "");

    // The page's filters: with Greyscale ticked the video the player shows has no colour.
    s = scrollTo("e_grey");
    click(s.box("e_grey"));
    click(s.box("e_swap"));
    s = pageUntil([](const Snapshot& p) { return p.checked("e_grey") && p.checked("e_swap"); });
    EXPECT_EQ(s.text("e_media_status"), "");
    playClip();
    s = scrollTo("e_player");
    const PageBox greyVideo = videoPart(s.box("e_player"));
    EXPECT_TRUE(waitUntil([&] { return saturation(greyVideo) < 0.03; }, 30s))
        << saturation(greyVideo);
    screenshot("greyscale");
    s = scrollTo("e_grey");
    click(s.box("e_grey"));
    click(s.box("e_swap"));
    s = pageUntil([](const Snapshot& p) { return !p.checked("e_grey") && !p.checked("e_swap"); });
    EXPECT_EQ(s.text("e_media_status"), "");

    // Recording: the save dialog names the file, the clip plays into it, Stop ends it.
    const fs::path recording = out.path() / "tour.wav";
    s = scrollTo("e_record");
    click(s.box("e_record"));
    const XWindow save = waitForWindow("^Save As$");
    ASSERT_NE(save, 0u) << shell->output();
    keys(save, {"ctrl+a"});
    activate(save);
    xdotool({"type", "--clearmodifiers", recording.string()});
    keys(save, {"Return"});
    EXPECT_TRUE(waitUntilGone("^Save As$"));
    // The recorder names the file at once and records from the first sample played.
    pageUntil([&](const Snapshot& p) {
        return p.text("v_recorder").ends_with(": " + recording.string());
    });
    activate(window);
    playClip();
    EXPECT_TRUE(waitUntil([&] {
        std::error_code ec;
        return fs::file_size(recording, ec) > 4096 && !ec;
    })) << shell->output();
    s = scrollTo("e_rec_stop");
    click(s.box("e_rec_stop"));
    s = pageUntil([&](const Snapshot& p) {
        return p.text("v_recorder") == "Stopped: " + recording.string();
    });
    EXPECT_EQ(s.text("e_rec_status"), "");
    const Probe heard = probe(recording);
    EXPECT_EQ(heard.codec, "wmav2");
    EXPECT_GT(heard.duration, 0.5);

    // An equaliser slider dragged up raises its band's gain in the player.
    s = scrollTo("e_band3");
    EXPECT_EQ(s.number("gain3"), 0) << s.dump();
    const PageBox band = s.box("e_band3");
    drag(band.cx(), band.cy(), 0, -30);
    s = pageUntil([](const Snapshot& p) { return p.number("band3") > 0; });
    EXPECT_EQ(s.number("gain3"), s.number("band3")) << s.dump();
    EXPECT_EQ(s.text("e_eq_status"), "");
    screenshot("equaliser");

    // The page's close button ends the program.
    click(s.box("e_close"));
    EXPECT_EQ(shell->wait(), 0) << shell->output();
    const std::string log = shell->output();
    // The log names the output the sound went to (here no sound server answers).
    EXPECT_NE(log.find("player: sound goes to "), std::string::npos) << log;
    EXPECT_EQ(log.find("WARNING"), std::string::npos) << log;
    EXPECT_EQ(log.find("CRITICAL"), std::string::npos) << log;
}

} // namespace
} // namespace norv::test
