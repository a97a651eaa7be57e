// The WAV writer: the header bytes it writes, what it sends a byte sink while recording
// (through a harness), and real recordings of avenc_wmav2 output read back by ffprobe,
// also one whose recording process was killed.

#include <gtest/gtest.h>

#include <gst/check/gstharness.h>
#include <gst/gst.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "media/pipeline/MPWaveDest.h"
#include "media/pipeline/WaveFormat.h"
#include "tests/support/Process.h"

// Under the sanitizers: a block that GLib's library constructor allocates is reported as
// lost once GStreamer runs. What shared libraries allocate while they are loaded is not
// this program's; the full unwinder is needed to see where a block came from.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:_dl_init\n";
}
extern "C" const char* __asan_default_options() {
    return "fast_unwind_on_malloc=0";
}

namespace norv::media {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

class GStreamerEnvironment : public testing::Environment {
public:
    void SetUp() override {
        gst_init(nullptr, nullptr);
        ASSERT_TRUE(registerWaveDest());
    }
};
const auto* const environment = testing::AddGlobalTestEnvironment(new GStreamerEnvironment);

std::vector<std::uint8_t> fileBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

std::string fourcc(const std::vector<std::uint8_t>& b, std::size_t at) {
    return std::string(b.begin() + static_cast<std::ptrdiff_t>(at),
                       b.begin() + static_cast<std::ptrdiff_t>(at + 4));
}

TEST(WaveHeader, LaysOutTheChunksAroundTheFormatBlock) {
    WaveFormat pcm;
    pcm.formatTag = kWaveFormatPcm;
    pcm.channels = 2;
    pcm.samplesPerSec = 44100;
    pcm.avgBytesPerSec = 176400;
    pcm.blockAlign = 4;
    pcm.bitsPerSample = 16;
    const auto format = pcm.toBytes();
    ASSERT_EQ(format.size(), 18u);

    const auto h = riffWaveHeader(format, 1000);
    ASSERT_EQ(h.size(), 46u); // the data start at byte 46
    EXPECT_EQ(fourcc(h, 0), "RIFF");
    EXPECT_EQ(readLE32(h, 4), 38u + 1000u);
    EXPECT_EQ(fourcc(h, 8), "WAVE");
    EXPECT_EQ(fourcc(h, 12), "fmt ");
    EXPECT_EQ(readLE32(h, 16), 18u);
    EXPECT_TRUE(std::equal(format.begin(), format.end(), h.begin() + 20));
    EXPECT_EQ(fourcc(h, 38), "data");
    EXPECT_EQ(readLE32(h, 42), 1000u);

    // An odd-sized format block gets no pad byte; the data chunk follows at once.
    std::vector<std::uint8_t> odd(19, 0xEE);
    const auto h2 = riffWaveHeader(odd, 0);
    ASSERT_EQ(h2.size(), 47u);
    EXPECT_EQ(fourcc(h2, 39), "data");
    EXPECT_EQ(readLE32(h2, 4), 39u);
}

class WaveDestHarness : public testing::Test {
protected:
    void SetUp() override {
        h = gst_harness_new(kWaveDestFactory);
        ASSERT_NE(h, nullptr);
        GstPad* src = gst_element_get_static_pad(h->element, "src");
        gst_pad_add_probe(src,
                          static_cast<GstPadProbeType>(GST_PAD_PROBE_TYPE_BUFFER |
                                                       GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM),
                          record, &out, nullptr);
        gst_object_unref(src);
    }
    void TearDown() override { gst_harness_teardown(h); }

    void setCaps(const char* caps) { gst_harness_set_src_caps_str(h, caps); }
    GstFlowReturn push(std::size_t size, std::uint8_t value) {
        GstBuffer* b = gst_buffer_new_allocate(nullptr, size, nullptr);
        gst_buffer_memset(b, 0, value, size);
        return gst_harness_push(h, b);
    }

    // What the element sent downstream, in order: byte segments as "seek N", buffers as
    // "write SIZE" (the bytes kept for small ones), the end as "eos".
    struct Output {
        std::vector<std::string> steps;
        std::vector<std::vector<std::uint8_t>> buffers;
        std::vector<std::uint64_t> offsets;
    };
    static GstPadProbeReturn record(GstPad*, GstPadProbeInfo* info, gpointer data) {
        auto* o = static_cast<Output*>(data);
        if (GstBuffer* b = GST_PAD_PROBE_INFO_BUFFER(info);
            b && (info->type & GST_PAD_PROBE_TYPE_BUFFER)) {
            const gsize size = gst_buffer_get_size(b);
            std::vector<std::uint8_t> bytes;
            if (size <= 4096) {
                bytes.resize(size);
                gst_buffer_extract(b, 0, bytes.data(), size);
            }
            o->buffers.push_back(std::move(bytes));
            o->offsets.push_back(GST_BUFFER_OFFSET(b));
            o->steps.push_back("write " + std::to_string(size));
        } else if (GstEvent* e = GST_PAD_PROBE_INFO_EVENT(info)) {
            if (GST_EVENT_TYPE(e) == GST_EVENT_SEGMENT) {
                const GstSegment* seg;
                gst_event_parse_segment(e, &seg);
                EXPECT_EQ(seg->format, GST_FORMAT_BYTES);
                o->steps.push_back("seek " + std::to_string(seg->start));
            } else if (GST_EVENT_TYPE(e) == GST_EVENT_EOS) {
                o->steps.push_back("eos");
            }
        }
        return GST_PAD_PROBE_OK;
    }
    const Output& drain() const { return out; }

    Output out;
    GstHarness* h = nullptr;
};

constexpr const char* kPcm = "audio/x-raw, format=S16LE, layout=interleaved, rate=8000, channels=1";

TEST_F(WaveDestHarness, SamplesFollowTheHeaderWhichIsRewrittenAtTheEnd) {
    GstCaps* out = nullptr;
    setCaps(kPcm);
    ASSERT_EQ(push(100, 1), GST_FLOW_OK);
    ASSERT_EQ(push(60, 2), GST_FLOW_OK);
    ASSERT_TRUE(gst_harness_push_event(h, gst_event_new_eos()));
    out = gst_pad_get_current_caps(h->sinkpad);
    ASSERT_NE(out, nullptr);
    EXPECT_STREQ(gst_structure_get_name(gst_caps_get_structure(out, 0)), "audio/x-wav");
    gst_caps_unref(out);

    const auto& o = drain();
    // With F = 18 the header is 46 bytes; the samples go at 46 and 146.
    EXPECT_EQ(o.steps, (std::vector<std::string>{"seek 0", "write 46", "write 100", "write 60",
                                                 "seek 0", "write 46", "eos"}));
    ASSERT_EQ(o.buffers.size(), 4u);
    EXPECT_EQ(o.offsets[1], 46u);
    EXPECT_EQ(o.offsets[2], 146u);
    EXPECT_EQ(readLE32(o.buffers[0], 42), 0u);   // data size while recording starts
    EXPECT_EQ(readLE32(o.buffers[3], 42), 160u); // and at the end
    EXPECT_EQ(readLE32(o.buffers[3], 4), 38u + 160u);
    EXPECT_EQ(readLE16(o.buffers[3], 20), kWaveFormatPcm);
    EXPECT_EQ(readLE32(o.buffers[3], 24), 8000u);
    EXPECT_EQ(o.buffers[1], std::vector<std::uint8_t>(100, 1));
}

TEST_F(WaveDestHarness, AStreamEndedBeforeAnyDataHasAnEmptyDataChunk) {
    setCaps(kPcm);
    ASSERT_TRUE(gst_harness_push_event(h, gst_event_new_eos()));
    const auto& o = drain();
    EXPECT_EQ(o.steps, (std::vector<std::string>{"seek 0", "write 46", "eos"}));
    EXPECT_EQ(readLE32(o.buffers[0], 42), 0u);
}

TEST_F(WaveDestHarness, TheHeaderIsBroughtUpToDateWhileRecording) {
    g_object_set(h->element, "header-interval", 1u, nullptr);
    setCaps(kPcm);
    ASSERT_EQ(push(100, 1), GST_FLOW_OK);
    const gint64 after = g_get_monotonic_time();
    ASSERT_TRUE(test::waitUntil([&] { return g_get_monotonic_time() - after > 1000; }, 5s));
    ASSERT_EQ(push(100, 2), GST_FLOW_OK);
    const auto& o = drain();
    // After the second buffer: the header with both buffers, then back to the end.
    ASSERT_GE(o.steps.size(), 7u);
    EXPECT_EQ(std::vector<std::string>(o.steps.begin() + 3, o.steps.begin() + 7),
              (std::vector<std::string>{"write 100", "seek 0", "write 46", "seek 246"}));
    EXPECT_EQ(readLE32(o.buffers[3], 42), 200u);
}

TEST_F(WaveDestHarness, TheFormatIsFixedOnceDataAreWritten) {
    setCaps(kPcm);
    ASSERT_EQ(push(10, 1), GST_FLOW_OK);
    // The same format again is fine; another one is refused.
    gst_harness_set_src_caps_str(h, kPcm);
    ASSERT_EQ(push(10, 1), GST_FLOW_OK);
    gst_harness_set_src_caps_str(
        h, "audio/x-raw, format=S16LE, layout=interleaved, rate=16000, channels=1");
    EXPECT_EQ(push(10, 1), GST_FLOW_NOT_NEGOTIATED);
    guint written = 0;
    g_object_get(h->element, "data-size", &written, nullptr);
    EXPECT_EQ(written, 20u);
}

TEST_F(WaveDestHarness, FormatsItCannotDescribeAreRefused) {
    for (const char* caps : {"audio/x-raw, format=S16BE, layout=interleaved, rate=8000, channels=1",
                             "audio/x-raw, format=S16LE, layout=interleaved, rate=8000, channels=6",
                             "audio/mpeg, mpegversion=1, layer=3, rate=44100, channels=2"}) {
        SCOPED_TRACE(caps);
        GstCaps* c = gst_caps_from_string(caps);
        GstPad* sink = gst_element_get_static_pad(h->element, "sink");
        EXPECT_FALSE(gst_pad_query_accept_caps(sink, c));
        gst_object_unref(sink);
        gst_caps_unref(c);
    }
}

TEST_F(WaveDestHarness, ARecordingStopsAtTheLargestSizeOfTheFormat) {
    setCaps(kPcm);
    // Buffers that claim 2 GiB each over one real byte: nothing downstream of the
    // harness reads them.
    static std::uint8_t byte = 0;
    auto huge = [] {
        return gst_buffer_new_wrapped_full(GST_MEMORY_FLAG_READONLY, &byte, 1u << 31, 0, 1u << 31,
                                           nullptr, nullptr);
    };
    ASSERT_EQ(gst_harness_push(h, huge()), GST_FLOW_OK);
    EXPECT_EQ(gst_harness_push(h, huge()), GST_FLOW_ERROR);
    const auto& o = drain();
    // The header is written for what the file holds.
    ASSERT_FALSE(o.buffers.empty());
    EXPECT_EQ(o.steps.back(), "write 46");
    EXPECT_EQ(readLE32(o.buffers.back(), 42), 1u << 31);
    EXPECT_EQ(gst_harness_push(h, huge()), GST_FLOW_ERROR);
}

// ffprobe's reading of a file: codec, duration in seconds.
struct Probe {
    std::string codec;
    double duration = -1;
};
Probe probe(const fs::path& file) {
    auto [code, out] = test::runCommand({"ffprobe", "-v", "error", "-show_entries",
                                         "stream=codec_name:format=duration", "-of",
                                         "default=noprint_wrappers=1", file.string()});
    Probe p;
    std::smatch m;
    if (code != 0)
        return p;
    if (std::regex_search(out, m, std::regex("codec_name=(\\S+)")))
        p.codec = m[1];
    if (std::regex_search(out, m, std::regex("duration=([0-9.]+)")))
        p.duration = std::stod(m[1]);
    return p;
}

class WaveDestRecording : public testing::Test {
protected:
    test::TempDir dir;
};

TEST_F(WaveDestRecording, AnEncodedRecordingReadsBackWithItsDuration) {
    for (int channels : {1, 2}) {
        SCOPED_TRACE(channels);
        const fs::path file = dir.path() / ("tone" + std::to_string(channels) + ".wav");
        // 150 buffers of 1024 frames at 44.1 kHz: 3.483 s.
        const double expected = 150 * 1024 / 44100.0;
        std::string launch = "audiotestsrc num-buffers=150 samplesperbuffer=1024 freq=1000 ! "
                             "audio/x-raw,rate=44100,channels=" +
                             std::to_string(channels) + " ! audioconvert ! avenc_wmav2 ! " +
                             kWaveDestFactory + " name=dest ! filesink location=" + file.string();
        GError* error = nullptr;
        GstElement* pipeline = gst_parse_launch(launch.c_str(), &error);
        ASSERT_NE(pipeline, nullptr) << (error ? error->message : "");
        ASSERT_NE(gst_element_set_state(pipeline, GST_STATE_PLAYING), GST_STATE_CHANGE_FAILURE);
        GstBus* bus = gst_element_get_bus(pipeline);
        GstMessage* msg = gst_bus_timed_pop_filtered(
            bus, 30 * GST_SECOND, static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
        ASSERT_NE(msg, nullptr);
        EXPECT_EQ(GST_MESSAGE_TYPE(msg), GST_MESSAGE_EOS);
        gst_message_unref(msg);
        gst_object_unref(bus);
        gst_element_set_state(pipeline, GST_STATE_NULL);
        gst_object_unref(pipeline);

        const auto bytes = fileBytes(file);
        ASSERT_GT(bytes.size(), 46u);
        const std::uint32_t f = readLE32(bytes, 16);
        EXPECT_EQ(readLE16(bytes, 20), kWaveFormatWmAudio2);
        EXPECT_EQ(readLE16(bytes, 22), channels);
        EXPECT_GT(readLE16(bytes, 36), 0u); // the encoder's codec data follow (cbSize)
        EXPECT_EQ(readLE32(bytes, 24 + f), bytes.size() - (28 + f));
        EXPECT_EQ(readLE32(bytes, 4), bytes.size() - 8);

        const Probe p = probe(file);
        EXPECT_EQ(p.codec, "wmav2");
        EXPECT_NEAR(p.duration, expected, 0.050);
        RecordProperty("duration" + std::to_string(channels), std::to_string(p.duration));
    }
}

TEST_F(WaveDestRecording, ARecordingWhoseProcessIsKilledKeepsAllButItsLastSecond) {
    const fs::path file = dir.path() / "killed.wav";
    auto recorder = test::Process::spawn(
        {(test::executableDir() / "wave_dest_record").string(), file.string()});
    // Wait until the header on disk tells of three seconds of data (16000 bytes a second at
    // the encoder's 128 kbit/s), then kill the recording without warning.
    auto recordedBytes = [&] {
        auto b = fileBytes(file);
        return b.size() < 28 ? 0u : readLE32(b, 24 + readLE32(b, 16));
    };
    ASSERT_TRUE(test::waitUntil([&] { return recordedBytes() >= 3 * 16000; }, 30s))
        << recorder.output();
    recorder.signal(SIGKILL);
    recorder.wait();

    const Probe p = probe(file);
    EXPECT_EQ(p.codec, "wmav2");
    EXPECT_GE(p.duration, 1.5);
    RecordProperty("duration", std::to_string(p.duration));
}

} // namespace
} // namespace norv::media
