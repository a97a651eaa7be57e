#pragma once
// RawFormat: the sample formats the stream taps hand to filters, and the media type
// record (_AMMediaType) of a negotiated one.
//
// Whatever the medium, a filter receives decoded samples in one of these layouts; the
// player converts to them in front of each tap:
//  - audio: interleaved frames of 16-bit signed integers (S16LE) or 32-bit floats
//    (F32LE), little-endian, at the medium's rate and channel count. The record has major
//    type MEDIATYPE_Audio, sub-type PCM or IEEE_FLOAT, format type FORMAT_WaveFormatEx
//    and a WAVEFORMATEX block (WAVEFORMATEXTENSIBLE with its channel mask above two
//    channels); lSampleSize is the block alignment (the bytes of one frame).
//  - video: BGRx, 4 bytes a pixel (blue, green, red, unused), rows top to bottom with no
//    padding (width × 4 bytes each). The record has major type MEDIATYPE_Video, sub-type
//    RGB32, format type FORMAT_VideoInfo and a VIDEOINFOHEADER whose bitmap header gives
//    a negative height (top-down rows); lSampleSize is the image size.

#include <gst/gst.h>

#include <cstdint>
#include <optional>

#include "typelib/NorvViewTypes.h"

namespace norv::media {

struct RawFormat {
    // The caps a tap accepts for each stream type.
    static constexpr const char* audioCaps =
        "audio/x-raw, format = (string) { F32LE, S16LE }, layout = (string) interleaved, "
        "rate = (int) [ 1, MAX ], channels = (int) [ 1, 64 ]";
    static constexpr const char* videoCaps =
        "video/x-raw, format = (string) BGRx, width = (int) [ 1, 32767 ], "
        "height = (int) [ 1, 32767 ], framerate = (fraction) [ 0/1, MAX ]";

    typelib::MPStreamType type = typelib::mpsUnknown;
    typelib::AMMediaType mediaType;
    std::uint32_t bytesPerFrame = 0; // audio: one frame of all channels; video: one image
    std::uint32_t rate = 0;          // audio: frames a second
    std::uint64_t frameDuration = 0; // video: nanoseconds a frame (0: no fixed rate)

    // The format of fixed caps in one of the layouts above; nullopt for any other.
    static std::optional<RawFormat> fromCaps(const GstCaps* caps);

    // The duration in nanoseconds of `bytes` of this format (0 when it has none).
    std::uint64_t durationOf(std::size_t bytes) const;
};

} // namespace norv::media
