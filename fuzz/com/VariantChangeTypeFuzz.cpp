// Converts arbitrary text to every scalar type and back to text, checking the invariants
// the conversions promise: a failure is one of the documented codes and leaves the
// destination alone; a success has the requested type; numbers written as text read back.

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/com/Variant.h"

using namespace norv::com;

namespace {

void check(bool condition) {
    if (!condition)
        std::abort();
}

void convertAll(const Variant& text) {
    static constexpr VARTYPE targets[] = {VT_BOOL, VT_I2, VT_I4,   VT_UI1,  VT_UI4,
                                          VT_R4,   VT_R8, VT_DATE, VT_BSTR, VT_UNKNOWN};
    for (VARTYPE vt : targets) {
        Variant out = Variant::fromI4(0x5EED);
        HRESULT hr = changeType(out, text, vt);
        if (failed(hr)) {
            check(hr == DISP_E_TYPEMISMATCH || hr == DISP_E_OVERFLOW);
            check(out.vt() == VT_I4 && out.i4() == 0x5EED);
            continue;
        }
        check(out.vt() == vt);
        if (vt == VT_BOOL)
            check(out.boolVal() == VARIANT_TRUE || out.boolVal() == VARIANT_FALSE);
        if (vt == VT_I4 || vt == VT_R8) {
            // The number's own text converts back to the same number.
            Variant again;
            check(succeeded(changeType(again, out, VT_BSTR)));
            Variant back;
            check(succeeded(changeType(back, again, vt)));
            if (vt == VT_I4)
                check(back.i4() == out.i4());
            else if (std::isfinite(out.r8()) && out.r8() != 0)
                check(std::fabs(back.r8() - out.r8()) <= std::fabs(out.r8()) * 1e-14);
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    convertAll(Variant::fromBstr(Bstr::fromUtf8(bytes)));
    std::u16string wide(size / 2, u'\0');
    std::memcpy(wide.data(), data, wide.size() * 2);
    convertAll(Variant::fromBstr(Bstr(std::move(wide))));
    return 0;
}
