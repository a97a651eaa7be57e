#pragma once
// A URI scheme whose pages are the program's own: WebKit asks for each address of the
// scheme, and a lookup the caller supplies answers with the bytes and their MIME type.

#include <functional>
#include <optional>
#include <string>
#include <string_view>

typedef struct _WebKitWebContext WebKitWebContext;

namespace norv::web {

struct SchemeResource {
    std::string data;
    std::string mimeType; // a text/ type is sent as UTF-8
};

// Answers the full address of a request; nullopt: there is no such resource (the request
// fails with G_IO_ERROR_NOT_FOUND).
using SchemeLookup = std::function<std::optional<SchemeResource>(std::string_view uri)>;

// Registers `scheme` on `context`, answered by `lookup` on the UI thread, and marks it as a
// secure origin. Registering the same scheme on the same context again does nothing.
void registerResourceScheme(WebKitWebContext* context, const std::string& scheme,
                            SchemeLookup lookup);

} // namespace norv::web
