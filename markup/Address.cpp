#include "markup/Address.h"

#include <glib.h>

#include <string>

#include "platform/glib/Owned.h"

namespace norv::markup {

using namespace com;

namespace {

using glib::OwnedText;
using glib::OwnedUri;

constexpr GUriFlags kUriFlags =
    static_cast<GUriFlags>(G_URI_FLAGS_ENCODED | G_URI_FLAGS_SCHEME_NORMALIZE);

// Leading and trailing blanks and control characters are not part of an address.
std::u16string_view trimAddress(std::u16string_view text) {
    auto isEdge = [](char16_t c) {
        return c <= 0x20;
    };
    while (!text.empty() && isEdge(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isEdge(text.back()))
        text.remove_suffix(1);
    return text;
}

std::string encodeSpaces(std::string_view text) {
    std::string encoded;
    encoded.reserve(text.size());
    for (char c : text) {
        if (c == ' ')
            encoded += "%20";
        else
            encoded += c;
    }
    return encoded;
}

bool hasUpperCaseAscii(const char* text) {
    for (; text && *text; ++text) {
        if (*text >= 'A' && *text <= 'Z')
            return true;
    }
    return false;
}

// Parses an absolute URI and writes it back in its normal form, the host in lower case.
std::optional<std::string> normalise(const std::string& text) {
    GError* rawError = nullptr;
    OwnedUri uri(g_uri_parse(text.c_str(), kUriFlags, &rawError));
    glib::OwnedError error(rawError);
    if (!uri)
        return std::nullopt;
    const char* host = g_uri_get_host(uri.get());
    if (hasUpperCaseAscii(host)) {
        OwnedText lower(g_ascii_strdown(host, -1));
        uri.reset(g_uri_build(g_uri_get_flags(uri.get()), g_uri_get_scheme(uri.get()),
                              g_uri_get_userinfo(uri.get()), lower.get(), g_uri_get_port(uri.get()),
                              g_uri_get_path(uri.get()), g_uri_get_query(uri.get()),
                              g_uri_get_fragment(uri.get())));
    }
    OwnedText written(g_uri_to_string(uri.get()));
    if (!written)
        return std::nullopt;
    return std::string(written.get());
}

bool startsWithIgnoringCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() &&
           g_ascii_strncasecmp(text.data(), prefix.data(), prefix.size()) == 0;
}

} // namespace

HRESULT canonicalise(const Bstr& address, Bstr& canonical) {
    if (address.isNull())
        return E_INVALIDARG;
    std::u16string_view text16 = trimAddress(address.view());
    const std::size_t colon = text16.find(u':');
    const std::size_t counted = colon != std::u16string_view::npos && colon + 1 < text16.size()
                                    ? text16.size() - colon - 1
                                    : text16.size();
    if (counted <= 2)
        return E_BAD_PATHNAME;

    std::string text = encodeSpaces(utf16ToUtf8(text16));
    if (!text.empty() && text.front() == '/')
        text.insert(0, "file://"); // an absolute file path
    if (text.find('\0') != std::string::npos)
        return E_INVALID_URL;

    if (g_uri_peek_scheme(text.c_str()) == nullptr) {
        // The address stays relative.
        canonical = Bstr::fromUtf8(text);
        return E_BAD_PATHNAME;
    }
    std::optional<std::string> normal = normalise(text);
    if (!normal)
        return E_INVALID_URL;
    canonical = Bstr::fromUtf8(*normal);
    if (normal->find("./") != std::string::npos || normal->find(".\\") != std::string::npos)
        return E_BAD_PATHNAME;
    return S_FALSE;
}

HRESULT validate(const Bstr& address) {
    Bstr canonical;
    HRESULT hr = canonicalise(address, canonical);
    if (failed(hr))
        return hr;
    const std::string text = canonical.toUtf8();
    if (g_uri_peek_scheme(text.c_str()) == nullptr ||
        !g_uri_is_valid(text.c_str(), kUriFlags, nullptr))
        return S_FALSE;
    return S_OK;
}

bool sameAddress(const Bstr& a, const Bstr& b) {
    if (a.isNull() && b.isNull())
        return true;
    if (a.isNull() || b.isNull())
        return false;
    if (&a == &b)
        return true;
    Bstr canonicalB;
    Bstr canonicalA;
    if (failed(canonicalise(b, canonicalB)) || failed(canonicalise(a, canonicalA)))
        return false;

    auto comparable = [](const Bstr& canonical) {
        std::string text = canonical.toUtf8();
        const std::size_t hash = text.rfind('#');
        if (hash != std::string::npos)
            text.erase(hash);
        if (startsWithIgnoringCase(text, "file://") || startsWithIgnoringCase(text, "res://")) {
            OwnedText upper(g_utf8_strup(text.c_str(), static_cast<gssize>(text.size())));
            text = upper.get();
        }
        return text;
    };
    return comparable(canonicalA) == comparable(canonicalB);
}

} // namespace norv::markup
