// bench/recorder: how fast the recorder encodes, as a real-time factor (seconds of audio
// recorded per second of wall time), side by side in the same run with a reference: the
// same encode as a bare GStreamer pipeline (appsrc ! audioconvert ! audioresample !
// avenc_wmav2 ! mpwavedest ! filesink) fed the same buffers directly by the bench.
//
// The audio is a tone in 10 ms buffers of 32-bit float stereo at 44.1 kHz, handed to the
// recorder through IMPStreamFilter.process as the player's stream does, as fast as the
// recorder takes it (its source holds a delivery while its queue is full). Each way runs
// three times, alternately; the medians are compared.
//
//   build/bench/recorder [SECONDS]   (default 60 seconds of audio per run)

#include <gst/app/gstappsrc.h>
#include <gst/gst.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "media/pipeline/MPRecorder.h"
#include "media/pipeline/MPWaveDest.h"
#include "media/pipeline/WaveFormat.h"

using namespace norv;
using Clock = std::chrono::steady_clock;

namespace {

constexpr std::uint32_t kRate = 44100;
constexpr std::uint32_t kFrameBytes = 8;
constexpr std::uint32_t kFramesPerBuffer = 441;

// The player's stream as far as the recorder needs it: its audio type and its filter.
class BenchStream final
    : public com::DispatchObject<BenchStream, typelib::IMPStream, typelib::IMPPlayerServices> {
public:
    com::HRESULT insertFilter(typelib::IMPStreamFilter* f, std::int32_t) override {
        filter = f;
        return com::S_OK;
    }
    com::HRESULT removeFilter(typelib::IMPStreamFilter*, std::int32_t) override {
        filter.reset();
        return com::S_OK;
    }
    com::HRESULT getStreamType(typelib::MPStreamType, typelib::AMMediaType* t) override {
        media::WaveFormat f;
        f.formatTag = media::kWaveFormatIeeeFloat;
        f.channels = 2;
        f.samplesPerSec = kRate;
        f.avgBytesPerSec = kRate * kFrameBytes;
        f.blockAlign = kFrameBytes;
        f.bitsPerSample = 32;
        t->formattype = media::kFormatWaveFormatEx;
        t->format = f.toBytes();
        return com::S_OK;
    }
    com::HRESULT audioSpectrumListener(com::IDispatch*, std::int32_t) override {
        return com::E_NOTIMPL;
    }
    com::HRESULT get_stream(typelib::IMPStream** out) override {
        *out = this;
        AddRef();
        return com::S_OK;
    }
    com::HRESULT get_recorder(typelib::IMPRecorder**) override { return com::E_NOTIMPL; }
    com::HRESULT get_settings(typelib::IMPSettings**) override { return com::E_NOTIMPL; }

    com::ComPtr<typelib::IMPStreamFilter> filter;
};

std::vector<std::vector<std::uint8_t>> toneBuffers(double seconds) {
    const auto count = static_cast<std::size_t>(seconds * kRate / kFramesPerBuffer);
    std::vector<std::vector<std::uint8_t>> buffers(count);
    std::uint64_t frame = 0;
    for (auto& b : buffers) {
        b.resize(kFramesPerBuffer * kFrameBytes);
        auto* s = reinterpret_cast<float*>(b.data());
        for (std::uint32_t i = 0; i < kFramesPerBuffer; ++i, ++frame) {
            const float v = 0.8f * std::sin(2 * M_PI * 1000.0 * double(frame) / kRate);
            s[2 * i] = s[2 * i + 1] = v;
        }
    }
    return buffers;
}

double seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

// Wall seconds for the recorder to record the buffers, from record to a finished stop.
double runRecorder(const std::vector<std::vector<std::uint8_t>>& buffers, const std::string& file) {
    com::HRESULT built = com::E_FAIL;
    auto recorder = media::MPRecorder::create(built);
    auto stream = com::makeObject<BenchStream>();
    if (com::failed(built) ||
        com::failed(
            recorder->put_services(static_cast<typelib::IMPPlayerServices*>(stream.get()))) ||
        com::failed(recorder->startup()) ||
        com::failed(recorder->put_file(com::Bstr::fromUtf8(file)))) {
        std::fprintf(stderr, "the recorder cannot be set up\n");
        std::exit(1);
    }
    std::vector<std::uint8_t> scratch;
    const auto start = Clock::now();
    if (recorder->record() != com::S_OK || !stream->filter) {
        std::fprintf(stderr, "the recording did not start\n");
        std::exit(1);
    }
    double t = 0;
    const double step = double(kFramesPerBuffer) / kRate;
    for (const auto& b : buffers) {
        scratch = b; // the player hands over its own buffer, which filters may change
        stream->filter->process(typelib::mpsAudio, com::Variant::fromR8(t),
                                com::Variant::fromR8(t + step),
                                com::Variant::fromByteRef(scratch.data()),
                                com::Variant::fromI4(static_cast<std::int32_t>(scratch.size())));
        t += step;
    }
    const com::HRESULT stopped = recorder->stop();
    const auto end = Clock::now();
    if (com::failed(stopped)) {
        std::fprintf(stderr, "the recording failed: 0x%08X\n", static_cast<unsigned>(stopped));
        std::exit(1);
    }
    recorder->shutdown();
    return seconds(end - start);
}

// Wall seconds for the bare pipeline to encode and write the same buffers.
double runReference(const std::vector<std::vector<std::uint8_t>>& buffers,
                    const std::string& file) {
    const std::string launch =
        "appsrc name=src format=time block=true max-bytes=352800 "
        "caps=audio/x-raw,format=F32LE,layout=interleaved,rate=44100,channels=2 ! audioconvert "
        "! audioresample ! avenc_wmav2 ! " +
        std::string(media::kWaveDestFactory) + " ! filesink location=" + file;
    GError* error = nullptr;
    GstElement* pipeline = gst_parse_launch(launch.c_str(), &error);
    if (pipeline == nullptr) {
        std::fprintf(stderr, "%s\n", error ? error->message : "no pipeline");
        std::exit(1);
    }
    GstElement* src = gst_bin_get_by_name(GST_BIN(pipeline), "src");
    const auto start = Clock::now();
    gst_element_set_state(pipeline, GST_STATE_PLAYING);
    std::uint64_t frames = 0;
    for (const auto& b : buffers) {
        GstBuffer* buffer = gst_buffer_new_memdup(b.data(), b.size());
        GST_BUFFER_PTS(buffer) = gst_util_uint64_scale(frames, GST_SECOND, kRate);
        frames += kFramesPerBuffer;
        gst_app_src_push_buffer(GST_APP_SRC(src), buffer);
    }
    gst_app_src_end_of_stream(GST_APP_SRC(src));
    GstBus* bus = gst_element_get_bus(pipeline);
    GstMessage* msg = gst_bus_timed_pop_filtered(
        bus, 600 * GST_SECOND, static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
    const auto end = Clock::now();
    const bool ok = msg != nullptr && GST_MESSAGE_TYPE(msg) == GST_MESSAGE_EOS;
    if (msg != nullptr)
        gst_message_unref(msg);
    gst_object_unref(bus);
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(src);
    gst_object_unref(pipeline);
    if (!ok) {
        std::fprintf(stderr, "the reference pipeline failed\n");
        std::exit(1);
    }
    return seconds(end - start);
}

// The seconds of audio a WAV file's header tells of (data size over nAvgBytesPerSec).
double fileSeconds(const std::string& file) {
    std::FILE* f = std::fopen(file.c_str(), "rb");
    if (f == nullptr)
        return 0;
    std::vector<std::uint8_t> head(4096);
    head.resize(std::fread(head.data(), 1, head.size(), f));
    std::fclose(f);
    const std::uint32_t formatSize = media::readLE32(head, 16);
    const std::uint32_t perSecond = media::readLE32(head, 28);
    return perSecond == 0 ? 0 : double(media::readLE32(head, 24 + formatSize)) / perSecond;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    gst_init(&argc, &argv);
    if (!media::registerWaveDest())
        return 1;
    const double audio = argc > 1 ? std::atof(argv[1]) : 60.0;
    if (!(audio > 0)) {
        std::fprintf(stderr, "usage: %s [SECONDS]\n", argv[0]);
        return 2;
    }
    const auto buffers = toneBuffers(audio);
    const double recorded = double(buffers.size() * kFramesPerBuffer) / kRate;
    const auto dir = std::filesystem::temp_directory_path();
    const std::string recorderFile = (dir / "norv-bench-recorder.wav").string();
    const std::string referenceFile = (dir / "norv-bench-reference.wav").string();

    std::vector<double> recorderTimes, referenceTimes;
    for (int i = 0; i < 3; ++i) {
        recorderTimes.push_back(runRecorder(buffers, recorderFile));
        referenceTimes.push_back(runReference(buffers, referenceFile));
    }
    const double recorderHolds = fileSeconds(recorderFile);
    const double referenceHolds = fileSeconds(referenceFile);
    std::filesystem::remove(recorderFile);
    std::filesystem::remove(referenceFile);

    const double ours = recorded / median(recorderTimes);
    const double reference = recorded / median(referenceTimes);
    std::printf("audio per run: %.1f s of 32-bit float stereo at 44.1 kHz, encoded to WMA 2\n",
                recorded);
    std::printf("%-44s %8.1f x real time (%.3f s)\n", "recorder (process -> file):", ours,
                median(recorderTimes));
    std::printf("%-44s %8.1f x real time (%.3f s)\n",
                "reference (bare GStreamer pipeline):", reference, median(referenceTimes));
    std::printf("ratio recorder / reference: %.3f\n", ours / reference);
    std::printf("the files hold %.3f s (recorder) and %.3f s (reference)\n", recorderHolds,
                referenceHolds);
    return 0;
}
