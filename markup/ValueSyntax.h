#pragma once
// The text forms of declaration attribute values: window type words, lengths in pixels
// or "auto", and the yes/no/"auto" tri-state. Readers take the attribute as a variant
// and write their result only on success; both readers and writers report
// TYPE_E_TYPEMISMATCH for a value that does not fit.

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/com/HResult.h"
#include "platform/com/Variant.h"

namespace norv::markup {

// "auto", "normal", "utility", "custom", "screen" (exact, after leading blanks), or any
// value that converts to a number from 0 to 5.
com::HRESULT readWindowType(const com::Variant& value, std::int32_t& type);
// The word of types 0 to 4; E_FAIL for any other value.
com::HRESULT writeWindowType(std::int32_t type, std::u16string& text);

// Text only: "auto" (-1) or an unsigned number and the unit "px", read as "%u%s" reads
// them (the number wraps to 32 bits and is stored as a signed value).
com::HRESULT readLength(const com::Variant& value, std::int32_t& length);
// "auto" for -1, otherwise the value as an unsigned number followed by "px".
std::u16string writeLength(std::int32_t length);

// "auto" (100), or anything the variant conversion to a boolean accepts (-1 or 0).
com::HRESULT readTriState(const com::Variant& value, std::int32_t& state);
// "true" for -1, "false" for 0, "auto" for 100; TYPE_E_TYPEMISMATCH otherwise.
com::HRESULT writeTriState(std::int32_t state, std::u16string& text);

} // namespace norv::markup
