#include "media/pipeline/WaveFormat.h"

namespace norv::media {

std::uint16_t readLE16(std::span<const std::uint8_t> bytes, std::size_t offset) {
    if (offset > bytes.size() || bytes.size() - offset < 2)
        return 0;
    return static_cast<std::uint16_t>(bytes[offset] | (bytes[offset + 1] << 8));
}

std::uint32_t readLE32(std::span<const std::uint8_t> bytes, std::size_t offset) {
    if (offset > bytes.size() || bytes.size() - offset < 4)
        return 0;
    return static_cast<std::uint32_t>(bytes[offset]) |
           (static_cast<std::uint32_t>(bytes[offset + 1]) << 8) |
           (static_cast<std::uint32_t>(bytes[offset + 2]) << 16) |
           (static_cast<std::uint32_t>(bytes[offset + 3]) << 24);
}

void appendLE16(std::vector<std::uint8_t>& out, std::uint16_t value) {
    out.push_back(static_cast<std::uint8_t>(value));
    out.push_back(static_cast<std::uint8_t>(value >> 8));
}

void appendLE32(std::vector<std::uint8_t>& out, std::uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8)
        out.push_back(static_cast<std::uint8_t>(value >> shift));
}

std::vector<std::uint8_t> WaveFormat::toBytes() const {
    std::vector<std::uint8_t> out;
    out.reserve(baseSize + extra.size());
    appendLE16(out, formatTag);
    appendLE16(out, channels);
    appendLE32(out, samplesPerSec);
    appendLE32(out, avgBytesPerSec);
    appendLE16(out, blockAlign);
    appendLE16(out, bitsPerSample);
    appendLE16(out, static_cast<std::uint16_t>(extra.size()));
    for (std::uint8_t b : extra)
        out.push_back(b);
    return out;
}

std::optional<WaveFormat> WaveFormat::fromBytes(std::span<const std::uint8_t> bytes) {
    if (bytes.size() < baseSize)
        return std::nullopt;
    std::uint16_t cbSize = readLE16(bytes, 16);
    if (bytes.size() - baseSize < cbSize)
        return std::nullopt;
    WaveFormat f;
    f.formatTag = readLE16(bytes, 0);
    f.channels = readLE16(bytes, 2);
    f.samplesPerSec = readLE32(bytes, 4);
    f.avgBytesPerSec = readLE32(bytes, 8);
    f.blockAlign = readLE16(bytes, 12);
    f.bitsPerSample = readLE16(bytes, 14);
    f.extra.assign(bytes.begin() + baseSize, bytes.begin() + baseSize + cbSize);
    return f;
}

std::vector<std::uint8_t> riffWaveHeader(std::span<const std::uint8_t> format,
                                         std::uint32_t dataSize) {
    const auto f = static_cast<std::uint32_t>(format.size());
    const std::uint32_t headerSize = f + 28;
    std::vector<std::uint8_t> out;
    out.reserve(headerSize);
    auto tag = [&](const char* fourcc) {
        for (int i = 0; i < 4; ++i)
            out.push_back(static_cast<std::uint8_t>(fourcc[i]));
    };
    tag("RIFF");
    appendLE32(out, headerSize + dataSize - 8);
    tag("WAVE");
    tag("fmt ");
    appendLE32(out, f);
    for (std::uint8_t b : format)
        out.push_back(b);
    tag("data");
    appendLE32(out, dataSize);
    return out;
}

} // namespace norv::media
