#pragma once
// UTF-8 / UTF-16 conversion for the bridge's texts. Embedded NULs are kept; invalid
// sequences and unpaired surrogates become U+FFFD.

#include <string>
#include <string_view>

namespace norv::web::rpc {

std::string toUtf8(std::u16string_view text);
std::u16string toUtf16(std::string_view text);

} // namespace norv::web::rpc
