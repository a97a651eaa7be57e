#pragma once
// Variant: the automation value that crosses every dispatch call.

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/com/Bstr.h"
#include "platform/com/ComPtr.h"
#include "platform/com/Unknown.h"

namespace norv::com {

struct IDispatch;

using VARTYPE = std::uint16_t;
enum : VARTYPE {
    VT_EMPTY = 0,
    VT_NULL = 1,
    VT_I2 = 2,
    VT_I4 = 3,
    VT_R4 = 4,
    VT_R8 = 5,
    VT_DATE = 7,
    VT_BSTR = 8,
    VT_DISPATCH = 9,
    VT_ERROR = 10,
    VT_BOOL = 11,
    VT_VARIANT = 12,
    VT_UNKNOWN = 13,
    VT_UI1 = 17,
    VT_UI4 = 19,
    VT_VOID = 24, // type descriptions only: no value
    VT_HRESULT = 25,
    VT_RECORD = 36, // type descriptions only: a record (see RecordInfo)
    VT_ARRAY = 0x2000,
    VT_BYREF = 0x4000,
    VT_TYPEMASK = 0x0FFF,
};

using VARIANT_BOOL = std::int16_t;
constexpr VARIANT_BOOL VARIANT_TRUE = -1;
constexpr VARIANT_BOOL VARIANT_FALSE = 0;
using DATE = double;

class Variant;

// A one-dimensional array of variants (VT_ARRAY | VT_VARIANT) or of bytes
// (VT_ARRAY | VT_UI1). Copies of a Variant share the array.
struct SafeArray {
    VARTYPE elementType = VT_VARIANT;
    std::vector<Variant> variants;   // when elementType == VT_VARIANT
    std::vector<std::uint8_t> bytes; // when elementType == VT_UI1
};

class Variant {
public:
    Variant() = default; // VT_EMPTY
    Variant(const Variant&);
    Variant(Variant&&) noexcept;
    Variant& operator=(const Variant&);
    Variant& operator=(Variant&&) noexcept;
    ~Variant();

    static Variant null();
    static Variant fromI2(std::int16_t v);
    static Variant fromI4(std::int32_t v);
    static Variant fromUI1(std::uint8_t v);
    static Variant fromUI4(std::uint32_t v);
    static Variant fromR4(float v);
    static Variant fromR8(double v);
    static Variant fromDate(DATE v);
    static Variant fromBool(bool v); // VT_BOOL with VARIANT_TRUE / VARIANT_FALSE
    static Variant fromBstr(Bstr v);
    static Variant fromError(HRESULT scode);
    // A missing optional argument: VT_ERROR holding DISP_E_PARAMNOTFOUND.
    static Variant missing();
    static Variant fromDispatch(IDispatch* v); // adds a reference
    static Variant fromUnknown(IUnknown* v);   // adds a reference
    static Variant fromArray(std::shared_ptr<SafeArray> v);
    // VT_BYREF | VT_UI1: points at bytes owned by someone else.
    static Variant fromByteRef(std::uint8_t* v);

    VARTYPE vt() const { return vt_; }
    bool isEmpty() const { return vt_ == VT_EMPTY; }
    bool isMissing() const { return vt_ == VT_ERROR && scode_ == DISP_E_PARAMNOTFOUND; }

    // Accessors; each is meaningful only for its own type.
    std::int16_t i2() const { return static_cast<std::int16_t>(i4_); }
    std::int32_t i4() const { return i4_; }
    std::uint8_t ui1() const { return static_cast<std::uint8_t>(i4_); }
    std::uint32_t ui4() const { return static_cast<std::uint32_t>(i4_); }
    float r4() const { return static_cast<float>(r8_); }
    double r8() const { return r8_; }
    DATE date() const { return r8_; }
    VARIANT_BOOL boolVal() const { return static_cast<VARIANT_BOOL>(i4_); }
    HRESULT scode() const { return scode_; }
    const Bstr& bstr() const { return bstr_; }
    IDispatch* dispatch() const;
    IUnknown* unknown() const { return unk_.get(); }
    const std::shared_ptr<SafeArray>& array() const { return array_; }
    std::uint8_t* byteRef() const { return byref_; }

    void clear();

    friend void swap(Variant& a, Variant& b) noexcept;

private:
    VARTYPE vt_ = VT_EMPTY;
    std::int32_t i4_ = 0;  // VT_I2, VT_I4, VT_UI1, VT_UI4, VT_BOOL
    double r8_ = 0;        // VT_R4, VT_R8, VT_DATE
    HRESULT scode_ = S_OK; // VT_ERROR
    Bstr bstr_;
    ComPtr<IUnknown> unk_; // VT_UNKNOWN, VT_DISPATCH (holds the IDispatch pointer itself)
    std::shared_ptr<SafeArray> array_;
    std::uint8_t* byref_ = nullptr;
};

// Converts `in` to type `vt` into `out` (which may alias `in`):
// - to VT_BOOL: numbers (0 is false, anything else true); text "true"/"false" in any
//   letter case or a decimal number; any other text -> DISP_E_TYPEMISMATCH.
// - to VT_I4 (and VT_I2, VT_UI1, VT_UI4): numbers rounded half to even, text as a
//   decimal number; out of range -> DISP_E_OVERFLOW, other text -> DISP_E_TYPEMISMATCH.
// - to VT_R4, VT_R8: numbers and decimal text (beyond a double -> DISP_E_OVERFLOW).
// - to VT_DATE: numbers within the years 100 to 9999; text -> DISP_E_TYPEMISMATCH.
// - to VT_BSTR: numbers in their shortest decimal form (at most 15 significant digits for
//   VT_R8, 7 for VT_R4, exponent as "1E+20"), booleans as "-1" / "0" (as the automation
//   runtime does without its alphabetic flag), dates as "M/D/YYYY h:mm:ss AM",
//   VT_NULL, VT_ERROR and objects -> DISP_E_TYPEMISMATCH.
// Decimal text: optional spaces, sign, digits with an optional fraction and exponent;
// hexadecimal, "inf" and "nan" are not numbers. VT_BYREF | VT_UI1 is read through.
// On failure `out` is left unchanged.
// - to VT_UNKNOWN / VT_DISPATCH: objects (QueryInterface for IDispatch, whose failure is
//   returned); VT_EMPTY gives a null object; anything else -> DISP_E_TYPEMISMATCH.
// VT_EMPTY converts to the zero value of numeric and text types.
HRESULT changeType(Variant& out, const Variant& in, VARTYPE vt);

} // namespace norv::com
