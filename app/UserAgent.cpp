#include "app/UserAgent.h"

#include <cstdio>
#include <utility>

namespace norv::app {

namespace {

UserAgent::DefaultSource& defaultSource() {
    static UserAgent::DefaultSource source;
    return source;
}

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
    std::snprintf(buffer, sizeof buffer, "Norv %01.1d.%01.1d.%01.1d.%01.1d", version[0],
                  version[1], version[2], version[3]);
    return buffer;
}

void UserAgent::setDefaultSource(DefaultSource source) {
    defaultSource() = std::move(source);
}

const std::string& UserAgent::savedDefault() {
    return savedDefaultText();
}

void UserAgent::clearSavedDefault() {
    savedDefaultText().clear();
}

void UserAgent::assign(std::string_view value) {
    if (value.empty()) {
        if (!properties_.empty()) {
            properties_ = "-";
            compose();
        }
        return;
    }
    if (properties_.find(value) != std::string::npos)
        return;
    properties_ = "+";
    properties_.append(value);
    added_.clear();
    compose();
}

void UserAgent::compose() {
    if (properties_.empty())
        return;
    std::string& saved = savedDefaultText();
    if (saved.empty()) {
        if (properties_.front() == '-') {
            properties_.clear();
            added_.clear();
            return;
        }
        std::string fetched = defaultSource() ? defaultSource()() : std::string();
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
