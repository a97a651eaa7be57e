#pragma once
// Channel: one end of the script bridge's socket, carrying framed messages.
//
// The socket is non-blocking and nothing here ever waits. Sending appends the frame to an
// output queue and writes what the socket takes; the rest is written by later flushes, in
// order. Receiving reads what has arrived into the frame reader. So two sides sending
// large messages at the same time cannot block each other, and nothing read is ever left
// behind by a write: input is only read by receive(), whose caller takes every frame.
//
// The input half (receive, next, takeReceivedFd) and the output half (enqueue, flush) touch
// separate state: one thread may use each half at a time. Plain POSIX: both the UI process
// and the web-process extension use it.

#include <atomic>
#include <cstdint>
#include <deque>
#include <vector>

#include "platform/web/rpc/Message.h"

namespace norv::web::rpc {

class Channel {
public:
    // Takes ownership of `fd` (a connected stream socket). Descriptors the peer passes are
    // kept for takeReceivedFd() when `acceptDescriptors`, closed at once otherwise.
    explicit Channel(int fd, bool acceptDescriptors = false);
    ~Channel();
    Channel(const Channel&) = delete;
    Channel& operator=(const Channel&) = delete;

    int fd() const { return fd_; }
    // False once the peer is gone or the socket failed.
    bool isOpen() const { return !failed_.load(std::memory_order_relaxed); }

    // Output half.
    // Appends the frame of `message` to the output. `passFd` (not taken; duplicated) travels
    // with the frame's first byte.
    void enqueue(const Message& message, int passFd = -1);
    bool hasOutput() const { return outDone_ < out_.size(); }
    // Writes as much of the output as the socket takes now. False when the peer is gone.
    bool flush();

    // Input half.
    // Reads whatever has arrived, without blocking: the number of bytes read (0: none had
    // arrived), or -1 when the peer closed the socket or it failed; what was read before
    // stays buffered for next() either way.
    long receive();
    // The next complete message read so far. Malformed means the peer cannot be trusted
    // any more.
    FrameReader::Status next(Message& out) { return reader_.next(out); }
    bool hasInput() const { return reader_.buffered() > 0; }
    // The oldest descriptor the peer passed, now the caller's; -1 when none.
    int takeReceivedFd();

    // Ends both directions (the peer sees the end; pollers of the socket wake). The
    // descriptor itself is closed on destruction, so no other thread can find its number
    // reused meanwhile.
    void shutdown();

private:
    void fail();

    const int fd_;
    const bool acceptDescriptors_;
    std::atomic<bool> failed_{false};
    FrameReader reader_;
    std::deque<int> received_;
    std::vector<std::uint8_t> out_;
    std::size_t outDone_ = 0;
    struct Passed {
        std::size_t at; // position in out_ of the byte the descriptor travels with
        int fd;         // owned
    };
    std::deque<Passed> passing_;
};

} // namespace norv::web::rpc
