// Any bytes as a skin package, and as skin definition text: the reader and the parser must
// refuse what they do not understand without reading outside the input, and what they
// accept must be consistent.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string_view>

#include "platform/media/SkinDefinition.h"

using namespace norv::platform::media;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::span<const std::uint8_t> bytes(data, size);

    ZipReader reader;
    if (reader.open(bytes) == ZipError::None) {
        for (const ZipReader::Entry& entry : reader.entries()) {
            std::vector<std::uint8_t> content;
            if (reader.extract(entry, content, 1 << 16) == ZipError::None &&
                content.size() != entry.uncompressedSize)
                std::abort();
        }
    }

    SkinDefinition skin;
    SkinResult result = readSkinPackage(bytes, skin);
    if (!result && (!skin.elements.empty() || !skin.onload.empty()))
        std::abort();

    std::string_view text(reinterpret_cast<const char*>(data), size);
    result = parseSkinDefinition(text, skin);
    if (result) {
        for (const SkinAssignment& a : skin.onload)
            if (a.object.empty() || a.member.empty() || a.id.empty())
                std::abort();
    } else if (!skin.elements.empty() || !skin.onload.empty() || result.detail.empty()) {
        std::abort();
    }
    return 0;
}
