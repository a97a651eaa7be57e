#include "res/Resources.h"

#include <gtest/gtest.h>

namespace norv::res {
namespace {

TEST(ResourcesTest, StringTableHoldsTheBuildsEntries) {
    EXPECT_EQ(loadString(IDS_STARTUP_URI), "https://example.com/app?a=1");
    EXPECT_EQ(loadString(IDS_CAPTION), "Caption Of The Test");
    EXPECT_EQ(loadString(134), std::nullopt);
}

TEST(ResourcesTest, VersionIsTheProjectVersion) {
    auto version = fileVersion();
    ASSERT_TRUE(version);
    EXPECT_EQ(*version, (std::array<std::uint16_t, 4>{1, 5, 0, 0}));
}

TEST(ResourcesTest, IconIsAPng) {
    auto icon = loadIcon(IDI_PROGRAM);
    ASSERT_TRUE(icon);
    EXPECT_TRUE(icon->starts_with("\x89PNG\r\n\x1a\n"));
    EXPECT_FALSE(loadIcon(129));
}

TEST(ResourcesTest, PagesAreFoundWithoutRegardToCase) {
    for (const char* name : {"STARTUPSPLASH.HTM", "startupsplash.htm", "ConnectionError.Htm"}) {
        auto page = findResource(name);
        ASSERT_TRUE(page) << name;
        EXPECT_EQ(page->mimeType, "text/html");
        EXPECT_NE(page->data.find("<html"), std::string::npos);
    }
    EXPECT_TRUE(findResource("demo.htm"));
    EXPECT_FALSE(findResource("MISSING.HTM"));
    EXPECT_FALSE(findResource(""));
    // Only plain names: nothing reaches other entries of the bundle.
    EXPECT_FALSE(findResource("../strings/132"));
    EXPECT_FALSE(findResource("/norv/html/DEMO.HTM"));
}

TEST(ResourcesTest, MimeTypeFollowsTheExtension) {
    EXPECT_EQ(mimeTypeForName("DIALOGS.CSS"), "text/css");
    EXPECT_EQ(mimeTypeForName("logo.png"), "image/png");
    EXPECT_EQ(mimeTypeForName("BUTTON.GIF"), "image/gif");
    EXPECT_EQ(mimeTypeForName("page.html"), "text/html");
    EXPECT_EQ(mimeTypeForName("noextension"), "application/octet-stream");
}

TEST(ResourceSchemeTest, AddressesOfThisProgramNameTheirResource) {
    const std::string self = executablePath();
    ASSERT_FALSE(self.empty());
    EXPECT_EQ(resourceUrl("X.HTM"), "res://" + self + "/X.HTM");
    EXPECT_EQ(resourceNameOfUrl(resourceUrl("DEMO.HTM")), "DEMO.HTM");
    EXPECT_EQ(resourceNameOfUrl("res:///DEMO.HTM"), "DEMO.HTM");
    EXPECT_EQ(resourceNameOfUrl("RES:///demo.htm?x=1#top"), "demo.htm");
    EXPECT_EQ(resourceNameOfUrl("res://" + self + "/A%20B.HTM"), "A B.HTM");
}

TEST(ResourceSchemeTest, OtherAddressesNameNothing) {
    EXPECT_EQ(resourceNameOfUrl("res:///usr/lib/other.so/DEMO.HTM"), std::nullopt);
    EXPECT_EQ(resourceNameOfUrl("res:///"), std::nullopt);
    EXPECT_EQ(resourceNameOfUrl("res://"), std::nullopt);
    EXPECT_EQ(resourceNameOfUrl("https://example.com/DEMO.HTM"), std::nullopt);
    EXPECT_EQ(resourceNameOfUrl("res://" + executablePath() + "/"), std::nullopt);
}

} // namespace
} // namespace norv::res
