// Feeds arbitrary text to the quick check, the comment unwrapping, the quote repair, the
// value readers and the address helpers. Every value a reader accepts must be written
// back and read again to the same value. A canonical address must be its own canonical
// form and name the host the address named; GLib must have nothing to complain about.

#include <glib.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "markup/Address.h"
#include "markup/DeclarationExtraction.h"
#include "markup/ValueSyntax.h"
#include "markup/WindowDescription.h"
#include "platform/glib/Owned.h"

using namespace norv::com;
using namespace norv::markup;

namespace {

void check(bool condition) {
    if (!condition)
        std::abort();
}

Variant textVariant(std::u16string_view text) {
    return Variant::fromBstr(Bstr(text));
}

// The host GLib reads in a text, decoded as a browser decodes it; nullopt when GLib does
// not read the text as a URI.
std::optional<std::string> hostOf(const std::string& text) {
    norv::glib::OwnedUri uri(g_uri_parse(text.c_str(), G_URI_FLAGS_NONE, nullptr));
    if (!uri)
        return std::nullopt;
    const char* host = g_uri_get_host(uri.get());
    norv::glib::OwnedText lower(g_ascii_strdown(host ? host : "", -1));
    return std::string(host ? "//" : "") + lower.get();
}

// The characters at either end that are not part of an address: blanks and controls.
const std::string& edges() {
    static const std::string text = [] {
        std::string t;
        for (char c = 0; c <= 0x20; ++c)
            t += c;
        return t;
    }();
    return text;
}

// A warning or critical message of GLib (a failed precondition, say) is a crash.
void abortOnMessage(const gchar*, GLogLevelFlags, const gchar*, gpointer) {
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const guint handler [[maybe_unused]] = g_log_set_handler(
        "GLib", static_cast<GLogLevelFlags>(G_LOG_LEVEL_CRITICAL | G_LOG_LEVEL_WARNING),
        abortOnMessage, nullptr);
    const std::u16string text =
        utf8ToUtf16(std::string_view(reinterpret_cast<const char*>(data), size));

    static_cast<void>(looksLikeDeclaration(text));
    if (auto unwrapped = unwrapDeclaration(text)) {
        check(unwrapped->size() <= text.size());
        static_cast<void>(looksLikeDeclaration(*unwrapped));
    }
    check(separateQuotes(text).size() >= text.size());

    const Variant value = textVariant(text);
    std::int32_t type = 0;
    if (readWindowType(value, type) == S_OK) {
        std::u16string word;
        check(writeWindowType(type, word) == S_OK);
        std::int32_t back = -1;
        check(readWindowType(textVariant(word), back) == S_OK && back == type);
    }
    std::int32_t length = 0;
    if (readLength(value, length) == S_OK) {
        std::int32_t back = 0;
        check(readLength(textVariant(writeLength(length)), back) == S_OK && back == length);
    }
    std::int32_t state = 0;
    if (readTriState(value, state) == S_OK) {
        std::u16string word;
        check(writeTriState(state, word) == S_OK);
        std::int32_t back = 0;
        check(readTriState(textVariant(word), back) == S_OK && back == state);
    }

    const Bstr address(text);
    Bstr canonical;
    if (canonicalise(address, canonical) == S_FALSE) {
        // The normal form is its own normal form.
        Bstr again;
        check(canonicalise(canonical, again) == S_FALSE && again == canonical);
        // It names the host the address named.
        const std::string canonicalText = canonical.toUtf8();
        // (Blanks and control characters at either end are not part of an address.)
        std::string trimmed = utf16ToUtf8(text);
        trimmed.erase(0, trimmed.find_first_not_of(edges()));
        trimmed.erase(trimmed.find_last_not_of(edges()) + 1);
        const auto before = hostOf(trimmed);
        const auto after = hostOf(canonicalText);
        check(!before || !after || *before == *after);
        static_cast<void>(sameAddress(address, canonical));
    }
    static_cast<void>(validate(address));
    return 0;
}
