// What the skin's EQUALIZERSETTINGS and VIDEOSETTINGS do to what the control plays,
// measured at its sinks while media play in real time (GStreamer only, no display): the
// energy of the tones of a multi-tone medium per band, the continuity of the audio while
// the effects go in and out of the path, and the brightness of the picture.

#include <gtest/gtest.h>

#include <gst/audio/audio.h>
#include <gst/video/video.h>

#include <cmath>
#include <memory>
#include <mutex>
#include <numbers>

#include "platform/media/SkinInterfaces.h"
#include "tests/platform/media/PlayerTestSupport.h"
#include "tests/platform/media/SkinPackages.h"
#include "tests/support/Process.h"

using namespace norv::test;

namespace {

constexpr int kRate = 44100;
constexpr double kTones[] = {31.0, 1000.0, 8000.0};

struct IScriptable : IDispatch {
    static constexpr IID iid = guid("{7E0F2B19-2C4A-4F61-9A0B-3D5C1E7F9A21}");
    using Base = IDispatch;
    virtual HRESULT put_audio(IDispatch* pVal) = 0;
    virtual HRESULT put_video(IDispatch* pVal) = 0;
    static const InterfaceInfo& interfaceInfo() {
        using I = IScriptable;
        static const InterfaceInfo info = describeInterface<I>(
            u"IScriptable", u"", propput(1, u"audio", &I::put_audio, {u"pVal"}),
            propput(2, u"video", &I::put_video, {u"pVal"}));
        return info;
    }

protected:
    ~IScriptable() = default;
};

class Scriptable final : public DispatchObject<Scriptable, IScriptable> {
public:
    HRESULT put_audio(IDispatch* value) override {
        audio = value;
        return S_OK;
    }
    HRESULT put_video(IDispatch* value) override {
        video = value;
        return S_OK;
    }
    ComPtr<IDispatch> audio, video;
};

GstElement* childNamed(GstElement* bin, const char* name) {
    return GST_IS_BIN(bin) ? gst_bin_get_by_name(GST_BIN(bin), name) : nullptr;
}

// What reaches the audio sink, mixed to mono, with a check that each buffer starts where
// the one before ended.
class AudioCapture {
public:
    // Watches what reaches `sink`. The pad shares the capture, which it may go on filling
    // until the player stops, after the test is done with it.
    static std::shared_ptr<AudioCapture> attach(GstElement* sink) {
        auto capture = std::make_shared<AudioCapture>();
        GstPad* pad = gst_element_get_static_pad(sink, "sink");
        auto held = std::make_unique<std::shared_ptr<AudioCapture>>(capture);
        gst_pad_add_probe(
            pad, GST_PAD_PROBE_TYPE_BUFFER, onBuffer, held.release(),
            [](gpointer data) { delete static_cast<std::shared_ptr<AudioCapture>*>(data); });
        gst_object_unref(pad);
        return capture;
    }

    // The levels of the tones in one second of what plays, after a fifth of a second has
    // let what is on its way through.
    std::vector<double> measure() {
        {
            std::lock_guard guard(lock_);
            samples_.clear();
            skip_ = kRate / 5;
        }
        EXPECT_TRUE(pumpUntil([&] {
            std::lock_guard guard(lock_);
            return samples_.size() >= std::size_t(kRate);
        }));
        std::vector<float> x;
        {
            std::lock_guard guard(lock_);
            x.assign(samples_.begin(),
                     samples_.begin() + std::min<std::size_t>(samples_.size(), kRate));
        }
        std::vector<double> levels;
        for (double f : kTones)
            levels.push_back(levelOf(x, f));
        return levels;
    }

    int gaps() {
        std::lock_guard guard(lock_);
        return gaps_;
    }
    bool formatUnsupported() {
        std::lock_guard guard(lock_);
        return unsupported_;
    }

private:
    // Hann-windowed level of the tone at `f`, in dB.
    static double levelOf(const std::vector<float>& x, double f) {
        double re = 0, im = 0, window = 0;
        const double n1 = double(x.size() - 1);
        for (std::size_t n = 0; n < x.size(); ++n) {
            double w = 0.5 - 0.5 * std::cos(2 * std::numbers::pi * double(n) / n1);
            double phase = 2 * std::numbers::pi * f * double(n) / kRate;
            re += w * x[n] * std::cos(phase);
            im -= w * x[n] * std::sin(phase);
            window += w;
        }
        return 20 * std::log10(2 * std::hypot(re, im) / window + 1e-12);
    }

    static GstPadProbeReturn onBuffer(GstPad* pad, GstPadProbeInfo* info, gpointer data) {
        AudioCapture* self = static_cast<std::shared_ptr<AudioCapture>*>(data)->get();
        GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(info);
        GstCaps* caps = gst_pad_get_current_caps(pad);
        GstAudioInfo audio;
        bool known = caps && gst_audio_info_from_caps(&audio, caps);
        if (caps)
            gst_caps_unref(caps);
        std::lock_guard guard(self->lock_);
        if (!known || GST_AUDIO_INFO_RATE(&audio) != kRate ||
            GST_AUDIO_INFO_LAYOUT(&audio) != GST_AUDIO_LAYOUT_INTERLEAVED ||
            (GST_AUDIO_INFO_FORMAT(&audio) != GST_AUDIO_FORMAT_F32LE &&
             GST_AUDIO_INFO_FORMAT(&audio) != GST_AUDIO_FORMAT_S16LE)) {
            self->unsupported_ = true;
            return GST_PAD_PROBE_OK;
        }
        GstMapInfo map;
        if (!gst_buffer_map(buffer, &map, GST_MAP_READ))
            return GST_PAD_PROBE_OK;
        const int channels = GST_AUDIO_INFO_CHANNELS(&audio);
        const std::size_t frames = map.size / GST_AUDIO_INFO_BPF(&audio);
        const bool f32 = GST_AUDIO_INFO_FORMAT(&audio) == GST_AUDIO_FORMAT_F32LE;
        for (std::size_t i = 0; i < frames; ++i) {
            float sum = 0;
            for (int c = 0; c < channels; ++c) {
                std::size_t k = i * std::size_t(channels) + std::size_t(c);
                sum += f32 ? reinterpret_cast<const float*>(map.data)[k]
                           : reinterpret_cast<const gint16*>(map.data)[k] / 32768.0f;
            }
            if (self->skip_ > 0)
                --self->skip_;
            else
                self->samples_.push_back(sum / float(channels));
        }
        gst_buffer_unmap(buffer, &map);

        GstClockTime pts = GST_BUFFER_PTS(buffer);
        if (GST_CLOCK_TIME_IS_VALID(self->expected_) && GST_CLOCK_TIME_IS_VALID(pts) &&
            std::llabs(GstClockTimeDiff(pts) - GstClockTimeDiff(self->expected_)) > GST_MSECOND)
            ++self->gaps_;
        if (GST_CLOCK_TIME_IS_VALID(pts))
            self->expected_ = pts + gst_util_uint64_scale(frames, GST_SECOND, kRate);
        return GST_PAD_PROBE_OK;
    }

    std::mutex lock_;
    std::vector<float> samples_;
    std::size_t skip_ = 0;
    GstClockTime expected_ = GST_CLOCK_TIME_NONE;
    int gaps_ = 0;
    bool unsupported_ = false;
};

// The mean brightness (luma, or the mean of red, green and blue) of the frames that reach
// the video sink, 0 to 255.
class PictureCapture {
public:
    // Watches what reaches `sink`. The pad shares the capture, which it may go on filling
    // until the player stops, after the test is done with it.
    static std::shared_ptr<PictureCapture> attach(GstElement* sink) {
        auto capture = std::make_shared<PictureCapture>();
        GstPad* pad = gst_element_get_static_pad(sink, "sink");
        auto held = std::make_unique<std::shared_ptr<PictureCapture>>(capture);
        gst_pad_add_probe(
            pad, GST_PAD_PROBE_TYPE_BUFFER, onBuffer, held.release(),
            [](gpointer data) { delete static_cast<std::shared_ptr<PictureCapture>*>(data); });
        gst_object_unref(pad);
        return capture;
    }

    // The brightness of the third frame from now.
    double measure() {
        {
            std::lock_guard guard(lock_);
            frames_ = 0;
        }
        EXPECT_TRUE(pumpUntil([&] {
            std::lock_guard guard(lock_);
            return frames_ >= 3;
        }));
        std::lock_guard guard(lock_);
        return brightness_;
    }

private:
    static GstPadProbeReturn onBuffer(GstPad* pad, GstPadProbeInfo* info, gpointer data) {
        PictureCapture* self = static_cast<std::shared_ptr<PictureCapture>*>(data)->get();
        GstCaps* caps = gst_pad_get_current_caps(pad);
        GstVideoInfo video;
        bool known = caps && gst_video_info_from_caps(&video, caps);
        if (caps)
            gst_caps_unref(caps);
        GstVideoFrame frame;
        if (!known ||
            !gst_video_frame_map(&frame, &video, GST_PAD_PROBE_INFO_BUFFER(info), GST_MAP_READ))
            return GST_PAD_PROBE_OK;
        const bool yuv = GST_VIDEO_FORMAT_INFO_IS_YUV(video.finfo);
        const int comps = yuv ? 1 : 3;
        double sum = 0;
        std::size_t count = 0;
        for (int c = 0; c < comps; ++c) {
            if (GST_VIDEO_FORMAT_INFO_DEPTH(video.finfo, c) != 8)
                continue;
            const guint8* data = GST_VIDEO_FRAME_COMP_DATA(&frame, c);
            int stride = GST_VIDEO_FRAME_COMP_STRIDE(&frame, c);
            int pixel = GST_VIDEO_FRAME_COMP_PSTRIDE(&frame, c);
            for (int y = 0; y < GST_VIDEO_FRAME_COMP_HEIGHT(&frame, c); ++y)
                for (int x = 0; x < GST_VIDEO_FRAME_COMP_WIDTH(&frame, c); ++x, ++count)
                    sum += data[y * stride + x * pixel];
        }
        gst_video_frame_unmap(&frame);
        std::lock_guard guard(self->lock_);
        if (count > 0) {
            self->brightness_ = sum / double(count);
            ++self->frames_;
        }
        return GST_PAD_PROBE_OK;
    }

    std::mutex lock_;
    int frames_ = 0;
    double brightness_ = 0;
};

class PlayerEffectsTest : public ::testing::Test {
protected:
    void SetUp() override {
        site->customSkin =
            "file://" +
            writeFile(dir.path() / "skin.wmz", makePackage(dir.path(), kSkinText)).string();
        site->scriptable = scriptable;
        p.site(site.get());
        ASSERT_EQ(p.player->put_uiMode(Bstr(u"custom")), S_OK);
        ASSERT_TRUE(scriptable->audio);
        ASSERT_TRUE(scriptable->video);
        // The elements keep working once the control's own interface is back.
        ASSERT_EQ(p.player->put_uiMode(Bstr(u"full")), S_OK);
    }

    TempDir dir;
    ComPtr<FakeSite> site = makeObject<FakeSite>();
    ComPtr<Scriptable> scriptable = makeObject<Scriptable>();
    TestPlayer p;
};

// Whether anything stands between the effects' input and output now.
bool effectsInPath(GstElement* pipeline) {
    GstElement* sink = nullptr;
    g_object_get(pipeline, "audio-sink", &sink, nullptr);
    GstElement* out = childNamed(sink, "effects-out");
    GstPad* pad = gst_element_get_static_pad(out, "sink");
    GstPad* peer = gst_pad_get_peer(pad);
    GstElement* before = peer ? gst_pad_get_parent_element(peer) : nullptr;
    bool direct = before && g_strcmp0(GST_OBJECT_NAME(before), "effects-in") == 0;
    if (before)
        gst_object_unref(before);
    if (peer)
        gst_object_unref(peer);
    gst_object_unref(pad);
    gst_object_unref(out);
    gst_object_unref(sink);
    return !direct;
}

} // namespace

TEST_F(PlayerEffectsTest, EqualiserBandsAndBassChangeWhatIsHeard) {
    auto medium = dir.path() / "tones.wav";
    std::string tones;
    for (double f : kTones)
        tones += "audiotestsrc freq=" + std::to_string(int(f)) +
                 " volume=0.1 samplesperbuffer=441 num-buffers=3000 ! "
                 "audio/x-raw,rate=44100,channels=1 ! m. ";
    makeMedium(medium, tones + "audiomixer name=m ! audioconvert ! wavenc");
    auto eq = scriptable->audio.as<IEqualizerSettings>();
    ASSERT_TRUE(eq);

    GstElement* output = nullptr;
    p.setUrl("file://" + medium.string());
    ASSERT_TRUE(pumpUntil([&] { return p.state() == psPlaying; }));
    output = audioOutputOf(site->pipeline());
    ASSERT_TRUE(output);
    auto capture = AudioCapture::attach(output);
    gst_object_unref(output);

    const std::vector<double> flat = capture->measure();
    ASSERT_FALSE(capture->formatUnsupported());
    EXPECT_FALSE(effectsInPath(site->pipeline()));

    ASSERT_EQ(eq->put_gainLevels(1, 12.0f), S_OK);
    ASSERT_EQ(eq->put_gainLevels(9, -12.0f), S_OK);
    const std::vector<double> shaped = capture->measure();
    EXPECT_TRUE(effectsInPath(site->pipeline()));
    EXPECT_GT(shaped[0] - flat[0], 10.0) << "31 Hz, band 1 at +12 dB";
    EXPECT_NEAR(shaped[1] - flat[1], 0.0, 1.0) << "1 kHz, between the changed bands";
    EXPECT_LT(shaped[2] - flat[2], -10.0) << "8 kHz, band 9 at -12 dB";

    // Bypassed, the equaliser keeps its gains and leaves the sound alone.
    ASSERT_EQ(eq->put_bypass(VARIANT_TRUE), S_OK);
    const std::vector<double> bypassed = capture->measure();
    EXPECT_FALSE(effectsInPath(site->pipeline()));
    float gain = 0;
    eq->get_gainLevels(1, &gain);
    EXPECT_EQ(gain, 12.0f);
    ASSERT_EQ(eq->put_bypass(VARIANT_FALSE), S_OK);
    EXPECT_GT(capture->measure()[0] - flat[0], 10.0);

    ASSERT_EQ(eq->reset(), S_OK);
    const std::vector<double> reset = capture->measure();
    EXPECT_FALSE(effectsInPath(site->pipeline()));

    ASSERT_EQ(eq->put_wowLevel(0), S_OK);
    ASSERT_EQ(eq->put_truBassLevel(100), S_OK);
    ASSERT_EQ(eq->put_enhancedAudio(VARIANT_TRUE), S_OK);
    const std::vector<double> bass = capture->measure();
    EXPECT_TRUE(effectsInPath(site->pipeline()));
    ASSERT_EQ(eq->put_enhancedAudio(VARIANT_FALSE), S_OK);
    capture->measure();
    EXPECT_FALSE(effectsInPath(site->pipeline()));

    for (std::size_t i = 0; i < std::size(kTones); ++i) {
        SCOPED_TRACE(kTones[i]);
        EXPECT_NEAR(bypassed[i], flat[i], 0.2);
        EXPECT_NEAR(reset[i], flat[i], 0.2);
    }
    EXPECT_GT(bass[0] - flat[0], 9.0) << "31 Hz with the bass at 100";
    EXPECT_NEAR(bass[1] - flat[1], 0.0, 1.0) << "1 kHz with the bass at 100";
    EXPECT_EQ(capture->gaps(), 0) << "the effects went in and out without a gap";
    EXPECT_EQ(p.state(), psPlaying);
}

TEST_F(PlayerEffectsTest, VideoSettingsChangeThePicture) {
    auto clip = dir.path() / "clip.webm";
    makeClip(clip, 10.0);
    auto vs = scriptable->video.as<IVideoSettings>();
    ASSERT_TRUE(vs);
    p.setUrl("file://" + clip.string());
    ASSERT_TRUE(pumpUntil([&] { return p.state() == psPlaying; }));
    GstElement* videoOutput = nullptr;
    g_object_get(site->pipeline(), "video-sink", &videoOutput, nullptr);
    GstElement* sink = childNamed(videoOutput, "video-sink");
    ASSERT_TRUE(sink);
    auto picture = PictureCapture::attach(sink);
    gst_object_unref(sink);
    gst_object_unref(videoOutput);

    const double normal = picture->measure();
    ASSERT_EQ(vs->put_brightness(50), S_OK);
    std::int32_t value = 0;
    vs->get_brightness(&value);
    EXPECT_EQ(value, 50);
    EXPECT_GT(picture->measure(), normal + 30);
    ASSERT_EQ(vs->put_brightness(-200), S_OK);
    vs->get_brightness(&value);
    EXPECT_EQ(value, -100);
    EXPECT_LT(picture->measure(), normal - 30);
    ASSERT_EQ(vs->reset(), S_OK);
    EXPECT_NEAR(picture->measure(), normal, 2.0);
}
