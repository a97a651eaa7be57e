#pragma once
// The `res` URI scheme: "res://" + the executable's full path + "/" + NAME serves resource
// NAME of the program (names without regard to case, with the MIME type of the name).
// "res:///NAME", with no module path, also names this program's own resource, so that
// addresses fixed when building work wherever the executable lies.

#include <optional>
#include <string>
#include <string_view>

typedef struct _WebKitWebContext WebKitWebContext;

namespace norv::res {

// Registers the scheme on `context`; registering on the same context again does nothing.
void registerResourceScheme(WebKitWebContext* context);

// The resource name a res address names when it addresses this program: the module path
// must be empty or this executable. Query and fragment are ignored; percent escapes are
// decoded.
std::optional<std::string> resourceNameOfUrl(std::string_view url);

} // namespace norv::res
