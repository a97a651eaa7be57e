// The recorder with a stand-in for the player's stream that plays real audio buffers:
// what ends up in the file (read back by ffmpeg's tools), its states, the file rules, the
// order of the stream's filters, failures while recording, and calls from the window's
// and the streaming thread at once.

#include <gtest/gtest.h>

#include <gst/gst.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <future>

#include <sys/resource.h>

#include "media/pipeline/MPRecorder.h"
#include "media/pipeline/WaveFormat.h"
#include "platform/com/Dispatch.h"
#include "platform/com/ErrorInfo.h"
#include "tests/media/pipeline/FakeAudioStream.h"
#include "tests/media/pipeline/RecordingCheck.h"
#include "tests/support/Process.h"

// Under the sanitizers: a block that GLib's library constructor allocates is reported as
// lost once GStreamer runs; what shared libraries allocate while loading is not ours.
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
using com::HRESULT;
using test::FakeAudioStream;

class GStreamerEnvironment : public testing::Environment {
public:
    void SetUp() override { gst_init(nullptr, nullptr); }
};
const auto* const environment = testing::AddGlobalTestEnvironment(new GStreamerEnvironment);

std::string fileText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), {});
}

std::u16string lastErrorText() {
    auto info = com::takeErrorInfo();
    return info ? std::u16string(info->description.view()) : u"";
}

// A filter that silences every buffer it sees.
class Silencer final : public com::DispatchObject<Silencer, typelib::IMPStreamFilter> {
public:
    HRESULT process(typelib::MPStreamType, const com::Variant&, const com::Variant&,
                    const com::Variant& data, const com::Variant& size) override {
        std::fill_n(data.byteRef(), size.i4(), 0);
        return com::S_OK;
    }
};

// A filter that starts the recorder from the streaming thread, as the player plugin does
// with the first sample it sees.
class Starter final : public com::DispatchObject<Starter, typelib::IMPStreamFilter> {
public:
    explicit Starter(MPRecorder* r) : recorder(r) {}
    HRESULT process(typelib::MPStreamType, const com::Variant&, const com::Variant&,
                    const com::Variant&, const com::Variant&) override {
        return recorder->startup();
    }
    MPRecorder* recorder;
};

// The raw audio the recorder's pipeline takes from a stream's WAVEFORMATEX type.
std::string capsOf(std::uint16_t tag, std::uint16_t channels, std::uint16_t bits,
                   std::uint16_t blockAlign, std::vector<std::uint8_t> extra = {}) {
    WaveFormat f;
    f.formatTag = tag;
    f.channels = channels;
    f.samplesPerSec = 48000;
    f.avgBytesPerSec = 48000u * blockAlign;
    f.blockAlign = blockAlign;
    f.bitsPerSample = bits;
    f.extra = std::move(extra);
    typelib::AMMediaType t;
    t.formattype = kFormatWaveFormatEx;
    t.format = f.toBytes();
    auto caps = RecorderGraph::capsOfMediaType(t);
    if (!caps)
        return "";
    gchar* text = gst_caps_to_string(caps.get());
    std::string s = text;
    g_free(text);
    return s;
}

std::vector<std::uint8_t> extensible(std::uint16_t validBits, const com::GUID& sub) {
    std::vector<std::uint8_t> e;
    appendLE16(e, validBits);
    appendLE32(e, 0); // channel mask
    const auto g = sub.toBytes();
    e.insert(e.end(), g.begin(), g.end());
    return e;
}

TEST(RecorderGraphTypes, RawAudioOfTheStreamsFormat) {
    EXPECT_NE(capsOf(kWaveFormatPcm, 1, 16, 2).find("format=(string)S16LE"), std::string::npos);
    EXPECT_NE(capsOf(kWaveFormatIeeeFloat, 2, 32, 8).find("format=(string)F32LE"),
              std::string::npos);
    EXPECT_NE(capsOf(kWaveFormatExtensible, 2, 32, 8, extensible(24, kSubtypePcm))
                  .find("format=(string)S24_32LE"),
              std::string::npos);
    // Beyond stereo the channels get positions, so that they can be mixed down.
    EXPECT_NE(capsOf(kWaveFormatIeeeFloat, 6, 32, 24).find("channel-mask"), std::string::npos);
    EXPECT_EQ(capsOf(0x0055 /* MPEG layer 3 */, 2, 0, 1), "");
    EXPECT_EQ(capsOf(kWaveFormatPcm, 2, 16, 3), ""); // a block that is no frame
    EXPECT_EQ(capsOf(kWaveFormatExtensible, 2, 32, 8,
                     extensible(32, *com::GUID::parse("{00000092-0000-0010-8000-00AA00389B71}"))),
              "");
}

class RecorderTest : public testing::Test {
protected:
    void SetUp() override {
        HRESULT built = com::E_FAIL;
        recorder = MPRecorder::create(built);
        ASSERT_EQ(built, com::S_OK);
        ASSERT_EQ(recorder->put_services(static_cast<typelib::IMPPlayerServices*>(stream.get())),
                  com::S_OK);
        ASSERT_EQ(recorder->startup(), com::S_OK);
    }
    void TearDown() override {
        stream->stopPlaying();
        recorder->shutdown();
    }

    typelib::IMPStreamFilter* asFilter() { return recorder.get(); }
    HRESULT setFile(const fs::path& path) {
        return recorder->put_file(com::Bstr(path.u16string()));
    }
    // A state flag; nullopt when reading it failed.
    std::optional<bool> flag(HRESULT (MPRecorder::*getter)(com::VARIANT_BOOL*)) {
        com::VARIANT_BOOL v = 0;
        if (com::failed((recorder.get()->*getter)(&v)))
            return std::nullopt;
        return v == com::VARIANT_TRUE;
    }
    double recordedSeconds() {
        return double(stream->acceptedBytes(asFilter())) /
               (FakeAudioStream::rate * FakeAudioStream::frameBytes);
    }

    test::TempDir dir;
    com::ComPtr<FakeAudioStream> stream = com::makeObject<FakeAudioStream>();
    com::ComPtr<MPRecorder> recorder;
};

TEST_F(RecorderTest, ARecordedToneIsAWmaFileOfTheRecordedLengthAndPitch) {
    const fs::path file = dir.path() / "tone.wav";
    ASSERT_EQ(setFile(file), com::S_OK);
    ASSERT_EQ(recorder->record(), com::S_OK);
    EXPECT_TRUE(stream->holds(asFilter()));
    stream->play(1000, 3.0);
    ASSERT_EQ(recorder->stop(), com::S_OK);
    EXPECT_FALSE(stream->holds(asFilter()));
    EXPECT_NEAR(recordedSeconds(), 3.0, 0.011);

    const auto p = test::probe(file);
    EXPECT_EQ(p.format, "wav");
    EXPECT_EQ(p.codec, "wmav2");
    EXPECT_NEAR(p.duration, recordedSeconds(), 0.050);
    const auto samples = test::decode(file);
    EXPECT_NEAR(test::dominantFrequency(samples, 0.5, 2.5), 1000, 20);
    RecordProperty("duration", std::to_string(p.duration));
}

TEST_F(RecorderTest, APausedRecordingHoldsOnlyWhatWasRecorded) {
    const fs::path file = dir.path() / "paused.wav";
    ASSERT_EQ(setFile(file), com::S_OK);
    EXPECT_EQ(recorder->pause(), com::VFW_E_WRONG_STATE);
    EXPECT_EQ(flag(&MPRecorder::get_stoped), true);

    ASSERT_EQ(recorder->record(), com::S_OK);
    EXPECT_EQ(recorder->record(), com::S_FALSE);
    EXPECT_EQ(flag(&MPRecorder::get_recording), true);
    stream->play(1000, 1.0);
    EXPECT_EQ(recorder->pause(), com::S_OK);
    EXPECT_EQ(recorder->pause(), com::S_FALSE);
    EXPECT_EQ(flag(&MPRecorder::get_paused), true);
    EXPECT_EQ(flag(&MPRecorder::get_recording), false);
    stream->play(2000, 1.0); // not recorded
    EXPECT_EQ(stream->lastResult(asFilter()), com::VFW_E_NOT_RUNNING);
    ASSERT_EQ(recorder->record(), com::S_OK); // resumes
    EXPECT_EQ(flag(&MPRecorder::get_recording), true);
    stream->play(1500, 1.0);
    ASSERT_EQ(recorder->stop(), com::S_OK);

    EXPECT_EQ(flag(&MPRecorder::get_recording), false);
    EXPECT_EQ(flag(&MPRecorder::get_paused), false);
    EXPECT_EQ(flag(&MPRecorder::get_stoped), true);
    double duration = 0;
    EXPECT_EQ(recorder->get_duration(&duration), com::E_NOTIMPL);

    // The two recorded stretches back to back, nothing of the paused one.
    EXPECT_NEAR(test::probe(file).duration, 2.0, 0.050);
    const auto samples = test::decode(file);
    EXPECT_NEAR(test::dominantFrequency(samples, 0.2, 0.8), 1000, 20);
    EXPECT_NEAR(test::dominantFrequency(samples, 1.2, 1.8), 1500, 30);
    EXPECT_LT(test::relativePower(samples, 0.0, 2.0, 2000), 0.01);
}

TEST_F(RecorderTest, TheRecordingHoldsWhatTheFiltersBeforeTheRecorderMadeOfTheSound) {
    auto silencer = com::makeObject<Silencer>();
    ASSERT_EQ(stream->insertFilter(silencer.get(), typelib::mpsAudio), com::S_OK);
    const fs::path silent = dir.path() / "silent.wav";
    ASSERT_EQ(setFile(silent), com::S_OK);
    ASSERT_EQ(recorder->record(), com::S_OK);
    stream->play(1000, 1.0);
    ASSERT_EQ(recorder->stop(), com::S_OK);
    const auto quiet = test::decode(silent);
    ASSERT_GT(quiet.size(), 40000u);
    EXPECT_LT(test::peakLevel(quiet), 0.001f);

    // A filter inserted after the recorder changes what is heard, not what is recorded.
    ASSERT_EQ(stream->removeFilter(silencer.get(), typelib::mpsAudio), com::S_OK);
    const fs::path tone = dir.path() / "tone.wav";
    ASSERT_EQ(setFile(tone), com::S_OK);
    ASSERT_EQ(recorder->record(), com::S_OK);
    ASSERT_EQ(stream->insertFilter(silencer.get(), typelib::mpsAudio), com::S_OK);
    stream->play(1000, 1.0);
    ASSERT_EQ(recorder->stop(), com::S_OK);
    EXPECT_GT(test::peakLevel(test::decode(tone)), 0.5f);
}

TEST_F(RecorderTest, AFileThatIsNotASoundRecordingIsNeverEmptied) {
    const fs::path notes = dir.path() / "notes.txt";
    std::ofstream(notes) << "my notes\n";
    EXPECT_EQ(setFile(notes), com::E_ACCESSDENIED);
    EXPECT_EQ(lastErrorText(), u"The file exists and is not a sound recording.");
    EXPECT_EQ(fileText(notes), "my notes\n");

    // Nor when it became one after it was chosen.
    const fs::path later = dir.path() / "later.wav";
    ASSERT_EQ(setFile(later), com::S_OK);
    std::ofstream(later) << "written meanwhile\n";
    EXPECT_EQ(recorder->record(), com::E_ACCESSDENIED);
    EXPECT_EQ(fileText(later), "written meanwhile\n");
    EXPECT_EQ(flag(&MPRecorder::get_stoped), true);
    EXPECT_FALSE(stream->holds(asFilter()));

    // Nor when the stream has nothing to record yet.
    const fs::path kept = dir.path() / "kept.wav";
    ASSERT_EQ(setFile(kept), com::S_OK);
    ASSERT_EQ(recorder->record(), com::S_OK);
    stream->play(1000, 1.0);
    ASSERT_EQ(recorder->stop(), com::S_OK);
    const std::string recording = fileText(kept);
    stream->setTyped(false);
    EXPECT_EQ(recorder->record(), com::OLE_E_BLANK);
    EXPECT_EQ(fileText(kept), recording);
    stream->setTyped(true);

    // An earlier recording is replaced.
    ASSERT_EQ(setFile(kept), com::S_OK);
    ASSERT_EQ(recorder->record(), com::S_OK);
    stream->play(1000, 0.5);
    ASSERT_EQ(recorder->stop(), com::S_OK);
    EXPECT_NEAR(test::probe(kept).duration, 0.5, 0.050);
}

TEST_F(RecorderTest, NamesAreFileUrisAbsolutePathsOrRelativeToTheProgram) {
    // A file URI: its folders are created.
    const fs::path folder = dir.path() / "x y";
    const std::string uri = "file://" + (dir.path() / "x%20y" / "a.wav").string();
    ASSERT_EQ(recorder->put_file(com::Bstr::fromUtf8(uri)), com::S_OK);
    EXPECT_TRUE(fs::is_directory(folder));
    com::Bstr name;
    ASSERT_EQ(recorder->get_file(&name), com::S_OK);
    EXPECT_EQ(name.toUtf8(), (folder / "a.wav").string());

    // A relative name, with the other separator, lands beside the executable.
    const fs::path rec = test::executableDir() / "rec";
    const fs::path relative = rec / "recorder-test.wav";
    ASSERT_EQ(recorder->put_file(com::Bstr(u"rec\\recorder-test.wav")), com::S_OK);
    ASSERT_EQ(recorder->get_file(&name), com::S_OK);
    EXPECT_EQ(name.toUtf8(), relative.string());
    ASSERT_EQ(recorder->record(), com::S_OK);
    stream->play(1000, 0.5);
    ASSERT_EQ(recorder->stop(), com::S_OK);
    EXPECT_EQ(test::probe(relative).codec, "wmav2");
    fs::remove(relative);
    fs::remove(rec); // only when nothing else is in it

    // The file cannot change under a recording.
    ASSERT_EQ(setFile(dir.path() / "a.wav"), com::S_OK);
    ASSERT_EQ(recorder->record(), com::S_OK);
    EXPECT_EQ(setFile(dir.path() / "other.wav"), com::VFW_E_WRONG_STATE);
    EXPECT_FALSE(fs::exists(dir.path() / "other.wav"));
    ASSERT_EQ(recorder->stop(), com::S_OK);
}

TEST_F(RecorderTest, ARecordBeforeStartupIsCarriedOutByStartup) {
    ASSERT_EQ(recorder->shutdown(), com::S_OK);
    EXPECT_EQ(recorder->shutdown(), com::S_FALSE);
    const fs::path file = dir.path() / "pending.wav";
    ASSERT_EQ(setFile(file), com::S_OK);
    EXPECT_EQ(recorder->record(), com::S_FALSE);
    EXPECT_EQ(flag(&MPRecorder::get_recording), false);
    EXPECT_FALSE(stream->holds(asFilter()));

    EXPECT_EQ(recorder->startup(), com::S_OK);
    EXPECT_EQ(flag(&MPRecorder::get_recording), true);
    stream->play(1000, 0.5);
    // The pending record is carried out once: a later startup (the player starts its parts
    // again when the pipeline is built) neither resumes a pause nor restarts the file.
    ASSERT_EQ(recorder->pause(), com::S_OK);
    EXPECT_EQ(recorder->startup(), com::S_OK);
    EXPECT_EQ(flag(&MPRecorder::get_paused), true);
    stream->play(2000, 0.5);
    ASSERT_EQ(recorder->record(), com::S_OK);
    EXPECT_EQ(recorder->startup(), com::S_OK);
    stream->play(1000, 0.5);
    ASSERT_EQ(recorder->shutdown(), com::S_OK);
    EXPECT_EQ(flag(&MPRecorder::get_stoped), true);
    EXPECT_NEAR(test::probe(file).duration, 1.0, 0.050);
    EXPECT_LT(test::relativePower(test::decode(file), 0.0, 1.0, 2000), 0.01);

    // Scripts reach it by name, through its dispatch interface.
    com::Variant result;
    EXPECT_EQ(com::invokeByName(static_cast<typelib::IMPRecorder*>(recorder.get()), u"stoped",
                                2 /* property get */, {}, &result),
              com::S_OK);
    EXPECT_EQ(result.vt(), com::VT_BOOL);
    EXPECT_EQ(result.boolVal(), com::VARIANT_TRUE);
}

TEST_F(RecorderTest, OnlyAudioBuffersAreRecorded) {
    std::uint8_t bytes[8] = {};
    const auto t0 = com::Variant::fromR8(0), t1 = com::Variant::fromR8(0.01);
    const auto data = com::Variant::fromByteRef(bytes), size = com::Variant::fromI4(8);
    EXPECT_EQ(recorder->process(typelib::mpsAudio, t0, t1, com::Variant::fromI4(1), size),
              com::E_NOTIMPL);
    EXPECT_EQ(recorder->process(typelib::mpsAudio, t0, t1, data, com::Variant::fromI4(0)),
              com::E_NOTIMPL);
    EXPECT_EQ(recorder->process(typelib::mpsUnknown, t0, t1, data, size), com::E_NOTIMPL);
    EXPECT_EQ(recorder->process(typelib::mpsAudio, t0, t1, data, size), com::VFW_E_NOT_RUNNING);
    // Times that fit no 64-bit count of 100 ns are no times.
    ASSERT_EQ(setFile(dir.path() / "a.wav"), com::S_OK);
    ASSERT_EQ(recorder->record(), com::S_OK);
    EXPECT_EQ(recorder->process(typelib::mpsAudio, com::Variant::fromR8(1e300), t1, data,
                                com::Variant::fromUI4(8)),
              com::S_OK);
    EXPECT_EQ(recorder->process(typelib::mpsVideo, t0, t1, data, size), com::VFW_E_NOT_CONNECTED);
    ASSERT_EQ(recorder->stop(), com::S_OK);
}

// Keeps the process's files below `bytes` while it lives: a write beyond fails (EFBIG).
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        std::signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &saved_);
        rlimit limited = saved_;
        limited.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limited);
    }
    ~FileSizeLimit() { setrlimit(RLIMIT_FSIZE, &saved_); }

private:
    rlimit saved_{};
};

TEST_F(RecorderTest, AFailedWriteStopsTheRecordingAndFailsTheNextCall) {
    const fs::path file = dir.path() / "full.wav";
    ASSERT_EQ(setFile(file), com::S_OK);
    HRESULT failure = com::S_OK;
    {
        // About four seconds of the encoder's 16000 bytes a second fit.
        FileSizeLimit limit(64 * 1024);
        ASSERT_EQ(recorder->record(), com::S_OK);
        stream->play(1000, 8.0);
        ASSERT_TRUE(test::waitUntil([&] {
            com::VARIANT_BOOL v;
            failure = recorder->get_recording(&v);
            return com::failed(failure);
        }));
    }
    EXPECT_EQ(failure, com::hresultFromWin32(com::ERROR_WRITE_FAULT));
    EXPECT_NE(lastErrorText().find(u"The recording stopped"), std::u16string::npos);
    EXPECT_EQ(flag(&MPRecorder::get_stoped), true);
    EXPECT_FALSE(stream->holds(asFilter()));
    EXPECT_EQ(recorder->stop(), com::S_OK); // reported once
    // What was written before is readable.
    EXPECT_GE(test::probe(file).duration, 2.0);

    // A file removed under the recording.
    const fs::path removed = dir.path() / "removed.wav";
    ASSERT_EQ(setFile(removed), com::S_OK);
    ASSERT_EQ(recorder->record(), com::S_OK);
    stream->startPlaying(1000, true);
    fs::remove(removed);
    ASSERT_TRUE(test::waitUntil([&] {
        failure = recorder->pause();
        return com::failed(failure);
    }));
    EXPECT_EQ(failure, com::hresultFromWin32(com::ERROR_FILE_NOT_FOUND));
    EXPECT_NE(lastErrorText().find(u"was removed"), std::u16string::npos);
    EXPECT_EQ(flag(&MPRecorder::get_stoped), true);
}

TEST_F(RecorderTest, RecordingStartsAndStopsWhileSamplesFlowWithoutDeadlock) {
    auto starter = com::makeObject<Starter>(recorder.get());
    ASSERT_EQ(stream->insertFilter(starter.get(), typelib::mpsAudio), com::S_OK);
    const fs::path file = dir.path() / "busy.wav";
    ASSERT_EQ(setFile(file), com::S_OK);
    stream->startPlaying(1000, false);
    auto cycles = std::async(std::launch::async, [&] {
        for (int i = 0; i < 10; ++i) {
            if (recorder->record() != com::S_OK || recorder->pause() != com::S_OK ||
                recorder->record() != com::S_OK)
                return false;
            // The next record waits for the streaming thread's startup (which may come
            // first).
            if (recorder->shutdown() != com::S_OK)
                return false;
            if (const HRESULT hr = recorder->record(); hr != com::S_FALSE && hr != com::S_OK)
                return false;
            const auto before = stream->acceptedBytes(asFilter());
            if (!test::waitUntil([&] {
                    com::VARIANT_BOOL v = 0;
                    return recorder->get_recording(&v) == com::S_OK && v == com::VARIANT_TRUE &&
                           stream->acceptedBytes(asFilter()) > before;
                }))
                return false;
            if (recorder->stop() != com::S_OK)
                return false;
        }
        return true;
    });
    ASSERT_EQ(cycles.wait_for(120s), std::future_status::ready) << "deadlocked";
    EXPECT_TRUE(cycles.get());
    stream->stopPlaying();
    ASSERT_EQ(stream->removeFilter(starter.get(), typelib::mpsAudio), com::S_OK);
    EXPECT_EQ(test::probe(file).codec, "wmav2");
}

TEST_F(RecorderTest, ARecordingWhoseProcessIsKilledKeepsAllButItsLastSecond) {
    const fs::path file = dir.path() / "killed.wav";
    auto recording = test::Process::spawn(
        {(test::executableDir() / "recorder_record").string(), file.string(), "--live"});
    // Wait until the header on disk tells of three seconds (the encoder writes 16000 bytes
    // a second), then kill the recording without warning.
    auto recordedBytes = [&] {
        const std::string b = fileText(file);
        const std::vector<std::uint8_t> bytes(b.begin(), b.end());
        return bytes.size() < 28 ? 0u : readLE32(bytes, 24 + readLE32(bytes, 16));
    };
    ASSERT_TRUE(test::waitUntil([&] { return recordedBytes() >= 3 * 16000; }, 60s))
        << recording.output();
    recording.signal(SIGKILL);
    recording.wait();
    const auto p = test::probe(file);
    EXPECT_EQ(p.codec, "wmav2");
    EXPECT_GE(p.duration, 1.5);
}

} // namespace
} // namespace norv::media
