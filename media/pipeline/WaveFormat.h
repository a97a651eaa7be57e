#pragma once
// WaveFormat: the WAVEFORMATEX block that describes an audio stream (and, for the
// extensible form, its sub-format), with the little-endian helpers the pipeline's
// readers and writers share, and the header of a RIFF/WAVE file.

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "platform/com/Guid.h"

namespace norv::media {

// Format tags of a WAVEFORMATEX block.
constexpr std::uint16_t kWaveFormatPcm = 0x0001;
constexpr std::uint16_t kWaveFormatIeeeFloat = 0x0003;
constexpr std::uint16_t kWaveFormatWmAudio1 = 0x0160;
constexpr std::uint16_t kWaveFormatWmAudio2 = 0x0161;
constexpr std::uint16_t kWaveFormatExtensible = 0xFFFE;

// Sub-formats of WAVEFORMATEXTENSIBLE (its SubFormat lies at byte 24 of the block).
constexpr com::GUID kSubtypePcm = *com::GUID::parse("{00000001-0000-0010-8000-00AA00389B71}");
constexpr com::GUID kSubtypeIeeeFloat = *com::GUID::parse("{00000003-0000-0010-8000-00AA00389B71}");

// Format types of a media type record.
constexpr com::GUID kFormatWaveFormatEx =
    *com::GUID::parse("{05589F81-C356-11CE-BF01-00AA0055595A}");
constexpr com::GUID kFormatVideoInfo = *com::GUID::parse("{05589F80-C356-11CE-BF01-00AA0055595A}");
constexpr com::GUID kFormatVideoInfo2 = *com::GUID::parse("{F72A76A0-EB0A-11D0-ACE4-0000C0CC16BA}");

// Little-endian reads and writes; a read past the end of `bytes` gives 0.
std::uint16_t readLE16(std::span<const std::uint8_t> bytes, std::size_t offset);
std::uint32_t readLE32(std::span<const std::uint8_t> bytes, std::size_t offset);
void appendLE16(std::vector<std::uint8_t>& out, std::uint16_t value);
void appendLE32(std::vector<std::uint8_t>& out, std::uint32_t value);

struct WaveFormat {
    static constexpr std::size_t baseSize = 18; // WAVEFORMATEX up to and with cbSize

    std::uint16_t formatTag = 0;
    std::uint16_t channels = 0;
    std::uint32_t samplesPerSec = 0;
    std::uint32_t avgBytesPerSec = 0;
    std::uint16_t blockAlign = 0;
    std::uint16_t bitsPerSample = 0;
    std::vector<std::uint8_t> extra; // the cbSize bytes after the 18-byte header

    // The block as it is stored: 18 bytes, then `extra` (cbSize = extra.size()).
    std::vector<std::uint8_t> toBytes() const;
    // Reads a block of at least 18 bytes whose cbSize fits in it; nullopt otherwise.
    static std::optional<WaveFormat> fromBytes(std::span<const std::uint8_t> bytes);

    friend bool operator==(const WaveFormat&, const WaveFormat&) = default;
};

// The header of a RIFF/WAVE file whose "fmt " chunk holds `format` byte for byte and
// whose "data" chunk holds `dataSize` bytes: 28 + format.size() bytes. Nothing is
// written for the sizes that do not fit 32 bits: the caller keeps within them.
std::vector<std::uint8_t> riffWaveHeader(std::span<const std::uint8_t> format,
                                         std::uint32_t dataSize);

} // namespace norv::media
