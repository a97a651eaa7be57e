#include "markup/ValueSyntax.h"

#include <array>

#include "markup/WindowTypes.h"
#include "platform/com/WhiteSpace.h"

namespace norv::markup {

using namespace com;

namespace {

constexpr std::array<std::u16string_view, 5> kTypeWords = {u"auto", u"normal", u"utility",
                                                           u"custom", u"screen"};

std::u16string_view textOf(const Variant& value) {
    return value.bstr().view();
}

std::u16string_view skipBlanks(std::u16string_view text) {
    std::size_t i = 0;
    while (i < text.size() && text[i] == u' ')
        ++i;
    return text.substr(i);
}

std::u16string_view skipWideSpace(std::u16string_view text) {
    std::size_t i = 0;
    while (i < text.size() && isWhiteSpace(text[i]))
        ++i;
    return text.substr(i);
}

bool isDigit(char16_t c) {
    return c >= u'0' && c <= u'9';
}

std::u16string ascii(std::string_view text) {
    return std::u16string(text.begin(), text.end());
}

} // namespace

HRESULT readWindowType(const Variant& value, std::int32_t& type) {
    if (value.vt() == VT_BSTR) {
        std::u16string_view text = skipBlanks(textOf(value));
        if (text.empty())
            return TYPE_E_TYPEMISMATCH;
        // The first character picks the one word the text can be.
        std::int32_t candidate = -1;
        switch (text.front()) {
        case u'a':
            candidate = wtAuto;
            break;
        case u'c':
            candidate = wtCustom;
            break;
        case u'n':
            candidate = wtNormal;
            break;
        case u's':
            candidate = wtScreen;
            break;
        case u'u':
            candidate = wtUtility;
            break;
        default:
            return TYPE_E_TYPEMISMATCH;
        }
        if (text != kTypeWords[static_cast<std::size_t>(candidate)])
            return TYPE_E_TYPEMISMATCH;
        type = candidate;
        return S_OK;
    }
    Variant number;
    HRESULT hr = changeType(number, value, VT_I4);
    if (failed(hr))
        return hr;
    if (static_cast<std::uint32_t>(number.i4()) > static_cast<std::uint32_t>(wtUnknown))
        return TYPE_E_TYPEMISMATCH;
    type = number.i4();
    return S_OK;
}

HRESULT writeWindowType(std::int32_t type, std::u16string& text) {
    if (type < wtAuto || type > wtScreen)
        return E_FAIL;
    text = std::u16string(kTypeWords[static_cast<std::size_t>(type)]);
    return S_OK;
}

HRESULT readLength(const Variant& value, std::int32_t& length) {
    if (value.vt() != VT_BSTR)
        return TYPE_E_TYPEMISMATCH;
    std::u16string_view text = skipBlanks(textOf(value));
    if (!text.empty() && text.front() == u'a') {
        if (text != u"auto")
            return TYPE_E_TYPEMISMATCH;
        length = kLengthAuto;
        return S_OK;
    }

    // "%u": white space, an optional sign and decimal digits; the number wraps to 32 bits
    // and a minus sign negates it as an unsigned value.
    text = skipWideSpace(text);
    bool negative = false;
    if (!text.empty() && (text.front() == u'+' || text.front() == u'-')) {
        negative = text.front() == u'-';
        text.remove_prefix(1);
    }
    if (text.empty() || !isDigit(text.front()))
        return TYPE_E_TYPEMISMATCH;
    std::uint32_t number = 0;
    while (!text.empty() && isDigit(text.front())) {
        number = number * 10u + static_cast<std::uint32_t>(text.front() - u'0');
        text.remove_prefix(1);
    }
    if (negative)
        number = 0u - number;

    // "%s" into a buffer of three characters: white space, then a word of at most two
    // characters up to the next white space. What follows the word is not looked at.
    text = skipWideSpace(text);
    std::size_t unitLength = 0;
    while (unitLength < text.size() && !isWhiteSpace(text[unitLength]))
        ++unitLength;
    if (text.substr(0, unitLength) != u"px")
        return TYPE_E_TYPEMISMATCH;
    length = static_cast<std::int32_t>(number);
    return S_OK;
}

std::u16string writeLength(std::int32_t length) {
    if (length == kLengthAuto)
        return u"auto";
    return ascii(std::to_string(static_cast<std::uint32_t>(length))) + u"px";
}

HRESULT readTriState(const Variant& value, std::int32_t& state) {
    if (value.vt() == VT_BSTR) {
        std::u16string_view text = skipBlanks(textOf(value));
        if (!text.empty() && text.front() == u'a') {
            if (text != u"auto")
                return TYPE_E_TYPEMISMATCH;
            state = kTriStateAuto;
            return S_OK;
        }
    }
    // The value as received, leading blanks included, goes to the boolean conversion.
    Variant flag;
    HRESULT hr = changeType(flag, value, VT_BOOL);
    if (hr == DISP_E_TYPEMISMATCH)
        return TYPE_E_TYPEMISMATCH;
    if (failed(hr))
        return hr;
    state = flag.boolVal() != VARIANT_FALSE ? kTriStateYes : kTriStateNo;
    return S_OK;
}

HRESULT writeTriState(std::int32_t state, std::u16string& text) {
    switch (state) {
    case kTriStateYes:
        text = u"true";
        return S_OK;
    case kTriStateNo:
        text = u"false";
        return S_OK;
    case kTriStateAuto:
        text = u"auto";
        return S_OK;
    default:
        return TYPE_E_TYPEMISMATCH;
    }
}

} // namespace norv::markup
