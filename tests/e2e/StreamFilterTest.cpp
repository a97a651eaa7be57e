// Stream filters written in page script, end to end: the real program under Xvfb with
// openbox on a page of its startup folder whose player element plays media the test makes
// with GStreamer and serves over HTTP, and whose script filters the samples through
// services.stream. What the page's filters see is reported to the test server; what they
// change is read from the screen or from what the recorder wrote. No sound server runs: the
// player plays into the fake sink.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <sstream>

#include "media/pipeline/MPSpectrum.h"
#include "tests/media/pipeline/RecordingCheck.h"
#include "tests/support/HttpServer.h"
#include "tests/support/Process.h"
#include "tests/support/XSession.h"
#include "tests/support/XWindows.h"

namespace norv::test {
namespace {

using namespace std::chrono_literals;

constexpr const char* kPlayerClass = "clsid:{6BF52A52-394A-11D3-B153-00C04F79FAA6}";

std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// A 400 x 300 page with a black background and one player element `p` (320 x 240, no
// controls) and the markup `after`, running `script`; SERVER stands for the test server's
// address, FOLDER for the test's output folder, and `report(name, value)` tells the server.
// `peak(sample)` is the band with the highest level of a spectrum delivery.
std::string page(const std::string& script, const std::string& after = {}) {
    return std::string("<!DOCTYPE html><html><head><meta charset=\"utf-8\">"
                       "<style>/*<ui:window xmlns:ui=\"urn:schemas-tavimark-mixed1.0\" "
                       "type=\"normal\" clientWidth=\"400px\" clientHeight=\"300px\">"
                       "</ui:window>*/</style>"
                       "<style>html,body{margin:0;background:#000000}object{display:block}"
                       "</style><script>function report(n, v) { fetch('SERVER/report?' + n + "
                       "'=' + encodeURIComponent(v)); }</script></head><body>"
                       "<object id=\"p\" classid=\"") +
           kPlayerClass + "\" style=\"width:320px;height:240px\"></object>" + after +
           "<script>var p = document.getElementById('p'); p.uiMode = 'none';"
           "function hex(e) { return (e.number >>> 0).toString(16); }"
           "function peak(s) { var b = 0; for (var i = 1; i < s.fftLength; i++)"
           "  if (s.fftSpectrum(i) > s.fftSpectrum(b)) b = i; return b; }" +
           script + "</script></body></html>";
}

class StreamFilterTest : public ::testing::Test {
protected:
    // `seconds` of a sine of `freq` Hz at `volume` (stereo Vorbis at `rate`) and, with `video`, 320
    // x 240 VP8 of one colour, in WebM.
    void makeClip(const std::string& name, int seconds, const std::string& video = {},
                  int freq = 440, int rate = 44100, double volume = 0.8) {
        const auto path = cwd.path() / name;
        std::vector<std::string> cmd{
            "gst-launch-1.0",           "-q", "webmmux", "name=m", "!", "filesink",
            "location=" + path.string()};
        using Args = std::vector<std::string>;
        if (!video.empty())
            for (const std::string& s : Args{"videotestsrc", "pattern=" + video,
                                             "num-buffers=" + std::to_string(seconds * 30), "!",
                                             "video/x-raw,width=320,height=240,framerate=30/1", "!",
                                             "vp8enc", "deadline=1", "!", "m."})
                cmd.push_back(s);
        for (const std::string& s : Args{
                 "audiotestsrc", "freq=" + std::to_string(freq), "volume=" + std::to_string(volume),
                 "num-buffers=" + std::to_string(seconds * rate / 1024), "samplesperbuffer=1024",
                 "!", "audio/x-raw,rate=" + std::to_string(rate) + ",channels=2", "!",
                 "audioconvert", "!", "vorbisenc", "!", "m."})
            cmd.push_back(s);
        auto [code, out] = runCommand(cmd);
        ASSERT_EQ(code, 0) << out;
        server.serve("/" + name, readFile(path), "video/webm");
    }
    // Quiet mono tones at 44.1 kHz one after another, `seconds` each, as PCM WAV: quiet so
    // that the spectrum's levels do not saturate and its peak shows the tone.
    void makeQuietTones(const std::string& name, std::initializer_list<int> freqs, int seconds) {
        const auto path = cwd.path() / name;
        std::vector<std::string> cmd{"gst-launch-1.0", "-q"};
        for (int f : freqs)
            for (const std::string& w : std::vector<std::string>{
                     "audiotestsrc", "freq=" + std::to_string(f), "volume=0.003",
                     "samplesperbuffer=441", "num-buffers=" + std::to_string(seconds * 100), "!",
                     "audio/x-raw,rate=44100,channels=1", "!", "c."})
                cmd.push_back(w);
        for (const char* w :
             {"concat", "name=c", "!", "audioconvert", "!", "wavenc", "!", "filesink"})
            cmd.push_back(w);
        cmd.push_back("location=" + path.string());
        auto [code, out] = runCommand(cmd);
        ASSERT_EQ(code, 0) << out;
        server.serve("/" + name, readFile(path), "audio/x-wav");
    }
    // The spectrum band that holds `freq` Hz at `rate`: FFT bin freq * 512 / rate belongs to
    // the first band whose upper bin lies above it.
    static int bandOf(int freq, int rate) {
        const auto& bands = media::MPSpectrum::frequencies;
        const int bin = freq * media::MPSpectrum::windowFrames / rate;
        return int(
            std::find_if(bands.begin(), bands.end(),
                         [&](int f) { return f * media::MPSpectrum::windowFrames / rate > bin; }) -
            bands.begin());
    }
    // The length of a clip (of audio alone: its audio's).
    double duration(const std::string& name) {
        auto [code, out] = runCommand({"ffprobe", "-v", "error", "-show_entries", "format=duration",
                                       "-of", "default=nw=1:nk=1", (cwd.path() / name).string()});
        return code == 0 ? std::stod(out) : -1;
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
        return Process::spawn(
            {"sh", "-c", "cd \"$1\" && exec \"$2\"", "sh", cwd.path().string(), NORV_VIEW_RELATIVE},
            env);
    }
    XWindow waitForWindow() {
        XWindow found = 0;
        waitUntil([&] {
            auto ids = x.findWindows("^Norv E2E$");
            if (ids.size() == 1)
                found = std::stoul(ids.front());
            return found != 0;
        });
        return found;
    }
    std::optional<std::string> reported(const std::string& name,
                                        const std::function<bool(const std::string&)>& accept,
                                        std::chrono::milliseconds deadline = 90s) {
        auto r = server.waitFor(
            [&](const HttpRequest& q) {
                auto v = q.path == "/report" ? q.param(name) : std::nullopt;
                return v && accept(*v);
            },
            deadline);
        return r ? r->param(name) : std::nullopt;
    }
    std::optional<std::string> reported(const std::string& name) {
        return reported(name, [](const std::string&) { return true; });
    }
    bool reported(const std::string& name, const std::string& value) {
        return reported(name, [&](const std::string& v) { return v == value; }).has_value();
    }

    // Whether, in one screenshot, every point of the client area has its colour.
    bool waitForColours(XWindow window, const std::string& name,
                        const std::vector<std::tuple<int, int, std::string>>& points) {
        return waitUntil([&] {
            const auto png =
                std::filesystem::path(NORV_E2E_OUTPUT_DIR) / ("stream-" + name + ".png");
            const Box client = windows.client(window);
            x.screenshot(png);
            for (auto& [px, py, colour] : points) {
                auto [code, out] = runCommand({"convert", png.string(), "-format",
                                               "#%[hex:p{" + std::to_string(client.left + px) +
                                                   "," + std::to_string(client.top + py) + "}]",
                                               "info:"});
                if (code != 0 || !nearColour(out.substr(0, 7), colour))
                    return false;
            }
            return true;
        });
    }
    static bool nearColour(const std::string& seen, const std::string& want) {
        if (seen.size() != 7 || want.size() != 7)
            return false;
        for (int i = 0; i < 3; ++i)
            if (std::abs(std::stoi(seen.substr(1 + 2 * i, 2), nullptr, 16) -
                         std::stoi(want.substr(1 + 2 * i, 2), nullptr, 16)) > 40)
                return false;
        return true;
    }

    XSession x;
    XWindows windows{x.display()};
    HttpServer server;
    TempDir cwd, out;
};

TEST_F(StreamFilterTest, AnAudioFilterSeesEveryBufferInOrderInTheNegotiatedFormat) {
    makeClip("tone.webm", 3);
    write(page(R"(
        var stream = p.services.stream, calls = 0, total = 0, last = -1, ordered = true,
            sizes = true, type = null, sampleSize = 0, rate = 0, frame = 0;
        try { stream.getStreamType(1); report('blank', 'no'); } catch (e) { report('blank', hex(e)); }
        try { stream.insertFilter({ process: function () {} }, 0); report('zero', 'no'); }
        catch (e) { report('zero', hex(e)); }
        var f = { process: function (t, t0, t1, data, size) {
            if (!type) {
                type = stream.getStreamType(1);
                // The record's fields; the format block is a WAVEFORMATEX.
                var f = type.pbFormat;
                report('record', [type.majortype, type.formattype, type.pUnk,
                                  f instanceof Uint8Array && f.length == type.cbFormat].join(' '));
                sampleSize = type.lSampleSize;
                rate = f[4] | f[5] << 8 | f[6] << 16 | f[7] << 24; frame = f[12] | f[13] << 8;
            }
            calls++; total += t1 - t0;
            // The container's times are whole milliseconds.
            if (t0 < last - 0.001 || t1 <= t0) ordered = false;
            last = t1;
            if (size != data.length || size % frame ||
                Math.abs(size / frame - (t1 - t0) * rate) > 1) sizes = false;
        } };
        stream.insertFilter(f, 1); stream.insertFilter(f, 1);
        p.addEventListener('PlayStateChange', function (e) {
            if (e.newState != 8) return;
            report('type', [sampleSize, frame, rate].join(' '));
            report('done', [calls > 10, ordered, sizes, total.toFixed(4)].join(' '));
        });
        p.URL = 'SERVER/tone.webm';)"));
    Process shell = start();
    ASSERT_NE(waitForWindow(), 0u) << shell.output();
    // OLE_E_BLANK before anything played, E_NOTIMPL for no stream type.
    EXPECT_EQ(reported("blank").value_or("none"), "80040007");
    EXPECT_EQ(reported("zero").value_or("none"), "80004001");
    auto done = reported("done");
    ASSERT_TRUE(done) << shell.output();
    // Inserted twice, called once per buffer: the times follow on without overlap.
    EXPECT_TRUE(done->starts_with("true true true ")) << *done;
    const double total = std::stod(done->substr(done->rfind(' ') + 1));
    const double length = duration("tone.webm");
    EXPECT_NEAR(total, length, length * 0.02) << *done;
    auto type = reported("type");
    ASSERT_TRUE(type);
    std::istringstream t(*type);
    int sampleSize = 0, frame = 0, rate = 0;
    t >> sampleSize >> frame >> rate;
    EXPECT_EQ(rate, 44100);
    EXPECT_EQ(sampleSize, frame);
    // Audio, a WAVEFORMATEX format block, no interface pointer.
    EXPECT_EQ(reported("record").value_or("none"),
              "{73647561-0000-0010-8000-00AA00389B71} {05589F81-C356-11CE-BF01-00AA0055595A} "
              " true");
    EXPECT_TRUE(frame == 4 || frame == 8) << *type; // two channels of S16 or F32
}

TEST_F(StreamFilterTest, AVideoFilterThatInvertsThePicturesIsWhatTheUserSees) {
    makeClip("blue.webm", 30, "blue");
    write(page(R"(
        p.services.stream.insertFilter({ process: function (t, t0, t1, data) {
            for (var i = 0; i < data.length; i++) data[i] = 255 - data[i];
        } }, 2);
        p.URL = 'SERVER/blue.webm';)"));
    Process shell = start();
    XWindow window = waitForWindow();
    ASSERT_NE(window, 0u) << shell.output();
    // Blue inverted is yellow, inside the element; the page around it stays black.
    EXPECT_TRUE(waitForColours(window, "inverted",
                               {{40, 40, "#ffff00"}, {160, 120, "#ffff00"}, {360, 120, "#000000"}}))
        << shell.output();
}

TEST_F(StreamFilterTest, AStopFromInsideTheFilterEndsPlaybackCleanly) {
    makeClip("tone.webm", 20);
    write(page(R"(
        var calls = 0;
        p.services.stream.insertFilter({ process: function () {
            if (++calls == 3) { p.controls.stop(); report('stop', p.playState); }
        } }, 1);
        p.addEventListener('PlayStateChange', function (e) { report('state', e.newState); });
        p.URL = 'SERVER/tone.webm';)"));
    Process shell = start();
    ASSERT_NE(waitForWindow(), 0u) << shell.output();
    // The UI stops the pipeline while the streaming thread waits for this very call.
    EXPECT_TRUE(reported("stop", "1")) << shell.output();
    EXPECT_TRUE(reported("state", "1")) << shell.output();
    EXPECT_TRUE(shell.running());
}

TEST_F(StreamFilterTest, AFilterThatRemovesItselfIsNotCalledAgainAndPlaybackGoesOn) {
    makeClip("tone.webm", 2);
    write(page(R"(
        var calls = 0, stream = p.services.stream;
        var f = { process: function () { if (++calls == 2) stream.removeFilter(f, 0); } };
        stream.insertFilter(f, 3);
        p.addEventListener('PlayStateChange', function (e) {
            if (e.newState == 8) report('calls', calls);
        });
        p.URL = 'SERVER/tone.webm';)"));
    Process shell = start();
    ASSERT_NE(waitForWindow(), 0u) << shell.output();
    EXPECT_TRUE(reported("calls", "2")) << shell.output();
}

TEST_F(StreamFilterTest, APageThatNavigatesAwayDuringAFilterCallLeavesTheProgramWorking) {
    makeClip("tone.webm", 20);
    server.serve("/next", "<!DOCTYPE html><script>fetch('/report?next=loaded')</script>");
    write(page(R"(
        var calls = 0;
        p.services.stream.insertFilter({ process: function () {
            if (++calls == 3) location.href = 'SERVER/next';
            for (var i = 0; i < 1e6; i++) {}  // still inside the call as the document goes
        } }, 1);
        p.URL = 'SERVER/tone.webm';)"));
    Process shell = start();
    ASSERT_NE(waitForWindow(), 0u) << shell.output();
    EXPECT_TRUE(reported("next", "loaded")) << shell.output();
    EXPECT_TRUE(shell.running());
}

TEST_F(StreamFilterTest, TheSpectrumOfA1000HzTonePeaksInTheBandThatHoldsIt) {
    for (int rate : {44100, 48000}) {
        SCOPED_TRACE(rate);
        // 1000 Hz lies in FFT bin 1000 * 512 / rate, which belongs to the first band whose
        // upper bin lies above it.
        const auto& bands = media::MPSpectrum::frequencies;
        const int bin = 1000 * media::MPSpectrum::windowFrames / rate;
        const auto band =
            std::find_if(bands.begin(), bands.end(),
                         [&](int f) { return f * media::MPSpectrum::windowFrames / rate > bin; }) -
            bands.begin();
        const std::string name = "tone" + std::to_string(rate) + ".webm";
        // Quiet enough that the levels (|X[k]| / 1024, at most 99) do not all saturate.
        makeClip(name, 20, {}, 1000, rate, 0.003);
        write(page(R"(
            var deliveries = 0, peaks = {};
            p.services.audioSpectrumListener(function (sample) {
                var best = 0;
                for (var i = 1; i < sample.fftLength; i++)
                    if (sample.fftSpectrum(i) > sample.fftSpectrum(best)) best = i;
                peaks[best] = (peaks[best] || 0) + 1;
                if (++deliveries == 10)
                    report('spectrum' + sample.rate, [sample.fftLength, sample.rate, JSON.stringify(peaks)].join(' '));
            }, 100);
            p.URL = 'SERVER/)" +
                   name + "';"));
        Process shell = start();
        ASSERT_NE(waitForWindow(), 0u) << shell.output();
        auto spectrum = reported("spectrum" + std::to_string(rate));
        ASSERT_TRUE(spectrum) << shell.output();
        // Every delivery (bar perhaps the first, at the start of the tone) peaks there.
        std::istringstream in(*spectrum);
        int length = 0, sampleRate = 0;
        std::string peaks;
        in >> length >> sampleRate >> peaks;
        EXPECT_EQ(length, 45);
        EXPECT_EQ(sampleRate, rate);
        const std::string key = "\"" + std::to_string(band) + "\":";
        const auto at = peaks.find(key);
        ASSERT_NE(at, std::string::npos) << peaks;
        EXPECT_GE(std::stoi(peaks.substr(at + key.size())), 9) << peaks;
        shell.stop();
    }
}

TEST_F(StreamFilterTest, AFilterThatZeroesTheAudioMakesWhatReachesTheSinkSilent) {
    makeClip("tone.webm", 3);
    // The recorder takes what plays after the page's filters: the medium played once as it
    // is, then again with a filter (inserted ahead of the recorder) that zeroes every sample.
    write(page(R"(
        var rec = p.services.recorder, stream = p.services.stream, phase = 'plain';
        rec.file = 'FOLDER/plain.wav';
        rec.record();
        p.addEventListener('PlayStateChange', function (e) {
            if (e.newState != 8) return;
            report('ended', phase);
            if (phase != 'plain') return;
            setTimeout(function () {
                phase = 'zeroed';
                stream.insertFilter(function (t, t0, t1, data) { data.fill(0); }, 1);
                rec.file = 'FOLDER/zeroed.wav';
                rec.record();
                p.URL = 'SERVER/tone.webm';
            }, 0);
        });
        p.URL = 'SERVER/tone.webm';)"));
    Process shell = start();
    ASSERT_NE(waitForWindow(), 0u) << shell.output();
    ASSERT_TRUE(reported("ended", "zeroed")) << shell.output();
    // The medium's end stopped each recording; both hold the whole medium.
    const auto plain = decode(out.path() / "plain.wav");
    const auto zeroed = decode(out.path() / "zeroed.wav");
    const double length = duration("tone.webm");
    EXPECT_NEAR(probe(out.path() / "plain.wav").duration, length, 0.1);
    EXPECT_NEAR(probe(out.path() / "zeroed.wav").duration, length, 0.1);
    EXPECT_GT(peakLevel(plain), 0.3f);
    ASSERT_GT(zeroed.size(), std::size_t(44100));
    EXPECT_LT(peakLevel(zeroed), 0.001f);
}

// Spectrum deliveries while the player is paused, measured against a second player whose
// listener keeps being called: a paused player's listener gets at most the one call under
// way as it paused, and is called again once it plays.
TEST_F(StreamFilterTest, SpectrumDeliveriesStopWhilePausedAndComeBackWithPlay) {
    makeQuietTones("tone.wav", {1000}, 30);
    write(page(R"(
        var q = document.getElementById('q'), mine = 0, other = 0, atPause = -1, atOther = 0,
            phase = 'playing';
        q.uiMode = 'none';
        p.services.audioSpectrumListener(function () {
            mine++;
            if (phase == 'playing' && mine == 5) {
                phase = 'pausing';
                setTimeout(function () { p.controls.pause(); }, 0);
            } else if (phase == 'resumed' && mine >= atPause + 3) {
                phase = 'done';
                report('resumed', mine - atPause);
            }
        }, 100);
        p.addEventListener('PlayStateChange', function (e) {
            if (e.newState != 2 || phase != 'pausing') return;
            phase = 'paused'; atPause = mine; atOther = other;
        });
        q.services.audioSpectrumListener(function () {
            other++;
            if (phase == 'paused' && other >= atOther + 10) {
                phase = 'resumed';
                report('paused', mine - atPause);
                setTimeout(function () { p.controls.play(); }, 0);
            }
        }, 100);
        p.URL = 'SERVER/tone.wav';
        q.URL = 'SERVER/tone.wav';)",
               "<object id=\"q\" classid=\"" + std::string(kPlayerClass) +
                   "\" style=\"width:40px;height:30px\"></object>"));
    Process shell = start();
    ASSERT_NE(waitForWindow(), 0u) << shell.output();
    // Ten deliveries of the other player while this one was paused: at most one of its own.
    auto paused = reported("paused");
    ASSERT_TRUE(paused) << shell.output();
    EXPECT_LE(std::stoi(*paused), 1);
    EXPECT_TRUE(reported("resumed")) << shell.output();
}

// What the listener gets is the window being heard at the playback position, not the one
// the streaming thread brought last (about a second ahead): a tone that changes at 3 s shows
// the change within one TimeOut interval of the position the player reports at delivery.
// A seek backwards drops what was kept from ahead: no window of the later tone follows it.
TEST_F(StreamFilterTest, TheSpectrumDeliveredIsOfThePlayingPositionAndASeekBackDropsTheRest) {
    makeQuietTones("tones.wav", {1000, 4000, 4000}, 3);
    // A few deliveries on each side of the change, then a few after the seek (fewer when the
    // machine is too busy to deliver every period before the medium gets there).
    write(page(R"(
        var seen = [], phase = 'first', late = 0, after = 0;
        p.services.audioSpectrumListener(function (sample) {
            var at = p.controls.currentPosition;
            if (phase == 'done') return;
            seen.push([phase, Math.round(at * 1000), peak(sample)]);
            if (phase == 'first' && at > 3.25) late++;
            if (phase == 'back' && at < 2.75) after++;
            if (phase == 'first' && (late >= 3 || at >= 7.5)) {
                phase = 'back';
                p.controls.currentPosition = 0.5;
            } else if (phase == 'back' && (after >= 3 || (at >= 2.5 && at < 3))) {
                phase = 'done';
                report('seen', JSON.stringify(seen));
            }
        }, 250);
        p.URL = 'SERVER/tones.wav';)"));
    Process shell = start();
    ASSERT_NE(waitForWindow(), 0u) << shell.output();
    auto seen = reported("seen");
    ASSERT_TRUE(seen) << shell.output();

    const int low = bandOf(1000, 44100), high = bandOf(4000, 44100);
    ASSERT_NE(low, high);
    constexpr int period = 250, change = 3000; // ms
    int early = 0, late = 0, afterSeek = 0;
    // seen: [["first",1234,7],...]
    std::string rest = *seen;
    for (std::size_t at = rest.find("[\""); at != std::string::npos;
         at = rest.find("[\"", at + 1)) {
        const auto phaseEnd = rest.find('"', at + 2);
        const std::string phase = rest.substr(at + 2, phaseEnd - at - 2);
        std::istringstream in(rest.substr(phaseEnd + 2));
        int position = 0, band = 0;
        char comma = 0;
        in >> position >> comma >> band;
        SCOPED_TRACE(phase + " " + std::to_string(position) + " " + std::to_string(band));
        if (phase != "first" && position < change - period) {
            // After the seek back, before the change: only the first tone.
            EXPECT_EQ(band, low);
            ++afterSeek;
        } else if (phase == "first" && position < change - period) {
            EXPECT_EQ(band, low);
            ++early;
        } else if (phase == "first" && position > change + period) {
            EXPECT_EQ(band, high);
            ++late;
        }
    }
    EXPECT_GE(early, 1) << *seen;
    EXPECT_GE(late, 1) << *seen;
    EXPECT_GE(afterSeek, 1) << *seen;
}

} // namespace
} // namespace norv::test
