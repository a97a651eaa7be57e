#include "platform/com/Variant.h"

#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>
#include <string>

#include "platform/com/Dispatch.h"
#include "platform/com/WhiteSpace.h"

namespace norv::com {

Variant::Variant(const Variant&) = default;
Variant::Variant(Variant&& other) noexcept {
    swap(*this, other);
}
Variant& Variant::operator=(const Variant& other) {
    if (this != &other) {
        Variant copy(other);
        swap(*this, copy);
    }
    return *this;
}
Variant& Variant::operator=(Variant&& other) noexcept {
    if (this != &other) {
        Variant taken(std::move(other));
        swap(*this, taken);
    }
    return *this;
}
Variant::~Variant() = default;

void swap(Variant& a, Variant& b) noexcept {
    using std::swap;
    swap(a.vt_, b.vt_);
    swap(a.i4_, b.i4_);
    swap(a.r8_, b.r8_);
    swap(a.scode_, b.scode_);
    swap(a.bstr_, b.bstr_);
    a.unk_.swap(b.unk_);
    swap(a.array_, b.array_);
    swap(a.byref_, b.byref_);
}

void Variant::clear() {
    Variant empty;
    swap(*this, empty);
}

Variant Variant::null() {
    Variant v;
    v.vt_ = VT_NULL;
    return v;
}
Variant Variant::fromI2(std::int16_t value) {
    Variant v;
    v.vt_ = VT_I2;
    v.i4_ = value;
    return v;
}
Variant Variant::fromI4(std::int32_t value) {
    Variant v;
    v.vt_ = VT_I4;
    v.i4_ = value;
    return v;
}
Variant Variant::fromUI1(std::uint8_t value) {
    Variant v;
    v.vt_ = VT_UI1;
    v.i4_ = value;
    return v;
}
Variant Variant::fromUI4(std::uint32_t value) {
    Variant v;
    v.vt_ = VT_UI4;
    v.i4_ = static_cast<std::int32_t>(value);
    return v;
}
Variant Variant::fromR4(float value) {
    Variant v;
    v.vt_ = VT_R4;
    v.r8_ = value;
    return v;
}
Variant Variant::fromR8(double value) {
    Variant v;
    v.vt_ = VT_R8;
    v.r8_ = value;
    return v;
}
Variant Variant::fromDate(DATE value) {
    Variant v;
    v.vt_ = VT_DATE;
    v.r8_ = value;
    return v;
}
Variant Variant::fromBool(bool value) {
    Variant v;
    v.vt_ = VT_BOOL;
    v.i4_ = value ? VARIANT_TRUE : VARIANT_FALSE;
    return v;
}
Variant Variant::fromBstr(Bstr value) {
    Variant v;
    v.vt_ = VT_BSTR;
    v.bstr_ = std::move(value);
    return v;
}
Variant Variant::fromError(HRESULT scode) {
    Variant v;
    v.vt_ = VT_ERROR;
    v.scode_ = scode;
    return v;
}
Variant Variant::missing() {
    return fromError(DISP_E_PARAMNOTFOUND);
}
Variant Variant::fromDispatch(IDispatch* value) {
    Variant v;
    v.vt_ = VT_DISPATCH;
    v.unk_ = static_cast<IUnknown*>(value);
    return v;
}
Variant Variant::fromUnknown(IUnknown* value) {
    Variant v;
    v.vt_ = VT_UNKNOWN;
    v.unk_ = value;
    return v;
}
Variant Variant::fromArray(std::shared_ptr<SafeArray> value) {
    Variant v;
    v.vt_ = static_cast<VARTYPE>(VT_ARRAY | (value ? value->elementType : VARTYPE{VT_VARIANT}));
    v.array_ = std::move(value);
    return v;
}
Variant Variant::fromByteRef(std::uint8_t* value) {
    Variant v;
    v.vt_ = VT_BYREF | VT_UI1;
    v.byref_ = value;
    return v;
}

IDispatch* Variant::dispatch() const {
    return vt_ == VT_DISPATCH ? static_cast<IDispatch*>(unk_.get()) : nullptr;
}

// ---------------------------------------------------------------------------------------
// Conversions

namespace {

// A numeric value read from a variant: integers exactly, everything else as a double.
struct Number {
    bool integral = true;
    std::int64_t i = 0;
    double d = 0;
    double asDouble() const { return integral ? static_cast<double>(i) : d; }
    bool isZero() const { return integral ? i == 0 : d == 0; }
};

bool isDigit(char16_t c) {
    return c >= u'0' && c <= u'9';
}

// Parses decimal text: [space] [+|-] digits [. digits] [(e|E) [+|-] digits] [space], with
// at least one mantissa digit. Hexadecimal, "inf" and "nan" are not numbers here.
// Returns S_OK, DISP_E_TYPEMISMATCH (not a number) or DISP_E_OVERFLOW (beyond a double).
HRESULT parseDecimal(std::u16string_view text, double& out) {
    std::u16string_view s = trimWhiteSpace(text);
    std::string ascii;
    std::size_t i = 0;
    bool negative = false;
    if (i < s.size() && (s[i] == u'+' || s[i] == u'-')) {
        negative = s[i] == u'-';
        ++i;
    }
    std::size_t mantissaDigits = 0;
    long long integerDigits = 0; // significant digits before the point
    long long leadingFractionZeros = 0;
    bool seenNonZero = false;
    while (i < s.size() && isDigit(s[i])) {
        if (s[i] != u'0')
            seenNonZero = true;
        if (seenNonZero)
            ++integerDigits;
        ascii.push_back(static_cast<char>(s[i]));
        ++mantissaDigits;
        ++i;
    }
    if (i < s.size() && s[i] == u'.') {
        ascii.push_back('.');
        ++i;
        while (i < s.size() && isDigit(s[i])) {
            if (s[i] != u'0')
                seenNonZero = true;
            else if (!seenNonZero)
                ++leadingFractionZeros;
            ascii.push_back(static_cast<char>(s[i]));
            ++mantissaDigits;
            ++i;
        }
    }
    if (mantissaDigits == 0)
        return DISP_E_TYPEMISMATCH;
    long long exponent = 0;
    if (i < s.size() && (s[i] == u'e' || s[i] == u'E')) {
        ascii.push_back('e');
        ++i;
        bool expNegative = false;
        if (i < s.size() && (s[i] == u'+' || s[i] == u'-')) {
            expNegative = s[i] == u'-';
            ascii.push_back(static_cast<char>(s[i]));
            ++i;
        }
        std::size_t expDigits = 0;
        while (i < s.size() && isDigit(s[i])) {
            ascii.push_back(static_cast<char>(s[i]));
            if (exponent < 100000)
                exponent = exponent * 10 + (s[i] - u'0');
            ++expDigits;
            ++i;
        }
        if (expDigits == 0)
            return DISP_E_TYPEMISMATCH;
        if (expNegative)
            exponent = -exponent;
    }
    if (i != s.size())
        return DISP_E_TYPEMISMATCH;
    if (!seenNonZero) {
        out = negative ? -0.0 : 0.0;
        return S_OK;
    }
    double value = 0;
    auto [end, ec] = std::from_chars(ascii.data(), ascii.data() + ascii.size(), value);
    if (ec == std::errc::result_out_of_range) {
        // Decimal magnitude of the first significant digit decides: huge or tiny.
        long long magnitude =
            integerDigits > 0 ? integerDigits - 1 + exponent : exponent - leadingFractionZeros - 1;
        if (magnitude >= 0)
            return DISP_E_OVERFLOW;
        value = 0;
    } else if (ec != std::errc() || end != ascii.data() + ascii.size()) {
        return DISP_E_TYPEMISMATCH;
    }
    out = negative ? -value : value;
    return S_OK;
}

bool equalsIgnoreCase(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char16_t x = a[i], y = b[i];
        if (x >= u'A' && x <= u'Z')
            x = static_cast<char16_t>(x - u'A' + u'a');
        if (y >= u'A' && y <= u'Z')
            y = static_cast<char16_t>(y - u'A' + u'a');
        if (x != y)
            return false;
    }
    return true;
}

// Reads the numeric value of `in`; text is parsed as a decimal number.
HRESULT toNumber(const Variant& in, Number& out) {
    switch (in.vt()) {
    case VT_EMPTY:
        out = Number{};
        return S_OK;
    case VT_I2:
        out = Number{true, in.i2(), 0};
        return S_OK;
    case VT_I4:
        out = Number{true, in.i4(), 0};
        return S_OK;
    case VT_UI1:
        out = Number{true, in.ui1(), 0};
        return S_OK;
    case VT_UI4:
        out = Number{true, in.ui4(), 0};
        return S_OK;
    case VT_BOOL:
        out = Number{true, in.boolVal() ? -1 : 0, 0};
        return S_OK;
    case VT_R4:
        out = Number{false, 0, in.r4()};
        return S_OK;
    case VT_R8:
    case VT_DATE:
        out = Number{false, 0, in.r8()};
        return S_OK;
    case VT_BYREF | VT_UI1:
        if (in.byteRef() == nullptr)
            return E_INVALIDARG;
        out = Number{true, *in.byteRef(), 0};
        return S_OK;
    case VT_BSTR: {
        double d = 0;
        HRESULT hr = parseDecimal(in.bstr().view(), d);
        if (failed(hr))
            return hr;
        out = Number{false, 0, d};
        return S_OK;
    }
    default:
        return DISP_E_TYPEMISMATCH;
    }
}

// An integer in [lo, hi]; doubles are rounded half to even first.
HRESULT toInteger(const Number& n, std::int64_t lo, std::int64_t hi, std::int64_t& out) {
    if (n.integral) {
        if (n.i < lo || n.i > hi)
            return DISP_E_OVERFLOW;
        out = n.i;
        return S_OK;
    }
    if (std::isnan(n.d))
        return DISP_E_OVERFLOW;
    double r = std::nearbyint(n.d);
    if (r < static_cast<double>(lo) || r > static_cast<double>(hi))
        return DISP_E_OVERFLOW;
    out = static_cast<std::int64_t>(r);
    return S_OK;
}

std::u16string asciiToUtf16(std::string_view s) {
    return std::u16string(s.begin(), s.end());
}

// Shortest decimal text with at most `digits` significant digits, exponent as "E+20".
std::u16string formatDouble(double d, int digits) {
    if (std::isnan(d))
        return u"NaN";
    if (std::isinf(d))
        return d > 0 ? u"Infinity" : u"-Infinity";
    char buffer[64];
    auto [end, ec] =
        std::to_chars(buffer, buffer + sizeof buffer, d, std::chars_format::general, digits);
    std::string text(buffer, ec == std::errc() ? end : buffer);
    for (char& c : text)
        if (c == 'e')
            c = 'E';
    if (text == "-0")
        text = "0";
    return asciiToUtf16(text);
}

// Date text in the form the automation runtime uses for the default locale:
// "M/D/YYYY h:mm:ss AM", the date alone at midnight, the time alone on day 0.
std::u16string formatDate(DATE value) {
    if (!std::isfinite(value))
        return formatDouble(value, 15);
    double dayPart = std::trunc(value);
    double fraction = std::fabs(value - dayPart);
    long long seconds = std::llround(fraction * 86400.0);
    long long days = static_cast<long long>(dayPart);
    if (seconds >= 86400) {
        seconds -= 86400;
        days += value < 0 ? -1 : 1;
    }
    // Civil date of day 0 = 1899-12-30 (days since 1970-01-01: -25569).
    long long z = days - 25569 + 719468;
    long long era = (z >= 0 ? z : z - 146096) / 146097;
    long long doe = z - era * 146097;
    long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    long long y = yoe + era * 400;
    long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    long long mp = (5 * doy + 2) / 153;
    long long d = doy - (153 * mp + 2) / 5 + 1;
    long long m = mp < 10 ? mp + 3 : mp - 9;
    if (m <= 2)
        ++y;
    char buffer[64];
    std::string text;
    if (days != 0 || seconds == 0) {
        std::snprintf(buffer, sizeof buffer, "%lld/%lld/%lld", m, d, y);
        text = buffer;
    }
    if (seconds != 0 || days == 0) {
        long long h = seconds / 3600, min = seconds / 60 % 60, s = seconds % 60;
        long long h12 = h % 12 == 0 ? 12 : h % 12;
        std::snprintf(buffer, sizeof buffer, "%lld:%02lld:%02lld %s", h12, min, s,
                      h < 12 ? "AM" : "PM");
        if (!text.empty())
            text += ' ';
        text += buffer;
    }
    return asciiToUtf16(text);
}

HRESULT toBstr(const Variant& in, Variant& out) {
    switch (in.vt()) {
    case VT_EMPTY:
        out = Variant::fromBstr(Bstr::empty());
        return S_OK;
    case VT_BSTR:
        out = in;
        return S_OK;
    case VT_I2:
    case VT_I4:
    case VT_UI1:
    case VT_UI4:
    case VT_BOOL:
    case VT_BYREF | VT_UI1: {
        Number n;
        HRESULT hr = toNumber(in, n);
        if (failed(hr))
            return hr;
        out = Variant::fromBstr(Bstr(asciiToUtf16(std::to_string(n.i))));
        return S_OK;
    }
    case VT_R4:
        out = Variant::fromBstr(Bstr(formatDouble(in.r4(), 7)));
        return S_OK;
    case VT_R8:
        out = Variant::fromBstr(Bstr(formatDouble(in.r8(), 15)));
        return S_OK;
    case VT_DATE:
        out = Variant::fromBstr(Bstr(formatDate(in.date())));
        return S_OK;
    default:
        return DISP_E_TYPEMISMATCH;
    }
}

HRESULT toBool(const Variant& in, Variant& out) {
    if (in.vt() == VT_BSTR) {
        std::u16string_view text = trimWhiteSpace(in.bstr().view());
        if (equalsIgnoreCase(text, u"true")) {
            out = Variant::fromBool(true);
            return S_OK;
        }
        if (equalsIgnoreCase(text, u"false")) {
            out = Variant::fromBool(false);
            return S_OK;
        }
    }
    Number n;
    HRESULT hr = toNumber(in, n);
    if (hr == DISP_E_OVERFLOW) // text beyond a double is still a number other than 0
        hr = S_OK, n = Number{true, 1, 0};
    if (failed(hr))
        return hr;
    out = Variant::fromBool(!n.isZero());
    return S_OK;
}

HRESULT toObject(const Variant& in, VARTYPE vt, Variant& out) {
    IUnknown* unk = nullptr;
    switch (in.vt()) {
    case VT_EMPTY:
        break;
    case VT_UNKNOWN:
    case VT_DISPATCH:
        unk = in.unknown();
        break;
    default:
        return DISP_E_TYPEMISMATCH;
    }
    if (vt == VT_UNKNOWN) {
        out = Variant::fromUnknown(unk);
        return S_OK;
    }
    if (in.vt() == VT_DISPATCH) {
        out = in;
        return S_OK;
    }
    if (unk == nullptr) {
        out = Variant::fromDispatch(nullptr);
        return S_OK;
    }
    ComPtr<IDispatch> disp;
    HRESULT hr = unk->QueryInterface(IDispatch::iid, disp.putVoid());
    if (failed(hr))
        return hr;
    out = Variant::fromDispatch(disp.get());
    return S_OK;
}

HRESULT convert(const Variant& in, VARTYPE vt, Variant& out) {
    if (in.vt() == vt) {
        out = in;
        return S_OK;
    }
    switch (vt) {
    case VT_EMPTY:
        out.clear();
        return S_OK;
    case VT_NULL:
        if (in.vt() != VT_EMPTY)
            return DISP_E_TYPEMISMATCH;
        out = Variant::null();
        return S_OK;
    case VT_BOOL:
        return toBool(in, out);
    case VT_BSTR:
        return toBstr(in, out);
    case VT_UNKNOWN:
    case VT_DISPATCH:
        return toObject(in, vt, out);
    case VT_I2:
    case VT_I4:
    case VT_UI1:
    case VT_UI4: {
        Number n;
        HRESULT hr = toNumber(in, n);
        if (failed(hr))
            return hr;
        std::int64_t value = 0;
        switch (vt) {
        case VT_I2:
            hr = toInteger(n, INT16_MIN, INT16_MAX, value);
            if (succeeded(hr))
                out = Variant::fromI2(static_cast<std::int16_t>(value));
            break;
        case VT_I4:
            hr = toInteger(n, INT32_MIN, INT32_MAX, value);
            if (succeeded(hr))
                out = Variant::fromI4(static_cast<std::int32_t>(value));
            break;
        case VT_UI1:
            hr = toInteger(n, 0, UINT8_MAX, value);
            if (succeeded(hr))
                out = Variant::fromUI1(static_cast<std::uint8_t>(value));
            break;
        default:
            hr = toInteger(n, 0, UINT32_MAX, value);
            if (succeeded(hr))
                out = Variant::fromUI4(static_cast<std::uint32_t>(value));
            break;
        }
        return hr;
    }
    case VT_R4:
    case VT_R8: {
        Number n;
        HRESULT hr = toNumber(in, n);
        if (failed(hr))
            return hr;
        double d = n.asDouble();
        if (vt == VT_R8) {
            out = Variant::fromR8(d);
            return S_OK;
        }
        if (std::isfinite(d) && std::fabs(d) > FLT_MAX)
            return DISP_E_OVERFLOW;
        out = Variant::fromR4(static_cast<float>(d));
        return S_OK;
    }
    case VT_DATE: {
        if (in.vt() == VT_BSTR) // date text is not parsed
            return DISP_E_TYPEMISMATCH;
        Number n;
        HRESULT hr = toNumber(in, n);
        if (failed(hr))
            return hr;
        double d = n.asDouble();
        // 1 January 100 to 31 December 9999, the range of automation dates.
        if (!(d >= -657434.0 && d < 2958466.0))
            return DISP_E_OVERFLOW;
        out = Variant::fromDate(d);
        return S_OK;
    }
    case VT_VARIANT:
        out = in;
        return S_OK;
    default:
        return DISP_E_TYPEMISMATCH;
    }
}

} // namespace

HRESULT changeType(Variant& out, const Variant& in, VARTYPE vt) {
    Variant result;
    HRESULT hr = convert(in, vt, result);
    if (succeeded(hr))
        out = std::move(result);
    return hr;
}

} // namespace norv::com
