#include "app/UserAgent.h"

#include <cstdio>
#include <utility>

namespace norv::app {

namespace {

std::string& savedDefaultText() {
    static std::string text;
    return text;
}

// The text up to its first null character, as C string functions see it.
std::string_view untilNull(std::string_view text) {
    return text.substr(0, text.find('\0'));
}

} // namespace

std::string versionToken(const std::array<std::uint16_t, 4>& version) {
    char buffer[64];
    // Each part in its shortest decimal form, at least one digit.
    std::snprintf(buffer, sizeof buffer, "Norv %d.%d.%d.%d", version[0], version[1], version[2],
                  version[3]);
    return buffer;
}

const std::string& UserAgent::savedDefault() {
    return savedDefaultText();
}

void UserAgent::clearSavedDefault() {
    savedDefaultText().clear();
}

void UserAgent::assign(std::string_view value, const DefaultSource& source) {
    if (value.empty()) {
        if (!properties_.empty()) {
            properties_ = "-";
            compose(source);
        }
        return;
    }
    if (properties_.find(value) != std::string::npos)
        return;
    properties_ = "+";
    properties_.append(value);
    added_.clear();
    compose(source);
}

void UserAgent::compose(const DefaultSource& source) {
    if (properties_.empty())
        return;
    std::string& saved = savedDefaultText();
    if (saved.empty()) {
        if (properties_.front() == '-') {
            properties_.clear();
            added_.clear();
            return;
        }
        std::string fetched = source ? source() : std::string();
        // The platform counts the terminating null character in the length it reports.
        fetched.push_back('\0');
        saved = std::move(fetched);
    }
    if (properties_.front() == '-') {
        properties_.clear();
        added_.clear();
        saved.clear();
        return;
    }
    if (properties_.front() != '+')
        return; // a text of its own serves as the whole user agent
    properties_.front() = ' ';
    auto close = saved.find(')');
    std::string result;
    if (close != std::string::npos) {
        result = saved.substr(0, close);
        result += ';';
        result += properties_;
        result += ')';
        result.append(saved, close + 1);
    } else {
        result = std::string(untilNull(saved));
        result += " (";
        result.append(properties_, 1);
        result += ')';
    }
    added_ = properties_;
    properties_ = std::move(result);
}

std::optional<std::string> UserAgent::added() const {
    if (added_.empty())
        return std::nullopt;
    return added_;
}

std::string UserAgent::requestText() const {
    if (properties_.empty() || properties_.front() == '+' || properties_.front() == '-')
        return {};
    return std::string(untilNull(properties_));
}

} // namespace norv::app
