// Where a recording goes: how names become paths, the folders made on the way, and which
// existing files a recording may empty.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "media/pipeline/RecordingFile.h"
#include "tests/support/Process.h"

namespace norv::media {
namespace {

namespace fs = std::filesystem;

std::optional<std::string> resolve(std::u16string_view name) {
    return RecordingFile::resolve(name, "/opt/norv");
}

TEST(RecordingFileNames, BecomePathsOfThisComputer) {
    EXPECT_EQ(resolve(u"/tmp/x/a.wav"), "/tmp/x/a.wav");
    EXPECT_EQ(resolve(u"rec\\a.wav"), "/opt/norv/rec/a.wav");
    EXPECT_EQ(resolve(u"a.wav"), "/opt/norv/a.wav");
    EXPECT_EQ(RecordingFile::resolve(u"a.wav", "/"), "/a.wav");
    EXPECT_EQ(resolve(u"\\srv\\a.wav"), "/srv/a.wav");
    // File URIs, local ones only, with their escapes decoded.
    EXPECT_EQ(resolve(u"file:///tmp/x/a.wav"), "/tmp/x/a.wav");
    EXPECT_EQ(resolve(u"FILE://localhost/tmp/my%20rec.wav"), "/tmp/my rec.wav");
    EXPECT_EQ(resolve(u"file:/tmp/%C3%A9t%C3%A9.wav"), "/tmp/\u00e9t\u00e9.wav");
    EXPECT_EQ(resolve(u"file://server/share/a.wav"), std::nullopt);
    EXPECT_EQ(resolve(u"file:///tmp/a%2.wav"), std::nullopt);
    EXPECT_EQ(resolve(u"file:///tmp/a%00.wav"), std::nullopt);
    EXPECT_EQ(resolve(std::u16string(u"/tmp/a\0b.wav", 12)), std::nullopt);
}

class RecordingFileOnDisk : public testing::Test {
protected:
    std::string path(const std::string& name) { return (dir.path() / name).string(); }
    static std::string text(const std::string& p) {
        std::ifstream in(p, std::ios::binary);
        return std::string((std::istreambuf_iterator<char>(in)), {});
    }
    test::TempDir dir;
};

TEST_F(RecordingFileOnDisk, FoldersOnTheWayAreCreated) {
    const std::string file = path("a/b//c/rec.wav");
    ASSERT_TRUE(RecordingFile::createFolders(file).ok());
    EXPECT_TRUE(fs::is_directory(dir.path() / "a/b/c"));
    EXPECT_FALSE(fs::exists(file));
    EXPECT_TRUE(RecordingFile::createFolders(file).ok()); // again: they exist

    // A file in the way of a folder.
    std::ofstream(path("plain")) << "x";
    const FileOutcome blocked = RecordingFile::prepare(path("plain/rec.wav"), nullptr);
    EXPECT_EQ(blocked.hr, com::hresultFromErrno(ENOTDIR));
    EXPECT_NE(blocked.message.find(u"plain/rec.wav"), std::u16string::npos);
}

TEST_F(RecordingFileOnDisk, OnlyEmptyFilesAndRecordingsAreEmptied) {
    FileIdentity id;
    const std::string fresh = path("new.wav");
    ASSERT_TRUE(RecordingFile::prepare(fresh, &id).ok());
    EXPECT_TRUE(fs::exists(fresh));
    EXPECT_TRUE(RecordingFile::stillAt(fresh, id));

    const std::string recording = path("old.wav");
    std::ofstream(recording, std::ios::binary) << std::string("RIFF\x10\0\0\0WAVEfmt ", 16);
    ASSERT_TRUE(RecordingFile::prepare(recording, nullptr).ok());
    EXPECT_EQ(fs::file_size(recording), 0u);
    ASSERT_TRUE(RecordingFile::prepare(recording, nullptr).ok()); // empty: fine too

    for (const std::string& content :
         {std::string("plain text"), std::string("RIFF\0\0\0\0AVI ", 12), std::string("RIF")}) {
        const std::string other = path("other");
        std::ofstream(other, std::ios::binary | std::ios::trunc) << content;
        const FileOutcome refused = RecordingFile::prepare(other, nullptr);
        EXPECT_EQ(refused.hr, com::E_ACCESSDENIED);
        EXPECT_EQ(refused.message, RecordingFile::notARecording);
        EXPECT_EQ(text(other), content);
    }
    fs::create_directory(path("folder"));
    EXPECT_EQ(RecordingFile::prepare(path("folder"), nullptr).hr, com::E_ACCESSDENIED);

    // Replaced or removed: no longer the prepared file.
    std::ofstream(path("replacement")) << "";
    fs::rename(path("replacement"), fresh);
    EXPECT_FALSE(RecordingFile::stillAt(fresh, id));
    fs::remove(fresh);
    EXPECT_FALSE(RecordingFile::stillAt(fresh, id));
}

} // namespace
} // namespace norv::media
