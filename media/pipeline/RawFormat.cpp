#include "media/pipeline/RawFormat.h"

#include <gst/audio/audio.h>
#include <gst/video/video.h>

#include <algorithm>
#include <limits>

#include "media/pipeline/PipelineInterfaces.h"
#include "media/pipeline/WaveFormat.h"

namespace norv::media {

namespace {

// The speaker bit of each GStreamer channel position (0 where there is none).
std::uint32_t speakerBit(GstAudioChannelPosition p) {
    switch (p) {
    case GST_AUDIO_CHANNEL_POSITION_FRONT_LEFT:
        return 0x1;
    case GST_AUDIO_CHANNEL_POSITION_FRONT_RIGHT:
        return 0x2;
    case GST_AUDIO_CHANNEL_POSITION_FRONT_CENTER:
        return 0x4;
    case GST_AUDIO_CHANNEL_POSITION_LFE1:
        return 0x8;
    case GST_AUDIO_CHANNEL_POSITION_REAR_LEFT:
        return 0x10;
    case GST_AUDIO_CHANNEL_POSITION_REAR_RIGHT:
        return 0x20;
    case GST_AUDIO_CHANNEL_POSITION_FRONT_LEFT_OF_CENTER:
        return 0x40;
    case GST_AUDIO_CHANNEL_POSITION_FRONT_RIGHT_OF_CENTER:
        return 0x80;
    case GST_AUDIO_CHANNEL_POSITION_REAR_CENTER:
        return 0x100;
    case GST_AUDIO_CHANNEL_POSITION_SIDE_LEFT:
        return 0x200;
    case GST_AUDIO_CHANNEL_POSITION_SIDE_RIGHT:
        return 0x400;
    case GST_AUDIO_CHANNEL_POSITION_TOP_CENTER:
        return 0x800;
    case GST_AUDIO_CHANNEL_POSITION_TOP_FRONT_LEFT:
        return 0x1000;
    case GST_AUDIO_CHANNEL_POSITION_TOP_FRONT_CENTER:
        return 0x2000;
    case GST_AUDIO_CHANNEL_POSITION_TOP_FRONT_RIGHT:
        return 0x4000;
    case GST_AUDIO_CHANNEL_POSITION_TOP_REAR_LEFT:
        return 0x8000;
    case GST_AUDIO_CHANNEL_POSITION_TOP_REAR_CENTER:
        return 0x10000;
    case GST_AUDIO_CHANNEL_POSITION_TOP_REAR_RIGHT:
        return 0x20000;
    default:
        return 0;
    }
}

void putLE16(std::vector<std::uint8_t>& out, std::size_t at, std::uint32_t v) {
    out[at] = static_cast<std::uint8_t>(v);
    out[at + 1] = static_cast<std::uint8_t>(v >> 8);
}

void putLE32(std::vector<std::uint8_t>& out, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        out[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
}

std::optional<RawFormat> audioFormat(const GstCaps* caps) {
    GstAudioInfo info;
    if (!gst_audio_info_from_caps(&info, caps) ||
        GST_AUDIO_INFO_LAYOUT(&info) != GST_AUDIO_LAYOUT_INTERLEAVED)
        return std::nullopt;
    const GstAudioFormat f = GST_AUDIO_INFO_FORMAT(&info);
    if (f != GST_AUDIO_FORMAT_S16LE && f != GST_AUDIO_FORMAT_F32LE)
        return std::nullopt;
    const bool isFloat = f == GST_AUDIO_FORMAT_F32LE;
    const int channels = GST_AUDIO_INFO_CHANNELS(&info);
    const int bits = GST_AUDIO_INFO_WIDTH(&info);
    const int rate = GST_AUDIO_INFO_RATE(&info);
    if (channels < 1 || channels > 64 || rate < 1)
        return std::nullopt;

    RawFormat r;
    r.type = typelib::mpsAudio;
    r.rate = static_cast<std::uint32_t>(rate);
    r.bytesPerFrame = static_cast<std::uint32_t>(GST_AUDIO_INFO_BPF(&info));

    WaveFormat w;
    w.channels = static_cast<std::uint16_t>(channels);
    w.samplesPerSec = r.rate;
    w.blockAlign = static_cast<std::uint16_t>(r.bytesPerFrame);
    w.avgBytesPerSec = r.rate * r.bytesPerFrame;
    w.bitsPerSample = static_cast<std::uint16_t>(bits);
    if (channels <= 2) {
        w.formatTag = isFloat ? kWaveFormatIeeeFloat : kWaveFormatPcm;
    } else {
        w.formatTag = kWaveFormatExtensible;
        std::uint32_t mask = 0;
        if (!(GST_AUDIO_INFO_FLAGS(&info) & GST_AUDIO_FLAG_UNPOSITIONED))
            for (int c = 0; c < channels; ++c)
                mask |= speakerBit(info.position[c]);
        w.extra.assign(22, 0);
        putLE16(w.extra, 0, static_cast<std::uint32_t>(bits)); // wValidBitsPerSample
        putLE32(w.extra, 2, mask);                             // dwChannelMask
        auto sub = (isFloat ? kSubtypeIeeeFloat : kSubtypePcm).toBytes();
        std::copy(sub.begin(), sub.end(), w.extra.begin() + 6);
    }

    typelib::AMMediaType& t = r.mediaType;
    t.majortype = kMediaTypeAudio;
    t.subtype = isFloat ? kSubtypeAudioFloat : kSubtypeAudioPcm;
    t.bFixedSizeSamples = 1;
    t.bTemporalCompression = 0;
    t.lSampleSize = r.bytesPerFrame;
    t.formattype = kFormatWaveFormatEx;
    t.format = w.toBytes();
    return r;
}

std::optional<RawFormat> videoFormat(const GstCaps* caps) {
    GstVideoInfo info;
    if (!gst_video_info_from_caps(&info, caps) ||
        GST_VIDEO_INFO_FORMAT(&info) != GST_VIDEO_FORMAT_BGRx)
        return std::nullopt;
    const int width = GST_VIDEO_INFO_WIDTH(&info);
    const int height = GST_VIDEO_INFO_HEIGHT(&info);
    if (width < 1 || height < 1 || GST_VIDEO_INFO_PLANE_STRIDE(&info, 0) != width * 4)
        return std::nullopt;
    const std::uint64_t image = static_cast<std::uint64_t>(width) * height * 4;
    if (image > std::numeric_limits<std::uint32_t>::max())
        return std::nullopt;

    RawFormat r;
    r.type = typelib::mpsVideo;
    r.bytesPerFrame = static_cast<std::uint32_t>(image);
    const int fpsN = GST_VIDEO_INFO_FPS_N(&info);
    const int fpsD = GST_VIDEO_INFO_FPS_D(&info);
    if (fpsN > 0 && fpsD > 0)
        r.frameDuration = gst_util_uint64_scale_int(GST_SECOND, fpsD, fpsN);

    // VIDEOINFOHEADER: rcSource, rcTarget, dwBitRate, dwBitErrorRate, AvgTimePerFrame,
    // then the 40-byte BITMAPINFOHEADER.
    std::vector<std::uint8_t> f(88, 0);
    for (std::size_t rect : {0u, 16u}) {
        putLE32(f, rect + 8, static_cast<std::uint32_t>(width));
        putLE32(f, rect + 12, static_cast<std::uint32_t>(height));
    }
    const std::uint64_t perFrame100ns = r.frameDuration / 100;
    const std::uint64_t bitRate = r.frameDuration ? image * 8 * GST_SECOND / r.frameDuration : 0;
    putLE32(f, 32,
            static_cast<std::uint32_t>(
                std::min<std::uint64_t>(bitRate, std::numeric_limits<std::uint32_t>::max())));
    putLE32(f, 40, static_cast<std::uint32_t>(perFrame100ns));
    putLE32(f, 44, static_cast<std::uint32_t>(perFrame100ns >> 32));
    putLE32(f, 48, 40);                                  // biSize
    putLE32(f, 52, static_cast<std::uint32_t>(width));   // biWidth
    putLE32(f, 56, static_cast<std::uint32_t>(-height)); // biHeight: top-down rows
    putLE16(f, 60, 1);                                   // biPlanes
    putLE16(f, 62, 32);                                  // biBitCount
    putLE32(f, 64, 0);                                   // biCompression: BI_RGB
    putLE32(f, 68, r.bytesPerFrame);                     // biSizeImage

    typelib::AMMediaType& t = r.mediaType;
    t.majortype = kMediaTypeVideo;
    t.subtype = kSubtypeVideoRgb32;
    t.bFixedSizeSamples = 1;
    t.bTemporalCompression = 0;
    t.lSampleSize = r.bytesPerFrame;
    t.formattype = kFormatVideoInfo;
    t.format = std::move(f);
    return r;
}

} // namespace

std::optional<RawFormat> RawFormat::fromCaps(const GstCaps* caps) {
    if (caps == nullptr || !gst_caps_is_fixed(caps))
        return std::nullopt;
    const GstStructure* s = gst_caps_get_structure(caps, 0);
    if (gst_structure_has_name(s, "audio/x-raw"))
        return audioFormat(caps);
    if (gst_structure_has_name(s, "video/x-raw"))
        return videoFormat(caps);
    return std::nullopt;
}

std::uint64_t RawFormat::durationOf(std::size_t bytes) const {
    if (type == typelib::mpsAudio && bytesPerFrame > 0 && rate > 0)
        return gst_util_uint64_scale(bytes / bytesPerFrame, GST_SECOND, rate);
    if (type == typelib::mpsVideo)
        return frameDuration;
    return 0;
}

} // namespace norv::media
