// Feeds arbitrary bytes to the script bridge's message decoder and to an endpoint, as a
// hostile peer could: they must never read out of bounds, crash or loop; whatever the
// decoder accepts must encode back to the same bytes; a user-agent notice it accepts must
// never yield a text that could end the request header early; and an endpoint fed the
// bytes as its peer's stream must serve what is well formed and end the connection, not
// misbehave, on the rest. The checks of the element messages never let through a box that is
// not finite or an element number that is not positive, and a classid they accept is a GUID.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <sys/socket.h>
#include <unistd.h>

#include "platform/com/Bstr.h"
#include "platform/com/Guid.h"
#include "platform/web/rpc/Endpoint.h"
#include "platform/web/rpc/Message.h"

using namespace norv::web::rpc;

namespace {

// Answers every request with its own first value and counts what it saw.
struct EchoSide final : Endpoint::Side {
    std::size_t served = 0;
    void serveRequest(Message& request, Message& reply) override {
        ++served;
        if (!request.values.empty())
            reply.values = {request.values.front()};
    }
    void serveNotice(Message&) override { ++served; }
    void dropReply(Message&) override {}
    void ended() override {}
};

void feedEndpoint(const std::uint8_t* data, std::size_t size) {
    int fds[2];
    if (socketpair(AF_UNIX, SOCK_STREAM, 0, fds) != 0)
        return;
    EchoSide side;
    auto endpoint = std::make_shared<Endpoint>(fds[0], side, Endpoint::Options{});
    // A small input fits the socket's buffer at once.
    std::size_t sent = 0;
    while (sent < size) {
        ssize_t n = ::send(fds[1], data + sent, size - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n <= 0)
            break;
        sent += static_cast<std::size_t>(n);
        endpoint->serve();
    }
    ::shutdown(fds[1], SHUT_WR);
    endpoint->serve();
    endpoint->serve();
    if (endpoint->isOpen())
        std::abort(); // the peer's end of stream ends the connection
    endpoint->detach();
    ::close(fds[1]);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // As one body.
    Message m;
    if (decodeBody({data, size}, m)) {
        auto frame = encodeFrame(m);
        if (frame.size() != size + frameHeaderSize ||
            std::memcmp(frame.data() + frameHeaderSize, data, size) != 0)
            std::abort();
        if (auto agent = userAgentText(m)) {
            if (!isHeaderText(*agent) || *agent != m.values.at(0).text16)
                std::abort();
            for (char16_t c : *agent) {
                if (c == u'\r' || c == u'\n' || c == 0 || c > 0xFF)
                    std::abort();
            }
        }
        if (auto shared = helloSharedSize(m)) {
            if (m.values.at(0).i4 < 0 || static_cast<std::uint32_t>(m.values[0].i4) != *shared)
                std::abort();
        }
        if (auto box = elementBox(m)) {
            if (box->element <= 0 || !std::isfinite(box->x) || !std::isfinite(box->y) ||
                !(box->width >= 0) || !(box->height >= 0) || !std::isfinite(box->width) ||
                !std::isfinite(box->height))
                std::abort();
            if (box->clipped && (!std::isfinite(box->clipX) || !std::isfinite(box->clipY) ||
                                 !(box->clipWidth >= 0) || !(box->clipHeight >= 0) ||
                                 !std::isfinite(box->clipWidth) || !std::isfinite(box->clipHeight)))
                std::abort();
        }
        if (auto gone = elementGone(m); gone && *gone <= 0)
            std::abort();
        for (const Value& v : m.values) {
            if (v.tag == Tag::String16 || v.tag == Tag::Error)
                (void)norv::com::utf16ToUtf8(v.text16);
            if (v.tag == Tag::String16) {
                // A classid the bridge accepts names a GUID the COM runtime reads.
                if (auto guid = classIdGuid(v.text16); guid && !norv::com::GUID::parse(*guid))
                    std::abort();
            }
        }
    }
    if (size == 0)
        return 0;
    // As a stream cut into chunks whose sizes the first byte chooses.
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
    // As the peer's stream into an endpoint.
    if (size <= 64 * 1024)
        feedEndpoint(data + 1, size - 1);
    return 0;
}
