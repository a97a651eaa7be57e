// The skin package: made once in the temporary directory with the skin text as its one
// entry, refused for a directory path too long, and for a failure at any step reported
// with that step's error and nothing left behind.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <regex>

#include "media/player/SkinPackage.h"
#include "platform/media/ZipReader.h"
#include "tests/support/Process.h"

using namespace norv::com;
using namespace norv::media;
using norv::test::TempDir;
namespace fs = std::filesystem;

namespace {

std::size_t openDescriptors() {
    std::size_t n = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator("/proc/self/fd"))
        ++n;
    return n;
}

class SkinPackageTest : public ::testing::Test {
protected:
    void SetUp() override {
        SkinPackage::discard();
        SkinPackage::useFiles(nullptr);
        const char* previous = std::getenv("TMPDIR");
        if (previous)
            previousTmp_ = previous;
        useDirectory(dir.path().string());
    }
    void TearDown() override {
        SkinPackage::discard();
        SkinPackage::useFiles(nullptr);
        if (previousTmp_)
            ::setenv("TMPDIR", previousTmp_->c_str(), 1);
        else
            ::unsetenv("TMPDIR");
    }
    void useDirectory(const std::string& path) { ::setenv("TMPDIR", path.c_str(), 1); }

    static std::vector<std::string> namesIn(const fs::path& folder) {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(folder))
            names.push_back(entry.path().filename().string());
        return names;
    }

    TempDir dir;

private:
    std::optional<std::string> previousTmp_;
};

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

} // namespace

TEST_F(SkinPackageTest, MakesOnePackageOnceWithTheSkinTextAsItsOnlyEntry) {
    Bstr file;
    EXPECT_EQ(SkinPackage::customUiMode(nullptr), E_POINTER);
    EXPECT_EQ(SkinPackage::customUiMode(&file), E_NOTIMPL);

    ASSERT_EQ(SkinPackage::ensure(), S_OK);
    auto names = namesIn(dir.path());
    ASSERT_EQ(names.size(), 1u) << "the temporary files of the steps are gone";
    EXPECT_TRUE(std::regex_match(names[0], std::regex("TFR[A-Za-z0-9]{6}\\.wmz"))) << names[0];
    const std::string path = (dir.path() / names[0]).string();
    EXPECT_EQ(SkinPackage::path(), path);
    ASSERT_EQ(SkinPackage::customUiMode(&file), S_OK);
    EXPECT_EQ(file.toUtf8(), "file://" + path);

    std::string bytes = readFile(path);
    norv::platform::media::ZipReader reader;
    auto data = std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    ASSERT_EQ(reader.open(data), norv::platform::media::ZipError::None);
    ASSERT_EQ(reader.entries().size(), 1u);
    EXPECT_EQ(reader.entries()[0].name, "wmpsrv.wms");
    std::vector<std::uint8_t> content;
    ASSERT_EQ(reader.extract(reader.entries()[0], content, 1 << 20),
              norv::platform::media::ZipError::None);
    ASSERT_EQ(content.size(), 125u);
    EXPECT_EQ(std::string(content.begin(), content.end()), SkinPackage::kSkinText);

    // Later players reuse it.
    ASSERT_EQ(SkinPackage::ensure(), S_OK);
    EXPECT_EQ(SkinPackage::path(), path);
    EXPECT_EQ(namesIn(dir.path()).size(), 1u);
}

TEST_F(SkinPackageTest, ATemporaryDirectoryThatDoesNotFitTheBufferIsRefused) {
    // 255 characters with the final '/' fit (with the terminating NUL, 256); 256 do not.
    const std::string base = dir.path().string() + "/";
    for (std::size_t length : {255u, 256u, 300u}) {
        SCOPED_TRACE(length);
        // Made of names of at most 200 characters.
        std::string folder = base;
        for (std::size_t left = length - base.size() - 1; left > 0;) {
            std::size_t name = std::min<std::size_t>(left, 200);
            if (left - name == 1)
                --name; // no name of nothing after the last '/'
            folder += std::string(name, 'd');
            left -= name;
            if (left > 0) {
                folder += '/';
                --left;
            }
        }
        ASSERT_EQ(folder.size() + 1, length);
        fs::create_directories(folder);
        useDirectory(folder);
        HRESULT hr = SkinPackage::ensure();
        if (length == 255) {
            EXPECT_EQ(hr, S_OK);
            EXPECT_EQ(namesIn(folder).size(), 1u);
        } else {
            EXPECT_EQ(hr, DISP_E_BUFFERTOOSMALL);
            EXPECT_TRUE(namesIn(folder).empty());
            EXPECT_TRUE(SkinPackage::path().empty());
            Bstr file;
            EXPECT_EQ(SkinPackage::customUiMode(&file), E_NOTIMPL);
        }
        SkinPackage::discard();
    }
    useDirectory((dir.path() / "missing").string());
    EXPECT_EQ(SkinPackage::ensure(), hresult(0x80070002));
}

namespace {

// The real file operations, with one of them failing at its n-th call.
class FailingFiles : public SkinFiles {
public:
    enum Operation { Create, Write, Flush, Close, Open, SeekEnd, Remove, Rename };
    FailingFiles(Operation op, int nth, int error) : op_(op), nth_(nth), error_(error) {}

    // Instead of failing: hand out the n-th temporary file opened for reading only, so that
    // whatever writes to it fails.
    bool readOnly = false;

    int createTemporary(const std::string& directory, std::string& path) override {
        if (hit(Create)) {
            if (!readOnly)
                return fail();
            int fd = SkinFiles::createTemporary(directory, path);
            int ro = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
            ::close(fd);
            return ro;
        }
        return SkinFiles::createTemporary(directory, path);
    }
    ssize_t write(int fd, const void* data, std::size_t size) override {
        return hit(Write) ? fail() : SkinFiles::write(fd, data, size);
    }
    int flush(int fd) override { return hit(Flush) ? fail() : SkinFiles::flush(fd); }
    int close(int fd) override {
        int result = SkinFiles::close(fd); // the descriptor goes in any case
        return hit(Close) ? fail() : result;
    }
    int open(const std::string& path) override {
        return hit(Open) ? fail() : SkinFiles::open(path);
    }
    off_t seekEnd(int fd) override { return hit(SeekEnd) ? fail() : SkinFiles::seekEnd(fd); }
    int remove(const std::string& path) override {
        return hit(Remove) ? fail() : SkinFiles::remove(path);
    }
    int rename(const std::string& from, const std::string& to) override {
        return hit(Rename) ? fail() : SkinFiles::rename(from, to);
    }

private:
    bool hit(Operation op) { return op == op_ && ++count_ == nth_; }
    int fail() {
        errno = error_;
        return -1;
    }
    Operation op_;
    int nth_;
    int error_;
    int count_ = 0;
};

} // namespace

TEST_F(SkinPackageTest, AFailureAtAnyStepIsReportedAndLeavesNoFile) {
    using F = FailingFiles;
    struct Case {
        const char* step;
        F::Operation op;
        int nth;
        int error;
        bool readOnly;
        std::uint32_t expected;
    };
    const Case cases[] = {
        {"making the skin text's file", F::Create, 1, EACCES, false, 0x80070005},
        {"writing the skin text", F::Write, 1, ENOSPC, false, 0x80070070},
        {"making the archive's file", F::Create, 2, EMFILE, false, 0x80070004},
        {"writing the archive", F::Create, 2, 0, true, 0x80070006},
        {"opening the skin text again", F::Open, 1, ENOENT, false, 0x80070002},
        {"seeking in the skin text", F::SeekEnd, 1, EINVAL, false, 0x80070057},
        {"closing the archive", F::Close, 2, EIO, false, 0x8007001F},
        {"deleting an earlier package", F::Remove, 1, EACCES, false, 0x80070005},
        {"renaming the archive to the package", F::Rename, 1, EXDEV, false, 0x80070011},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.step);
        const std::size_t descriptors = openDescriptors();
        FailingFiles files(c.op, c.nth, c.error);
        files.readOnly = c.readOnly;
        SkinPackage::useFiles(&files);
        EXPECT_EQ(SkinPackage::ensure(), hresult(c.expected));
        SkinPackage::useFiles(nullptr);
        EXPECT_TRUE(SkinPackage::path().empty());
        EXPECT_TRUE(namesIn(dir.path()).empty());
        EXPECT_EQ(openDescriptors(), descriptors);
        // The next player tries again.
        EXPECT_EQ(SkinPackage::ensure(), S_OK);
        EXPECT_EQ(namesIn(dir.path()).size(), 1u);
        SkinPackage::discard();
    }
    // A failed flush is no failure: the entry read back shows whether the text is there.
    FailingFiles flush(F::Flush, 1, EIO);
    SkinPackage::useFiles(&flush);
    EXPECT_EQ(SkinPackage::ensure(), S_OK);
    SkinPackage::useFiles(nullptr);
}
