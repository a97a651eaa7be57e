// The patterns the file dialogs hand to GTK, judged by the C library's own matcher (GTK's
// matcher takes the same syntax and compares with case, as fnmatch does).
#include <gtest/gtest.h>

#include <fnmatch.h>

#include "platform/gtk/FileChooserDialog.h"

namespace {

using norv::platform::gtk::FileChooserDialog;

bool shows(const char* pattern, const char* name) {
    return fnmatch(FileChooserDialog::globOf(pattern).c_str(), name, 0) == 0;
}

TEST(FileChooserDialogTest, PatternsMatchWithoutRegardToCase) {
    EXPECT_TRUE(shows("*.txt", "notes.txt"));
    EXPECT_TRUE(shows("*.txt", "NOTES.TXT"));
    EXPECT_TRUE(shows("*.Txt", "Notes.tXt"));
    EXPECT_FALSE(shows("*.txt", "notes.txt.bak"));
    EXPECT_FALSE(shows("*.txt", "notes.tx"));
    EXPECT_TRUE(shows("report-??.csv", "REPORT-07.CSV"));
    EXPECT_FALSE(shows("report-??.csv", "report-7.csv"));
    EXPECT_TRUE(shows("data.[ch]", "data.c"));
    EXPECT_FALSE(shows("data.[ch]", "data.C")) << "a bracket is taken as written";
    EXPECT_TRUE(shows("[]x]*", "]y")) << "a bracket that begins with its closing bracket";
    EXPECT_TRUE(shows("file_1.2", "FILE_1.2"));
}

TEST(FileChooserDialogTest, StarDotStarIsEveryFile) {
    EXPECT_TRUE(shows("*.*", "Makefile"));
    EXPECT_TRUE(shows("*.*", "notes.txt"));
    EXPECT_FALSE(shows("*.", "notes.txt"));
}

} // namespace
