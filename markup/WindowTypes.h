#pragma once
// The window types a declaration can ask for (the type library's TaviWindowTypes).

#include <cstdint>

namespace norv::markup {

enum TaviWindowTypes : std::int32_t {
    wtAuto = 0,
    wtNormal = 1,
    wtUtility = 2,
    wtCustom = 3,
    wtScreen = 4,
    wtUnknown = 5,
};

// The tri-state of isApplicationWindow: -1 yes, 0 no, 100 unspecified ("auto").
constexpr std::int32_t kTriStateYes = -1;
constexpr std::int32_t kTriStateNo = 0;
constexpr std::int32_t kTriStateAuto = 100;

// A length of -1 pixels means "auto": the page decides.
constexpr std::int32_t kLengthAuto = -1;

} // namespace norv::markup
