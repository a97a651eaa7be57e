// Feeds arbitrary text to the reading of the scroll values a page's script answers. An
// answer that is taken holds only digits, minus signs and the three single blanks between
// its four numbers, and the numbers, written back the way the script writes them, read
// again to the same values.

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "host/ScrollMetricsText.h"

using norv::host::parseScrollMetrics;

namespace {
void check(bool condition) {
    if (!condition)
        std::abort();
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto metrics = parseScrollMetrics(text);
    if (!metrics)
        return 0;
    check(text.find_first_not_of("0123456789- ") == std::string_view::npos);
    check(std::count(text.begin(), text.end(), ' ') == 3);
    const std::string again =
        std::to_string(metrics->scrollTop) + " " + std::to_string(metrics->scrollLeft) + " " +
        std::to_string(metrics->scrollHeight) + " " + std::to_string(metrics->scrollWidth);
    const auto reread = parseScrollMetrics(again);
    check(reread && reread->scrollTop == metrics->scrollTop &&
          reread->scrollLeft == metrics->scrollLeft &&
          reread->scrollHeight == metrics->scrollHeight &&
          reread->scrollWidth == metrics->scrollWidth);
    return 0;
}
