// The skin engine's reader: packages made by the program's own ZIP writer, the same
// packages damaged, and skin definitions well and badly formed.

#include <gtest/gtest.h>

#include <functional>

#include "platform/media/SkinDefinition.h"
#include "tests/platform/media/SkinPackages.h"
#include "tests/support/Process.h"

using namespace norv::platform::media;
using namespace norv::test;

namespace {

SkinResult readPackage(const Bytes& bytes, SkinDefinition& out) {
    return readSkinPackage(std::span<const std::uint8_t>(bytes), out);
}

SkinResult parse(std::string_view text, SkinDefinition& out) {
    return parseSkinDefinition(text, out);
}

} // namespace

TEST(SkinPackageReader, ReadsTheProgramsPackageFromAFileAndFromAPipe) {
    TempDir dir;
    for (bool pipe : {false, true}) {
        SCOPED_TRACE(pipe ? "pipe" : "file");
        Bytes bytes = makePackage(dir.path(), kSkinText, pipe);
        ZipReader reader;
        ASSERT_EQ(reader.open(bytes), ZipError::None);
        ASSERT_EQ(reader.entries().size(), 1u);
        Bytes content;
        ASSERT_EQ(reader.extract(reader.entries()[0], content, 1000), ZipError::None);
        EXPECT_EQ(std::string(content.begin(), content.end()), kSkinText);
        EXPECT_EQ(reader.extract(reader.entries()[0], content, 124), ZipError::TooLarge);

        SkinDefinition skin;
        ASSERT_TRUE(readPackage(bytes, skin));
        ASSERT_EQ(skin.elements.size(), 2u);
        EXPECT_EQ(skin.elements[0].type, "VIDEOSETTINGS");
        EXPECT_EQ(skin.elements[0].id, "vs");
        EXPECT_EQ(skin.elements[1].type, "EQUALIZERSETTINGS");
        EXPECT_EQ(skin.elements[1].id, "eq");
        ASSERT_EQ(skin.onload.size(), 2u);
        EXPECT_EQ(skin.onload[0].object, "wmpsrv");
        EXPECT_EQ(skin.onload[0].member, "audio");
        EXPECT_EQ(skin.onload[0].id, "eq");
        EXPECT_EQ(skin.onload[1].member, "video");
        EXPECT_EQ(skin.onload[1].id, "vs");
        EXPECT_TRUE(skin.ignored.empty());
    }
}

TEST(SkinPackageReader, RefusesDamagedPackages) {
    TempDir dir;
    const Bytes good = makePackage(dir.path(), kSkinText);
    const PackageLayout at(good);
    SkinDefinition skin;

    struct Case {
        const char* what;
        std::function<void(Bytes&)> damage;
        SkinError error;
        ZipError zipError;
    };
    const Case cases[] = {
        {"CRC byte flipped in the central directory", [&](Bytes& b) { b[at.central + 16] ^= 1; },
         SkinError::Package, ZipError::BadCrc},
        {"CRC byte flipped in the local header", [&](Bytes& b) { b[at.local + 14] ^= 0x80; },
         SkinError::Package, ZipError::BadCrc},
        {"uncompressed size changed", [&](Bytes& b) { b[at.central + 24] += 1; },
         SkinError::Package, ZipError::BadData},
        {"central directory truncated",
         [&](Bytes& b) {
             b.erase(b.begin() + std::ptrdiff_t(at.central + 20),
                     b.begin() + std::ptrdiff_t(at.end));
         },
         SkinError::Package, ZipError::BadDirectory},
        {"cut inside the central directory", [&](Bytes& b) { b.resize(at.central + 30); },
         SkinError::Package, ZipError::BadDirectory},
        {"directory offset past the end", [&](Bytes& b) { b[at.end + 19] = 0x7F; },
         SkinError::Package, ZipError::BadDirectory},
        {"local header moved away", [&](Bytes& b) { b[at.central + 42] = 7; }, SkinError::Package,
         ZipError::BadLocalHeader},
        {"an entry of another name", [](Bytes& b) { b = renameEntry(b); }, SkinError::NoDefinition,
         ZipError::None},
        {"not a ZIP", [](Bytes& b) { b.assign(kSkinText.begin(), kSkinText.end()); },
         SkinError::Package, ZipError::NotZip},
        {"empty", [](Bytes& b) { b.clear(); }, SkinError::Package, ZipError::NotZip},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes bytes = good;
        c.damage(bytes);
        SkinResult result = readPackage(bytes, skin);
        EXPECT_EQ(result.error, c.error);
        EXPECT_EQ(result.zipError, c.zipError);
        EXPECT_TRUE(skin.elements.empty());
        EXPECT_TRUE(skin.onload.empty());
    }

    // Every prefix of the package is refused, none read past its end.
    for (std::size_t size = 0; size < good.size(); ++size) {
        Bytes prefix(good.begin(), good.begin() + std::ptrdiff_t(size));
        ASSERT_FALSE(readPackage(prefix, skin)) << size;
    }
    // And a flipped bit anywhere in the compressed data is caught (but in its last byte,
    // whose high bits may be padding).
    std::size_t nameLength = good[at.local + 26];
    for (std::size_t i = at.local + 30 + nameLength + 17; i + 1 < at.central; ++i) {
        Bytes bytes = good;
        bytes[i] ^= 0x10;
        ASSERT_FALSE(readPackage(bytes, skin)) << i;
    }
}

TEST(SkinDefinitionText, RefusesMalformedText) {
    struct Case {
        std::string_view text;
        SkinError error;
    };
    const Case cases[] = {
        {"", SkinError::Malformed},
        {"   ", SkinError::Malformed},
        {"<THEME><VIEW></THEME>", SkinError::Malformed},
        {"<THEME><VIEW>", SkinError::Malformed},
        {"<THEME><VIEW id=vs/></THEME>", SkinError::Malformed},
        {"<THEME><VIEW id/></THEME>", SkinError::Malformed},
        {"<THEME><VIEW id=\"a\" id=\"b\"/></THEME>", SkinError::Malformed},
        {"<THEME><VIEW onload=\"a&nbsp;b\"/></THEME>", SkinError::Malformed},
        {"<THEME><VIEW onload=\"a<b\"/></THEME>", SkinError::Malformed},
        {"<THEME><VIEW onload=\"a\"b=\"c\"/></THEME>", SkinError::Malformed},
        {"<THEME><VIEW onload=\"unterminated/></THEME>", SkinError::Malformed},
        {"<THEME/><THEME/>", SkinError::Malformed},
        {"text<THEME><VIEW/></THEME>", SkinError::Malformed},
        {"<THEME><VIEW/></THEME>trailing", SkinError::Malformed},
        {"<THEME><!-- unterminated <VIEW/></THEME>", SkinError::Malformed},
        {"<THEME><VIEW onload=\"&#xD800;\"/></THEME>", SkinError::Malformed},
        {"<THEME><VIEW onload=\"&#1114112;\"/></THEME>", SkinError::Malformed},
        {"\xFF\xFE<\0T\0", SkinError::Malformed}, // UTF-16 cut in the middle of a unit
        {"<VIEW/>", SkinError::NoTheme},
        {"<THEME><SUBVIEW/></THEME>", SkinError::NoView},
        {"<THEME/>", SkinError::NoView},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.text));
        SkinDefinition skin;
        SkinResult result = parse(c.text, skin);
        EXPECT_EQ(result.error, c.error);
        EXPECT_FALSE(result.detail.empty());
        EXPECT_TRUE(skin.elements.empty());
    }
    std::string deep = "<THEME><VIEW>";
    for (int i = 0; i < 300; ++i)
        deep += "<A>";
    SkinDefinition skin;
    EXPECT_EQ(parse(deep, skin).error, SkinError::Malformed);
}

TEST(SkinDefinitionText, TakesTheElementsAndAssignmentsOfTheFirstView) {
    SkinDefinition skin;
    ASSERT_TRUE(
        parse("\xEF\xBB\xBF<?xml version=\"1.0\"?><!-- a skin -->\n"
              "<theme title='x'>\n"
              "  <EqualizerSettings id='outside'/>\n"
              "  <view ONLOAD='JScript: wmpsrv.audio=eq ;wmpsrv . video = vs // why\n"
              "     alert(&quot;x; wmpsrv.audio = vs&quot;); /* wmpsrv.x = eq */\n"
              "     wmpsrv.audio == eq; a.b.c = d; wmpsrv.audio = eq()'>\n"
              "    <subview><![CDATA[ <notanelement id=\"c\"/> ]]>\n"
              "      <equalizersettings ID=\"eq\"/>text</subview>\n"
              "    <VideoSettings id=\"vs\"></VideoSettings>\n"
              "    <button/>\n"
              "  </view>\n"
              "  <VIEW onload=\"wmpsrv.audio = other\"><VIDEOSETTINGS id=\"other\"/></VIEW>\n"
              "</theme>\n",
              skin));
    ASSERT_EQ(skin.elements.size(), 2u);
    EXPECT_EQ(skin.elements[0].type, "EQUALIZERSETTINGS");
    EXPECT_EQ(skin.elements[0].id, "eq");
    EXPECT_EQ(skin.elements[1].type, "VIDEOSETTINGS");
    ASSERT_NE(skin.find("vs"), nullptr);
    EXPECT_EQ(skin.find("outside"), nullptr);
    EXPECT_EQ(skin.find("other"), nullptr);

    ASSERT_EQ(skin.onload.size(), 2u);
    EXPECT_EQ(skin.onload[0].member, "audio");
    EXPECT_EQ(skin.onload[0].id, "eq");
    EXPECT_EQ(skin.onload[1].member, "video");
    EXPECT_EQ(skin.onload[1].id, "vs");
    // The string keeps its ';' inside, the comments are gone.
    const std::vector<std::string> ignored = {"alert(\"x; wmpsrv.audio = vs\")",
                                              "wmpsrv.audio == eq", "a.b.c = d",
                                              "wmpsrv.audio = eq()"};
    EXPECT_EQ(skin.ignored, ignored);
}

TEST(SkinDefinitionText, ReadsUtf16AndCharacterReferences) {
    std::u16string text = u"<THEME><VIEW onload=\"wmpsrv.audio&#x20;=&#101;q\">"
                          u"<EQUALIZERSETTINGS id=\"\u00e9q\"/></VIEW></THEME>";
    for (bool bigEndian : {false, true}) {
        std::string bytes = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
        for (char16_t c : text) {
            char hi = char(c >> 8), lo = char(c & 0xFF);
            bytes += bigEndian ? hi : lo;
            bytes += bigEndian ? lo : hi;
        }
        SkinDefinition skin;
        ASSERT_TRUE(parse(bytes, skin));
        ASSERT_EQ(skin.elements.size(), 1u);
        EXPECT_EQ(skin.elements[0].id, "\xC3\xA9q");
        ASSERT_EQ(skin.onload.size(), 1u);
        EXPECT_EQ(skin.onload[0].id, "eq");
    }
}
