#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace norv::archive {

class Deflater;

// Result codes of ZipWriter; 0 is success.
struct ZipResult {
    static constexpr std::uint32_t ok = 0;
    static constexpr std::uint32_t sourceFailed = 0x00000200; // open, information or read
    static constexpr std::uint32_t writeFailed = 0x00000400;  // archive output failed
    static constexpr std::uint32_t badArgument = 0x00010000;
    static constexpr std::uint32_t memoryFull = 0x00030000; // memory output (not offered)
    static constexpr std::uint32_t failedEarlier = 0x00040000;
    static constexpr std::uint32_t alreadyClosed = 0x00050000;
    static constexpr std::uint32_t sizeMismatch = 0x00060000;
    static constexpr std::uint32_t noOutput = 0x01000000;
    static constexpr std::uint32_t cannotSeek = 0x02000000;
    static constexpr std::uint32_t entryChanged = 0x04000000;
    static constexpr std::uint32_t compressorFailed = 0x05000000;
};

// ZIP compression methods.
inline constexpr std::uint16_t kZipStored = 0;
inline constexpr std::uint16_t kZipDeflated = 8;

// The method for an entry name: stored when the name ends, from its last '.', in one of the
// suffixes of already compressed data (".Z", ".zip", ".zoo", ".arc", ".lzh", ".arj", ".gz",
// ".tgz", compared without regard to case); deflated otherwise, also without a '.'.
std::uint16_t zipMethodForName(std::string_view entryName);

// Writes a ZIP archive (no ZIP64, no comments) into a file descriptor owned by the caller:
// one local header and data per added file, then the central directory and the end record
// on close(). Entries are compressed with the program's own Deflater at level 8.
//
// On a descriptor that can seek, each local header is rewritten with the CRC and sizes once
// the data is written; on one that cannot (a pipe), the headers keep flag bit 3 and a data
// descriptor follows the data. The first failure is sticky: later adds return
// ZipResult::failedEarlier. Nothing throws.
class ZipWriter {
public:
    // The only name the writer gives an entry: the player's skin definition.
    static constexpr std::string_view kEntryName = "wmpsrv.wms";
    static constexpr std::size_t kTransferBufferSize = 16 * 1024;

    // Starts an archive at fd's current offset (0 when fd cannot seek). Null when the
    // writer cannot be made; lastCreateResult() holds the reason of the last call.
    static std::unique_ptr<ZipWriter> create(int fd);
    static std::uint32_t lastCreateResult();

    ~ZipWriter();
    ZipWriter(const ZipWriter&) = delete;
    ZipWriter& operator=(const ZipWriter&) = delete;

    // Adds the file at sourcePath under kEntryName.
    std::uint32_t add(const std::string& sourcePath);

    // Writes the central directory and the end record, once; later adds are refused. The
    // descriptor stays open.
    std::uint32_t close();

private:
    struct Entry {
        std::uint16_t versionMadeBy = 0;
        std::uint16_t versionNeeded = 0;
        std::uint16_t flags = 0;
        std::uint16_t method = 0;
        std::uint16_t dosTime = 0;
        std::uint16_t dosDate = 0;
        std::uint32_t crc = 0;
        std::uint32_t compressedSize = 0;
        std::uint32_t uncompressedSize = 0;
        std::uint16_t localFlags = 0;
        std::uint32_t externalAttributes = 0;
        std::uint32_t localHeaderOffset = 0; // absolute file position
        std::string name;
        std::array<std::uint8_t, 17> localExtra{};
        std::array<std::uint8_t, 9> centralExtra{};
    };
    class EntryStream;
    friend class ZipWriterTestAccess;

    ZipWriter(int fd, bool seekable, std::uint64_t base);

    // Adds sourcePath under entryName, which decides the method.
    std::uint32_t addEntry(const std::string& sourcePath, std::string_view entryName);
    std::uint32_t writeEntry(const std::string& sourcePath, std::string_view entryName);
    std::uint32_t storeData(EntryStream& stream);
    bool writeOut(const std::uint8_t* data, std::size_t size, std::size_t* written = nullptr);
    // The local header (before the entry's data) or the central one (in the directory).
    enum class Header { local, central };
    static std::vector<std::uint8_t> header(const Entry& entry, Header kind);

    int fd_;
    bool seekable_;
    std::uint64_t base_;        // offset of the archive's start in the file
    std::uint64_t written_ = 0; // bytes written since base_
    std::uint32_t error_ = 0;   // sticky
    bool closed_ = false;
    std::vector<Entry> entries_; // for the central directory, in order
    std::array<std::uint8_t, kTransferBufferSize> buffer_{};
    std::unique_ptr<Deflater> deflater_; // made for the first deflated entry
};

} // namespace norv::archive
