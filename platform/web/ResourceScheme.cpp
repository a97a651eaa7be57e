#include "platform/web/ResourceScheme.h"

#include <webkit2/webkit2.h>

#include <memory>

#include "platform/glib/GObjectRef.h"
#include "platform/glib/Owned.h"

namespace norv::web {

namespace {

void serve(WebKitURISchemeRequest* request, gpointer data) {
    const auto& lookup = *static_cast<const SchemeLookup*>(data);
    const char* uri = webkit_uri_scheme_request_get_uri(request);
    std::optional<SchemeResource> resource = lookup(uri ? uri : "");
    if (!resource) {
        glib::OwnedError error(g_error_new(G_IO_ERROR, G_IO_ERROR_NOT_FOUND,
                                           "The resource %s does not exist.", uri ? uri : ""));
        webkit_uri_scheme_request_finish_error(request, error.get());
        return;
    }
    auto size = static_cast<gssize>(resource->data.size());
    glib::OwnedBytes bytes(g_bytes_new(resource->data.data(), resource->data.size()));
    auto stream =
        glib::GObjectRef<GInputStream>::adopt(g_memory_input_stream_new_from_bytes(bytes.get()));
    auto response = glib::GObjectRef<WebKitURISchemeResponse>::adopt(
        webkit_uri_scheme_response_new(stream.get(), size));
    std::string contentType = resource->mimeType;
    if (contentType.starts_with("text/") && contentType.find(';') == std::string::npos)
        contentType += "; charset=utf-8";
    webkit_uri_scheme_response_set_content_type(response.get(), contentType.c_str());
    webkit_uri_scheme_request_finish_with_response(request, response.get());
}

void deleteLookup(gpointer data) {
    delete static_cast<SchemeLookup*>(data);
}

} // namespace

void registerResourceScheme(WebKitWebContext* context, const std::string& scheme,
                            SchemeLookup lookup) {
    const std::string key = "norv-resource-scheme-" + scheme;
    if (!context || g_object_get_data(G_OBJECT(context), key.c_str()))
        return;
    g_object_set_data(G_OBJECT(context), key.c_str(), GINT_TO_POINTER(1));
    // WebKit owns the lookup from here on and deletes it with the context.
    auto owned = std::make_unique<SchemeLookup>(std::move(lookup));
    webkit_web_context_register_uri_scheme(context, scheme.c_str(), serve, owned.release(),
                                           deleteLookup);
    // The scheme's pages are the program's own: treat them as a secure origin.
    webkit_security_manager_register_uri_scheme_as_secure(
        webkit_web_context_get_security_manager(context), scheme.c_str());
}

} // namespace norv::web
