#pragma once
// Bstr: an automation string. UTF-16 text with an explicit length, so embedded NUL
// characters survive; an absent string (null) is distinct from the empty one.

#include <optional>
#include <string>
#include <string_view>

namespace norv::com {

class Bstr {
public:
    Bstr() = default; // absent
    Bstr(std::u16string_view text) : text_(std::u16string(text)) {}
    Bstr(std::u16string text) : text_(std::move(text)) {}
    Bstr(const char16_t* text) {
        if (text)
            text_ = std::u16string(text);
    }

    static Bstr empty() { return Bstr(std::u16string()); }
    // Converts UTF-8 (invalid sequences become U+FFFD).
    static Bstr fromUtf8(std::string_view utf8);
    // An absent string stays absent.
    static Bstr fromUtf8(const char* utf8) {
        return utf8 ? fromUtf8(std::string_view(utf8)) : Bstr();
    }

    bool isNull() const { return !text_.has_value(); }
    // Absent or of length 0.
    bool isEmpty() const { return !text_ || text_->empty(); }
    std::size_t length() const { return text_ ? text_->size() : 0; }
    // Null when absent; otherwise NUL-terminated (the text may hold NULs of its own).
    const char16_t* data() const { return text_ ? text_->c_str() : nullptr; }
    std::u16string_view view() const {
        return text_ ? std::u16string_view(*text_) : std::u16string_view();
    }
    const std::u16string& str() const;
    // UTF-8 of the text (empty when absent); unpaired surrogates become U+FFFD.
    std::string toUtf8() const;

    friend bool operator==(const Bstr& a, const Bstr& b) { return a.text_ == b.text_; }

private:
    std::optional<std::u16string> text_;
};

// UTF-8 <-> UTF-16 conversions shared by the runtime.
std::u16string utf8ToUtf16(std::string_view utf8);
std::string utf16ToUtf8(std::u16string_view utf16);

} // namespace norv::com
