#include "markup/Address.h"

#include <glib.h>

#include <string>

#include "platform/com/WhiteSpace.h"
#include "platform/glib/Owned.h"

namespace norv::markup {

using namespace com;

namespace {

using glib::OwnedText;
using glib::OwnedUri;

constexpr GUriFlags kUriFlags =
    static_cast<GUriFlags>(G_URI_FLAGS_ENCODED | G_URI_FLAGS_SCHEME_NORMALIZE);
// Canonicalising reads the host as written too: only encoded unreserved characters are
// decoded ("%41" is "A"), so an encoded "@", "/", ":" or blank stays encoded and can never
// become part of the syntax (and move the host) when the canonical text is read again.
constexpr GUriFlags kCanonicalFlags = static_cast<GUriFlags>(kUriFlags | G_URI_FLAGS_NON_DNS);

// Leading and trailing blanks and control characters are not part of an address.
std::u16string_view trimAddress(std::u16string_view text) {
    return trimEdges(text, [](char16_t c) { return c <= 0x20; });
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

// True when every percent escape of `host` stands for a byte of a non-ASCII character:
// decoding then gives a name in another script, never a character of the URI syntax.
bool onlyNonAsciiEscapes(std::string_view host) {
    bool any = false;
    for (std::size_t i = host.find('%'); i != std::string_view::npos; i = host.find('%', i + 1)) {
        if (i + 2 >= host.size() || g_ascii_xdigit_value(host[i + 1]) < 8 ||
            g_ascii_xdigit_value(host[i + 2]) < 0)
            return false;
        any = true;
    }
    return any;
}

// The host in its normal form: a name in another script (written or encoded) in its ASCII
// (IDNA) form, ASCII letters in lower case except inside percent escapes.
std::optional<std::string> normalHost(const char* host) {
    std::string text = host;
    if (onlyNonAsciiEscapes(text)) {
        OwnedText decoded(g_uri_unescape_string(text.c_str(), nullptr));
        if (decoded && g_utf8_validate(decoded.get(), -1, nullptr))
            text = decoded.get();
    }
    if (g_hostname_is_non_ascii(text.c_str())) {
        OwnedText ascii(g_hostname_to_ascii(text.c_str()));
        if (!ascii)
            return std::nullopt;
        text = ascii.get();
    }
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%')
            i += 2;
        else
            text[i] = g_ascii_tolower(text[i]);
    }
    return text;
}

// Parses an absolute URI and writes it back in its normal form.
std::optional<std::string> normalise(const std::string& text) {
    GError* rawError = nullptr;
    OwnedUri uri(g_uri_parse(text.c_str(), kCanonicalFlags, &rawError));
    glib::OwnedError error(rawError);
    if (!uri)
        return std::nullopt;
    const char* host = g_uri_get_host(uri.get());
    const char* path = g_uri_get_path(uri.get());
    // Without an authority, a path that starts with "//" would be read back as one: such
    // an address has no text of its own.
    if (host == nullptr && path[0] == '/' && path[1] == '/')
        return std::nullopt;
    if (host != nullptr) {
        std::optional<std::string> normal = normalHost(host);
        if (!normal)
            return std::nullopt;
        if (*normal != host) {
            uri.reset(g_uri_build(g_uri_get_flags(uri.get()), g_uri_get_scheme(uri.get()),
                                  g_uri_get_userinfo(uri.get()), normal->c_str(),
                                  g_uri_get_port(uri.get()), path, g_uri_get_query(uri.get()),
                                  g_uri_get_fragment(uri.get())));
        }
    }
    OwnedText written(g_uri_to_string(uri.get()));
    if (!written)
        return std::nullopt;
    return std::string(written.get());
}

// Two characters or fewer after the first colon (when one follows it), or in all.
bool tooShort(std::u16string_view text) {
    const std::size_t colon = text.find(u':');
    const std::size_t counted = colon != std::u16string_view::npos && colon + 1 < text.size()
                                    ? text.size() - colon - 1
                                    : text.size();
    return counted <= 2;
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
    if (tooShort(text16))
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
    // Removing dot segments can shorten an address ("v:./1/" is "v:1/"): a canonical form
    // is one that canonicalises to itself, so it must pass the length rule too.
    if (tooShort(canonical.view()))
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
