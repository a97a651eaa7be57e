// The media player in the page, end to end: the real program under Xvfb with openbox on a
// page of its startup folder whose <object> elements play media the test makes with
// GStreamer and serves over HTTP. What the page's script sees is reported to the test
// server; what a user sees is read from the screen. No sound server runs in these X
// sessions, so every player plays into the fake sink.
#include <gtest/gtest.h>

#include <cmath>
#include <csignal>
#include <fstream>
#include <sstream>

#include "tests/support/HttpServer.h"
#include "tests/support/Process.h"
#include "tests/support/XSession.h"
#include "tests/support/XWindows.h"

namespace norv::test {
namespace {

constexpr const char* kPlayerClass = "clsid:{6BF52A52-394A-11D3-B153-00C04F79FAA6}";

std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// A page of the given client size with a yellow background; SERVER stands for the test
// server's address. `report(name, value)` tells the server.
std::string page(int width, int height, const std::string& body,
                 const std::string& extraStyle = {}) {
    return "<!DOCTYPE html><html><head><meta charset=\"utf-8\">"
           "<style>/*<ui:window xmlns:ui=\"urn:schemas-tavimark-mixed1.0\" type=\"normal\" "
           "clientWidth=\"" +
           std::to_string(width) + "px\" clientHeight=\"" + std::to_string(height) +
           "px\"></ui:window>*/</style>"
           "<style>html,body{margin:0;background:#ffff00}object{display:block}" +
           extraStyle +
           "</style><script>function report(n, v) { fetch('SERVER/report?' + n + '=' + "
           "encodeURIComponent(v)); }</script></head><body>" +
           body + "</body></html>";
}

class PlayerElementTest : public ::testing::Test {
protected:
    void SetUp() override {
        // Media made here: one colour over a tone, 320 x 240 VP8 and Vorbis in WebM.
        makeClip("red.webm", "red", 2);
        makeClip("blue.webm", "blue", 6);
    }

    void makeClip(const std::string& name, const std::string& pattern, int seconds) {
        const auto path = cwd.path() / name;
        const int frames = seconds * 30;
        const int audioBuffers = seconds * 44100 / 1024 + 1;
        auto [code, out] = runCommand({"gst-launch-1.0",
                                       "-q",
                                       "webmmux",
                                       "name=m",
                                       "!",
                                       "filesink",
                                       "location=" + path.string(),
                                       "videotestsrc",
                                       "pattern=" + pattern,
                                       "num-buffers=" + std::to_string(frames),
                                       "!",
                                       "video/x-raw,width=320,height=240,framerate=30/1",
                                       "!",
                                       "vp8enc",
                                       "deadline=1",
                                       "!",
                                       "m.",
                                       "audiotestsrc",
                                       "num-buffers=" + std::to_string(audioBuffers),
                                       "samplesperbuffer=1024",
                                       "!",
                                       "audio/x-raw,rate=44100,channels=2",
                                       "!",
                                       "audioconvert",
                                       "!",
                                       "vorbisenc",
                                       "!",
                                       "m."});
        ASSERT_EQ(code, 0) << out;
        server.serve("/" + name, readFile(path), "video/webm");
    }

    double fileDuration(const std::string& name) {
        auto [code, out] = runCommand({"ffprobe", "-v", "error", "-show_entries", "format=duration",
                                       "-of", "default=nw=1:nk=1", (cwd.path() / name).string()});
        return code == 0 ? std::stod(out) : -1;
    }

    std::string withServer(std::string html) {
        const std::string base = server.url("");
        for (auto at = html.find("SERVER"); at != std::string::npos;
             at = html.find("SERVER", at + base.size()))
            html.replace(at, 6, base);
        return html;
    }
    void write(const std::string& html) {
        std::ofstream(cwd.path() / "start.htm", std::ios::trunc) << withServer(html);
    }

    Process start() {
        Env env = x.env();
        env.emplace_back("G_MESSAGES_DEBUG", "norv-view");
        // No sound server for the player to find.
        env.emplace_back("PULSE_SERVER", "unix:/nonexistent");
        return Process::spawn(
            {"sh", "-c", "cd \"$1\" && exec \"$2\"", "sh", cwd.path().string(), NORV_VIEW_RELATIVE},
            env);
    }

    XWindow waitForWindow() {
        XWindow found = 0;
        waitUntil(
            [&] {
                auto ids = x.findWindows("^Norv E2E$");
                if (ids.size() == 1)
                    found = std::stoul(ids.front());
                return found != 0;
            },
            90s); // a loaded machine starts the program and its web process slowly
        return found;
    }

    // The value the page reported last under `name`, once one matching `accept` came.
    std::optional<std::string> reported(const std::string& name,
                                        const std::function<bool(const std::string&)>& accept) {
        auto r = server.waitFor([&](const HttpRequest& q) {
            auto v = q.path == "/report" ? q.param(name) : std::nullopt;
            return v && accept(*v);
        });
        return r ? r->param(name) : std::nullopt;
    }
    bool reported(const std::string& name, const std::string& value) {
        return reported(name, [&](const std::string& v) { return v == value; }).has_value();
    }

    // A screenshot of the client area of `window`, and its pixels as "#RRGGBB".
    struct Shot {
        std::filesystem::path png;
        Box client;
    };
    std::string pixelOf(const Shot& shot, int cx, int cy) {
        auto [code, out] = runCommand({"convert", shot.png.string(), "-format",
                                       "#%[hex:p{" + std::to_string(shot.client.left + cx) + "," +
                                           std::to_string(shot.client.top + cy) + "}]",
                                       "info:"});
        return code == 0 ? out.substr(0, 7) : "";
    }
    Shot shoot(XWindow window, const std::string& name) {
        Shot s{std::filesystem::path(NORV_E2E_OUTPUT_DIR) / ("player-" + name + ".png"),
               windows.client(window)};
        x.screenshot(s.png);
        return s;
    }
    // Waits until every point of the client area has its colour in one screenshot.
    bool waitForColours(XWindow window, const std::string& name,
                        const std::vector<std::tuple<int, int, std::string>>& points) {
        return waitUntil([&] {
            Shot s = shoot(window, name);
            for (auto& [px, py, colour] : points)
                if (!nearColour(pixelOf(s, px, py), colour))
                    return false;
            return true;
        });
    }
    // Video decoding and scaling move colours a little.
    static bool nearColour(const std::string& seen, const std::string& want) {
        if (seen.size() != 7 || want.size() != 7)
            return false;
        for (int i = 0; i < 3; ++i) {
            int a = std::stoi(seen.substr(1 + 2 * i, 2), nullptr, 16);
            int b = std::stoi(want.substr(1 + 2 * i, 2), nullptr, 16);
            if (std::abs(a - b) > 40)
                return false;
        }
        return true;
    }

    std::size_t logCount(Process& shell, const std::string& line) {
        std::string out = shell.output();
        std::size_t n = 0;
        for (auto at = out.find(line); at != std::string::npos; at = out.find(line, at + 1))
            ++n;
        return n;
    }

    XSession x;
    XWindows windows{x.display()};
    HttpServer server;
    TempDir cwd;
};

TEST_F(PlayerElementTest, AMarkupPlayerPlaysToTheEndWithEveryStateAsAnEventAndNoSoundServer) {
    write(page(400, 300,
               std::string("<object id=\"p\" classid=\"") + kPlayerClass +
                   "\" style=\"width:320px;height:240px\"></object><script>"
                   "var p = document.getElementById('p'), states = [];"
                   "p.addEventListener('PlayStateChange', function (e) {"
                   "  states.push(e.newState); report('states', states.join(','));"
                   "  if (e.newState == 3 && !p.paused) {"
                   "    p.paused = true; report('duration', p.currentMedia.duration);"
                   "    p.controls.pause();"
                   "  } else if (e.newState == 2) {"
                   "    report('paused', p.playState); p.controls.stop();"
                   "  } else if (e.newState == 1 && !p.again) {"
                   "    report('stopped', p.playState); p.again = true; p.controls.play();"
                   "  }"
                   "});"
                   "p.onPlayStateChange = function (e) {"
                   "  report('handler', e && e.newState !== undefined ? e.newState : e); };"
                   "report('classid', p.classid);"
                   "p.URL = 'SERVER/red.webm';"
                   "</script>"));
    Process shell = start();
    XWindow window = waitForWindow();
    ASSERT_NE(window, 0u) << shell.output();
    EXPECT_TRUE(reported("classid", kPlayerClass));

    auto duration = reported("duration", [](const std::string&) { return true; });
    ASSERT_TRUE(duration) << shell.output();
    EXPECT_NEAR(std::stod(*duration), fileDuration("red.webm"), 0.05);
    EXPECT_TRUE(reported("paused", "2"));
    EXPECT_TRUE(reported("stopped", "1"));
    // Played again from the start, to the end: each state reached once per change, the
    // opening one transitioning (or ready), and the last the medium's end.
    auto states = reported("states", [](const std::string& v) {
        return v.size() >= 2 && v.substr(v.size() - 2) == ",8";
    });
    ASSERT_TRUE(states) << shell.output();
    EXPECT_TRUE(states->starts_with("9,3,2,1,") || states->starts_with("10,3,2,1,")) << *states;
    EXPECT_TRUE(states->ends_with(",3,8")) << *states;
    EXPECT_TRUE(reported("handler", "8"));
    EXPECT_NE(shell.output().find("player: media ended"), std::string::npos);

    // Closing the window with its player still sited ends the program normally.
    windows.requestClose(window);
    EXPECT_EQ(shell.wait(), 0) << shell.output();
}

TEST_F(PlayerElementTest, TheVideoFillsTheElementsBoxAndMovesWithItWhenThePageScrolls) {
    write(page(400, 300,
               std::string("<div style=\"height:40px\"></div><object id=\"p\" classid=\"") +
                   kPlayerClass +
                   "\" style=\"margin-left:50px;width:200px;height:150px\"></object>"
                   "<div style=\"height:1000px\"></div><script>"
                   "var p = document.getElementById('p');"
                   "p.uiMode = 'none'; p.settings.autoStart = true;"
                   "p.addEventListener('PlayStateChange', function (e) { report('state', "
                   "e.newState); });"
                   "addEventListener('scroll', function () { report('scrolled', scrollY); });"
                   "p.URL = 'SERVER/blue.webm';"
                   "</script>"));
    Process shell = start();
    XWindow window = waitForWindow();
    ASSERT_NE(window, 0u);
    ASSERT_TRUE(reported("state", "3")) << shell.output();

    // Inside the element's box (50,40 200x150) the clip's blue, the page around it.
    ASSERT_TRUE(waitForColours(window, "box",
                               {{60, 50, "#0000ff"},
                                {150, 115, "#0000ff"},
                                {240, 180, "#0000ff"},
                                {40, 115, "#ffff00"},
                                {260, 115, "#ffff00"},
                                {150, 30, "#ffff00"},
                                {150, 200, "#ffff00"}}))
        << shell.output();

    // A real wheel turn over the page scrolls it; the video goes up with the element.
    x.run({"xdotool", "mousemove", "--window", std::to_string(window), "300", "250", "click", "5"});
    auto scrolled = reported("scrolled", [](const std::string& v) { return std::stoi(v) > 0; });
    ASSERT_TRUE(scrolled);
    ASSERT_TRUE(waitUntil([&] {
        auto last = server.requests();
        int y = 0;
        for (auto& r : last)
            if (auto v = r.param("scrolled"))
                y = std::stoi(*v);
        if (y < 20 || y > 120)
            return false;
        // The element's top is now at 40 - y.
        const int top = 40 - y;
        Shot s = shoot(window, "scrolled");
        return nearColour(pixelOf(s, 150, top + 150 - 5), "#0000ff") &&
               nearColour(pixelOf(s, 150, top + 150 + 5), "#ffff00") &&
               (top < 5 || nearColour(pixelOf(s, 150, top - 5), "#ffff00"));
    })) << shell.output();
}

TEST_F(PlayerElementTest, AVideoInAScrollingPaneIsCutToThePaneAndNeverCoversWhatIsAroundIt) {
    // A header of 60 pixels, then a pane below it that scrolls; the player inside it.
    write(page(400, 300,
               std::string("<div style=\"height:60px;background:#00ff00\"></div>"
                           "<div id=\"pane\" style=\"height:240px;overflow:auto\">"
                           "<div style=\"height:100px\"></div><object id=\"p\" classid=\"") +
                   kPlayerClass +
                   "\" style=\"margin-left:50px;width:200px;height:150px\"></object>"
                   "<div style=\"height:600px\"></div></div><script>"
                   "var p = document.getElementById('p'); p.uiMode = 'none';"
                   "p.addEventListener('PlayStateChange', function (e) { report('state', "
                   "e.newState); });"
                   "document.getElementById('pane').addEventListener('scroll', function () {"
                   "  report('scrolled', this.scrollTop); });"
                   "p.URL = 'SERVER/blue.webm';"
                   "</script>"));
    Process shell = start();
    XWindow window = waitForWindow();
    ASSERT_NE(window, 0u);
    ASSERT_TRUE(reported("state", "3")) << shell.output();
    // The element's top at 60 + 100.
    ASSERT_TRUE(waitForColours(
        window, "pane", {{150, 30, "#00ff00"}, {150, 165, "#0000ff"}, {150, 150, "#ffff00"}}))
        << shell.output();

    // Real wheel turns over the pane (beside the video) scroll it by more than 100 pixels:
    // the video's top goes under the header, which stays as it is.
    x.run({"xdotool", "mousemove", "--window", std::to_string(window), "350", "200"});
    for (int i = 0; i < 4; ++i)
        x.run({"xdotool", "click", "5"});
    ASSERT_TRUE(reported("scrolled", [](const std::string& v) { return std::stoi(v) > 120; }));
    ASSERT_TRUE(waitUntil([&] {
        int y = 0;
        for (auto& r : server.requests())
            if (auto v = r.param("scrolled"))
                y = std::stoi(*v);
        const int bottom = 60 + 100 + 150 - y; // the element's bottom edge
        if (bottom <= 70 || bottom >= 290)
            return false;
        Shot s = shoot(window, "pane-scrolled");
        return nearColour(pixelOf(s, 150, 30), "#00ff00") &&
               nearColour(pixelOf(s, 150, 58), "#00ff00") &&
               nearColour(pixelOf(s, 150, 62), "#0000ff") &&
               nearColour(pixelOf(s, 150, bottom - 4), "#0000ff") &&
               nearColour(pixelOf(s, 150, bottom + 4), "#ffff00");
    })) << shell.output();
}

TEST_F(PlayerElementTest, TwoPlayersPlayAndARemovedOneStopsWhileTheOtherPlaysOn) {
    write(page(480, 200,
               std::string("<object id=\"a\" classid=\"") + kPlayerClass +
                   "\" style=\"float:left;width:200px;height:150px\"></object>"
                   "<object id=\"b\" classid=\"" +
                   kPlayerClass +
                   "\" style=\"float:left;margin-left:40px;width:200px;height:150px\"></object>"
                   "<button id=\"remove\" style=\"position:absolute;left:0;top:160px;"
                   "width:100px;height:30px\">remove</button><a href=\"SERVER/away.html\" "
                   "style=\"position:absolute;left:120px;top:160px;width:100px;height:30px;"
                   "display:block\">away</a><script>"
                   "['a', 'b'].forEach(function (id) {"
                   "  var p = document.getElementById(id); p.uiMode = 'none';"
                   "  p.addEventListener('PlayStateChange', function (e) { report(id, "
                   "e.newState); });"
                   "  p.URL = 'SERVER/blue.webm';"
                   "});"
                   "document.getElementById('remove').onclick = function () {"
                   "  var a = document.getElementById('a'); a.parentNode.removeChild(a);"
                   "  setTimeout(function () { report('b-after', "
                   "document.getElementById('b').playState); }, 0); };"
                   "</script>",
               "button{font-size:10px}"));
    Process shell = start();
    XWindow window = waitForWindow();
    ASSERT_NE(window, 0u);
    ASSERT_TRUE(reported("a", "3")) << shell.output();
    ASSERT_TRUE(reported("b", "3")) << shell.output();
    ASSERT_TRUE(waitForColours(window, "two", {{100, 75, "#0000ff"}, {340, 75, "#0000ff"}}))
        << shell.output();
    EXPECT_EQ(logCount(shell, "player: stopped"), 0u);

    // A real click on the page's button takes the first element out of the document: its
    // player stops and its video goes; the second plays on where it is.
    x.run({"xdotool", "mousemove", "--window", std::to_string(window), "50", "175", "click", "1"});
    ASSERT_TRUE(reported("b-after", "3")) << shell.output();
    EXPECT_TRUE(waitUntil([&] { return logCount(shell, "player: stopped") == 1; }))
        << shell.output();
    // The second element floats left into the first one's place.
    EXPECT_TRUE(waitForColours(window, "removed", {{100, 75, "#0000ff"}, {340, 75, "#ffff00"}}))
        << shell.output();

    // Following a link: the page goes, and its remaining player with it.
    server.serve("/away.html", withServer(page(480, 200, "<script>report('away', 1);</script>")));
    x.run({"xdotool", "mousemove", "--window", std::to_string(window), "170", "175", "click", "1"});
    ASSERT_TRUE(reported("away", "1")) << shell.output();
    EXPECT_TRUE(waitUntil([&] { return logCount(shell, "player: stopped") == 2; }))
        << shell.output();
    EXPECT_TRUE(waitForColours(window, "away", {{100, 75, "#ffff00"}})) << shell.output();
}

TEST_F(PlayerElementTest, TheMediaServiceMakesPlayerElementsThatPlayWithTheirServices) {
    write(page(480, 200, std::string(R"(<div id="box"></div><script>
        var media = tavi.platform.getService('media');
        var made = [media.createMediaPlayer(document), media.createMediaPlayer(document)];
        report('tag', made[0].tagName + ' ' + made[0].classid + ' ' + made[0].isConnected);
        made.forEach(function (p, i) {
            p.style.cssText = 'float:left;margin-right:40px;width:200px;height:150px';
            document.getElementById('box').appendChild(p);
            p.uiMode = 'none';
            p.addEventListener('PlayStateChange', function (e) {
                report('p' + i, e.newState);
                if (e.newState == 3 && i == 1)
                    report('duration', p.currentMedia.duration);
            });
            p.URL = 'SERVER/' + (i ? 'red' : 'blue') + '.webm';
        });
        // Each player has its services, one object each time it is asked; the two players'
        // are not the same.
        report('services', [typeof made[0].services, made[0].services === made[0].services,
                            made[0].services !== made[1].services,
                            typeof made[1].services.stream].join(' '));
        try { media.createMediaPlayer(made[0]); report('owner', 'accepted'); }
        catch (e) { report('owner', 'refused'); }
        report('third', typeof media.createMediaPlayer(document).URL);
        // For no document: an element of a detached document of the page's, which the
        // page can still take in.
        var detached = media.createMediaPlayer(null);
        var alone = [detached.tagName, detached.classid, detached.ownerDocument !== document,
                     !detached.ownerDocument.defaultView];
        detached.style.cssText = 'width:10px;height:10px';
        document.body.appendChild(detached);
        alone.push(typeof detached.services);
        detached.remove();
        report('detached', alone.join(' '));
        </script>)")));
    Process shell = start();
    XWindow window = waitForWindow();
    ASSERT_NE(window, 0u) << shell.output();
    EXPECT_TRUE(reported("tag", std::string("OBJECT ") + kPlayerClass + " false"));
    EXPECT_TRUE(reported("services", "object true true object")) << shell.output();
    // An owner that is no document is refused.
    EXPECT_TRUE(reported("owner", "refused"));
    // A player made after the others (not inserted: no player yet) is an element still.
    EXPECT_TRUE(reported("third", "undefined"));
    EXPECT_TRUE(reported("detached", std::string("OBJECT ") + kPlayerClass + " true true object"))
        << shell.output();
    ASSERT_TRUE(reported("p0", "3")) << shell.output();
    ASSERT_TRUE(reported("p1", "3")) << shell.output();
    auto duration = reported("duration", [](const std::string&) { return true; });
    ASSERT_TRUE(duration);
    EXPECT_NEAR(std::stod(*duration), fileDuration("red.webm"), 0.05);
    EXPECT_TRUE(waitForColours(window, "made", {{100, 75, "#0000ff"}, {340, 75, "#ff0000"}}))
        << shell.output();
    EXPECT_TRUE(reported("p1", "8")) << shell.output();

    // The session's end while a player still plays: the window closes, the program ends
    // normally.
    ASSERT_TRUE(reported("p0", "3"));
    shell.signal(SIGTERM);
    EXPECT_EQ(shell.wait(), 0) << shell.output();
}

} // namespace
} // namespace norv::test
