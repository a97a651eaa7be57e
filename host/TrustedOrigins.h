#pragma once
// The origins whose top documents get the native object model (window.tavi): the
// program's own resources (the res scheme), the origin of the window's startup address,
// and the origins named when the program was built (for applications that span several
// origins). Every other document, whichever way it became the top one (a link, a frame
// that set top.location, a redirection), gets no native access.
//
// An origin is a scheme, a host and a port: scheme and host compare without regard to
// case, a port the scheme has by default is the same as none, and user names, paths,
// queries and fragments do not count. A blob: address has the origin of the address
// inside it. Addresses without a host (file:, res:) have the origin of their scheme.
// Addresses that name no origin (data:, about:, javascript:, text that is no address)
// are never trusted.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace norv::host {

class TrustedOrigins {
public:
    // `startup`: the window's startup address; `extra`: origins (or addresses, of which
    // only the origin counts) also trusted. Entries that name no origin are left out.
    TrustedOrigins(std::string_view startup, const std::vector<std::string>& extra);

    bool isTrusted(std::string_view address) const;

    // The origin of an address in its canonical text form ("https://app.example.com",
    // "http://localhost:8080", "file://"); nullopt when it names none.
    static std::optional<std::string> originOf(std::string_view address);

    // The origins of a build-time list: entries separated by blanks, commas or semicolons.
    static std::vector<std::string> parseList(std::string_view list);

private:
    std::vector<std::string> origins_;
};

} // namespace norv::host
