// The cost of the stream taps: the CPU time of playing the same medium (60 s of Vorbis
// audio and 320 x 240 VP8 video at 30 frames a second, made at the start) at full speed,
// sinks not synchronised, in GStreamer's playbin
//   - plain (the reference),
//   - with the taps: the audio tap wrapping a pass-through audio transform and the video
//     presenter's tap on the video path, no filter,
//   - with the taps and a native filter that does nothing on both streams,
//   - with the taps and a spectrum listener at 50 ms,
//   - with the taps and a filter written in page script (a real WebKit page through the
//     script bridge) on the audio stream,
// then 1280 x 720 BGRx frames (30 a second of medium) sent through a filter chain on a
// streaming thread, with a native no-op filter and with the page's filter (the direct chain,
// the reference for the video path), and last a 1280 x 720 VP8 medium of the same length
// played with its frames going through the video presenter's tap to the same two filters:
// frames filtered, round trips and the CPU the page's filter adds per frame, as ratios to
// the direct chain. For the filters it prints the round trip of one call per buffer (median
// and 99th percentile: from the streaming thread handing the buffer over until the page's
// bytes are back in it).
// Each configuration runs three times, interleaved; the median counts. Printed: CPU seconds,
// the ratio to plain playbin, the extra CPU as a share of one core when the medium plays in
// real time ((CPU - plain CPU) / medium length), how much faster than real time it ran, and
// how often the spectrum listener was called (at full speed a run lasts only a few
// periods; the copies the spectrum keeps of every buffer are what costs).
//
//   build/bench/player [SECONDS]
//
// Needs an X display for the page: without DISPLAY it starts a private one (Xvfb with
// openbox) when built with the tests' support library.

#include <gst/gst.h>
#include <gtk/gtk.h>
#include <sys/resource.h>
#include <unistd.h>
#include <webkit2/webkit2.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#ifdef NORV_BENCH_X_SESSION
#include "tests/support/XSession.h"
#endif

#include "media/pipeline/FilterChain.h"
#include "media/pipeline/MPStream.h"
#include "media/pipeline/MPVideoPresenter.h"
#include "media/pipeline/ScriptStreamFilter.h"
#include "platform/com/DispatchObject.h"
#include "platform/media/PassThroughActivate.h"
#include "platform/web/ScriptBridge.h"

namespace {

using namespace norv::com;
using namespace norv::media;
using norv::platform::media::IActivate;
using norv::platform::media::IAudioTransform;
using norv::platform::media::PassThroughActivate;
using norv::typelib::AMMediaType;
using norv::typelib::IMPStreamFilter;
using norv::typelib::MPStreamType;

// The CPU time of this process and of its children still running (the page's web process,
// WebKit's network process), from /proc.
double childrenCpuSeconds() {
    double total = 0;
    const std::string self = std::to_string(getpid());
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        std::ifstream in(entry.path() / "stat");
        std::string line;
        if (!std::getline(in, line))
            continue;
        const auto close = line.rfind(')');
        if (close == std::string::npos)
            continue;
        std::istringstream fields(line.substr(close + 2));
        std::string state, ppid, skip;
        fields >> state >> ppid;
        if (ppid != self)
            continue;
        for (int i = 0; i < 9; ++i)
            fields >> skip;
        double utime = 0, stime = 0;
        fields >> utime >> stime;
        total += (utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
    }
    return total;
}

double cpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    auto s = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6;
    };
    return s(u.ru_utime) + s(u.ru_stime) + childrenCpuSeconds();
}

class NoOpFilter final : public DispatchObject<NoOpFilter, IMPStreamFilter> {
public:
    HRESULT process(MPStreamType, const Variant&, const Variant&, const Variant&,
                    const Variant&) override {
        return S_OK;
    }
};

// Two native filters around the page's: the first notes when a buffer goes to the page,
// the second when it is back; the difference is one call's round trip. Calls of one
// streaming thread follow each other, so a thread-local start suffices.
struct RoundTrips {
    std::mutex lock;
    std::vector<double> micros;
};
class Stopwatch final : public DispatchObject<Stopwatch, IMPStreamFilter> {
public:
    Stopwatch(std::shared_ptr<RoundTrips> trips, bool start)
        : trips_(std::move(trips)), start_(start) {}
    HRESULT process(MPStreamType, const Variant&, const Variant&, const Variant&,
                    const Variant&) override {
        thread_local std::chrono::steady_clock::time_point began;
        const auto now = std::chrono::steady_clock::now();
        if (start_) {
            began = now;
        } else {
            std::lock_guard lock(trips_->lock);
            trips_->micros.push_back(
                std::chrono::duration<double, std::micro>(now - began).count());
        }
        return S_OK;
    }

private:
    std::shared_ptr<RoundTrips> trips_;
    bool start_;
};

// A page with a stream filter that reads and writes one byte of each buffer, as cheap a
// filter as script can be: what is measured is the way to the page and back.
constexpr const char* kFilterPage =
    "<!DOCTYPE html><html><body><script>"
    "host.keep({ process: function (type, t0, t1, data, size) { data[0] = data[0] ^ 0; } });"
    "</script></body></html>";

class PageHost final : public ComObject<PageHost, IDispatch> {
public:
    HRESULT GetTypeInfoCount(std::uint32_t* n) override {
        *n = 0;
        return S_OK;
    }
    HRESULT GetTypeInfo(std::uint32_t, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT GetIDsOfNames(const IID&, std::span<const Bstr> names, LCID,
                          std::span<DISPID> ids) override {
        for (std::size_t i = 0; i < names.size(); ++i)
            ids[i] = names[i].str() == u"keep" ? 1 : DISPID_UNKNOWN;
        return S_OK;
    }
    HRESULT Invoke(DISPID id, const IID&, LCID, std::uint16_t, DispParams& params, Variant*,
                   ExcepInfo*, std::uint32_t*) override {
        if (id != 1 || params.args.empty())
            return DISP_E_MEMBERNOTFOUND;
        kept = params.args.back();
        return S_OK;
    }
    Variant kept;
};

bool pumpUntil(const std::function<bool()>& cond, int seconds) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    const guint tick = g_timeout_add(
        10, [](gpointer) -> gboolean { return G_SOURCE_CONTINUE; }, nullptr);
    while (!cond() && std::chrono::steady_clock::now() < end)
        g_main_context_iteration(nullptr, TRUE);
    g_source_remove(tick);
    return cond();
}

// The page's filter as the stream part gets it from script.
struct ScriptPage {
    std::unique_ptr<norv::web::ScriptBridge> bridge;
    ComPtr<PageHost> host;
    ComPtr<IMPStreamFilter> filter;
};
ScriptPage openPage() {
    ScriptPage page;
    WebKitWebContext* context = webkit_web_context_new();
    norv::web::ScriptBridge::prepareContext(context);
    GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    auto* view = WEBKIT_WEB_VIEW(webkit_web_view_new_with_context(context));
    gtk_container_add(GTK_CONTAINER(window), GTK_WIDGET(view));
    gtk_widget_show_all(window);
    page.bridge = std::make_unique<norv::web::ScriptBridge>(view);
    page.host = makeObject<PageHost>();
    page.bridge->bindScriptValue(u"window.host", ComPtr<IDispatch>(page.host.get()));
    ScriptStreamFilter::enable(); // lets script objects be stream filters
    webkit_web_view_load_html(view, kFilterPage, "http://127.0.0.1/");
    if (!pumpUntil([&] { return page.host->kept.unknown() != nullptr; }, 60)) {
        std::fprintf(stderr, "the page did not hand over its filter\n");
        std::exit(1);
    }
    page.host->kept.unknown()->QueryInterface(IMPStreamFilter::iid, page.filter.putVoid());
    if (!page.filter) {
        std::fprintf(stderr, "the page's object is no stream filter\n");
        std::exit(1);
    }
    return page;
}

struct IBenchListener : IDispatch {
    static constexpr IID iid = guid("{6A1D2E7B-4C0F-4B55-9A0E-2D6E7C3B9F10}");
    using Base = IDispatch;
    virtual HRESULT call(IDispatch* sample) = 0;
    static const InterfaceInfo& interfaceInfo() {
        static const InterfaceInfo info = describeInterface<IBenchListener>(
            u"IBenchListener", nullptr, method(0, u"call", &IBenchListener::call, {u"sample"}));
        return info;
    }
};

class Listener final : public DispatchObject<Listener, IBenchListener> {
public:
    HRESULT call(IDispatch*) override {
        ++calls;
        return S_OK;
    }
    int calls = 0;
};

// Hands the presenter the stream part's frame callbacks, as the player's plugin does.
class Provider final : public ComObject<Provider, IVideoCallbackProvider> {
public:
    explicit Provider(MPStream* stream) : stream_(stream) {}
    HRESULT GetFrameCallback(const AMMediaType& type, ISampleGrabberSinkCallback** out) override {
        return stream_->videoCallback(type, ISampleGrabberSinkCallback::iid,
                                      reinterpret_cast<void**>(out));
    }

private:
    ComPtr<MPStream> stream_;
};

GstElement* make(const char* factory) {
    GstElement* e = gst_element_factory_make(factory, nullptr);
    if (e == nullptr) {
        std::fprintf(stderr, "GStreamer element %s is missing\n", factory);
        std::exit(1);
    }
    return e;
}

GstElement* fakeSink() {
    GstElement* sink = make("fakesink");
    g_object_set(sink, "sync", FALSE, nullptr);
    return sink;
}

enum class Setup { plain, taps, noOpFilter, spectrum, scriptAudio, noOpVideo, scriptVideo };
const char* nameOf(Setup s) {
    switch (s) {
    case Setup::plain:
        return "plain playbin";
    case Setup::taps:
        return "taps, no filter";
    case Setup::noOpFilter:
        return "taps, no-op filter";
    case Setup::spectrum:
        return "taps, spectrum at 50 ms";
    case Setup::scriptAudio:
        return "taps, page filter, audio";
    case Setup::noOpVideo:
        return "presenter, no-op filter";
    case Setup::scriptVideo:
        return "presenter, page filter";
    }
    return "";
}

struct Run {
    double cpu = 0;
    double wall = 0;
    int deliveries = 0;        // spectrum listener calls
    std::vector<double> trips; // filter round trips, microseconds (one per filtered buffer)
};

IMPStreamFilter* pageFilter = nullptr;

Run play(const std::string& uri, Setup setup) {
    GstElement* playbin = make("playbin");
    g_object_set(playbin, "uri", uri.c_str(), "audio-sink", fakeSink(), nullptr);
    ComPtr<MPStream> stream;
    ComPtr<Listener> listener;
    // Lives as long as the pipeline: a presenter that goes stops handing frames over.
    ComPtr<MPVideoPresenter> presenter;
    auto trips = std::make_shared<RoundTrips>();
    if (setup == Setup::plain) {
        g_object_set(playbin, "video-sink", fakeSink(), nullptr);
    } else {
        stream = makeObject<MPStream>();
        // The audio tap around the platform's pass-through transform.
        ComPtr<IActivate> activation = makeObject<PassThroughActivate>();
        activation->SetItem(norv::platform::media::ATTR_TransformCategory,
                            Variant::fromBstr(Bstr::fromUtf8(
                                norv::platform::media::CATEGORY_AudioTransform.toString())));
        ComPtr<IAudioTransform> transform;
        GstElement* filter = nullptr;
        if (failed(stream->wrapAudioActivation(activation.get(), IAudioTransform::iid,
                                               transform.putVoid())) ||
            failed(transform->GetElement(&filter))) {
            std::fprintf(stderr, "the audio tap cannot be made\n");
            std::exit(1);
        }
        g_object_set(playbin, "audio-filter", filter, nullptr);
        gst_object_unref(filter);
        // The video presenter between two converters, as the control links it.
        presenter = makeObject<MPVideoPresenter>(makeObject<Provider>(stream.get()).get());
        GstElement* element = nullptr;
        presenter->CreateElement(&element);
        GstElement* bin = gst_bin_new("video-output");
        GstElement* in = make("videoconvert");
        GstElement* out = make("videoconvert");
        GstElement* sink = fakeSink();
        gst_bin_add_many(GST_BIN(bin), in, element, out, sink, nullptr);
        gst_element_link_many(in, element, out, sink, nullptr);
        GstPad* pad = gst_element_get_static_pad(in, "sink");
        gst_element_add_pad(bin, gst_ghost_pad_new("sink", pad));
        gst_object_unref(pad);
        g_object_set(playbin, "video-sink", bin, nullptr);
        if (setup == Setup::noOpFilter)
            stream->insertFilter(makeObject<NoOpFilter>().get(), 3);
        if (setup == Setup::spectrum) {
            listener = makeObject<Listener>();
            stream->setSpectrumListener(listener.get(), 50);
        }
        if (setup == Setup::scriptAudio) {
            stream->insertFilter(makeObject<Stopwatch>(trips, true).get(), 1);
            stream->insertFilter(pageFilter, 1);
            stream->insertFilter(makeObject<Stopwatch>(trips, false).get(), 1);
        }
        if (setup == Setup::noOpVideo || setup == Setup::scriptVideo) {
            stream->insertFilter(makeObject<Stopwatch>(trips, true).get(), 2);
            if (setup == Setup::noOpVideo)
                stream->insertFilter(makeObject<NoOpFilter>().get(), 2);
            else
                stream->insertFilter(pageFilter, 2);
            stream->insertFilter(makeObject<Stopwatch>(trips, false).get(), 2);
        }
    }

    const double cpu0 = cpuSeconds();
    const auto wall0 = std::chrono::steady_clock::now();
    gst_element_set_state(playbin, GST_STATE_PLAYING);
    GstBus* bus = gst_element_get_bus(playbin);
    for (bool done = false; !done;) {
        // The main context runs too: the spectrum listener is called on it.
        while (g_main_context_iteration(nullptr, FALSE)) {
        }
        GstMessage* m = gst_bus_timed_pop_filtered(
            bus, 5 * GST_MSECOND, static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
        if (m == nullptr)
            continue;
        if (GST_MESSAGE_TYPE(m) == GST_MESSAGE_ERROR) {
            GError* error = nullptr;
            gst_message_parse_error(m, &error, nullptr);
            std::fprintf(stderr, "playback failed: %s\n", error ? error->message : "");
            std::exit(1);
        }
        gst_message_unref(m);
        done = true;
    }
    Run r;
    r.cpu = cpuSeconds() - cpu0;
    r.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wall0).count();
    gst_object_unref(bus);
    gst_element_set_state(playbin, GST_STATE_NULL);
    gst_object_unref(playbin);
    presenter.reset();
    if (stream)
        stream->detachTaps();
    if (listener)
        r.deliveries = listener->calls;
    std::lock_guard lock(trips->lock);
    r.trips = trips->micros;
    return r;
}

void makeMedium(const std::filesystem::path& path, int seconds, const char* size) {
    std::string command =
        "gst-launch-1.0 -q -e videotestsrc pattern=ball num-buffers=" +
        std::to_string(seconds * 30) + " ! video/x-raw," + size +
        ",framerate=30/1 ! vp8enc deadline=1 cpu-used=16 ! "
        "mux. audiotestsrc wave=sine num-buffers=" +
        std::to_string(seconds * 44100 / 1024) +
        " samplesperbuffer=1024 ! audio/x-raw,rate=44100,channels=2 ! audioconvert ! vorbisenc ! "
        "mux. webmmux name=mux ! filesink location=" +
        path.string();
    if (std::system(command.c_str()) != 0 || !std::filesystem::exists(path)) {
        std::fprintf(stderr, "cannot make the medium with gst-launch-1.0\n");
        std::exit(1);
    }
}

double percentile(std::vector<double> v, double p) {
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, static_cast<std::size_t>(p * static_cast<double>(v.size())))];
}

} // namespace

int main(int argc, char** argv) {
    gst_init(&argc, &argv);
    const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 60;
#ifdef NORV_BENCH_X_SESSION
    std::unique_ptr<norv::test::XSession> session;
    if (!std::getenv("DISPLAY")) {
        session = std::make_unique<norv::test::XSession>();
        for (const auto& [name, value] : session->env())
            setenv(name.c_str(), value.c_str(), 1);
    }
#endif
    if (!gtk_init_check(nullptr, nullptr)) {
        std::fprintf(stderr, "player bench: no display for the page\n");
        return 1;
    }
    ScriptPage page = openPage();
    pageFilter = page.filter.get();

    auto dir =
        std::filesystem::temp_directory_path() / ("norv-player-bench-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    auto file = dir / "medium.webm";
    std::printf("making %d s of Vorbis and 320x240 VP8 at 30 frames a second...\n", seconds);
    makeMedium(file, seconds, "width=320,height=240");
    gchar* uri = gst_filename_to_uri(file.c_str(), nullptr);

    constexpr int count = 5;
    const Setup setups[count] = {Setup::plain, Setup::taps, Setup::noOpFilter, Setup::spectrum,
                                 Setup::scriptAudio};
    std::vector<Run> runs[count];
    play(uri, Setup::plain); // warm the caches and the plug-in registry
    for (int round = 0; round < 3; ++round)
        for (int i = 0; i < count; ++i)
            runs[i].push_back(play(uri, setups[i]));
    auto median = [](std::vector<Run> v) {
        std::sort(v.begin(), v.end(), [](const Run& a, const Run& b) { return a.cpu < b.cpu; });
        return v[v.size() / 2];
    };
    const Run plain = median(runs[0]);
    std::printf("\n%-26s %9s %10s %18s %13s %10s %16s\n", "configuration", "CPU s", "vs plain",
                "extra core at 1x", "speed vs 1x", "listener", "trip median/p99");
    for (int i = 0; i < count; ++i) {
        const Run r = median(runs[i]);
        char trip[64] = "";
        if (!r.trips.empty())
            std::snprintf(trip, sizeof trip, "%.0f/%.0f us", percentile(r.trips, 0.5),
                          percentile(r.trips, 0.99));
        std::printf("%-26s %9.3f %9.3fx %17.2f%% %12.1fx %10d %16s\n", nameOf(setups[i]), r.cpu,
                    r.cpu / plain.cpu, 100.0 * (r.cpu - plain.cpu) / seconds, seconds / r.wall,
                    r.deliveries, trip);
    }

    // 1280 x 720 BGRx frames at 30 a second through a tap's filter chain on a streaming
    // thread of the bench, as fast as they go: a native no-op filter (the reference), then
    // the page's filter.
    const int frames = seconds * 30;
    auto frameRun = [&](IMPStreamFilter* filter) {
        FilterChain chain;
        auto trips = std::make_shared<RoundTrips>();
        chain.insert(makeObject<Stopwatch>(trips, true).get());
        chain.insert(filter);
        chain.insert(makeObject<Stopwatch>(trips, false).get());
        std::vector<std::uint8_t> frame(1280u * 720u * 4u, 0x80);
        Run r;
        const double cpu0 = cpuSeconds();
        const auto wall0 = std::chrono::steady_clock::now();
        std::thread streaming([&] {
            for (int i = 0; i < frames; ++i)
                chain.dispatch(norv::typelib::mpsVideo, i / 30.0, (i + 1) / 30.0, frame.data(),
                               static_cast<std::uint32_t>(frame.size()), true);
        });
        streaming.join();
        r.cpu = cpuSeconds() - cpu0;
        r.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wall0).count();
        std::lock_guard lock(trips->lock);
        r.trips = trips->micros;
        return r;
    };
    const Run nativeFrames = frameRun(makeObject<NoOpFilter>().get());
    const Run pageFrames = frameRun(pageFilter);
    std::printf("\n%d frames of 1280x720 BGRx    %9s %14s %13s %16s\n", frames, "CPU s",
                "core at 1x", "speed vs 1x", "trip median/p99");
    for (auto [name, r] :
         {std::pair{"native no-op filter", nativeFrames}, std::pair{"page filter", pageFrames}})
        std::printf("%-30s %9.3f %13.2f%% %12.1fx %16s\n", name, r.cpu, 100.0 * r.cpu / seconds,
                    seconds / r.wall,
                    (std::to_string(static_cast<int>(percentile(r.trips, 0.5))) + "/" +
                     std::to_string(static_cast<int>(percentile(r.trips, 0.99))) + " us")
                        .c_str());

    // The same frames through the presenter's tap of a playing 1280 x 720 medium (decoding
    // included in its CPU; the page's share is the difference to the native filter's run).
    auto video = dir / "medium720.webm";
    std::printf("\nmaking %d s of Vorbis and 1280x720 VP8 at 30 frames a second...\n", seconds);
    makeMedium(video, seconds, "width=1280,height=720");
    gchar* videoUri = gst_filename_to_uri(video.c_str(), nullptr);
    std::vector<Run> presented[2];
    for (int round = 0; round < 3; ++round) {
        presented[0].push_back(play(videoUri, Setup::noOpVideo));
        presented[1].push_back(play(videoUri, Setup::scriptVideo));
    }
    g_free(videoUri);
    const Run nativePresented = median(presented[0]);
    const Run pagePresented = median(presented[1]);
    std::printf("\n1280x720 VP8 through the presenter %9s %9s %13s %16s\n", "CPU s", "frames",
                "speed vs 1x", "trip median/p99");
    for (auto [name, r] : {std::pair{"native no-op filter", nativePresented},
                           std::pair{"page filter", pagePresented}})
        std::printf("%-34s %9.3f %9zu %12.1fx %16s\n", name, r.cpu, r.trips.size(),
                    seconds / r.wall,
                    (std::to_string(static_cast<int>(percentile(r.trips, 0.5))) + "/" +
                     std::to_string(static_cast<int>(percentile(r.trips, 0.99))) + " us")
                        .c_str());
    // Against the direct chain: the page filter's extra CPU per frame and its round trip.
    auto perFrame = [](const Run& page, const Run& native) {
        return page.trips.empty()
                   ? 0.0
                   : (page.cpu - native.cpu) / static_cast<double>(page.trips.size());
    };
    const double directPerFrame = perFrame(pageFrames, nativeFrames);
    const double presentedPerFrame = perFrame(pagePresented, nativePresented);
    const double directTrip = percentile(pageFrames.trips, 0.5);
    std::printf("presenter path vs direct chain: frames %zu of %d, page filter CPU per frame "
                "%.2f ms vs %.2f ms (%.2fx), round trip median %.2fx\n",
                pagePresented.trips.size(), frames, 1e3 * presentedPerFrame, 1e3 * directPerFrame,
                directPerFrame > 0 ? presentedPerFrame / directPerFrame : 0.0,
                directTrip > 0 ? percentile(pagePresented.trips, 0.5) / directTrip : 0.0);
    std::printf("(CPU s includes the page's web process)\n");
    g_free(uri);
    std::filesystem::remove_all(dir);
    return 0;
}
