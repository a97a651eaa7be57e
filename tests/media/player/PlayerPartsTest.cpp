// The player object's recorder and settings parts with real media (made at test time)
// playing through the real control: what services.recorder writes of what plays, the
// recorder's life driven by the medium's end, and services.settings reaching the
// control's equaliser, measured in what reaches the audio sink.

#include <gtest/gtest.h>

#include <gst/audio/audio.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <numbers>
#include <optional>

#include "media/player/SkinPackage.h"
#include "tests/media/pipeline/RecordingCheck.h"
#include "tests/media/player/TapTestSupport.h"
#include "tests/support/Process.h"

using namespace norv::test;
using norv::script::TaviMedia;
using norv::typelib::IMPAudioEffects;
using norv::typelib::IMPAudioSettings;
using norv::typelib::IMPEqualizer;
using norv::typelib::IMPRecorder;
using norv::typelib::IMPSettings;
using norv::typelib::IMPVideoSettings;
using norv::typelib::mpsAudio;
namespace fs = std::filesystem;

namespace {

constexpr int kRate = 44100;

// Audio of one tone after another, `seconds` each, as PCM WAV in buffers of 10 ms.
void makeTones(const fs::path& path, std::initializer_list<int> freqs, double seconds) {
    std::string sources;
    for (int f : freqs)
        sources += "audiotestsrc freq=" + std::to_string(f) +
                   " samplesperbuffer=441 num-buffers=" + std::to_string(int(seconds * 100)) +
                   " ! audio/x-raw,rate=44100,channels=1 ! c. ";
    makeMedium(path, sources + "concat name=c ! audioconvert ! wavenc");
}

bool flag(IMPRecorder* r, HRESULT (IMPRecorder::*getter)(VARIANT_BOOL*)) {
    VARIANT_BOOL v = 0;
    EXPECT_EQ((r->*getter)(&v), S_OK);
    return v == VARIANT_TRUE;
}

class PlayerPartsTest : public ::testing::Test {
protected:
    void SetUp() override {
        initMedia();
        if (const char* previous = std::getenv("TMPDIR"))
            previousTmp_ = previous;
        ::setenv("TMPDIR", tmp.path().c_str(), 1);
        norv::media::SkinPackage::discard();
        ASSERT_EQ(TaviMedia::create(media), S_OK);
    }
    void TearDown() override {
        norv::media::SkinPackage::discard();
        if (previousTmp_)
            ::setenv("TMPDIR", previousTmp_->c_str(), 1);
        else
            ::unsetenv("TMPDIR");
    }

    static ComPtr<IMPRecorder> recorderOf(const SitedPlayer& p) {
        ComPtr<IMPRecorder> r;
        EXPECT_EQ(p.services()->get_recorder(r.put()), S_OK);
        return r;
    }
    static void playToTheEnd(SitedPlayer& p, const fs::path& medium) {
        p.control.log->states.clear();
        p.control.setUrl("file://" + medium.string());
        ASSERT_TRUE(pumpUntil([&] { return p.control.log->saw(psMediaEnded); }, 60s));
    }

    TempDir dir, tmp;
    ComPtr<TaviMedia> media;
    std::optional<std::string> previousTmp_;
};

TEST_F(PlayerPartsTest, TheRecorderWritesWhatThePlayerPlaysAfterTheFiltersBeforeIt) {
    const fs::path tone = dir.path() / "tone.wav";
    makeTones(tone, {1000}, 3.0);
    SitedPlayer p;
    auto recorder = recorderOf(p);
    ASSERT_TRUE(recorder);

    // Asked for before anything plays: the recording begins with the medium's first
    // sample and ends with the medium.
    const fs::path recording = dir.path() / "out" / "tone.wav";
    ASSERT_EQ(recorder->put_file(Bstr(recording.u16string())), S_OK);
    EXPECT_EQ(recorder->record(), S_FALSE);
    playToTheEnd(p, tone);
    EXPECT_TRUE(flag(recorder.get(), &IMPRecorder::get_stoped));
    const auto probed = probe(recording);
    EXPECT_EQ(probed.format, "wav");
    EXPECT_EQ(probed.codec, "wmav2");
    EXPECT_NEAR(probed.duration, 3.0, 0.050);
    EXPECT_NEAR(dominantFrequency(decode(recording), 0.5, 2.5), 1000, 20);

    // A filter inserted before the recording starts comes before the recorder: zeroing the
    // samples there gives a silent recording of the next medium, while the first one's
    // file is replaced.
    auto silencer = makeObject<RecordingFilter>();
    silencer->change = [](const SampleCall& c, std::uint8_t* data) {
        std::memset(data, 0, c.size);
    };
    ASSERT_EQ(p.stream()->insertFilter(silencer.get(), mpsAudio), S_OK);
    EXPECT_EQ(recorder->record(), S_FALSE);
    playToTheEnd(p, tone);
    const auto silent = decode(recording);
    EXPECT_NEAR(probe(recording).duration, 3.0, 0.050);
    ASSERT_GT(silent.size(), std::size_t(2 * kRate));
    EXPECT_LT(peakLevel(silent), 0.001f);

    // Played again from its end (the control keeps its pipeline): a record asked for
    // meanwhile starts with the first sample, and stopping the player ends it.
    ASSERT_EQ(p.stream()->removeFilter(silencer.get(), mpsAudio), S_OK);
    auto seen = makeObject<RecordingFilter>();
    ASSERT_EQ(p.stream()->insertFilter(seen.get(), mpsAudio), S_OK);
    EXPECT_EQ(recorder->record(), S_FALSE);
    p.control.controls()->play();
    ASSERT_TRUE(pumpUntil([&] {
        const auto calls = seen->calls();
        return flag(recorder.get(), &IMPRecorder::get_recording) && !calls.empty() &&
               calls.back().start >= 1.0;
    }));
    p.control.controls()->stop();
    EXPECT_TRUE(flag(recorder.get(), &IMPRecorder::get_stoped));
    EXPECT_GE(probe(recording).duration, 0.9);
    EXPECT_NEAR(dominantFrequency(decode(recording), 0.2, 0.8), 1000, 20);
}

// The pause and the resume come from the streaming thread while the player is still
// building its pipeline ahead of the sink: the player's parts are started again meanwhile.
TEST_F(PlayerPartsTest, PausedAndResumedFromTheStreamingThreadTheFileHoldsTheRecordedStretches) {
    const fs::path tones = dir.path() / "tones.wav";
    makeTones(tones, {1000, 2000, 1500}, 1.0);
    SitedPlayer p;
    auto recorder = recorderOf(p);
    ASSERT_TRUE(recorder);

    // A filter ahead of the recorder pauses it for the second tone, so exactly that
    // second is missing; the state codes are read where they change.
    HRESULT recordWhileRecording = E_FAIL, pauseWhilePaused = E_FAIL;
    bool pausedWhilePaused = false, recordingWhilePaused = true;
    bool paused = false, resumed = false;
    auto driver = makeObject<RecordingFilter>();
    driver->change = [&](const SampleCall& c, std::uint8_t*) {
        if (!paused && c.start >= 0.995) {
            paused = true;
            recordWhileRecording = recorder->record();
            EXPECT_EQ(recorder->pause(), S_OK);
            pauseWhilePaused = recorder->pause();
            VARIANT_BOOL v = 0;
            recorder->get_paused(&v);
            pausedWhilePaused = v == VARIANT_TRUE;
            recorder->get_recording(&v);
            recordingWhilePaused = v == VARIANT_TRUE;
        } else if (paused && !resumed && c.start >= 1.995) {
            resumed = true;
            EXPECT_EQ(recorder->record(), S_OK);
        }
    };
    ASSERT_EQ(p.stream()->insertFilter(driver.get(), mpsAudio), S_FALSE);
    const fs::path recording = dir.path() / "paused.wav";
    ASSERT_EQ(recorder->put_file(Bstr(recording.u16string())), S_OK);
    ASSERT_EQ(recorder->record(), S_FALSE);
    playToTheEnd(p, tones);

    ASSERT_TRUE(resumed);
    EXPECT_EQ(recordWhileRecording, S_FALSE);
    EXPECT_EQ(pauseWhilePaused, S_FALSE);
    EXPECT_TRUE(pausedWhilePaused);
    EXPECT_FALSE(recordingWhilePaused);
    // The medium's end stopped the recording.
    EXPECT_FALSE(flag(recorder.get(), &IMPRecorder::get_recording));
    EXPECT_FALSE(flag(recorder.get(), &IMPRecorder::get_paused));
    EXPECT_TRUE(flag(recorder.get(), &IMPRecorder::get_stoped));
    EXPECT_EQ(recorder->pause(), VFW_E_WRONG_STATE);
    double duration = 0;
    EXPECT_EQ(recorder->get_duration(&duration), E_NOTIMPL);

    // The first sample goes by while the recorder starts: all but 10 ms of the first and
    // all of the third tone, back to back.
    EXPECT_NEAR(probe(recording).duration, 1.99, 0.050);
    const auto samples = decode(recording);
    EXPECT_NEAR(dominantFrequency(samples, 0.2, 0.8), 1000, 20);
    EXPECT_NEAR(dominantFrequency(samples, 1.2, 1.8), 1500, 30);
    EXPECT_LT(relativePower(samples, 0.0, 1.99, 2000), 0.01);
}

// The level of a few tones in what reaches a sink, mixed to mono. What the probe fills is
// shared with the pad, which may go on playing after this object is gone.
class SinkLevels {
public:
    void attach(GstElement* sink) {
        GstPad* pad = gst_element_get_static_pad(sink, "sink");
        ASSERT_TRUE(pad);
        auto held = std::make_unique<std::shared_ptr<State>>(state_);
        gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_BUFFER, onBuffer, held.release(),
                          [](gpointer data) { delete static_cast<std::shared_ptr<State>*>(data); });
        gst_object_unref(pad);
    }

    // The levels in dB of the tones at `freqs` in one second of what plays, once a fifth of
    // a second has let what was on its way through.
    std::vector<double> measure(std::initializer_list<double> freqs) {
        State& state = *state_;
        {
            std::lock_guard lock(state.lock);
            state.samples.clear();
            state.skip = kRate / 5;
        }
        EXPECT_TRUE(pumpUntil([&] {
            std::lock_guard lock(state.lock);
            return state.samples.size() >= std::size_t(kRate);
        }));
        std::vector<float> x;
        {
            std::lock_guard lock(state.lock);
            x.assign(state.samples.begin(),
                     state.samples.begin() + std::min<std::size_t>(state.samples.size(), kRate));
        }
        std::vector<double> levels;
        for (double f : freqs) {
            double re = 0, im = 0, window = 0;
            for (std::size_t n = 0; n < x.size(); ++n) {
                const double w =
                    0.5 - 0.5 * std::cos(2 * std::numbers::pi * double(n) / double(x.size() - 1));
                const double phase = 2 * std::numbers::pi * f * double(n) / kRate;
                re += w * x[n] * std::cos(phase);
                im -= w * x[n] * std::sin(phase);
                window += w;
            }
            levels.push_back(20 * std::log10(2 * std::hypot(re, im) / window + 1e-12));
        }
        return levels;
    }

private:
    struct State {
        std::mutex lock;
        std::vector<float> samples;
        std::size_t skip = 0;
    };

    static GstPadProbeReturn onBuffer(GstPad* pad, GstPadProbeInfo* info, gpointer data) {
        State* self = static_cast<std::shared_ptr<State>*>(data)->get();
        GstCaps* caps = gst_pad_get_current_caps(pad);
        GstAudioInfo audio;
        const bool known = caps && gst_audio_info_from_caps(&audio, caps);
        if (caps)
            gst_caps_unref(caps);
        const bool f32 = known && GST_AUDIO_INFO_FORMAT(&audio) == GST_AUDIO_FORMAT_F32LE;
        if (!known || GST_AUDIO_INFO_RATE(&audio) != kRate ||
            (!f32 && GST_AUDIO_INFO_FORMAT(&audio) != GST_AUDIO_FORMAT_S16LE))
            return GST_PAD_PROBE_OK;
        GstMapInfo map;
        if (!gst_buffer_map(GST_PAD_PROBE_INFO_BUFFER(info), &map, GST_MAP_READ))
            return GST_PAD_PROBE_OK;
        const int channels = GST_AUDIO_INFO_CHANNELS(&audio);
        const std::size_t frames = map.size / std::size_t(GST_AUDIO_INFO_BPF(&audio));
        std::lock_guard lock(self->lock);
        for (std::size_t i = 0; i < frames; ++i) {
            float sum = 0;
            for (int c = 0; c < channels; ++c) {
                const std::size_t k = i * std::size_t(channels) + std::size_t(c);
                sum += f32 ? reinterpret_cast<const float*>(map.data)[k]
                           : float(reinterpret_cast<const gint16*>(map.data)[k]) / 32768.0f;
            }
            if (self->skip > 0)
                --self->skip;
            else
                self->samples.push_back(sum / float(channels));
        }
        gst_buffer_unmap(GST_PAD_PROBE_INFO_BUFFER(info), &map);
        return GST_PAD_PROBE_OK;
    }

    std::shared_ptr<State> state_ = std::make_shared<State>();
};

TEST_F(PlayerPartsTest, TheSettingsReachTheControlsEqualiserAndChangeWhatIsHeard) {
    SitedPlayer p;
    ComPtr<IMPSettings> settings;
    ASSERT_EQ(p.services()->get_settings(settings.put()), S_OK);
    ComPtr<IMPAudioSettings> audio;
    ASSERT_EQ(settings->get_audio(audio.put()), S_OK);
    ComPtr<IMPEqualizer> eq;
    ComPtr<IMPAudioEffects> fx;
    ASSERT_EQ(audio->get_equalizer(eq.put()), S_OK);
    ASSERT_EQ(audio->get_effects(fx.put()), S_OK);
    ComPtr<IMPVideoSettings> video;
    EXPECT_EQ(settings->get_video(video.put()), E_NOINTERFACE);

    std::int32_t value = 0;
    EXPECT_EQ(eq->get_freqValues(0, &value), S_OK);
    EXPECT_EQ(value, 31);
    EXPECT_EQ(eq->get_freqValues(9, &value), S_OK);
    EXPECT_EQ(value, 16000);
    EXPECT_EQ(eq->get_freqValues(10, &value), E_INVALIDARG);
    EXPECT_EQ(eq->get_freqValues(-1, &value), E_INVALIDARG);
    EXPECT_EQ(eq->get_bands(&value), S_OK);
    EXPECT_EQ(value, 10);
    float gain = 0;
    ASSERT_EQ(eq->put_gainLevels(4, -3.5f), S_OK);
    ASSERT_EQ(eq->get_gainLevels(4, &gain), S_OK);
    EXPECT_EQ(gain, -3.5f);
    EXPECT_EQ(eq->get_gainLevels(9, &gain), S_OK);
    EXPECT_EQ(eq->get_gainLevels(10, &gain), E_INVALIDARG);
    ASSERT_EQ(eq->reset(), S_OK);

    // A second player has its own equaliser from the same package.
    {
        SitedPlayer second;
        ComPtr<IMPSettings> other;
        ComPtr<IMPAudioSettings> otherAudio;
        ComPtr<IMPEqualizer> otherEq;
        ASSERT_EQ(second.services()->get_settings(other.put()), S_OK);
        ASSERT_EQ(other->get_audio(otherAudio.put()), S_OK);
        ASSERT_EQ(otherAudio->get_equalizer(otherEq.put()), S_OK);
        ASSERT_EQ(otherEq->put_gainLevels(0, 6.0f), S_OK);
        ASSERT_EQ(eq->get_gainLevels(0, &gain), S_OK);
        EXPECT_EQ(gain, 0.0f);
        std::vector<fs::path> packages;
        for (const auto& entry : fs::directory_iterator(tmp.path()))
            packages.push_back(entry.path());
        ASSERT_EQ(packages.size(), 1u);
        EXPECT_EQ(packages[0].extension(), ".wmz");
        EXPECT_EQ(packages[0].filename().string().rfind("TFR", 0), 0u);
    }

    // Heard: tones at the first, a middle and the ninth band's centre.
    const fs::path medium = dir.path() / "tones.wav";
    std::string tones;
    for (int f : {31, 1000, 8000})
        tones += "audiotestsrc freq=" + std::to_string(f) +
                 " volume=0.1 samplesperbuffer=441 num-buffers=3000 ! "
                 "audio/x-raw,rate=44100,channels=1 ! m. ";
    makeMedium(medium, tones + "audiomixer name=m ! audioconvert ! wavenc");
    SinkLevels sink;
    p.site->onPreRender = [&](GstElement* pipeline) {
        sink.attach(audioSinkOf(pipeline));
    };
    p.control.setUrl("file://" + medium.string());
    ASSERT_TRUE(pumpUntil([&] { return p.control.state() == psPlaying; }));

    const auto flat = sink.measure({31, 1000, 8000});
    // Band indexes count from 0 here: 0 is the 31 Hz band, 8 the 8 kHz one.
    ASSERT_EQ(eq->put_gainLevels(0, 12.0f), S_OK);
    ASSERT_EQ(eq->put_gainLevels(8, -12.0f), S_OK);
    const auto shaped = sink.measure({31, 1000, 8000});
    ASSERT_EQ(eq->put_bypass(VARIANT_TRUE), S_OK);
    const auto bypassed = sink.measure({31, 1000, 8000});
    ASSERT_EQ(eq->put_bypass(VARIANT_FALSE), S_OK);
    ASSERT_EQ(eq->reset(), S_OK);
    const auto reset = sink.measure({31, 1000, 8000});
    ASSERT_EQ(fx->put_wowLevel(0), S_OK);
    ASSERT_EQ(fx->put_truBassLevel(100), S_OK);
    ASSERT_EQ(fx->put_enable(VARIANT_TRUE), S_OK);
    const auto bass = sink.measure({31, 1000, 8000});
    VARIANT_BOOL enabled = 0;
    EXPECT_EQ(fx->get_enable(&enabled), S_OK);
    EXPECT_EQ(enabled, VARIANT_TRUE);

    EXPECT_GT(shaped[0] - bypassed[0], 10.0) << "31 Hz, band 0 at +12 dB";
    EXPECT_NEAR(shaped[1] - bypassed[1], 0.0, 1.0) << "1 kHz";
    EXPECT_LT(shaped[2] - bypassed[2], -10.0) << "8 kHz, band 8 at -12 dB";
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_NEAR(bypassed[i], flat[i], 0.2) << i;
        EXPECT_NEAR(reset[i], flat[i], 0.2) << i;
    }
    EXPECT_GT(bass[0] - flat[0], 9.0) << "31 Hz with the bass at 100";
    EXPECT_NEAR(bass[1] - flat[1], 0.0, 1.0) << "1 kHz with the bass at 100";
}

} // namespace
