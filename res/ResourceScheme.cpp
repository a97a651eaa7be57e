#include "res/ResourceScheme.h"

#include <webkit2/webkit2.h>

#include <filesystem>
#include <memory>

#include "res/Resources.h"

namespace norv::res {

namespace {

constexpr const char* kRegisteredKey = "norv-res-scheme";

bool startsWithNoCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size())
        return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        if (g_ascii_tolower(text[i]) != g_ascii_tolower(prefix[i]))
            return false;
    }
    return true;
}

template <class T, void (*Free)(T*)>
struct Deleter {
    void operator()(T* p) const { Free(p); }
};
using Error = std::unique_ptr<GError, Deleter<GError, g_error_free>>;
using Bytes = std::unique_ptr<GBytes, Deleter<GBytes, g_bytes_unref>>;
template <class T>
using Object = std::unique_ptr<T, decltype([](T* p) { g_object_unref(p); })>;

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

void serve(WebKitURISchemeRequest* request, gpointer) {
    const char* uri = webkit_uri_scheme_request_get_uri(request);
    std::optional<Resource> resource;
    if (auto name = resourceNameOfUrl(uri ? uri : ""))
        resource = findResource(*name);
    if (!resource) {
        Error error(g_error_new(G_IO_ERROR, G_IO_ERROR_NOT_FOUND, "The resource %s does not exist.",
                                uri ? uri : ""));
        webkit_uri_scheme_request_finish_error(request, error.get());
        return;
    }
    auto size = static_cast<gssize>(resource->data.size());
    Bytes bytes(g_bytes_new(resource->data.data(), resource->data.size()));
    Object<GInputStream> stream(g_memory_input_stream_new_from_bytes(bytes.get()));
    Object<WebKitURISchemeResponse> response(webkit_uri_scheme_response_new(stream.get(), size));
    std::string contentType = resource->mimeType;
    if (contentType.starts_with("text/"))
        contentType += "; charset=utf-8";
    webkit_uri_scheme_response_set_content_type(response.get(), contentType.c_str());
    webkit_uri_scheme_request_finish_with_response(request, response.get());
}

} // namespace

std::optional<std::string> resourceNameOfUrl(std::string_view url) {
    constexpr std::string_view scheme = "res://";
    if (!startsWithNoCase(url, scheme))
        return std::nullopt;
    std::string_view rest = url.substr(scheme.size());
    rest = rest.substr(0, rest.find_first_of("?#"));
    std::unique_ptr<char, decltype(&g_free)> decoded(
        g_uri_unescape_string(std::string(rest).c_str(), nullptr), &g_free);
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

void registerResourceScheme(WebKitWebContext* context) {
    if (g_object_get_data(G_OBJECT(context), kRegisteredKey))
        return;
    g_object_set_data(G_OBJECT(context), kRegisteredKey, GINT_TO_POINTER(1));
    webkit_web_context_register_uri_scheme(context, "res", serve, nullptr, nullptr);
    // Resource pages are the program's own: treat them as a secure origin.
    webkit_security_manager_register_uri_scheme_as_secure(
        webkit_web_context_get_security_manager(context), "res");
}

} // namespace norv::res
