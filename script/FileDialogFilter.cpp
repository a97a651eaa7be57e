#include "script/FileDialogFilter.h"

namespace norv::script {

namespace {

std::u16string_view trimBlanks(std::u16string_view s) {
    while (!s.empty() && s.front() == u' ')
        s.remove_prefix(1);
    while (!s.empty() && s.back() == u' ')
        s.remove_suffix(1);
    return s;
}

// The next part of `rest` up to a vertical bar (which is consumed), or all of it.
std::u16string_view nextPart(std::u16string_view& rest) {
    const std::size_t bar = rest.find(u'|');
    const std::u16string_view part = rest.substr(0, bar);
    rest = bar == std::u16string_view::npos ? std::u16string_view() : rest.substr(bar + 1);
    return part;
}

} // namespace

std::vector<FileDialogFilter> parseFileDialogFilters(std::u16string_view text) {
    text = text.substr(0, text.find(u'\0'));
    std::vector<FileDialogFilter> filters;
    std::u16string_view rest = text;
    while (!rest.empty()) {
        const std::u16string_view description = nextPart(rest);
        if (description.empty())
            break;
        std::u16string_view patterns = nextPart(rest);
        FileDialogFilter filter{std::u16string(description), {}};
        while (!patterns.empty()) {
            const std::size_t semicolon = patterns.find(u';');
            const std::u16string_view pattern = trimBlanks(patterns.substr(0, semicolon));
            if (!pattern.empty())
                filter.patterns.emplace_back(pattern);
            patterns = semicolon == std::u16string_view::npos ? std::u16string_view()
                                                              : patterns.substr(semicolon + 1);
        }
        if (!filter.patterns.empty())
            filters.push_back(std::move(filter));
    }
    return filters;
}

} // namespace norv::script
