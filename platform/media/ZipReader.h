#pragma once
// ZipReader: the skin engine's reader of ZIP archives (".wmz" skin packages). It reads the
// end record and the central directory of an archive held in memory, and extracts one
// entry (stored, or deflated through zlib's inflate), checking the local header against
// the central directory and the data against its CRC-32 and sizes. No ZIP64, no
// encryption, no archives spanning several disks.
//
// The archive comes from a file the control is told to open, so every offset, length and
// count is checked against the bytes there are; nothing is trusted.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace norv::platform::media {

enum class ZipError {
    None,
    NotZip,         // no end record and no local header at the start
    BadDirectory,   // end record or central directory cut short or inconsistent
    BadLocalHeader, // local header missing, cut short or naming another entry
    Unsupported,    // ZIP64, several disks, encryption or a method other than 0 and 8
    BadData,        // the compressed data does not inflate to the recorded size
    BadCrc,         // the data does not match its CRC-32
    TooLarge,       // the entry is larger than the caller accepts
};

// A short English description of an error ("CRC mismatch", ...).
const char* describeZipError(ZipError error);

class ZipReader {
public:
    struct Entry {
        std::string name; // as stored (UTF-8 or the archive's code page)
        std::uint16_t flags = 0;
        std::uint16_t method = 0;
        std::uint32_t crc = 0;
        std::uint32_t compressedSize = 0;
        std::uint32_t uncompressedSize = 0;
        std::uint32_t localHeaderOffset = 0;
    };

    // Reads the directory of `archive`, which must stay alive while the reader is used.
    ZipError open(std::span<const std::uint8_t> archive);

    const std::vector<Entry>& entries() const { return entries_; }

    // Extracts `entry` (one of entries()) into `out`; entries larger than `limit` bytes
    // (uncompressed) are refused with TooLarge before anything is inflated.
    ZipError extract(const Entry& entry, std::vector<std::uint8_t>& out, std::size_t limit) const;

private:
    std::span<const std::uint8_t> data_;
    std::vector<Entry> entries_;
};

} // namespace norv::platform::media
