#pragma once
// Channel: one end of the script bridge's socket, carrying framed messages.
//
// The socket is non-blocking. Sending writes the whole frame; while the socket is full
// it keeps reading what the peer sends into the input buffer, so two sides sending
// large messages at the same time cannot block each other. Plain POSIX: both the UI
// process and the web-process extension use it.

#include <cstdint>
#include <vector>

#include "platform/web/rpc/Message.h"

namespace norv::web::rpc {

class Channel {
public:
    // Takes ownership of `fd` (a connected stream socket).
    explicit Channel(int fd);
    ~Channel();
    Channel(const Channel&) = delete;
    Channel& operator=(const Channel&) = delete;

    int fd() const { return fd_; }
    bool isOpen() const { return fd_ >= 0; }

    // Sends one message. False when the peer is gone (the channel is closed then).
    bool send(const Message& message);

    // Reads whatever has arrived, without blocking. False when the peer closed the
    // socket or it failed (the channel is closed then; messages already read can still
    // be taken with next()).
    bool receiveAvailable();

    // The next complete message read so far. Malformed means the peer cannot be trusted
    // any more; the caller closes the channel.
    FrameReader::Status next(Message& out) { return reader_.next(out); }

    // Waits until data arrives or the peer hangs up; timeoutMs < 0 waits for ever.
    // False on time-out.
    bool waitReadable(int timeoutMs) const;

    void close();

private:
    int fd_ = -1;
    FrameReader reader_;
    std::vector<std::uint8_t> out_;
};

} // namespace norv::web::rpc
