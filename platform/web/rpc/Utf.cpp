#include "platform/web/rpc/Utf.h"

#include <cstdint>

namespace norv::web::rpc {

namespace {
void appendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (c >> 12)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (c >> 18)));
        out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}
constexpr char32_t replacement = 0xFFFD;
} // namespace

std::string toUtf8(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF) {
            if (i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
                c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
                ++i;
            } else {
                c = replacement;
            }
        } else if (c >= 0xDC00 && c <= 0xDFFF) {
            c = replacement;
        }
        appendUtf8(out, c);
    }
    return out;
}

std::u16string toUtf16(std::string_view text) {
    std::u16string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        const auto b = static_cast<std::uint8_t>(text[i]);
        char32_t c = replacement;
        std::size_t len = 1;
        if (b < 0x80) {
            c = b;
        } else {
            std::size_t need = 0;
            char32_t min = 0;
            if ((b & 0xE0) == 0xC0) {
                need = 1, c = b & 0x1F, min = 0x80;
            } else if ((b & 0xF0) == 0xE0) {
                need = 2, c = b & 0x0F, min = 0x800;
            } else if ((b & 0xF8) == 0xF0) {
                need = 3, c = b & 0x07, min = 0x10000;
            }
            bool ok = need > 0;
            for (std::size_t k = 1; ok && k <= need; ++k) {
                if (i + k >= text.size()) {
                    ok = false;
                    break;
                }
                const auto cb = static_cast<std::uint8_t>(text[i + k]);
                if ((cb & 0xC0) != 0x80) {
                    ok = false;
                    break;
                }
                c = (c << 6) | (cb & 0x3F);
            }
            if (ok && c >= min && c <= 0x10FFFF && !(c >= 0xD800 && c <= 0xDFFF)) {
                len = need + 1;
            } else {
                c = replacement;
                len = 1;
            }
        }
        if (c >= 0x10000) {
            c -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(c));
        }
        i += len;
    }
    return out;
}

} // namespace norv::web::rpc
