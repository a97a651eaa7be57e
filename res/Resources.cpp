#include "res/Resources.h"

#include <gio/gio.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <memory>
#include <system_error>
#include <vector>

#include <unistd.h>

namespace norv::res {

namespace {

struct BytesUnref {
    void operator()(GBytes* b) const { g_bytes_unref(b); }
};
using Bytes = std::unique_ptr<GBytes, BytesUnref>;

std::optional<std::string> lookup(const std::string& path) {
    Bytes bytes(g_resources_lookup_data(path.c_str(), G_RESOURCE_LOOKUP_FLAGS_NONE, nullptr));
    if (!bytes)
        return std::nullopt;
    gsize size = 0;
    auto* data = static_cast<const char*>(g_bytes_get_data(bytes.get(), &size));
    return std::string(data ? data : "", size);
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

} // namespace norv::res
