// Reading the filter text of a file dialog into the entries of its file type list.
#include <gtest/gtest.h>

#include "script/FileDialogFilter.h"

namespace norv::test {
namespace {

using script::FileDialogFilter;
using script::parseFileDialogFilters;
using Filters = std::vector<FileDialogFilter>;

TEST(FileDialogFilterTest, PairsOfDescriptionAndPatterns) {
    EXPECT_EQ(parseFileDialogFilters(u"Text files (*.txt)|*.txt"),
              (Filters{{u"Text files (*.txt)", {u"*.txt"}}}))
        << "one bar between description and pattern is one entry";
    EXPECT_EQ(parseFileDialogFilters(u"Pages|*.htm; *.html ;|All files|*.*||"),
              (Filters{{u"Pages", {u"*.htm", u"*.html"}}, {u"All files", {u"*.*"}}}));
    EXPECT_EQ(parseFileDialogFilters(u"Name with blanks | *.a"),
              (Filters{{u"Name with blanks ", {u"*.a"}}}))
        << "descriptions are shown as written";
    EXPECT_TRUE(parseFileDialogFilters(u"").empty());
}

TEST(FileDialogFilterTest, WhereTheListEnds) {
    const Filters a{{u"A", {u"*.a"}}};
    EXPECT_EQ(parseFileDialogFilters(u"A|*.a||B|*.b"), a) << "an empty description ends it";
    EXPECT_EQ(parseFileDialogFilters(u"A|*.a|B"), a) << "a description without patterns";
    EXPECT_EQ(parseFileDialogFilters(u"A|*.a|B||C|*.c"),
              (Filters{{u"A", {u"*.a"}}, {u"C", {u"*.c"}}}))
        << "B has an empty pattern part, not an empty description: only B is left out";
    EXPECT_EQ(parseFileDialogFilters(u"B| ; |A|*.a"), a) << "only blanks is no pattern";
    EXPECT_EQ(parseFileDialogFilters(std::u16string(u"A|*.a\0|B|*.b", 13)), a)
        << "a NUL character ends the text";
    EXPECT_TRUE(parseFileDialogFilters(u"|*.a|B|*.b").empty());
}

} // namespace
} // namespace norv::test
