#include "host/TrustedOrigins.h"

#include <glib.h>

#include <algorithm>

#include "platform/glib/Owned.h"

namespace norv::host {

namespace {

constexpr std::string_view kResourceScheme = "res";

int defaultPort(std::string_view scheme) {
    if (scheme == "http" || scheme == "ws")
        return 80;
    if (scheme == "https" || scheme == "wss")
        return 443;
    if (scheme == "ftp")
        return 21;
    return -1;
}

std::string lower(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return out;
}

} // namespace

std::optional<std::string> TrustedOrigins::originOf(std::string_view address) {
    const std::string text(address);
    GError* error = nullptr;
    glib::OwnedUri uri(g_uri_parse(text.c_str(),
                                   GUriFlags(G_URI_FLAGS_ENCODED_PATH | G_URI_FLAGS_ENCODED_QUERY |
                                             G_URI_FLAGS_ENCODED_FRAGMENT),
                                   &error));
    if (!uri) {
        g_clear_error(&error);
        return std::nullopt;
    }
    std::string scheme = lower(g_uri_get_scheme(uri.get()));
    if (scheme == "blob") {
        // The document's origin is that of the address it was made under.
        const char* inner = g_uri_get_path(uri.get());
        if (!inner)
            return std::nullopt;
        auto origin = originOf(inner);
        if (origin && origin->starts_with("blob:"))
            return std::nullopt;
        return origin;
    }
    if (scheme == "data" || scheme == "about" || scheme == "javascript")
        return std::nullopt;
    const char* host = g_uri_get_host(uri.get());
    std::string origin = scheme + "://";
    if (host && *host) {
        origin += lower(host);
        const int port = g_uri_get_port(uri.get());
        if (port > 0 && port != defaultPort(scheme))
            origin += ":" + std::to_string(port);
    } else if (scheme == "http" || scheme == "https") {
        return std::nullopt; // a web address always has a host
    }
    return origin;
}

std::vector<std::string> TrustedOrigins::parseList(std::string_view list) {
    std::vector<std::string> out;
    std::size_t start = 0;
    while (start < list.size()) {
        std::size_t end = list.find_first_of(" \t\r\n,;", start);
        if (end == std::string_view::npos)
            end = list.size();
        if (end > start)
            out.emplace_back(list.substr(start, end - start));
        start = end + 1;
    }
    return out;
}

TrustedOrigins::TrustedOrigins(std::string_view startup, const std::vector<std::string>& extra) {
    origins_.push_back(std::string(kResourceScheme) + "://");
    auto add = [this](std::string_view address) {
        if (auto origin = originOf(address);
            origin && std::find(origins_.begin(), origins_.end(), *origin) == origins_.end())
            origins_.push_back(*origin);
    };
    add(startup);
    for (const std::string& entry : extra)
        add(entry);
}

bool TrustedOrigins::isTrusted(std::string_view address) const {
    auto origin = originOf(address);
    return origin && std::find(origins_.begin(), origins_.end(), *origin) != origins_.end();
}

} // namespace norv::host
