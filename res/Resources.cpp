#include "res/Resources.h"

#include <gio/gio.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <filesystem>
#include <system_error>
#include <vector>

#include <unistd.h>

#include "platform/glib/Owned.h"

namespace norv::res {

namespace {

std::optional<std::string> lookup(const std::string& path) {
    glib::OwnedBytes bytes(
        g_resources_lookup_data(path.c_str(), G_RESOURCE_LOOKUP_FLAGS_NONE, nullptr));
    if (!bytes)
        return std::nullopt;
    gsize size = 0;
    auto* data = static_cast<const char*>(g_bytes_get_data(bytes.get(), &size));
    return std::string(data ? data : "", size);
}

bool startsWithNoCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() &&
           g_ascii_strncasecmp(text.data(), prefix.data(), prefix.size()) == 0;
}

bool isThisProgram(const std::string& module) {
    if (module.empty())
        return true;
    std::string self = executablePath();
    if (self.empty())
        return false;
    if (module == self)
        return true;
    std::error_code ec;
    return std::filesystem::equivalent(module, self, ec) && !ec;
}

std::string upperAscii(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return out;
}

} // namespace

std::optional<std::string> loadString(unsigned id) {
    return lookup("/norv/strings/" + std::to_string(id));
}

std::string trustedOrigins() {
    return lookup("/norv/trusted-origins").value_or(std::string());
}

std::optional<std::array<std::uint16_t, 4>> fileVersion() {
    auto text = lookup("/norv/version");
    if (!text)
        return std::nullopt;
    std::array<std::uint16_t, 4> parts{};
    const char* p = text->data();
    const char* end = p + text->size();
    for (std::size_t i = 0; i < parts.size(); ++i) {
        auto [next, ec] = std::from_chars(p, end, parts[i]);
        if (ec != std::errc())
            return std::nullopt;
        p = next;
        if (i + 1 < parts.size()) {
            if (p == end || *p != '.')
                return std::nullopt;
            ++p;
        }
    }
    if (p != end)
        return std::nullopt;
    return parts;
}

std::optional<std::string> loadIcon(unsigned id) {
    return lookup("/norv/icons/" + std::to_string(id));
}

std::optional<Resource> findResource(std::string_view name) {
    // Resource names are plain names: nothing that could walk to another entry.
    if (name.empty() || name.find('/') != std::string_view::npos || name.find('\0') != name.npos)
        return std::nullopt;
    auto data = lookup("/norv/html/" + upperAscii(name));
    if (!data)
        return std::nullopt;
    return Resource{std::move(*data), mimeTypeForName(name)};
}

std::string mimeTypeForName(std::string_view name) {
    static constexpr std::pair<std::string_view, std::string_view> types[] = {
        {"HTM", "text/html"},      {"HTML", "text/html"},  {"CSS", "text/css"},
        {"JS", "text/javascript"}, {"GIF", "image/gif"},   {"PNG", "image/png"},
        {"JPG", "image/jpeg"},     {"JPEG", "image/jpeg"}, {"SVG", "image/svg+xml"},
        {"ICO", "image/x-icon"},   {"TXT", "text/plain"},  {"XML", "text/xml"},
    };
    auto dot = name.rfind('.');
    if (dot != std::string_view::npos) {
        std::string ext = upperAscii(name.substr(dot + 1));
        for (const auto& [e, type] : types) {
            if (e == ext)
                return std::string(type);
        }
    }
    return "application/octet-stream";
}

std::string executablePath() {
    std::vector<char> buffer(256);
    for (;;) {
        ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (n < 0)
            return {};
        if (static_cast<std::size_t>(n) < buffer.size())
            return std::string(buffer.data(), static_cast<std::size_t>(n));
        buffer.resize(buffer.size() * 2);
    }
}

std::string resourceUrl(std::string_view name) {
    return "res://" + executablePath() + "/" + std::string(name);
}

std::optional<std::string> resourceNameOfUrl(std::string_view url) {
    constexpr std::string_view scheme = "res://";
    if (!startsWithNoCase(url, scheme))
        return std::nullopt;
    std::string_view rest = url.substr(scheme.size());
    rest = rest.substr(0, rest.find_first_of("?#"));
    glib::OwnedText decoded(g_uri_unescape_string(std::string(rest).c_str(), nullptr));
    if (!decoded)
        return std::nullopt;
    std::string path(decoded.get());
    auto slash = path.rfind('/');
    if (slash == std::string::npos)
        return std::nullopt;
    std::string name = path.substr(slash + 1);
    if (name.empty() || !isThisProgram(path.substr(0, slash)))
        return std::nullopt;
    return name;
}

std::optional<Resource> resourceOfUrl(std::string_view url) {
    auto name = resourceNameOfUrl(url);
    if (!name)
        return std::nullopt;
    return findResource(*name);
}

} // namespace norv::res
