#include "archive/ZipWriter.h"

#include "archive/Crc32.h"
#include "archive/Deflater.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <ctime>
#include <new>
#include <span>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace norv::archive {
namespace {

constexpr std::uint16_t kVersionMadeBy = 0x0B17;
constexpr std::uint16_t kVersionNeeded = 20;
constexpr std::uint16_t kFlagDataDescriptor = 0x0008;
constexpr int kLevel = 8;
constexpr std::uint32_t kNoSize = 0xFFFFFFFFu;
constexpr std::uint32_t kLocalSignature = 0x04034B50;
constexpr std::uint32_t kCentralSignature = 0x02014B50;
constexpr std::uint32_t kEndSignature = 0x06054B50;
constexpr std::uint32_t kDescriptorSignature = 0x08074B50;
constexpr std::size_t kLocalHeaderSize = 30;
constexpr std::size_t kCentralHeaderSize = 46;
constexpr std::size_t kDescriptorSize = 16;

// DOS attribute bits of a source.
constexpr std::uint32_t kDosReadOnly = 0x01;
constexpr std::uint32_t kDosDirectory = 0x10;

std::atomic<std::uint32_t> gLastCreateResult{0};

class UniqueFd {
public:
    explicit UniqueFd(int fd) : fd_(fd) {}
    ~UniqueFd() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

// Little-endian fields appended to a byte vector.
void put16(std::vector<std::uint8_t>& out, std::uint32_t v) {
    out.push_back(static_cast<std::uint8_t>(v));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
}

void put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    put16(out, v & 0xFFFF);
    put16(out, v >> 16);
}

void put32(std::uint8_t* out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        out[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// DOS time and date of a moment, taken in UTC. Moments outside the years the format can
// hold (1980 to 2107) are clamped to its first or last second.
void dosDateTime(std::int64_t unixSeconds, std::uint16_t& time, std::uint16_t& date) {
    std::tm tm{};
    const std::time_t t = static_cast<std::time_t>(unixSeconds);
    if (::gmtime_r(&t, &tm) == nullptr || tm.tm_year < 80) {
        time = 0;
        date = (1 << 5) | 1; // 1980-01-01 00:00:00
        return;
    }
    if (tm.tm_year > 80 + 127) {
        time = static_cast<std::uint16_t>((23 << 11) | (59 << 5) | 29);
        date = static_cast<std::uint16_t>((127 << 9) | (12 << 5) | 31);
        return;
    }
    date = static_cast<std::uint16_t>(((tm.tm_year - 80) & 0x7F) << 9 | (tm.tm_mon + 1) << 5 |
                                      tm.tm_mday);
    time = static_cast<std::uint16_t>(tm.tm_hour << 11 | tm.tm_min << 5 | tm.tm_sec / 2);
}

std::ptrdiff_t readSome(int fd, std::uint8_t* buffer, std::size_t size) {
    for (;;) {
        const ssize_t n = ::read(fd, buffer, size);
        if (n >= 0 || errno != EINTR)
            return n;
    }
}

} // namespace

std::uint16_t zipMethodForName(std::string_view entryName) {
    static constexpr std::string_view kStoredSuffixes[] = {".Z",   ".zip", ".zoo", ".arc",
                                                           ".lzh", ".arj", ".gz",  ".tgz"};
    const std::size_t dot = entryName.rfind('.');
    if (dot == std::string_view::npos)
        return kZipDeflated;
    const std::string_view suffix = entryName.substr(dot);
    for (const std::string_view candidate : kStoredSuffixes) {
        if (std::equal(suffix.begin(), suffix.end(), candidate.begin(), candidate.end(),
                       [](char a, char b) {
                           return std::tolower(static_cast<unsigned char>(a)) ==
                                  std::tolower(static_cast<unsigned char>(b));
                       }))
            return kZipStored;
    }
    return kZipDeflated;
}

// Feeds the compressor from the source, keeping the CRC and the count of bytes read, and
// writes its output to the archive.
class ZipWriter::EntryStream final : public DeflateStream {
public:
    EntryStream(ZipWriter& writer, int sourceFd) : writer_(writer), sourceFd_(sourceFd) {}

    std::ptrdiff_t read(std::span<std::uint8_t> buffer) override {
        const std::ptrdiff_t n = readSome(sourceFd_, buffer.data(), buffer.size());
        if (n < 0) {
            readFailed = true;
            return -1;
        }
        crc.update(buffer.first(static_cast<std::size_t>(n)));
        bytesRead += static_cast<std::uint64_t>(n);
        return n;
    }

    bool write(std::span<const std::uint8_t> data) override {
        std::size_t written = 0;
        const bool ok = writer_.writeOut(data.data(), data.size(), &written);
        bytesWritten += written;
        return ok;
    }

    Crc32 crc;
    std::uint64_t bytesRead = 0;
    std::uint64_t bytesWritten = 0;
    bool readFailed = false;

private:
    ZipWriter& writer_;
    int sourceFd_;
};

std::unique_ptr<ZipWriter> ZipWriter::create(int fd) {
    if (fd < 0 || ::fcntl(fd, F_GETFL) == -1) {
        gLastCreateResult = ZipResult::badArgument;
        return nullptr;
    }
    const off_t position = ::lseek(fd, 0, SEEK_CUR);
    const bool seekable = position != -1;
    std::unique_ptr<ZipWriter> writer(new (std::nothrow) ZipWriter(
        fd, seekable, seekable ? static_cast<std::uint64_t>(position) : 0));
    gLastCreateResult = writer ? ZipResult::ok : ZipResult::noOutput;
    return writer;
}

std::uint32_t ZipWriter::lastCreateResult() {
    return gLastCreateResult;
}

ZipWriter::ZipWriter(int fd, bool seekable, std::uint64_t base)
    : fd_(fd), seekable_(seekable), base_(base) {}

ZipWriter::~ZipWriter() = default;

std::uint32_t ZipWriter::add(const std::string& sourcePath) {
    return addEntry(sourcePath, kEntryName);
}

std::uint32_t ZipWriter::addEntry(const std::string& sourcePath, std::string_view entryName) {
    if (error_ != 0)
        return ZipResult::failedEarlier;
    if (closed_)
        return ZipResult::alreadyClosed;
    std::uint32_t result;
    try {
        result = writeEntry(sourcePath, entryName);
    } catch (const std::bad_alloc&) {
        result = ZipResult::writeFailed;
    }
    if (result != ZipResult::ok)
        error_ = result;
    return result;
}

bool ZipWriter::writeOut(const std::uint8_t* data, std::size_t size, std::size_t* written) {
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::write(fd_, data + done, size - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += static_cast<std::size_t>(n);
    }
    written_ += done;
    if (written != nullptr)
        *written = done;
    return done == size;
}

std::vector<std::uint8_t> ZipWriter::header(const Entry& e, Header kind) {
    const bool central = kind == Header::central;
    const std::span<const std::uint8_t> extra = central
                                                    ? std::span<const std::uint8_t>(e.centralExtra)
                                                    : std::span<const std::uint8_t>(e.localExtra);
    std::vector<std::uint8_t> h;
    h.reserve((central ? kCentralHeaderSize : kLocalHeaderSize) + e.name.size() + extra.size());
    put32(h, central ? kCentralSignature : kLocalSignature);
    if (central)
        put16(h, e.versionMadeBy);
    put16(h, e.versionNeeded);
    put16(h, central ? e.flags : e.localFlags);
    put16(h, e.method);
    put16(h, e.dosTime);
    put16(h, e.dosDate);
    put32(h, e.crc);
    put32(h, e.compressedSize);
    put32(h, e.uncompressedSize);
    put16(h, static_cast<std::uint32_t>(e.name.size()));
    put16(h, static_cast<std::uint32_t>(extra.size()));
    if (central) {
        put16(h, 0); // comment length
        put16(h, 0); // disk number start
        put16(h, 0); // internal attributes
        put32(h, e.externalAttributes);
        put32(h, e.localHeaderOffset);
    }
    h.insert(h.end(), e.name.begin(), e.name.end());
    h.insert(h.end(), extra.begin(), extra.end());
    return h;
}

std::uint32_t ZipWriter::writeEntry(const std::string& sourcePath, std::string_view entryName) {
    Entry e;
    e.name.assign(entryName);
    std::replace(e.name.begin(), e.name.end(), '\\', '/');
    if (e.name.empty() || e.name.size() > 0xFFFF)
        return ZipResult::badArgument;
    e.method = zipMethodForName(e.name);

    if (sourcePath.empty())
        return ZipResult::badArgument;
    const UniqueFd source(::open(sourcePath.c_str(), O_RDONLY | O_CLOEXEC));
    if (source.get() < 0)
        return ZipResult::sourceFailed;

    // What the headers say about the source. Without a seekable output the source's size
    // is not taken (the data descriptor carries it) and the times are the current time.
    bool hasSize = false;
    std::uint64_t size = 0;
    std::uint32_t dosAttributes = 0;
    bool directory = false;
    std::int64_t modified;
    std::int64_t accessed;
    std::int64_t changed;
    if (seekable_) {
        struct stat st {};
        if (::fstat(source.get(), &st) != 0 || ::lseek(source.get(), 0, SEEK_SET) == -1)
            return ZipResult::sourceFailed;
        hasSize = true;
        size = static_cast<std::uint64_t>(st.st_size);
        directory = S_ISDIR(st.st_mode);
        if (directory)
            dosAttributes |= kDosDirectory;
        if ((st.st_mode & S_IWUSR) == 0)
            dosAttributes |= kDosReadOnly;
        modified = st.st_mtim.tv_sec;
        accessed = st.st_atim.tv_sec;
        changed = st.st_ctim.tv_sec;
    } else {
        modified = accessed = changed = static_cast<std::int64_t>(std::time(nullptr));
    }
    // Without ZIP64 neither sizes nor offsets can pass 4 GiB, nor the entries 16 bits
    // (all ones would mark a ZIP64 record).
    if (size > 0xFFFFFFFEu || base_ + written_ > 0xFFFFFFFFu || entries_.size() >= 0xFFFEu)
        return ZipResult::badArgument;

    const std::uint32_t unixMode = (directory ? 0x4000u : 0x8000u) | 0x0100u |
                                   ((dosAttributes & kDosReadOnly) != 0 ? 0u : 0x0080u);
    e.versionMadeBy = kVersionMadeBy;
    e.versionNeeded = kVersionNeeded;
    e.flags = kFlagDataDescriptor;
    e.localFlags = e.flags;
    dosDateTime(modified, e.dosTime, e.dosDate);
    e.crc = 0;
    e.compressedSize = e.method == kZipStored ? static_cast<std::uint32_t>(size) : 0;
    e.uncompressedSize = hasSize ? static_cast<std::uint32_t>(size) : kNoSize;
    e.externalAttributes = dosAttributes | unixMode << 16;
    e.localHeaderOffset = static_cast<std::uint32_t>(base_ + written_);
    e.localExtra = {'U', 'T', 13, 0, 7};
    put32(e.localExtra.data() + 5, static_cast<std::uint32_t>(modified));
    put32(e.localExtra.data() + 9, static_cast<std::uint32_t>(accessed));
    put32(e.localExtra.data() + 13, static_cast<std::uint32_t>(changed));
    e.centralExtra = {'U', 'T', 5, 0, 7};
    put32(e.centralExtra.data() + 5, static_cast<std::uint32_t>(modified));
    const std::uint16_t declaredMethod = e.method;
    const std::uint32_t declaredCompressedSize = e.compressedSize;

    const std::vector<std::uint8_t> local = header(e, Header::local);
    if (!writeOut(local.data(), local.size()))
        return ZipResult::writeFailed;

    EntryStream stream(*this, source.get());
    std::uint32_t dataResult = ZipResult::ok;
    if (e.method == kZipStored) {
        dataResult = storeData(stream);
    } else {
        if (!deflater_) {
            try {
                deflater_ = std::make_unique<Deflater>();
            } catch (const std::bad_alloc&) {
                return ZipResult::compressorFailed;
            }
        }
        switch (deflater_->compress(kLevel, stream, buffer_)) {
        case Deflater::Result::ok:
            break;
        case Deflater::Result::readFailed:
            dataResult = ZipResult::sourceFailed;
            break;
        case Deflater::Result::writeFailed:
            dataResult = ZipResult::writeFailed;
            break;
        case Deflater::Result::internalError:
            dataResult = ZipResult::compressorFailed;
            break;
        }
        e.flags |= Deflater::generalPurposeFlags(kLevel);
    }

    if (stream.readFailed)
        return ZipResult::sourceFailed;
    if (hasSize && stream.bytesRead != size)
        return ZipResult::sizeMismatch;
    if (dataResult != ZipResult::ok)
        return dataResult;
    if (stream.bytesRead > 0xFFFFFFFFu || stream.bytesWritten > 0xFFFFFFFFu)
        return ZipResult::sizeMismatch;

    e.crc = stream.crc.value();
    e.compressedSize = static_cast<std::uint32_t>(stream.bytesWritten);
    e.uncompressedSize = static_cast<std::uint32_t>(stream.bytesRead);

    if (seekable_) {
        e.flags &= static_cast<std::uint16_t>(~kFlagDataDescriptor);
        e.localFlags = e.flags;
        if (::lseek(fd_, static_cast<off_t>(e.localHeaderOffset), SEEK_SET) == -1)
            return ZipResult::cannotSeek;
        const std::vector<std::uint8_t> final = header(e, Header::local);
        const std::uint64_t end = written_;
        const bool rewritten = writeOut(final.data(), final.size());
        written_ = end; // the header was replaced, not added
        if (!rewritten)
            return ZipResult::writeFailed;
        if (::lseek(fd_, static_cast<off_t>(base_ + written_), SEEK_SET) == -1)
            return ZipResult::cannotSeek;
    } else {
        if (e.method != declaredMethod ||
            (e.method == kZipStored && e.compressedSize != declaredCompressedSize))
            return ZipResult::entryChanged;
        std::array<std::uint8_t, kDescriptorSize> descriptor{};
        put32(descriptor.data(), kDescriptorSignature);
        put32(descriptor.data() + 4, e.crc);
        put32(descriptor.data() + 8, e.compressedSize);
        put32(descriptor.data() + 12, e.uncompressedSize);
        if (!writeOut(descriptor.data(), descriptor.size()))
            return ZipResult::writeFailed;
        e.flags = e.localFlags;
    }
    entries_.push_back(std::move(e));
    return ZipResult::ok;
}

// Copies the source unchanged in transfer-buffer chunks.
std::uint32_t ZipWriter::storeData(EntryStream& stream) {
    for (;;) {
        const std::ptrdiff_t n = stream.read(buffer_);
        if (n <= 0)
            return ZipResult::ok; // a read failure is reported by the caller
        if (!stream.write(
                std::span<const std::uint8_t>(buffer_).first(static_cast<std::size_t>(n))))
            return ZipResult::sizeMismatch;
    }
}

std::uint32_t ZipWriter::close() {
    if (closed_)
        return ZipResult::ok;
    closed_ = true;
    const std::uint64_t centralStart = base_ + written_;
    // The end record holds the directory's offset in 32 bits: past that the archive
    // cannot be finished.
    if (centralStart > 0xFFFFFFFFu)
        return ZipResult::badArgument;
    std::uint32_t result = ZipResult::ok;
    for (const Entry& e : entries_) {
        const std::vector<std::uint8_t> h = header(e, Header::central);
        if (!writeOut(h.data(), h.size())) {
            result = ZipResult::writeFailed;
            break;
        }
    }
    if (result == ZipResult::ok) {
        const std::uint64_t centralSize = base_ + written_ - centralStart;
        const auto count = static_cast<std::uint32_t>(entries_.size());
        std::vector<std::uint8_t> h;
        put32(h, kEndSignature);
        put16(h, 0); // this disk
        put16(h, 0); // disk of the central directory
        put16(h, count);
        put16(h, count);
        put32(h, static_cast<std::uint32_t>(centralSize));
        put32(h, static_cast<std::uint32_t>(centralStart));
        put16(h, 0); // comment length
        if (!writeOut(h.data(), h.size()))
            result = ZipResult::writeFailed;
    }
    return result;
}

} // namespace norv::archive
