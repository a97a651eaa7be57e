#include "platform/media/ZipReader.h"

#include <zlib.h>

#include <algorithm>
#include <limits>

namespace norv::platform::media {

namespace {

constexpr std::uint32_t kLocalSignature = 0x04034B50;
constexpr std::uint32_t kCentralSignature = 0x02014B50;
constexpr std::uint32_t kEndSignature = 0x06054B50;
constexpr std::size_t kLocalHeaderSize = 30;
constexpr std::size_t kCentralHeaderSize = 46;
constexpr std::size_t kEndRecordSize = 22;
constexpr std::size_t kMaxCommentSize = 0xFFFF;
constexpr std::uint16_t kFlagEncrypted = 0x0001;
constexpr std::uint16_t kFlagDescriptor = 0x0008;

std::uint16_t read16(std::span<const std::uint8_t> data, std::size_t at) {
    return static_cast<std::uint16_t>(data[at] | (data[at + 1] << 8));
}

std::uint32_t read32(std::span<const std::uint8_t> data, std::size_t at) {
    return static_cast<std::uint32_t>(data[at]) | (static_cast<std::uint32_t>(data[at + 1]) << 8) |
           (static_cast<std::uint32_t>(data[at + 2]) << 16) |
           (static_cast<std::uint32_t>(data[at + 3]) << 24);
}

// Whether [offset, offset + length) lies inside a block of `size` bytes.
bool inside(std::size_t size, std::uint64_t offset, std::uint64_t length) {
    return offset <= size && length <= size - offset;
}

// The end record: the last signature whose record and comment fit the archive.
bool findEndRecord(std::span<const std::uint8_t> data, std::size_t& at) {
    if (data.size() < kEndRecordSize)
        return false;
    std::size_t last = data.size() - kEndRecordSize;
    std::size_t first = last > kMaxCommentSize ? last - kMaxCommentSize : 0;
    for (std::size_t i = last + 1; i-- > first;) {
        if (read32(data, i) != kEndSignature)
            continue;
        std::size_t comment = read16(data, i + 20);
        if (i + kEndRecordSize + comment <= data.size()) {
            at = i;
            return true;
        }
    }
    return false;
}

std::uint32_t crcOf(const std::vector<std::uint8_t>& bytes) {
    uLong crc = crc32(0L, Z_NULL, 0);
    // zlib takes lengths as uInt; an entry is at most 4 GiB - 1 but feed it in pieces.
    const std::uint8_t* p = bytes.data();
    std::size_t left = bytes.size();
    while (left > 0) {
        auto piece = static_cast<uInt>(std::min<std::size_t>(left, 1u << 30));
        crc = crc32(crc, p, piece);
        p += piece;
        left -= piece;
    }
    return static_cast<std::uint32_t>(crc);
}

ZipError inflateRaw(std::span<const std::uint8_t> in, std::vector<std::uint8_t>& out) {
    z_stream stream{};
    if (inflateInit2(&stream, -MAX_WBITS) != Z_OK)
        return ZipError::BadData;
    stream.next_in = const_cast<Bytef*>(in.data());
    stream.avail_in = static_cast<uInt>(in.size());
    // zlib wants an output pointer even when there is no room (an empty entry).
    Bytef none = 0;
    stream.next_out = out.empty() ? &none : out.data();
    stream.avail_out = static_cast<uInt>(out.size());
    int status = inflate(&stream, Z_FINISH);
    // The stream must end exactly where the recorded size says: not earlier, not later.
    bool complete = status == Z_STREAM_END && stream.total_out == out.size();
    inflateEnd(&stream);
    return complete ? ZipError::None : ZipError::BadData;
}

} // namespace

const char* describeZipError(ZipError error) {
    switch (error) {
    case ZipError::None:
        return "no error";
    case ZipError::NotZip:
        return "not a ZIP archive";
    case ZipError::BadDirectory:
        return "the central directory is damaged or cut short";
    case ZipError::BadLocalHeader:
        return "a local header is damaged or does not match the central directory";
    case ZipError::Unsupported:
        return "the archive uses a feature the reader does not support";
    case ZipError::BadData:
        return "the compressed data is damaged";
    case ZipError::BadCrc:
        return "CRC mismatch";
    case ZipError::TooLarge:
        return "the entry is too large";
    }
    return "unknown error";
}

ZipError ZipReader::open(std::span<const std::uint8_t> archive) {
    data_ = archive;
    entries_.clear();
    std::size_t end = 0;
    if (!findEndRecord(archive, end)) {
        bool looksLikeZip = archive.size() >= 4 && read32(archive, 0) == kLocalSignature;
        return looksLikeZip ? ZipError::BadDirectory : ZipError::NotZip;
    }
    std::uint16_t disk = read16(archive, end + 4);
    std::uint16_t directoryDisk = read16(archive, end + 6);
    std::uint16_t entriesHere = read16(archive, end + 8);
    std::uint16_t entriesTotal = read16(archive, end + 10);
    std::uint32_t directorySize = read32(archive, end + 12);
    std::uint32_t directoryOffset = read32(archive, end + 16);
    if (entriesTotal == 0xFFFF || directorySize == 0xFFFFFFFF || directoryOffset == 0xFFFFFFFF)
        return ZipError::Unsupported; // ZIP64
    if (disk != 0 || directoryDisk != 0 || entriesHere != entriesTotal)
        return ZipError::Unsupported;
    if (!inside(end, directoryOffset, directorySize))
        return ZipError::BadDirectory;

    std::size_t at = directoryOffset;
    const std::size_t directoryEnd = static_cast<std::size_t>(directoryOffset) + directorySize;
    for (std::uint32_t i = 0; i < entriesTotal; ++i) {
        if (!inside(directoryEnd, at, kCentralHeaderSize) ||
            read32(archive, at) != kCentralSignature)
            return ZipError::BadDirectory;
        Entry entry;
        entry.flags = read16(archive, at + 8);
        entry.method = read16(archive, at + 10);
        entry.crc = read32(archive, at + 16);
        entry.compressedSize = read32(archive, at + 20);
        entry.uncompressedSize = read32(archive, at + 24);
        std::size_t nameLength = read16(archive, at + 28);
        std::size_t extraLength = read16(archive, at + 30);
        std::size_t commentLength = read16(archive, at + 32);
        entry.localHeaderOffset = read32(archive, at + 42);
        std::size_t variable = nameLength + extraLength + commentLength;
        if (!inside(directoryEnd, at + kCentralHeaderSize, variable))
            return ZipError::BadDirectory;
        entry.name.assign(reinterpret_cast<const char*>(archive.data() + at + kCentralHeaderSize),
                          nameLength);
        at += kCentralHeaderSize + variable;
        entries_.push_back(std::move(entry));
    }
    if (at != directoryEnd)
        return ZipError::BadDirectory;
    return ZipError::None;
}

ZipError ZipReader::extract(const Entry& entry, std::vector<std::uint8_t>& out,
                            std::size_t limit) const {
    out.clear();
    if (entry.flags & kFlagEncrypted)
        return ZipError::Unsupported;
    if (entry.method != 0 && entry.method != 8)
        return ZipError::Unsupported;
    if (entry.uncompressedSize > limit)
        return ZipError::TooLarge;

    const std::size_t at = entry.localHeaderOffset;
    if (!inside(data_.size(), at, kLocalHeaderSize) || read32(data_, at) != kLocalSignature)
        return ZipError::BadLocalHeader;
    std::uint16_t flags = read16(data_, at + 6);
    std::uint16_t method = read16(data_, at + 8);
    std::uint32_t crc = read32(data_, at + 14);
    std::size_t nameLength = read16(data_, at + 26);
    std::size_t extraLength = read16(data_, at + 28);
    if (!inside(data_.size(), at + kLocalHeaderSize, nameLength + extraLength))
        return ZipError::BadLocalHeader;
    std::string_view name(reinterpret_cast<const char*>(data_.data() + at + kLocalHeaderSize),
                          nameLength);
    if (name != entry.name || method != entry.method || (flags & kFlagEncrypted))
        return ZipError::BadLocalHeader;
    const std::size_t dataStart = at + kLocalHeaderSize + nameLength + extraLength;
    if (!inside(data_.size(), dataStart, entry.compressedSize))
        return ZipError::BadLocalHeader;
    std::span<const std::uint8_t> compressed = data_.subspan(dataStart, entry.compressedSize);

    out.resize(entry.uncompressedSize);
    if (entry.method == 0) {
        if (entry.compressedSize != entry.uncompressedSize)
            return ZipError::BadData;
        std::copy(compressed.begin(), compressed.end(), out.begin());
    } else if (ZipError error = inflateRaw(compressed, out); error != ZipError::None) {
        out.clear();
        return error;
    }
    std::uint32_t actual = crcOf(out);
    // Without a data descriptor the local header carries the CRC as well; both must hold.
    bool localCrcDiffers = !(flags & kFlagDescriptor) && crc != actual;
    if (actual != entry.crc || localCrcDiffers) {
        out.clear();
        return ZipError::BadCrc;
    }
    return ZipError::None;
}

} // namespace norv::platform::media
