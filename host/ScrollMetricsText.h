#pragma once
// The scroll values of a document's scrolling element as the page's script writes them:
// "top left height width", four whole numbers with single blanks between them. Plain C++.

#include <optional>
#include <string_view>

#include "host/ScrollingHandler.h"

namespace norv::host {

// The values of a well-formed text; nullopt for any other.
std::optional<ScrollTarget::Metrics> parseScrollMetrics(std::string_view text);

} // namespace norv::host
