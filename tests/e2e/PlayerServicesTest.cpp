// The player's recorder and equaliser from page script, end to end: the real program under
// Xvfb with openbox on a page of its startup folder whose player element plays tones the
// test makes and serves over HTTP. The recordings are read back with ffmpeg's tools, the
// skin package with Python's zipfile. No sound server runs: the players play into the fake
// sink, in real time.
#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <sstream>

#include "media/pipeline/WaveFormat.h"
#include "tests/media/pipeline/RecordingCheck.h"
#include "tests/support/HttpServer.h"
#include "tests/support/Process.h"
#include "tests/support/XSession.h"
#include "tests/support/XWindows.h"

namespace norv::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr const char* kPlayerClass = "clsid:{6BF52A52-394A-11D3-B153-00C04F79FAA6}";

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// A page with one player element and the script `body`; SERVER stands for the test
// server's address. `report(name, value)` tells the server; `code(f)` is "ok" or the
// HRESULT f failed with, in hexadecimal.
std::string page(const std::string& script, const std::string& before = {}) {
    return std::string("<!DOCTYPE html><html><head><meta charset=\"utf-8\">"
                       "<style>/*<ui:window xmlns:ui=\"urn:schemas-tavimark-mixed1.0\" "
                       "type=\"normal\" clientWidth=\"300px\" clientHeight=\"200px\">"
                       "</ui:window>*/</style><script>"
                       "function report(n, v) { fetch('SERVER/report?' + n + '=' + "
                       "encodeURIComponent(v)); }"
                       "function code(f) { try { f(); return 'ok'; } catch (e) {"
                       "  return (e.number >>> 0).toString(16) + ' ' + e.description; } }"
                       "</script></head><body><object id=\"p\" classid=\"") +
           kPlayerClass + "\" style=\"width:200px;height:100px\"></object>" + before +
           "<script>try {" + script +
           "} catch (e) { report('error', e + ' ' + (e.number >>> 0).toString(16)); }"
           "</script></body></html>";
}

class PlayerServicesTest : public ::testing::Test {
protected:
    // One tone after another, `seconds` each, as PCM WAV, served as `name`.
    void makeTones(const std::string& name, std::initializer_list<int> freqs, double seconds) {
        std::string words = "gst-launch-1.0 -q";
        for (int f : freqs)
            words += " audiotestsrc freq=" + std::to_string(f) +
                     " samplesperbuffer=441 num-buffers=" + std::to_string(int(seconds * 100)) +
                     " ! audio/x-raw,rate=44100,channels=1 ! c.";
        words += " concat name=c ! audioconvert ! wavenc ! filesink location=" +
                 (media.path() / name).string();
        std::vector<std::string> argv;
        std::istringstream split(words);
        for (std::string w; split >> w;)
            argv.push_back(w);
        auto [code, out] = runCommand(argv, {}, 60s);
        ASSERT_EQ(code, 0) << out;
        server.serve("/" + name, readFile(media.path() / name), "audio/x-wav");
    }

    void write(std::string html) {
        const std::string base = server.url("");
        for (auto at = html.find("SERVER"); at != std::string::npos;
             at = html.find("SERVER", at + base.size()))
            html.replace(at, 6, base);
        for (auto at = html.find("FOLDER"); at != std::string::npos;
             at = html.find("FOLDER", at + 1))
            html.replace(at, 6, out.path().string());
        std::ofstream(cwd.path() / "start.htm", std::ios::trunc) << html;
    }

    Process start() {
        Env env = x.env();
        env.emplace_back("G_MESSAGES_DEBUG", "norv-view");
        env.emplace_back("PULSE_SERVER", "unix:/nonexistent");
        env.emplace_back("TMPDIR", tmp.path().string());
        return Process::spawn(
            {"sh", "-c", "cd \"$1\" && exec \"$2\"", "sh", cwd.path().string(), NORV_VIEW_RELATIVE},
            env);
    }

    // The value the page reported under `name`, once one matching `accept` came; nothing
    // (and a failure) when the page's script failed first.
    std::optional<std::string> reported(const std::string& name,
                                        const std::function<bool(const std::string&)>& accept,
                                        std::chrono::milliseconds deadline = 60s) {
        auto r = server.waitFor(
            [&](const HttpRequest& q) {
                if (q.path != "/report")
                    return false;
                auto v = q.param(name);
                return (v && accept(*v)) || q.param("error").has_value();
            },
            deadline);
        if (r && !r->param(name)) {
            ADD_FAILURE() << "the page's script failed: " << *r->param("error");
            return std::nullopt;
        }
        return r ? r->param(name) : std::nullopt;
    }
    std::string reported(const std::string& name) {
        return reported(name, [](const std::string&) { return true; }).value_or("(none)");
    }

    // The files of the temporary folder whose names begin with "TFR".
    std::vector<fs::path> skinFiles() {
        std::vector<fs::path> found;
        for (const auto& e : fs::directory_iterator(tmp.path()))
            if (e.path().filename().string().starts_with("TFR"))
                found.push_back(e.path());
        return found;
    }

    XSession x;
    XWindows windows{x.display()};
    HttpServer server;
    TempDir cwd, media, out, tmp;
};

TEST_F(PlayerServicesTest, ScriptRecordsWhatPlaysPausesAndResumesAndKeepsOtherFiles) {
    makeTones("tone.wav", {1000}, 3.0);
    std::ofstream(out.path() / "notes.txt") << "my notes\n";
    // An earlier recording (PCM) at the name the last recording takes.
    {
        auto [code, text] =
            runCommand({"gst-launch-1.0", "-q", "audiotestsrc", "num-buffers=20", "!", "wavenc",
                        "!", "filesink", "location=" + (out.path() / "earlier.wav").string()});
        ASSERT_EQ(code, 0) << text;
    }
    const std::string relative = "e2e-" + std::to_string(::getpid()) + ".wav";
    write(page(R"(
        var p = document.getElementById('p'), rec = p.services.recorder;
        var phase = 'tone';
        p.uiMode = 'none';
        report('text', code(function () { rec.file = 'FOLDER/notes.txt'; }));
        rec.file = 'rec\\)" +
               relative + R"(';
        report('relative', rec.file);
        rec.file = 'file://FOLDER/made/a.wav';
        report('uri', rec.file);
        report('stopped', code(function () { rec.pause(); }));
        report('duration', code(function () { return rec.duration; }));
        rec.file = 'FOLDER/tone.wav';
        rec.record();
        p.addEventListener('PlayStateChange', function (e) {
            if (e.newState != 8) return;
            report('ended-' + phase, [rec.recording, rec.paused, rec.stoped].join());
            setTimeout(next, 0);
        });
        function next() { try { step(); } catch (e) { report('error', e + ' ' + e.number); } }
        function step() {
            if (phase != 'tone') return;
            // Paused and resumed from the page while the next medium plays, into the file
            // of an earlier recording.
            phase = 'paused';
            p.addEventListener('PlayStateChange', function (e) {
                if (e.newState != 3 || phase != 'paused' || rec.paused) return;
                var again = code(function () { rec.record(); });
                rec.pause();
                report('while-paused', [again, code(function () { rec.pause(); }),
                                        rec.paused, rec.recording].join());
                rec.record();
                report('resumed', [rec.recording, rec.paused].join());
            });
            rec.file = 'FOLDER/earlier.wav';
            rec.record();
            p.URL = 'SERVER/tone.wav';
        }
        p.URL = 'SERVER/tone.wav';
    )"));
    Process shell = start();

    EXPECT_EQ(reported("text"), "80070005 The file exists and is not a sound recording.");
    EXPECT_EQ(readFile(out.path() / "notes.txt"), "my notes\n");
    // Relative names are the program's folder's; a file URI's folders are made.
    const fs::path beside = fs::path(NORV_VIEW_RELATIVE).parent_path() / "rec" / relative;
    EXPECT_EQ(reported("relative"), beside.string());
    EXPECT_TRUE(fs::exists(beside));
    fs::remove(beside);
    EXPECT_EQ(reported("uri"), (out.path() / "made" / "a.wav").string());
    EXPECT_TRUE(fs::is_directory(out.path() / "made"));
    EXPECT_TRUE(reported("stopped").starts_with("80040227")) << reported("stopped");
    EXPECT_TRUE(reported("duration").starts_with("80004001")) << reported("duration");

    // The tone: all of it but the 10 ms that pass while the recorder starts.
    ASSERT_EQ(reported("ended-tone"), "false,false,true") << shell.output();
    const fs::path tone = out.path() / "tone.wav";
    auto p = probe(tone);
    EXPECT_EQ(p.format, "wav");
    EXPECT_EQ(p.codec, "wmav2");
    EXPECT_NEAR(p.duration, 2.99, 0.050);
    EXPECT_NEAR(dominantFrequency(decode(tone), 0.5, 2.5), 1000, 20);

    // Paused and resumed within one script turn: while paused, a record or a pause fails
    // nothing; the recording replaced the earlier one and holds the tone (the few samples
    // that came during the pause are not in it).
    ASSERT_EQ(reported("ended-paused"), "false,false,true") << shell.output();
    EXPECT_EQ(reported("while-paused"), "ok,ok,true,false");
    EXPECT_EQ(reported("resumed"), "true,false");
    const fs::path earlier = out.path() / "earlier.wav";
    p = probe(earlier);
    EXPECT_EQ(p.codec, "wmav2");
    EXPECT_GT(p.duration, 2.5);
    EXPECT_LT(p.duration, 3.0);
    EXPECT_NEAR(dominantFrequency(decode(earlier), 0.5, 2.0), 1000, 20);
}

TEST_F(PlayerServicesTest, ARecordingWhoseProgramIsKilledKeepsAllButItsLastSecond) {
    makeTones("long.wav", {700}, 20.0);
    write(page(R"(
        var p = document.getElementById('p'), rec = p.services.recorder;
        rec.file = 'FOLDER/killed.wav';
        rec.record();
        p.URL = 'SERVER/long.wav';
    )"));
    Process shell = start();
    const fs::path file = out.path() / "killed.wav";
    // The header on disk tells of three seconds (the encoder writes 16000 bytes a second).
    auto recordedBytes = [&] {
        const std::string b = readFile(file);
        const std::vector<std::uint8_t> bytes(b.begin(), b.end());
        if (bytes.size() < 28)
            return 0u;
        const std::uint32_t f = media::readLE32(bytes, 16);
        return bytes.size() < 28 + f ? 0u : media::readLE32(bytes, 24 + f);
    };
    ASSERT_TRUE(waitUntil([&] { return recordedBytes() >= 3 * 16000; }, 60s)) << shell.output();
    shell.signal(SIGKILL);
    shell.wait();
    const auto p = probe(file);
    EXPECT_EQ(p.codec, "wmav2");
    EXPECT_GE(p.duration, 1.5);
}

TEST_F(PlayerServicesTest, TheEqualiserAnswersScriptThroughTheProcessesOneSkinPackage) {
    makeTones("tone.wav", {1000}, 2.0);
    write(page(R"(
        var p = document.getElementById('p'), settings = p.services.settings;
        var eq = settings.audio.equalizer, fx = settings.audio.effects;
        report('freq', [eq.freqValues(0), eq.freqValues(9),
                        code(function () { eq.freqValues(10); }).slice(0, 8),
                        code(function () { eq.freqValues(-1); }).slice(0, 8)].join());
        eq.gainLevels(2, 5.5);
        fx.truBassLevel = 80;
        report('gain', [eq.gainLevels(2), eq.gainLevels(3), eq.bands, fx.truBassLevel].join());
        report('video', code(function () { return settings.video; }).slice(0, 8));
        p.URL = 'SERVER/tone.wav';
        report('one', 'ready');
        document.getElementById('second').onclick = function () {
            var q = document.createElement('object');
            q.setAttribute('classid', p.getAttribute('classid'));
            document.body.appendChild(q);
            var other = q.services.settings.audio.equalizer;
            other.gainLevels(2, -4);
            report('two', [other.gainLevels(2), eq.gainLevels(2)].join());
        };
    )",
               "<button id=\"second\" style=\"position:absolute;left:0;top:150px;"
               "width:100px;height:30px\">second</button>"));
    Process shell = start();
    EXPECT_EQ(reported("freq"), "31,16000,80070057,80070057");
    EXPECT_EQ(reported("gain"), "5.5,0,10,80");
    EXPECT_EQ(reported("video"), "80004002");
    ASSERT_EQ(reported("one"), "ready") << shell.output();

    // One package while a player is there, its single entry the skin text.
    auto files = skinFiles();
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0].extension(), ".wmz");
    auto [code, entries] = runCommand(
        {"/usr/bin/python3", "-c",
         "import sys, zipfile\n"
         "z = zipfile.ZipFile(sys.argv[1])\n"
         "for i in z.infolist(): print(i.filename, i.file_size, z.read(i).decode('latin-1'))\n",
         files[0].string()});
    ASSERT_EQ(code, 0) << entries;
    EXPECT_EQ(entries, "wmpsrv.wms 125 <THEME><VIEW onload=\"wmpsrv.audio =eq; wmpsrv.video "
                       "=vs;\"><VIDEOSETTINGS id=\"vs\"/><EQUALIZERSETTINGS id=\"eq\"/></VIEW>"
                       "</THEME>\n");

    // A second player, made by a real click: its own equaliser, the same package.
    std::string window;
    ASSERT_TRUE(waitUntil([&] {
        auto ids = x.findWindows("^Norv E2E$");
        if (ids.size() == 1)
            window = ids.front();
        return !window.empty();
    }));
    x.run({"xdotool", "mousemove", "--window", window, "20", "165", "click", "1"});
    EXPECT_EQ(reported("two"), "-4,5.5") << shell.output();
    EXPECT_EQ(skinFiles(), files);

    // Closed, the program leaves nothing behind.
    windows.requestClose(std::stoul(window));
    const auto exitCode = shell.wait(30s);
    ASSERT_TRUE(exitCode.has_value()) << shell.output();
    EXPECT_EQ(*exitCode, 0) << shell.output();
    for (const auto& left : skinFiles())
        ADD_FAILURE() << "left behind: " << left;
}

} // namespace
} // namespace norv::test
