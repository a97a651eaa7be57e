#pragma once
// The window types a declaration can ask for, and the special values of its fields.

#include <cstdint>

#include "typelib/NorvViewTypes.h"

namespace norv::markup {

using typelib::TaviWindowTypes;
using enum typelib::TaviWindowTypes;

// The tri-state of isApplicationWindow: -1 yes, 0 no, 100 unspecified ("auto").
constexpr std::int32_t kTriStateYes = -1;
constexpr std::int32_t kTriStateNo = 0;
constexpr std::int32_t kTriStateAuto = 100;

// A length of -1 pixels means "auto": the page decides.
constexpr std::int32_t kLengthAuto = -1;

} // namespace norv::markup
