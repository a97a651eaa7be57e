#pragma once
// The user agent of the embedded browser: the platform's default extended by the program's
// own token ("Norv 1.5.0.0"), or by whatever script assigns instead.
//
// A host keeps its user-agent properties here. While an assignment is pending they begin
// with a mark, "+" (add the rest to the default) or "-" (remove what was added); after
// composition they hold the full user-agent text. The platform's default is fetched once
// and saved process-wide (with the terminating null character the platform counts in its
// length), and dropped again when an addition is removed.

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace norv::app {

// "Norv %d.%d.%d.%d" with the four parts of the program's version, most significant first.
std::string versionToken(const std::array<std::uint16_t, 4>& version);

// Whether `text` (UTF-8) can be the User-Agent of a request, exactly as the browser engine
// takes it: a product (token or token/token), then products and comments, with blanks or
// tabs between them but none at either end. A comment is balanced parentheses around
// visible ASCII, blanks, tabs, characters U+0080 to U+00FF and backslash-quoted
// characters. So no control character, no NUL, nothing above U+00FF, and every character
// one octet on the wire.
bool isValidUserAgent(std::string_view text);

class UserAgent {
public:
    // Supplies the platform's default user agent; raises a framework exception on failure.
    using DefaultSource = std::function<std::string()>;

    // The saved default, with its terminating null character; empty until first needed.
    static const std::string& savedDefault();
    // Forgets the saved default (the next composition fetches it again).
    static void clearSavedDefault();

    // Assigns the text to add to the default; the empty text removes the addition. Text
    // that already occurs in the properties changes nothing. The default comes from
    // `source` when none is saved; its exception passes on, and the properties then keep
    // their pending mark. False, with nothing changed, when the user agent composed with
    // the text would not be a valid one (isValidUserAgent).
    bool assign(std::string_view value, const DefaultSource& source);

    // The part added to the default, with its leading blank; nullopt when nothing is added.
    std::optional<std::string> added() const;

    // The full user agent that requests carry; empty when none is composed (requests then
    // carry the platform's default).
    std::string requestText() const;

    // The raw properties (pending mark or composed text).
    const std::string& properties() const { return properties_; }

private:
    void compose(const DefaultSource& source);

    std::string properties_;
    // The blank and the text that composition added to the default.
    std::string added_;
};

} // namespace norv::app
