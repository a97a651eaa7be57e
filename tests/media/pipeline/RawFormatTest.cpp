// The media type records of the raw formats the taps hand to filters, as a receiver reads
// them: WAVEFORMATEX (and its extensible form) and VIDEOINFOHEADER.

#include <gtest/gtest.h>

#include "media/pipeline/PipelineInterfaces.h"
#include "media/pipeline/RawFormat.h"
#include "media/pipeline/WaveFormat.h"

using namespace norv::media;

namespace {

std::optional<RawFormat> fromCaps(const char* text) {
    GstCaps* caps = gst_caps_from_string(text);
    auto f = RawFormat::fromCaps(caps);
    gst_caps_unref(caps);
    return f;
}

std::int32_t le32(const std::vector<std::uint8_t>& b, std::size_t at) {
    return static_cast<std::int32_t>(readLE32(b, at));
}

class RawFormatTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { gst_init(nullptr, nullptr); }
};

TEST_F(RawFormatTest, AudioFormatsAreWaveFormatBlocks) {
    auto pcm = fromCaps("audio/x-raw,format=S16LE,layout=interleaved,rate=48000,channels=2,"
                        "channel-mask=(bitmask)0x3");
    ASSERT_TRUE(pcm);
    EXPECT_EQ(pcm->type, norv::typelib::mpsAudio);
    const auto& t = pcm->mediaType;
    EXPECT_EQ(t.majortype, kMediaTypeAudio);
    EXPECT_EQ(t.subtype, kSubtypeAudioPcm);
    EXPECT_EQ(t.formattype, kFormatWaveFormatEx);
    EXPECT_EQ(t.bFixedSizeSamples, 1);
    EXPECT_EQ(t.lSampleSize, 4u);
    auto w = WaveFormat::fromBytes(t.format);
    ASSERT_TRUE(w);
    EXPECT_EQ(w->formatTag, kWaveFormatPcm);
    EXPECT_EQ(w->channels, 2);
    EXPECT_EQ(w->samplesPerSec, 48000u);
    EXPECT_EQ(w->avgBytesPerSec, 192000u);
    EXPECT_EQ(w->blockAlign, 4);
    EXPECT_EQ(w->bitsPerSample, 16);
    EXPECT_TRUE(w->extra.empty());
    // A tenth of a second of it.
    EXPECT_EQ(pcm->durationOf(19200), GST_SECOND / 10);

    // Six channels of floats: the extensible form with its speakers and sub-format.
    auto surround = fromCaps("audio/x-raw,format=F32LE,layout=interleaved,rate=44100,channels=6,"
                             "channel-mask=(bitmask)0x3f");
    ASSERT_TRUE(surround);
    EXPECT_EQ(surround->mediaType.subtype, kSubtypeAudioFloat);
    auto x = WaveFormat::fromBytes(surround->mediaType.format);
    ASSERT_TRUE(x);
    EXPECT_EQ(x->formatTag, kWaveFormatExtensible);
    EXPECT_EQ(x->blockAlign, 24);
    ASSERT_EQ(x->extra.size(), 22u);
    EXPECT_EQ(readLE16(x->extra, 0), 32);    // valid bits
    EXPECT_EQ(readLE32(x->extra, 2), 0x3Fu); // FL FR FC LFE BL BR
    EXPECT_EQ(norv::com::GUID::fromBytes(&x->extra[6]), kSubtypeIeeeFloat);
}

TEST_F(RawFormatTest, VideoIsTopDownBgrxInAVideoInfoHeader) {
    auto v = fromCaps("video/x-raw,format=BGRx,width=320,height=240,framerate=30/1");
    ASSERT_TRUE(v);
    const auto& t = v->mediaType;
    EXPECT_EQ(t.majortype, kMediaTypeVideo);
    EXPECT_EQ(t.subtype, kSubtypeVideoRgb32);
    EXPECT_EQ(t.formattype, kFormatVideoInfo);
    EXPECT_EQ(t.lSampleSize, 320u * 240 * 4);
    ASSERT_EQ(t.format.size(), 88u);
    EXPECT_EQ(le32(t.format, 8), 320); // rcSource.right
    EXPECT_EQ(le32(t.format, 12), 240);
    EXPECT_EQ(le32(t.format, 40), 333333); // AvgTimePerFrame, 100-ns units
    EXPECT_EQ(le32(t.format, 48), 40);     // biSize
    EXPECT_EQ(le32(t.format, 52), 320);
    EXPECT_EQ(le32(t.format, 56), -240); // rows top to bottom
    EXPECT_EQ(readLE16(t.format, 62), 32);
    EXPECT_EQ(le32(t.format, 68), 320 * 240 * 4);
    EXPECT_EQ(v->durationOf(t.lSampleSize), GST_SECOND / 30);
}

TEST_F(RawFormatTest, OtherLayoutsAreNotRawFormats) {
    EXPECT_FALSE(fromCaps("audio/x-raw,format=S24LE,layout=interleaved,rate=48000,channels=2"));
    EXPECT_FALSE(fromCaps("audio/x-raw,format=F32LE,layout=non-interleaved,rate=48000,channels=2"));
    EXPECT_FALSE(fromCaps("video/x-raw,format=I420,width=320,height=240,framerate=30/1"));
    EXPECT_FALSE(fromCaps("audio/x-raw,format=S16LE,layout=interleaved"));
    EXPECT_FALSE(fromCaps("audio/mpeg,mpegversion=1"));
}

} // namespace
