#pragma once
// The program's own resources: the string table, the version, the icons and the HTML
// resources, all carried in the executable's resource bundle, and the `res` addresses of
// the HTML resources (the browser serves them through platform/web's ResourceScheme).

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace norv::res {

// String table entries.
constexpr unsigned IDS_STARTUP_URI = 132;
constexpr unsigned IDS_CAPTION = 133;
// Icon of the program.
constexpr unsigned IDI_PROGRAM = 128;

// The UTF-8 text of string table entry `id`; nullopt when the program has no such entry.
std::optional<std::string> loadString(unsigned id);

// The origins the program's pages trust besides their startup address's and the program's
// own, as the build named them (separated by blanks, commas or semicolons); empty when the
// build named none.
std::string trustedOrigins();

// The four parts of the program's version, most significant first; nullopt when the
// program carries no version or it is malformed.
std::optional<std::array<std::uint16_t, 4>> fileVersion();

// The PNG data of icon `id`; nullopt when there is none.
std::optional<std::string> loadIcon(unsigned id);

// An HTML resource (page, style sheet, image) found by name without regard to case.
struct Resource {
    std::string data;
    std::string mimeType;
};
std::optional<Resource> findResource(std::string_view name);

// The MIME type a resource name stands for, by its extension.
std::string mimeTypeForName(std::string_view name);

// The full path of the running executable (empty when it cannot be read).
std::string executablePath();

// The address of resource `name` of this program: "res://" + executable path + "/" + name.
std::string resourceUrl(std::string_view name);

// The resource name a res address names when it addresses this program: "res://" + the
// executable's full path (or nothing, for the running program wherever it lies) + "/" +
// NAME. Query and fragment are ignored; percent escapes are decoded.
std::optional<std::string> resourceNameOfUrl(std::string_view url);

// The resource a res address names (see resourceNameOfUrl and findResource).
std::optional<Resource> resourceOfUrl(std::string_view url);

} // namespace norv::res
