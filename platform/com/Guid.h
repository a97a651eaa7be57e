#pragma once
// Globally unique identifiers: interface, class and library identifiers.

#include <array>
#include <compare>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace norv::com {

struct GUID {
    std::uint32_t Data1 = 0;
    std::uint16_t Data2 = 0;
    std::uint16_t Data3 = 0;
    std::array<std::uint8_t, 8> Data4{};

    friend constexpr bool operator==(const GUID&, const GUID&) = default;
    friend constexpr auto operator<=>(const GUID&, const GUID&) = default;

    // Parses "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" (braces optional, hex digits in
    // either case); nullopt for anything else.
    static constexpr std::optional<GUID> parse(std::string_view text);

    // The upper-case braced form, "{6BF52A52-394A-11D3-B153-00C04F79FAA6}".
    std::string toString() const;

    // The 16 bytes in memory order (Data1..Data3 little-endian), as records lay them out.
    std::array<std::uint8_t, 16> toBytes() const;
    static GUID fromBytes(const std::uint8_t* bytes);
};

using IID = GUID;
using CLSID = GUID;

constexpr GUID GUID_NULL{};
constexpr GUID IID_NULL{};

namespace detail {
constexpr int hexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}
constexpr bool readHex(std::string_view text, std::size_t pos, std::size_t digits,
                       std::uint64_t& out) {
    out = 0;
    for (std::size_t i = 0; i < digits; ++i) {
        int v = hexValue(text[pos + i]);
        if (v < 0)
            return false;
        out = out * 16 + static_cast<std::uint64_t>(v);
    }
    return true;
}
} // namespace detail

constexpr std::optional<GUID> GUID::parse(std::string_view text) {
    if (text.size() == 38) {
        if (text.front() != '{' || text.back() != '}')
            return std::nullopt;
        text = text.substr(1, 36);
    }
    if (text.size() != 36 || text[8] != '-' || text[13] != '-' || text[18] != '-' ||
        text[23] != '-')
        return std::nullopt;
    GUID g;
    std::uint64_t v = 0;
    if (!detail::readHex(text, 0, 8, v))
        return std::nullopt;
    g.Data1 = static_cast<std::uint32_t>(v);
    if (!detail::readHex(text, 9, 4, v))
        return std::nullopt;
    g.Data2 = static_cast<std::uint16_t>(v);
    if (!detail::readHex(text, 14, 4, v))
        return std::nullopt;
    g.Data3 = static_cast<std::uint16_t>(v);
    constexpr std::size_t positions[8] = {19, 21, 24, 26, 28, 30, 32, 34};
    for (std::size_t i = 0; i < 8; ++i) {
        if (!detail::readHex(text, positions[i], 2, v))
            return std::nullopt;
        g.Data4[i] = static_cast<std::uint8_t>(v);
    }
    return g;
}

// A GUID from a literal checked at compile time: guid("{...}").
consteval GUID guid(const char* text) {
    std::string_view view(text);
    auto g = GUID::parse(view);
    if (!g)
        throw "malformed GUID literal";
    return *g;
}

} // namespace norv::com

template <>
struct std::hash<norv::com::GUID> {
    std::size_t operator()(const norv::com::GUID& g) const noexcept {
        std::uint64_t a = (std::uint64_t{g.Data1} << 32) | (std::uint64_t{g.Data2} << 16) | g.Data3;
        std::uint64_t b = 0;
        for (auto byte : g.Data4)
            b = (b << 8) | byte;
        return std::hash<std::uint64_t>{}(a ^ (b * 0x9E3779B97F4A7C15ull));
    }
};
