#include "host/ScrollMetricsText.h"

#include <charconv>

namespace norv::host {

std::optional<ScrollTarget::Metrics> parseScrollMetrics(std::string_view text) {
    int values[4] = {};
    const char* at = text.data();
    const char* end = text.data() + text.size();
    for (int i = 0; i < 4; ++i) {
        if (i > 0) {
            if (at == end || *at != ' ')
                return std::nullopt;
            ++at;
        }
        auto [next, error] = std::from_chars(at, end, values[i]);
        if (error != std::errc() || next == at)
            return std::nullopt;
        at = next;
    }
    if (at != end)
        return std::nullopt;
    return ScrollTarget::Metrics{values[0], values[1], values[2], values[3]};
}

} // namespace norv::host
