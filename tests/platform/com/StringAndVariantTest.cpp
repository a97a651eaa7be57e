#include <gtest/gtest.h>

#include <clocale>
#include <cmath>

#include "platform/com/ComObject.h"
#include "platform/com/Dispatch.h"
#include "platform/com/Variant.h"
#include "platform/com/WhiteSpace.h"

using namespace norv::com;

namespace {

TEST(Bstr, AbsentIsDistinctFromEmpty) {
    Bstr absent;
    Bstr empty = Bstr::empty();
    EXPECT_TRUE(absent.isNull());
    EXPECT_FALSE(empty.isNull());
    EXPECT_TRUE(absent.isEmpty());
    EXPECT_TRUE(empty.isEmpty());
    EXPECT_EQ(absent.data(), nullptr);
    ASSERT_NE(empty.data(), nullptr);
    EXPECT_EQ(empty.data()[0], u'\0');
    EXPECT_FALSE(absent == empty);
    EXPECT_TRUE(Bstr::fromUtf8(static_cast<const char*>(nullptr)).isNull());
    EXPECT_FALSE(Bstr::fromUtf8("").isNull());
}

TEST(Bstr, EmbeddedNulsSurviveConversions) {
    std::string utf8("a\0b", 3);
    Bstr s = Bstr::fromUtf8(utf8);
    EXPECT_EQ(s.length(), 3u);
    EXPECT_EQ(s.view()[1], u'\0');
    EXPECT_EQ(s.toUtf8(), utf8);
    Variant v = Variant::fromBstr(s);
    Variant copy = v;
    EXPECT_EQ(copy.bstr().length(), 3u);
}

TEST(Bstr, Utf8RoundTripsEveryPlane) {
    std::string text = "A\xC3\xA9\xE2\x82\xAC\xF0\x9F\x8E\xB5"; // A é € 🎵
    std::u16string wide = utf8ToUtf16(text);
    ASSERT_EQ(wide.size(), 5u);
    EXPECT_EQ(wide[1], u'\u00E9');
    EXPECT_EQ(wide[2], u'\u20AC');
    EXPECT_EQ(wide[3], 0xD83C);
    EXPECT_EQ(wide[4], 0xDFB5);
    EXPECT_EQ(utf16ToUtf8(wide), text);
}

TEST(Bstr, MalformedInputBecomesReplacementCharacters) {
    // Overlong NUL, a lone continuation byte, an encoded surrogate, a truncated sequence.
    EXPECT_EQ(utf8ToUtf16("\xC0\x80"), u"\uFFFD\uFFFD");
    EXPECT_EQ(utf8ToUtf16("x\x80y"), u"x\uFFFDy");
    EXPECT_EQ(utf8ToUtf16("\xED\xA0\x80"), u"\uFFFD\uFFFD\uFFFD");
    EXPECT_EQ(utf8ToUtf16("\xE2\x82"), u"\uFFFD");
    EXPECT_EQ(utf8ToUtf16("\xF4\x90\x80\x80"), u"\uFFFD\uFFFD\uFFFD\uFFFD");
    // Unpaired surrogates in UTF-16 become U+FFFD in UTF-8.
    std::u16string lone{char16_t(0xD800), u'a', char16_t(0xDC00)};
    EXPECT_EQ(utf16ToUtf8(lone), "\xEF\xBF\xBD"
                                 "a\xEF\xBF\xBD");
}

Variant text(const char16_t* s) {
    return Variant::fromBstr(Bstr(s));
}

struct Conversion {
    Variant in;
    VARTYPE vt;
    HRESULT hr;
    Variant expected;
};

void expectConversions(const std::vector<Conversion>& cases) {
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const Conversion& c = cases[i];
        SCOPED_TRACE("case " + std::to_string(i));
        Variant out = Variant::fromI4(12345);
        HRESULT hr = changeType(out, c.in, c.vt);
        EXPECT_EQ(hr, c.hr);
        if (failed(c.hr)) {
            // A failed conversion leaves the destination alone.
            EXPECT_EQ(out.vt(), VT_I4);
            EXPECT_EQ(out.i4(), 12345);
            continue;
        }
        ASSERT_EQ(out.vt(), c.expected.vt());
        switch (c.vt) {
        case VT_BOOL:
            EXPECT_EQ(out.boolVal(), c.expected.boolVal());
            break;
        case VT_BSTR:
            EXPECT_EQ(out.bstr().toUtf8(), c.expected.bstr().toUtf8());
            break;
        case VT_R4:
        case VT_R8:
        case VT_DATE:
            EXPECT_DOUBLE_EQ(out.r8(), c.expected.r8());
            break;
        default:
            EXPECT_EQ(out.i4(), c.expected.i4());
        }
    }
}

TEST(ChangeType, ToBoolFromTextAndNumbers) {
    expectConversions({
        {text(u"true"), VT_BOOL, S_OK, Variant::fromBool(true)},
        {text(u"TRUE"), VT_BOOL, S_OK, Variant::fromBool(true)},
        {text(u"tRuE"), VT_BOOL, S_OK, Variant::fromBool(true)},
        {text(u"False"), VT_BOOL, S_OK, Variant::fromBool(false)},
        {text(u"0"), VT_BOOL, S_OK, Variant::fromBool(false)},
        {text(u"-0.0"), VT_BOOL, S_OK, Variant::fromBool(false)},
        {text(u"1"), VT_BOOL, S_OK, Variant::fromBool(true)},
        {text(u"-1"), VT_BOOL, S_OK, Variant::fromBool(true)},
        {text(u"0.5"), VT_BOOL, S_OK, Variant::fromBool(true)},
        {text(u" 2 "), VT_BOOL, S_OK, Variant::fromBool(true)},
        {text(u"yes"), VT_BOOL, DISP_E_TYPEMISMATCH, {}},
        {text(u"truex"), VT_BOOL, DISP_E_TYPEMISMATCH, {}},
        {text(u""), VT_BOOL, DISP_E_TYPEMISMATCH, {}},
        {text(u"0x1"), VT_BOOL, DISP_E_TYPEMISMATCH, {}},
        {text(u"nan"), VT_BOOL, DISP_E_TYPEMISMATCH, {}},
        {Variant::fromI4(0), VT_BOOL, S_OK, Variant::fromBool(false)},
        {Variant::fromI4(7), VT_BOOL, S_OK, Variant::fromBool(true)},
        {Variant::fromR8(0.25), VT_BOOL, S_OK, Variant::fromBool(true)},
        {Variant(), VT_BOOL, S_OK, Variant::fromBool(false)},
        {Variant::null(), VT_BOOL, DISP_E_TYPEMISMATCH, {}},
    });
    Variant out;
    ASSERT_EQ(changeType(out, text(u"true"), VT_BOOL), S_OK);
    EXPECT_EQ(out.boolVal(), VARIANT_TRUE); // -1, not 1
}

TEST(ChangeType, ToI4RoundsAndReportsOverflowAndMismatch) {
    expectConversions({
        {text(u"42"), VT_I4, S_OK, Variant::fromI4(42)},
        {text(u"  -17\t"), VT_I4, S_OK, Variant::fromI4(-17)},
        {text(u"+8"), VT_I4, S_OK, Variant::fromI4(8)},
        {text(u"2.5"), VT_I4, S_OK, Variant::fromI4(2)},
        {text(u"3.5"), VT_I4, S_OK, Variant::fromI4(4)},
        {text(u"-2.5"), VT_I4, S_OK, Variant::fromI4(-2)},
        {text(u"1e3"), VT_I4, S_OK, Variant::fromI4(1000)},
        {text(u"2147483647"), VT_I4, S_OK, Variant::fromI4(2147483647)},
        {text(u"-2147483648"), VT_I4, S_OK, Variant::fromI4(INT32_MIN)},
        {text(u"2147483648"), VT_I4, DISP_E_OVERFLOW, {}},
        {text(u"2147483647.5"), VT_I4, DISP_E_OVERFLOW, {}},
        {text(u"1e400"), VT_I4, DISP_E_OVERFLOW, {}},
        {text(u"1e-400"), VT_I4, S_OK, Variant::fromI4(0)},
        {text(u"12abc"), VT_I4, DISP_E_TYPEMISMATCH, {}},
        {text(u"abc"), VT_I4, DISP_E_TYPEMISMATCH, {}},
        {text(u"1e"), VT_I4, DISP_E_TYPEMISMATCH, {}},
        {text(u"."), VT_I4, DISP_E_TYPEMISMATCH, {}},
        {text(u"inf"), VT_I4, DISP_E_TYPEMISMATCH, {}},
        {Variant::fromR8(1e10), VT_I4, DISP_E_OVERFLOW, {}},
        {Variant::fromR8(-0.5), VT_I4, S_OK, Variant::fromI4(0)},
        {Variant::fromR8(std::nan("")), VT_I4, DISP_E_OVERFLOW, {}},
        {Variant::fromUI4(0x80000000u), VT_I4, DISP_E_OVERFLOW, {}},
        {Variant::fromBool(true), VT_I4, S_OK, Variant::fromI4(-1)},
        {Variant(), VT_I4, S_OK, Variant::fromI4(0)},
        {Variant::null(), VT_I4, DISP_E_TYPEMISMATCH, {}},
        {text(u"40000"), VT_I2, DISP_E_OVERFLOW, {}},
        {text(u"255"), VT_UI1, S_OK, Variant::fromUI1(255)},
        {text(u"256"), VT_UI1, DISP_E_OVERFLOW, {}},
        {Variant::fromI4(-1), VT_UI4, DISP_E_OVERFLOW, {}},
        {text(u"4294967295"), VT_UI4, S_OK, Variant::fromUI4(0xFFFFFFFFu)},
    });
}

TEST(WhiteSpace, TrimsTheSameCharactersInEveryLocale) {
    const char* before = std::setlocale(LC_ALL, nullptr);
    const std::string saved = before ? before : "C";
    for (const char* locale : {"C", "C.UTF-8"}) {
        if (!std::setlocale(LC_ALL, locale))
            continue;
        EXPECT_EQ(trimWhiteSpace(u" \t\r\n x y \v\f"), u"x y") << locale;
        EXPECT_EQ(trimWhiteSpace(u"   "), u"") << locale;
        EXPECT_EQ(trimWhiteSpace(u""), u"") << locale;
        // The Unicode separators count, at both ends, and only at the ends.
        EXPECT_EQ(trimWhiteSpace(u"\u3000\u00A0\u2028a\u2003b\u202F\u205F"), u"a\u2003b") << locale;
        // Neither a zero-width space nor a lone surrogate is white space.
        EXPECT_EQ(trimWhiteSpace(u"\u200Bx\xD800"), u"\u200Bx\xD800") << locale;
    }
    std::setlocale(LC_ALL, saved.c_str());
    // Numbers in text take the same white space around them.
    Variant out;
    ASSERT_EQ(changeType(out, text(u"\u3000 12\u00A0"), VT_I4), S_OK);
    EXPECT_EQ(out.i4(), 12);
}

TEST(ChangeType, ToRealAndDate) {
    expectConversions({
        {text(u"0.125"), VT_R8, S_OK, Variant::fromR8(0.125)},
        {text(u"-1.5E2"), VT_R8, S_OK, Variant::fromR8(-150)},
        {text(u"1e400"), VT_R8, DISP_E_OVERFLOW, {}},
        {Variant::fromR8(1e300), VT_R4, DISP_E_OVERFLOW, {}},
        {Variant::fromI4(3), VT_R4, S_OK, Variant::fromR4(3)},
        {Variant::fromR8(1.5), VT_DATE, S_OK, Variant::fromDate(1.5)},
        {Variant::fromR8(1e7), VT_DATE, DISP_E_OVERFLOW, {}},
        {text(u"1/1/2000"), VT_DATE, DISP_E_TYPEMISMATCH, {}},
    });
}

TEST(ChangeType, ToBstr) {
    expectConversions({
        {Variant::fromI4(-42), VT_BSTR, S_OK, text(u"-42")},
        {Variant::fromUI4(4000000000u), VT_BSTR, S_OK, text(u"4000000000")},
        {Variant::fromBool(true), VT_BSTR, S_OK, text(u"-1")},
        {Variant::fromBool(false), VT_BSTR, S_OK, text(u"0")},
        {Variant::fromR8(0.1), VT_BSTR, S_OK, text(u"0.1")},
        {Variant::fromR8(0.1 + 0.2), VT_BSTR, S_OK, text(u"0.3")},
        {Variant::fromR8(2.5), VT_BSTR, S_OK, text(u"2.5")},
        {Variant::fromR8(1e20), VT_BSTR, S_OK, text(u"1E+20")},
        {Variant::fromR4(0.1f), VT_BSTR, S_OK, text(u"0.1")},
        {Variant::fromDate(36526.75), VT_BSTR, S_OK, text(u"1/1/2000 6:00:00 PM")},
        {Variant::fromDate(2), VT_BSTR, S_OK, text(u"1/1/1900")},
        {Variant(), VT_BSTR, S_OK, text(u"")},
        {Variant::null(), VT_BSTR, DISP_E_TYPEMISMATCH, {}},
        {Variant::missing(), VT_BSTR, DISP_E_TYPEMISMATCH, {}},
    });
    Variant out;
    ASSERT_EQ(changeType(out, Variant(), VT_BSTR), S_OK);
    EXPECT_FALSE(out.bstr().isNull()); // empty, not absent
}

struct IPlain : IUnknown {
    static constexpr IID iid = guid("{5A0F5A0F-0000-4000-8000-000000000001}");
    using Base = IUnknown;
};

class Plain final : public ComObject<Plain, IPlain> {
public:
    std::uint32_t refs() const { return refCount(); }
};

TEST(ChangeType, ToObjects) {
    ComPtr<Plain> obj = makeObject<Plain>();
    Variant unk = Variant::fromUnknown(obj->unknown());
    EXPECT_EQ(obj->refs(), 2u);
    Variant out;
    EXPECT_EQ(changeType(out, unk, VT_UNKNOWN), S_OK);
    EXPECT_EQ(out.unknown(), obj->unknown());
    EXPECT_EQ(obj->refs(), 3u);
    // Not a dispatch object: the QueryInterface failure is returned, out untouched.
    EXPECT_EQ(changeType(out, unk, VT_DISPATCH), E_NOINTERFACE);
    EXPECT_EQ(out.vt(), VT_UNKNOWN);
    EXPECT_EQ(changeType(out, text(u"x"), VT_UNKNOWN), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(changeType(out, Variant::fromI4(1), VT_DISPATCH), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(changeType(out, Variant(), VT_DISPATCH), S_OK);
    EXPECT_EQ(out.vt(), VT_DISPATCH);
    EXPECT_EQ(out.dispatch(), nullptr);
    EXPECT_EQ(obj->refs(), 2u);
    unk.clear();
    EXPECT_EQ(obj->refs(), 1u);
}

TEST(ChangeType, OutputMayAliasInput) {
    Variant v = text(u"  12 ");
    ASSERT_EQ(changeType(v, v, VT_I4), S_OK);
    EXPECT_EQ(v.vt(), VT_I4);
    EXPECT_EQ(v.i4(), 12);
    ASSERT_EQ(changeType(v, v, VT_BSTR), S_OK);
    EXPECT_EQ(v.bstr().toUtf8(), "12");
}

TEST(ChangeType, ByteReferenceIsRead) {
    std::uint8_t byte = 200;
    Variant ref = Variant::fromByteRef(&byte);
    Variant out;
    ASSERT_EQ(changeType(out, ref, VT_I4), S_OK);
    EXPECT_EQ(out.i4(), 200);
}

TEST(Variant, CopyAndMoveKeepReferencesBalanced) {
    ComPtr<Plain> obj = makeObject<Plain>();
    {
        Variant a = Variant::fromUnknown(obj->unknown());
        Variant b = a;
        EXPECT_EQ(obj->refs(), 3u);
        Variant c = std::move(a);
        EXPECT_EQ(a.vt(), VT_EMPTY);
        EXPECT_EQ(obj->refs(), 3u);
        b = c;
        EXPECT_EQ(obj->refs(), 3u);
        b = Variant::fromI4(1);
        EXPECT_EQ(obj->refs(), 2u);
        EXPECT_EQ(c.unknown(), obj->unknown());
    }
    EXPECT_EQ(obj->refs(), 1u);
    EXPECT_TRUE(Variant::missing().isMissing());
    EXPECT_EQ(Variant::fromBool(false).boolVal(), VARIANT_FALSE);
}

} // namespace

TEST(Utf16Test, ConversionKeepsNulsAndReplacesBrokenSequences) {
    EXPECT_EQ(utf16ToUtf8(std::u16string(u"a\0\xE9\xD83D\xDE00", 5)),
              std::string("a\0\xC3\xA9\xF0\x9F\x98\x80", 8));
    EXPECT_EQ(utf8ToUtf16(std::string("a\0\xC3\xA9\xF0\x9F\x98\x80", 8)),
              std::u16string(u"a\0\xE9\xD83D\xDE00", 5));
    EXPECT_EQ(utf16ToUtf8(u"\xD800x"), "\xEF\xBF\xBDx");                       // unpaired surrogate
    EXPECT_EQ(utf8ToUtf16("\xC3"), u"\xFFFD");                                 // truncated sequence
    EXPECT_EQ(utf8ToUtf16("\xC0\xAF"), u"\xFFFD\xFFFD");                       // overlong form
    EXPECT_EQ(utf8ToUtf16("\xED\xA0\x80"), u"\xFFFD\xFFFD\xFFFD");             // encoded surrogate
    EXPECT_EQ(utf8ToUtf16("\xF4\x90\x80\x80z"), u"\xFFFD\xFFFD\xFFFD\xFFFDz"); // > U+10FFFF
}
