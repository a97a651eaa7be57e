// The cost of the stream taps: the CPU time of playing the same medium (60 s of Vorbis
// audio and 320 x 240 VP8 video at 30 frames a second, made at the start) at full speed,
// sinks not synchronised, in GStreamer's playbin
//   - plain (the reference),
//   - with the taps: the audio tap wrapping a pass-through audio transform and the video
//     presenter's tap on the video path, no filter,
//   - with the taps and a native filter that does nothing on both streams,
//   - with the taps and a spectrum listener at 50 ms.
// Each configuration runs three times, interleaved; the median counts. Printed: CPU seconds,
// the ratio to plain playbin, the extra CPU as a share of one core when the medium plays in
// real time ((CPU - plain CPU) / medium length), how much faster than real time it ran, and
// how often the spectrum listener was called (at full speed a run lasts only a few
// periods; the copies the spectrum keeps of every buffer are what costs).
//
//   build/bench/player [SECONDS]

#include <gst/gst.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "media/pipeline/MPStream.h"
#include "media/pipeline/MPVideoPresenter.h"
#include "platform/com/DispatchObject.h"
#include "platform/media/PassThroughActivate.h"

namespace {

using namespace norv::com;
using namespace norv::media;
using norv::platform::media::IActivate;
using norv::platform::media::IAudioTransform;
using norv::platform::media::PassThroughActivate;
using norv::typelib::AMMediaType;
using norv::typelib::IMPStreamFilter;
using norv::typelib::MPStreamType;

double cpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    auto s = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6;
    };
    return s(u.ru_utime) + s(u.ru_stime);
}

class NoOpFilter final : public DispatchObject<NoOpFilter, IMPStreamFilter> {
public:
    HRESULT process(MPStreamType, const Variant&, const Variant&, const Variant&,
                    const Variant&) override {
        return S_OK;
    }
};

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

enum class Setup { plain, taps, noOpFilter, spectrum };
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
    }
    return "";
}

struct Run {
    double cpu = 0;
    double wall = 0;
    int deliveries = 0; // spectrum listener calls
};

Run play(const std::string& uri, Setup setup) {
    GstElement* playbin = make("playbin");
    g_object_set(playbin, "uri", uri.c_str(), "audio-sink", fakeSink(), nullptr);
    ComPtr<MPStream> stream;
    ComPtr<Listener> listener;
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
        auto presenter = makeObject<MPVideoPresenter>(makeObject<Provider>(stream.get()).get());
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
    if (stream)
        stream->detachTaps();
    if (listener)
        r.deliveries = listener->calls;
    return r;
}

void makeMedium(const std::filesystem::path& path, int seconds) {
    std::string command =
        "gst-launch-1.0 -q -e videotestsrc pattern=ball num-buffers=" +
        std::to_string(seconds * 30) +
        " ! video/x-raw,width=320,height=240,framerate=30/1 ! vp8enc deadline=1 cpu-used=16 ! "
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

} // namespace

int main(int argc, char** argv) {
    gst_init(&argc, &argv);
    const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 60;
    auto dir =
        std::filesystem::temp_directory_path() / ("norv-player-bench-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    auto file = dir / "medium.webm";
    std::printf("making %d s of Vorbis and 320x240 VP8 at 30 frames a second...\n", seconds);
    makeMedium(file, seconds);
    gchar* uri = gst_filename_to_uri(file.c_str(), nullptr);

    const Setup setups[] = {Setup::plain, Setup::taps, Setup::noOpFilter, Setup::spectrum};
    std::vector<Run> runs[4];
    play(uri, Setup::plain); // warm the caches and the plug-in registry
    for (int round = 0; round < 3; ++round)
        for (int i = 0; i < 4; ++i)
            runs[i].push_back(play(uri, setups[i]));
    auto median = [](std::vector<Run> v) {
        std::sort(v.begin(), v.end(), [](const Run& a, const Run& b) { return a.cpu < b.cpu; });
        return v[v.size() / 2];
    };
    const Run plain = median(runs[0]);
    std::printf("\n%-26s %9s %10s %18s %13s %10s\n", "configuration", "CPU s", "vs plain",
                "extra core at 1x", "speed vs 1x", "listener");
    for (int i = 0; i < 4; ++i) {
        const Run r = median(runs[i]);
        std::printf("%-26s %9.3f %9.3fx %17.2f%% %12.1fx %10d\n", nameOf(setups[i]), r.cpu,
                    r.cpu / plain.cpu, 100.0 * (r.cpu - plain.cpu) / seconds, seconds / r.wall,
                    r.deliveries);
    }
    g_free(uri);
    std::filesystem::remove_all(dir);
    return 0;
}
