#include "archive/ZipWriter.h"
#include "archive/Crc32.h"
#include "tests/archive/InflateTrace.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <csignal>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace norv::archive {

// Reaches the writer's entry-name path, which the public interface fixes to one name.
class ZipWriterTestAccess {
public:
    static std::uint32_t addAs(ZipWriter& writer, const std::string& path, std::string_view name) {
        return writer.addEntry(path, name);
    }
};

namespace {

using Bytes = std::vector<std::uint8_t>;
namespace fs = std::filesystem;

const std::string kSkin = "<THEME><VIEW onload=\"wmpsrv.audio =eq; wmpsrv.video =vs;\">"
                          "<VIDEOSETTINGS id=\"vs\"/><EQUALIZERSETTINGS id=\"eq\"/></VIEW>"
                          "</THEME>";

class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd() { reset(); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    void reset() {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
    }

private:
    int fd_;
};

std::uint16_t u16(const Bytes& b, std::size_t at) {
    return static_cast<std::uint16_t>(b.at(at) | b.at(at + 1) << 8);
}

std::uint32_t u32(const Bytes& b, std::size_t at) {
    return static_cast<std::uint32_t>(u16(b, at)) | static_cast<std::uint32_t>(u16(b, at + 2))
                                                        << 16;
}

Bytes readAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

bool haveTool(const char* name) {
    return std::system(("command -v " + std::string(name) + " >/dev/null 2>&1").c_str()) == 0;
}

// The fields of a one-entry archive, read back from its bytes.
struct Parsed {
    std::size_t local = 0;   // local header offset
    std::size_t data = 0;    // first data byte
    std::size_t central = 0; // central header offset
    std::size_t end = 0;     // end record offset
};

Parsed parse(const Bytes& zip, std::size_t base = 0) {
    Parsed p;
    p.end = zip.size() - 22;
    EXPECT_EQ(u32(zip, p.end), 0x06054B50u);
    p.central = u32(zip, p.end + 16);
    p.local = base;
    EXPECT_EQ(u32(zip, p.local), 0x04034B50u);
    EXPECT_EQ(u32(zip, p.central), 0x02014B50u);
    p.data = p.local + 30 + u16(zip, p.local + 26) + u16(zip, p.local + 28);
    return p;
}

Bytes inflateRaw(const Bytes& zip, std::size_t from, std::size_t size) {
    const auto trace = test::traceInflate(std::span<const std::uint8_t>(zip).subspan(from, size));
    EXPECT_TRUE(trace.ok) << trace.error;
    return trace.data;
}

class ZipWriterTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "zipwriter-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }

    std::string file(const std::string& name, const Bytes& content) {
        const fs::path path = dir_ / name;
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(content.data()),
                   static_cast<std::streamsize>(content.size()));
        return path.string();
    }
    std::string file(const std::string& name, const std::string& content) {
        return file(name, Bytes(content.begin(), content.end()));
    }
    int openArchive(const std::string& name = "out.wmz") {
        archivePath_ = (dir_ / name).string();
        return ::open(archivePath_.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    }

    // Both unzip and Python's zipfile accept the archive and find source's content under
    // the entry name. Called last in a test: without the tools, the test is skipped after
    // its own checks.
    void expectToolsAccept(const std::string& archive, const std::string& source,
                           const std::string& entry = "wmpsrv.wms") {
        const bool unzip = haveTool("unzip");
        const bool python = haveTool("python3");
        if (unzip) {
            EXPECT_EQ(std::system(("unzip -tqq '" + archive + "' >/dev/null 2>&1").c_str()), 0)
                << "unzip -t rejects " << archive;
        }
        if (python) {
            const std::string script =
                "import sys, zipfile\n"
                "z = zipfile.ZipFile(sys.argv[1])\n"
                "assert z.testzip() is None\n"
                "assert z.read(sys.argv[3]) == open(sys.argv[2], 'rb').read()\n";
            const std::string scriptPath = file("check.py", script);
            EXPECT_EQ(std::system(("python3 '" + scriptPath + "' '" + archive + "' '" + source +
                                   "' '" + entry + "'")
                                      .c_str()),
                      0)
                << "zipfile rejects " << archive;
        }
        if (!unzip || !python)
            GTEST_SKIP() << "unzip or python3 is not installed";
    }

    fs::path dir_;
    std::string archivePath_;
};

TEST_F(ZipWriterTest, SkinArchiveHasTheExpectedHeaders) {
    const std::string source = file("skin.xml", kSkin);
    Fd out(openArchive());
    auto writer = ZipWriter::create(out.get());
    ASSERT_TRUE(writer);
    EXPECT_EQ(ZipWriter::lastCreateResult(), ZipResult::ok);
    EXPECT_EQ(writer->add(source), ZipResult::ok);
    EXPECT_EQ(writer->close(), ZipResult::ok);
    out.reset();

    const Bytes zip = readAll(archivePath_);
    const Parsed p = parse(zip);
    const std::uint32_t crc =
        Crc32::of({reinterpret_cast<const std::uint8_t*>(kSkin.data()), kSkin.size()});
    EXPECT_EQ(crc, ::crc32(0, reinterpret_cast<const Bytef*>(kSkin.data()), 125));

    // Local header.
    EXPECT_EQ(u16(zip, 4), 20);
    EXPECT_EQ(u16(zip, 6), 0x0002);
    EXPECT_EQ(u16(zip, 8), 8);
    EXPECT_EQ(u32(zip, 14), crc);
    const std::uint32_t compressed = u32(zip, 18);
    EXPECT_EQ(u32(zip, 22), 125u);
    EXPECT_EQ(u16(zip, 26), 10);
    EXPECT_EQ(u16(zip, 28), 17);
    EXPECT_EQ(std::string(zip.begin() + 30, zip.begin() + 40), "wmpsrv.wms");
    EXPECT_EQ(u16(zip, 40), 0x5455);
    EXPECT_EQ(u16(zip, 42), 13);
    EXPECT_EQ(zip[44], 7);
    const Bytes content = inflateRaw(zip, p.data, compressed);
    EXPECT_EQ(std::string(content.begin(), content.end()), kSkin);
    EXPECT_EQ(p.data + compressed, p.central); // no data descriptor

    // Central header.
    const std::size_t c = p.central;
    EXPECT_EQ(u16(zip, c + 4), 0x0B17);
    EXPECT_EQ(u16(zip, c + 6), 20);
    EXPECT_EQ(u16(zip, c + 8), 0x0002);
    EXPECT_EQ(u16(zip, c + 10), 8);
    EXPECT_EQ(u16(zip, c + 12), u16(zip, 10)); // DOS time
    EXPECT_EQ(u16(zip, c + 14), u16(zip, 12)); // DOS date
    EXPECT_EQ(u32(zip, c + 16), crc);
    EXPECT_EQ(u32(zip, c + 20), compressed);
    EXPECT_EQ(u32(zip, c + 24), 125u);
    EXPECT_EQ(u16(zip, c + 28), 10);
    EXPECT_EQ(u16(zip, c + 30), 9);
    EXPECT_EQ(u16(zip, c + 32), 0);
    EXPECT_EQ(u32(zip, c + 38), 0x81800000u); // a writable file
    EXPECT_EQ(u32(zip, c + 42), 0u);
    EXPECT_EQ(u16(zip, c + 56), 0x5455);
    EXPECT_EQ(u16(zip, c + 58), 5);
    EXPECT_EQ(u32(zip, c + 61), u32(zip, 45)); // the same modification time

    // End record.
    EXPECT_EQ(u16(zip, p.end + 8), 1);
    EXPECT_EQ(u16(zip, p.end + 10), 1);
    EXPECT_EQ(u32(zip, p.end + 12), 46u + 10 + 9);
    EXPECT_EQ(p.end, p.central + 46 + 10 + 9);
    EXPECT_EQ(u16(zip, p.end + 20), 0);

    expectToolsAccept(archivePath_, source);
}

TEST_F(ZipWriterTest, PipeOutputKeepsBitThreeAndWritesADataDescriptor) {
    const std::string source = file("skin.xml", kSkin);
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    Fd readEnd(fds[0]);
    Fd writeEnd(fds[1]);
    Bytes zip;
    std::thread reader([&] {
        std::uint8_t buf[4096];
        ssize_t n;
        while ((n = ::read(readEnd.get(), buf, sizeof buf)) > 0)
            zip.insert(zip.end(), buf, buf + n);
    });
    auto writer = ZipWriter::create(writeEnd.get());
    ASSERT_TRUE(writer);
    const std::uint32_t added = writer->add(source);
    const std::uint32_t closed = writer->close();
    writeEnd.reset();
    reader.join();
    EXPECT_EQ(added, ZipResult::ok);
    EXPECT_EQ(closed, ZipResult::ok);

    const Parsed p = parse(zip);
    const std::uint32_t crc = ::crc32(0, reinterpret_cast<const Bytef*>(kSkin.data()), 125);
    EXPECT_EQ(u16(zip, 6), 0x0008);
    EXPECT_EQ(u32(zip, 14), 0u);
    EXPECT_EQ(u32(zip, 18), 0u);
    EXPECT_EQ(u32(zip, 22), 0xFFFFFFFFu); // no size known when the header is written
    const std::uint32_t compressed = u32(zip, p.central + 20);
    const std::size_t descriptor = p.data + compressed;
    EXPECT_EQ(descriptor + 16, p.central);
    EXPECT_EQ(u32(zip, descriptor), 0x08074B50u);
    EXPECT_EQ(u32(zip, descriptor + 4), crc);
    EXPECT_EQ(u32(zip, descriptor + 8), compressed);
    EXPECT_EQ(u32(zip, descriptor + 12), 125u);
    EXPECT_EQ(u16(zip, p.central + 8), 0x0008);
    EXPECT_EQ(u32(zip, p.central + 16), crc);
    EXPECT_EQ(u32(zip, p.central + 24), 125u);
    EXPECT_EQ(u32(zip, p.central + 38), 0x81800000u);
    const Bytes content = inflateRaw(zip, p.data, compressed);
    EXPECT_EQ(std::string(content.begin(), content.end()), kSkin);

    const std::string saved = file("piped.wmz", zip);
    expectToolsAccept(saved, source);
}

TEST_F(ZipWriterTest, LargeEntriesAndOffsetsAfterExistingData) {
    // Text with a random stretch, crossing the compressor's window several times.
    std::mt19937 rng(1);
    Bytes big;
    while (big.size() < 400000) {
        const std::string line = "line " + std::to_string(rng() % 5000) + " of the archive\n";
        big.insert(big.end(), line.begin(), line.end());
    }
    for (std::size_t i = 100000; i < 160000; ++i)
        big[i] = static_cast<std::uint8_t>(rng());
    const std::string bigSource = file("big.txt", big);
    const std::string empty = file("empty", Bytes{});

    // The archive starts 100 bytes into the file: offsets are absolute.
    Fd out(openArchive());
    ASSERT_EQ(::write(out.get(), std::string(100, 'x').data(), 100), 100);
    auto writer = ZipWriter::create(out.get());
    ASSERT_TRUE(writer);
    EXPECT_EQ(writer->add(bigSource), ZipResult::ok);
    EXPECT_EQ(writer->add(empty), ZipResult::ok);
    EXPECT_EQ(writer->close(), ZipResult::ok);
    out.reset();

    const Bytes zip = readAll(archivePath_);
    const Parsed p = parse(zip, 100);
    EXPECT_EQ(u16(zip, p.end + 10), 2);
    const std::size_t c1 = p.central;
    EXPECT_EQ(u32(zip, c1 + 42), 100u);
    EXPECT_EQ(u32(zip, c1 + 24), big.size());
    EXPECT_EQ(inflateRaw(zip, p.data, u32(zip, c1 + 20)), big);

    // The empty entry: CRC 0, no data but one empty final block.
    const std::size_t c2 = c1 + 46 + 10 + 9;
    const std::size_t local2 = u32(zip, c2 + 42);
    EXPECT_EQ(local2, p.data + u32(zip, c1 + 20));
    EXPECT_EQ(u32(zip, c2 + 16), 0u);
    EXPECT_EQ(u32(zip, c2 + 24), 0u);
    EXPECT_EQ(u32(zip, c2 + 20), 2u);
    EXPECT_EQ(zip[local2 + 30 + 10 + 17], 0x03);
    EXPECT_EQ(u32(zip, p.end + 16), c1);

    if (!haveTool("unzip"))
        GTEST_SKIP() << "unzip is not installed";
    EXPECT_EQ(std::system(("unzip -tqq '" + archivePath_ + "' >/dev/null 2>&1").c_str()), 0);
}

TEST_F(ZipWriterTest, StoredSuffixesAndTheirEntries) {
    for (const char* name : {"a.Z", "a.z", "b.zip", "B.ZIP", "c.zoo", "d.arc", "e.lzh", "f.arj",
                             "g.gz", "data.GZ", "h.tgz", "dir.x/i.TGZ"})
        EXPECT_EQ(zipMethodForName(name), kZipStored) << name;
    for (const char* name :
         {"wmpsrv.wms", "noext", "a.gz.txt", "dir.gz/file", "a.zipx", "a.g", ".", "gz", ""})
        EXPECT_EQ(zipMethodForName(name), kZipDeflated) << name;

    const std::string text = "already compressed, or so the name says";
    const std::string source = file("data", text);
    Fd out(openArchive("stored.zip"));
    auto writer = ZipWriter::create(out.get());
    ASSERT_TRUE(writer);
    EXPECT_EQ(ZipWriterTestAccess::addAs(*writer, source, "data.GZ"), ZipResult::ok);
    EXPECT_EQ(writer->close(), ZipResult::ok);
    out.reset();
    const Bytes zip = readAll(archivePath_);
    const Parsed p = parse(zip);
    EXPECT_EQ(u16(zip, 6), 0);
    EXPECT_EQ(u16(zip, 8), 0);
    EXPECT_EQ(u32(zip, 18), text.size());
    EXPECT_EQ(u32(zip, 22), text.size());
    EXPECT_EQ(std::string(zip.begin() + static_cast<long>(p.data),
                          zip.begin() + static_cast<long>(p.data + text.size())),
              text);
    expectToolsAccept(archivePath_, source, "data.GZ");
}

TEST_F(ZipWriterTest, TimesAndAttributesComeFromTheSource) {
    const std::string source = file("skin.xml", kSkin);
    std::tm when{};
    when.tm_year = 2023 - 1900;
    when.tm_mon = 5;
    when.tm_mday = 15;
    when.tm_hour = 12;
    when.tm_min = 34;
    when.tm_sec = 56;
    const std::time_t modified = ::timegm(&when);
    const std::time_t accessed = modified + 86400;
    const timespec times[2] = {{accessed, 0}, {modified, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, source.c_str(), times, 0), 0);
    ASSERT_EQ(::chmod(source.c_str(), 0444), 0);
    struct stat st {};
    ASSERT_EQ(::stat(source.c_str(), &st), 0);

    Fd out(openArchive());
    auto writer = ZipWriter::create(out.get());
    ASSERT_TRUE(writer);
    ASSERT_EQ(writer->add(source), ZipResult::ok);
    ASSERT_EQ(writer->close(), ZipResult::ok);
    out.reset();
    const Bytes zip = readAll(archivePath_);
    const Parsed p = parse(zip);

    EXPECT_EQ(u16(zip, 10), 12 << 11 | 34 << 5 | 28);
    EXPECT_EQ(u16(zip, 12), (2023 - 1980) << 9 | 6 << 5 | 15);
    EXPECT_EQ(u32(zip, 45), static_cast<std::uint32_t>(modified));
    EXPECT_EQ(u32(zip, 49), static_cast<std::uint32_t>(accessed));
    EXPECT_EQ(u32(zip, 53), static_cast<std::uint32_t>(st.st_ctim.tv_sec));
    // Read-only: DOS bit 0x01 and no owner-write bit in the Unix mode.
    EXPECT_EQ(u32(zip, p.central + 38), 0x81000001u);
}

TEST_F(ZipWriterTest, FailuresAreStickyAndClosingIsFinal) {
    EXPECT_EQ(ZipWriter::create(-1), nullptr);
    EXPECT_EQ(ZipWriter::lastCreateResult(), ZipResult::badArgument);

    const std::string source = file("skin.xml", kSkin);
    {
        Fd out(openArchive());
        auto writer = ZipWriter::create(out.get());
        ASSERT_TRUE(writer);
        EXPECT_EQ(writer->add((dir_ / "missing").string()), ZipResult::sourceFailed);
        EXPECT_EQ(writer->add(source), ZipResult::failedEarlier);
    }
    {
        Fd out(openArchive());
        auto writer = ZipWriter::create(out.get());
        ASSERT_TRUE(writer);
        EXPECT_EQ(writer->add(""), ZipResult::badArgument);
        EXPECT_EQ(writer->add(source), ZipResult::failedEarlier);
    }
    {
        Fd out(openArchive());
        auto writer = ZipWriter::create(out.get());
        ASSERT_TRUE(writer);
        EXPECT_EQ(writer->add(source), ZipResult::ok);
        EXPECT_EQ(writer->close(), ZipResult::ok);
        EXPECT_EQ(writer->add(source), ZipResult::alreadyClosed);
        const auto size = ::lseek(out.get(), 0, SEEK_END);
        EXPECT_EQ(writer->close(), ZipResult::ok);
        EXPECT_EQ(::lseek(out.get(), 0, SEEK_END), size); // nothing written twice
        EXPECT_NE(::fcntl(out.get(), F_GETFD), -1);       // the descriptor stays open
    }
}

TEST_F(ZipWriterTest, CountsAndOffsetsBeyondTheirFieldsAreRefused) {
    const std::string empty = file("empty", Bytes{});
    {
        // The end record counts entries in 16 bits.
        Fd out(openArchive());
        auto writer = ZipWriter::create(out.get());
        ASSERT_TRUE(writer);
        std::uint32_t result = ZipResult::ok;
        int added = 0;
        while (added < 0x10000 && (result = writer->add(empty)) == ZipResult::ok)
            ++added;
        EXPECT_EQ(added, 0xFFFF - 1);
        EXPECT_EQ(result, ZipResult::badArgument);
        EXPECT_EQ(writer->close(), ZipResult::ok);
        out.reset();
        const Bytes zip = readAll(archivePath_);
        const Parsed p = parse(zip, 0);
        EXPECT_EQ(u16(zip, p.end + 10), 0xFFFF - 1);
    }
    {
        // An archive starting just below 4 GiB (a sparse file): its entry fits, its
        // directory would not.
        Fd out(openArchive("far.wmz"));
        ASSERT_EQ(::lseek(out.get(), 0xFFFFFFF0, SEEK_SET), 0xFFFFFFF0);
        auto writer = ZipWriter::create(out.get());
        ASSERT_TRUE(writer);
        EXPECT_EQ(writer->add(empty), ZipResult::ok);
        EXPECT_EQ(writer->close(), ZipResult::badArgument);
    }
}

TEST_F(ZipWriterTest, SourceSizeMustMatchWhatIsRead) {
    Fd out(openArchive());
    // Kernel attribute files announce a size of 4096 but hold a few bytes: the source
    // shrinks while it is read.
    const char* shrinking = "/sys/devices/system/cpu/online";
    struct stat st {};
    if (::stat(shrinking, &st) != 0 || st.st_size != 4096)
        GTEST_SKIP() << shrinking << " is not available";
    auto writer = ZipWriter::create(out.get());
    ASSERT_TRUE(writer);
    EXPECT_EQ(writer->add(shrinking), ZipResult::sizeMismatch);

    // And one that announces 0 bytes but has content.
    Fd out2(openArchive("second.wmz"));
    auto second = ZipWriter::create(out2.get());
    ASSERT_TRUE(second);
    EXPECT_EQ(second->add("/proc/self/status"), ZipResult::sizeMismatch);
}

TEST_F(ZipWriterTest, WriteFailuresAreReported) {
    const std::string source = file("skin.xml", kSkin);
    std::mt19937 rng(2);
    Bytes noise(1 << 20);
    for (auto& b : noise)
        b = static_cast<std::uint8_t>(rng());
    const std::string noisy = file("noise.bin", noise);

    // A full device: the local header cannot be written.
    Fd full(::open("/dev/full", O_WRONLY | O_CLOEXEC));
    if (full.get() >= 0) {
        auto writer = ZipWriter::create(full.get());
        ASSERT_TRUE(writer);
        EXPECT_EQ(writer->add(source), ZipResult::writeFailed);
        EXPECT_EQ(writer->add(source), ZipResult::failedEarlier);
    }

    // A pipe whose reader has gone.
    {
        int fds[2];
        ASSERT_EQ(::pipe(fds), 0);
        Fd writeEnd(fds[1]);
        ::close(fds[0]);
        const auto previous = std::signal(SIGPIPE, SIG_IGN);
        auto writer = ZipWriter::create(writeEnd.get());
        ASSERT_TRUE(writer);
        EXPECT_EQ(writer->add(source), ZipResult::writeFailed);
        std::signal(SIGPIPE, previous);
    }

    // A pipe nobody reads, without blocking: the header fits, the compressed data fills
    // the pipe and a write fails in the middle of the entry.
    for (const char* name : {"wmpsrv.wms", "noise.zip"}) {
        int fds[2];
        ASSERT_EQ(::pipe2(fds, O_NONBLOCK), 0);
        Fd readEnd(fds[0]);
        Fd writeEnd(fds[1]);
        auto writer = ZipWriter::create(writeEnd.get());
        ASSERT_TRUE(writer);
        // Deflated output failing is a write failure; a stored copy written short counts as
        // a size mismatch.
        EXPECT_EQ(ZipWriterTestAccess::addAs(*writer, noisy, name),
                  std::string(name) == "wmpsrv.wms" ? ZipResult::writeFailed
                                                    : ZipResult::sizeMismatch);
    }
}

TEST_F(ZipWriterTest, StoredEntryOnAPipeCannotKeepItsDeclaredSize) {
    // Without a seekable output the size of a stored entry is unknown when its header is
    // written, so any content contradicts the header.
    const std::string source = file("data", kSkin);
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    Fd readEnd(fds[0]);
    Fd writeEnd(fds[1]);
    auto writer = ZipWriter::create(writeEnd.get());
    ASSERT_TRUE(writer);
    EXPECT_EQ(ZipWriterTestAccess::addAs(*writer, source, "data.zip"), ZipResult::entryChanged);
}

} // namespace
} // namespace norv::archive
