// Feeds arbitrary text, as UTF-16 code units, to the reading of a file dialog's filter.
// Every entry must have a description and patterns, none of them empty or holding a bar
// or a NUL, no pattern holding a semicolon or blanks at its ends; and writing the entries
// back as a filter text must read again to the same entries.

#include <cstdint>
#include <cstdlib>
#include <string>

#include "script/FileDialogFilter.h"

using norv::script::FileDialogFilter;
using norv::script::parseFileDialogFilters;

namespace {

void check(bool condition) {
    if (!condition)
        std::abort();
}

bool holdsAny(const std::u16string& s, std::u16string_view characters) {
    return s.find_first_of(characters) != std::u16string::npos;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::u16string text(size / 2, u'\0');
    for (std::size_t i = 0; i < text.size(); ++i)
        text[i] = static_cast<char16_t>(data[2 * i] | data[2 * i + 1] << 8);

    const std::vector<FileDialogFilter> filters = parseFileDialogFilters(text);
    std::u16string written;
    for (const FileDialogFilter& f : filters) {
        check(!f.description.empty() && !holdsAny(f.description, std::u16string_view(u"|\0", 2)));
        check(!f.patterns.empty());
        written += f.description + u"|";
        for (const std::u16string& p : f.patterns) {
            check(!p.empty() && !holdsAny(p, std::u16string_view(u"|;\0", 3)));
            check(p.front() != u' ' && p.back() != u' ');
            written += p + u";";
        }
        written += u"|";
    }
    check(parseFileDialogFilters(written) == filters);
    return 0;
}
