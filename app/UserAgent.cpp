#include "app/UserAgent.h"

#include <cstdio>
#include <optional>
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

namespace {

// The code points of strict UTF-8; nullopt for anything else.
std::optional<std::u32string> codePoints(std::string_view text) {
    std::u32string out;
    out.reserve(text.size());
    const auto* s = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t n = text.size();
    for (std::size_t i = 0; i < n;) {
        const unsigned char b = s[i];
        if (b < 0x80) {
            out.push_back(b);
            ++i;
            continue;
        }
        int length = 0;
        char32_t c = 0;
        unsigned char lo = 0x80, hi = 0xBF;
        if (b >= 0xC2 && b <= 0xDF) {
            length = 2;
            c = b & 0x1F;
        } else if (b >= 0xE0 && b <= 0xEF) {
            length = 3;
            c = b & 0x0F;
            lo = b == 0xE0 ? 0xA0 : 0x80;
            hi = b == 0xED ? 0x9F : 0xBF; // no surrogates
        } else if (b >= 0xF0 && b <= 0xF4) {
            length = 4;
            c = b & 0x07;
            lo = b == 0xF0 ? 0x90 : 0x80;
            hi = b == 0xF4 ? 0x8F : 0xBF;
        } else {
            return std::nullopt;
        }
        if (n - i < static_cast<std::size_t>(length))
            return std::nullopt;
        for (int k = 1; k < length; ++k) {
            const unsigned char t = s[i + k];
            if (t < (k == 1 ? lo : 0x80) || t > (k == 1 ? hi : 0xBF))
                return std::nullopt;
            c = (c << 6) | (t & 0x3F);
        }
        out.push_back(c);
        i += static_cast<std::size_t>(length);
    }
    return out;
}

bool isTokenChar(char32_t c) {
    if (c >= 0x80)
        return false;
    if ((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'))
        return true;
    return std::u32string_view(U"!#$%&'*+-.^_`|~").find(c) != std::u32string_view::npos;
}

bool isCommentText(char32_t c) {
    return c == '\t' || c == ' ' || (c >= 0x21 && c <= 0x27) || (c >= 0x2A && c <= 0x5B) ||
           (c >= 0x5D && c <= 0x7E) || (c >= 0x80 && c <= 0xFF);
}

bool isQuotable(char32_t c) {
    return c == '\t' || c == ' ' || (c >= 0x21 && c <= 0x7E) || (c >= 0x80 && c <= 0xFF);
}

} // namespace

bool isValidUserAgent(std::string_view text) {
    const auto points = codePoints(text);
    if (!points)
        return false;
    const std::u32string& c = *points;
    const std::size_t n = c.size();
    std::size_t i = 0;
    auto token = [&] {
        const std::size_t start = i;
        while (i < n && isTokenChar(c[i]))
            ++i;
        return i > start;
    };
    auto product = [&] {
        if (!token())
            return false;
        if (i < n && c[i] == '/') {
            ++i;
            return token();
        }
        return true;
    };
    // Nesting is counted, not recursed into: a text of a million "(" is just refused.
    auto comment = [&] {
        std::size_t depth = 0;
        while (i < n) {
            const char32_t ch = c[i];
            if (ch == '(') {
                ++depth;
                ++i;
            } else if (ch == ')') {
                ++i;
                if (--depth == 0)
                    return true;
            } else if (ch == '\\') {
                if (i + 1 >= n || !isQuotable(c[i + 1]))
                    return false;
                i += 2;
            } else if (isCommentText(ch)) {
                ++i;
            } else {
                return false;
            }
        }
        return false;
    };
    if (!product())
        return false;
    while (i < n) {
        while (i < n && (c[i] == ' ' || c[i] == '\t'))
            ++i;
        if (i == n)
            return false; // white space at the end
        if (c[i] == '(' ? !comment() : !product())
            return false;
    }
    return true;
}

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

bool UserAgent::assign(std::string_view value, const DefaultSource& source) {
    if (value.empty()) {
        if (!properties_.empty()) {
            properties_ = "-";
            compose(source);
        }
        return true;
    }
    if (properties_.find(value) != std::string::npos)
        return true;
    std::string properties = std::exchange(properties_, "+");
    std::string added = std::exchange(added_, std::string());
    const std::string saved = savedDefaultText();
    properties_.append(value);
    compose(source);
    // The whole text requests would carry: the composed one less the default's null.
    std::string_view composed = properties_;
    if (!composed.empty() && composed.back() == '\0')
        composed.remove_suffix(1);
    if (composed.find('\0') == std::string_view::npos && isValidUserAgent(composed))
        return true;
    properties_ = std::move(properties);
    added_ = std::move(added);
    savedDefaultText() = saved;
    return false;
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
