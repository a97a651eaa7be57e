#pragma once
// FileDialogFilter: one entry of a file dialog's file type list, and the reading of the
// filter text script gives a file dialog.
//
// The text holds description and pattern pairs, every part separated by a vertical bar:
// "Text files|*.txt|Pages|*.htm;*.html". A pattern part may list several patterns
// separated by semicolons. The list ends at its end, at a pair whose description is empty
// ("A|*.a||B|*.b" offers only A) and at a NUL character. A pair without patterns offers
// nothing and is left out.

#include <string>
#include <string_view>
#include <vector>

namespace norv::script {

struct FileDialogFilter {
    std::u16string description;
    std::vector<std::u16string> patterns; // blanks around each pattern removed, none empty

    friend bool operator==(const FileDialogFilter&, const FileDialogFilter&) = default;
};

std::vector<FileDialogFilter> parseFileDialogFilters(std::u16string_view text);

} // namespace norv::script
