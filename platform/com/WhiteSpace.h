#pragma once
// White space in texts, one definition for the whole program: the Unicode space and line
// separators (GLib's g_unichar_isspace: U+0020, U+00A0, U+1680, U+2000 to U+200A, U+202F,
// U+205F, U+3000, U+2028, U+2029) and the ASCII controls tab, line feed, vertical tab, form
// feed and carriage return. It does not depend on the process's locale.

#include <string_view>

namespace norv::com {

bool isWhiteSpace(char16_t c);

// `text` without the characters at either end for which `edge` is true (a view into it).
template <class Edge>
std::u16string_view trimEdges(std::u16string_view text, Edge edge) {
    while (!text.empty() && edge(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && edge(text.back()))
        text.remove_suffix(1);
    return text;
}

// `text` without white space at either end (a view into it).
inline std::u16string_view trimWhiteSpace(std::u16string_view text) {
    return trimEdges(text, isWhiteSpace);
}

} // namespace norv::com
