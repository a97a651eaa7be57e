#include "markup/ValueSyntax.h"

#include <gtest/gtest.h>

#include "markup/WindowTypes.h"

namespace norv::markup {
namespace {

using namespace com;

Variant text(std::u16string_view value) {
    return Variant::fromBstr(Bstr(value));
}

HRESULT typeOf(const Variant& value, std::int32_t& type) {
    type = -99;
    return readWindowType(value, type);
}

TEST(WindowTypeSyntax, ReadsEveryWordExactlyAfterLeadingBlanks) {
    std::int32_t type = -99;
    const std::pair<std::u16string_view, std::int32_t> words[] = {
        {u"auto", wtAuto},     {u"normal", wtNormal}, {u"utility", wtUtility},
        {u"custom", wtCustom}, {u"screen", wtScreen}, {u"  normal", wtNormal},
    };
    for (const auto& [word, expected] : words) {
        ASSERT_EQ(typeOf(text(word), type), S_OK);
        EXPECT_EQ(type, expected);
    }
    for (std::u16string_view bad :
         {u"normal ", u"Normal", u"norm", u"normals", u"", u"   ", u"\tnormal", u"x", u"5"}) {
        EXPECT_EQ(typeOf(text(bad), type), TYPE_E_TYPEMISMATCH);
        EXPECT_EQ(type, -99) << "a refused value leaves the result alone";
    }
}

TEST(WindowTypeSyntax, NumbersFromZeroToFiveAreAccepted) {
    std::int32_t type = -99;
    ASSERT_EQ(typeOf(Variant::fromI4(5), type), S_OK);
    EXPECT_EQ(type, wtUnknown);
    ASSERT_EQ(typeOf(Variant::fromI2(3), type), S_OK);
    EXPECT_EQ(type, wtCustom);
    EXPECT_EQ(typeOf(Variant::fromI4(6), type), TYPE_E_TYPEMISMATCH);
    EXPECT_EQ(typeOf(Variant::fromI4(-1), type), TYPE_E_TYPEMISMATCH);
    // The conversion's own failure passes through.
    EXPECT_EQ(typeOf(Variant::null(), type), DISP_E_TYPEMISMATCH);
}

TEST(WindowTypeSyntax, WritesWordsForZeroToFourOnly) {
    std::u16string word;
    ASSERT_EQ(writeWindowType(wtUtility, word), S_OK);
    EXPECT_EQ(word, u"utility");
    ASSERT_EQ(writeWindowType(wtAuto, word), S_OK);
    EXPECT_EQ(word, u"auto");
    EXPECT_EQ(writeWindowType(wtUnknown, word), E_FAIL);
    EXPECT_EQ(writeWindowType(-1, word), E_FAIL);
}

TEST(LengthSyntax, ReadsPixelsAndAuto) {
    const std::pair<std::u16string_view, std::int32_t> accepted[] = {
        {u"326px", 326},
        {u"  326px", 326},
        {u"326 px", 326},
        {u"326\tpx", 326},
        {u"0px", 0},
        {u"auto", -1},
        {u"  auto", -1},
        {u"4294967295px", -1},
        {u"4294967296px", 0}, // the number wraps as the scan does
        {u"-2px", -2},
        {u"+7px", 7},
        {u"12px trailing words", 12}, // the scan stops after the unit
        {u"2147483648px", INT32_MIN},
    };
    for (const auto& [value, expected] : accepted) {
        std::int32_t length = 12345;
        ASSERT_EQ(readLength(text(value), length), S_OK) << std::string(value.begin(), value.end());
        EXPECT_EQ(length, expected);
    }
}

TEST(LengthSyntax, RefusesEverythingElse) {
    for (std::u16string_view value :
         {u"326", u"326PX", u"326pt", u"326px;", u"326pxx", u"326p", u"px", u"", u"autos", u"Auto",
          u"auto ", u"a", u"-px", u"3 26px", u"\xFF10px"}) {
        std::int32_t length = 12345;
        EXPECT_EQ(readLength(text(value), length), TYPE_E_TYPEMISMATCH)
            << std::string(value.begin(), value.end());
        EXPECT_EQ(length, 12345);
    }
    std::int32_t length = 0;
    EXPECT_EQ(readLength(Variant::fromI4(326), length), TYPE_E_TYPEMISMATCH);
}

TEST(LengthSyntax, WritesAutoOrUnsignedPixels) {
    EXPECT_EQ(writeLength(-1), u"auto");
    EXPECT_EQ(writeLength(0), u"0px");
    EXPECT_EQ(writeLength(326), u"326px");
    EXPECT_EQ(writeLength(-2), u"4294967294px");
    for (std::int32_t value : {0, 1, 326, -2, INT32_MIN, INT32_MAX, -1}) {
        std::int32_t back = 12345;
        ASSERT_EQ(readLength(text(writeLength(value)), back), S_OK);
        EXPECT_EQ(back, value);
    }
}

TEST(TriStateSyntax, ReadsAutoAndBooleans) {
    const std::pair<Variant, std::int32_t> accepted[] = {
        {text(u"auto"), kTriStateAuto}, {text(u" auto"), kTriStateAuto},
        {text(u"true"), kTriStateYes},  {text(u"FALSE"), kTriStateNo},
        {text(u"1"), kTriStateYes},     {text(u"0"), kTriStateNo},
        {Variant::fromI4(1), -1},       {Variant::fromBool(false), kTriStateNo},
    };
    for (const auto& [value, expected] : accepted) {
        std::int32_t state = 12345;
        ASSERT_EQ(readTriState(value, state), S_OK);
        EXPECT_EQ(state, expected);
    }
    for (std::u16string_view value : {u"yes", u"automatic", u"a", u"", u"maybe"}) {
        std::int32_t state = 12345;
        EXPECT_EQ(readTriState(text(value), state), TYPE_E_TYPEMISMATCH)
            << std::string(value.begin(), value.end());
        EXPECT_EQ(state, 12345);
    }
}

TEST(TriStateSyntax, WritesItsThreeValuesOnly) {
    std::u16string word;
    ASSERT_EQ(writeTriState(-1, word), S_OK);
    EXPECT_EQ(word, u"true");
    ASSERT_EQ(writeTriState(0, word), S_OK);
    EXPECT_EQ(word, u"false");
    ASSERT_EQ(writeTriState(100, word), S_OK);
    EXPECT_EQ(word, u"auto");
    EXPECT_EQ(writeTriState(1, word), TYPE_E_TYPEMISMATCH);
}

} // namespace
} // namespace norv::markup
