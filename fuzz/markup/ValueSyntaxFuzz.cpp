// Feeds arbitrary text to the quick check, the comment unwrapping, the quote repair, the
// value readers and the address helpers. Every value a reader accepts must be written
// back and read again to the same value.

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "markup/Address.h"
#include "markup/DeclarationExtraction.h"
#include "markup/ValueSyntax.h"
#include "markup/WindowDescription.h"

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

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
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
        // The normal form is stable (a short form such as "ws:" may grow a path that the
        // length rule then refuses, so only a second success is compared).
        Bstr again;
        if (canonicalise(canonical, again) == S_FALSE)
            check(again == canonical);
        static_cast<void>(sameAddress(address, canonical));
    }
    static_cast<void>(validate(address));
    return 0;
}
