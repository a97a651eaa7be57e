// Feeds arbitrary bytes to the script bridge's message decoder, as a hostile peer could:
// it must never read out of bounds, crash or loop, and whatever it accepts must encode
// back to the same bytes. A user-agent notice it accepts must never yield a text that
// could end the request header early.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "platform/com/Bstr.h"
#include "platform/web/rpc/Message.h"

using namespace norv::web::rpc;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // As one body.
    Message m;
    if (decodeBody({data, size}, m)) {
        auto frame = encodeFrame(m);
        if (frame.size() != size + frameHeaderSize ||
            std::memcmp(frame.data() + frameHeaderSize, data, size) != 0)
            std::abort();
        if (auto agent = userAgentText(m)) {
            if (!isHeaderValue(*agent) || *agent != m.values.at(0).text8)
                std::abort();
            for (char c : *agent) {
                if (c == '\r' || c == '\n' || c == '\0')
                    std::abort();
            }
        }
        for (const Value& v : m.values) {
            if (v.tag == Tag::String8)
                (void)norv::com::utf8ToUtf16(v.text8);
            if (v.tag == Tag::String16 || v.tag == Tag::Error)
                (void)norv::com::utf16ToUtf8(v.text16);
        }
    }
    // As a stream cut into chunks whose sizes the first byte chooses.
    if (size == 0)
        return 0;
    const std::size_t chunk = 1 + data[0] % 17;
    FrameReader reader;
    for (std::size_t at = 1; at < size; at += chunk) {
        reader.append({data + at, std::min(chunk, size - at)});
        for (;;) {
            auto status = reader.next(m);
            if (status != FrameReader::Status::Message)
                break;
        }
    }
    return 0;
}
