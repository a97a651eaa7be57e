#include "platform/web/rpc/Channel.h"

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace norv::web::rpc {

Channel::Channel(int fd) : fd_(fd) {
    if (fd_ >= 0) {
        int flags = fcntl(fd_, F_GETFL);
        if (flags >= 0)
            fcntl(fd_, F_SETFL, flags | O_NONBLOCK);
        fcntl(fd_, F_SETFD, FD_CLOEXEC);
    }
}

Channel::~Channel() {
    close();
}

void Channel::close() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

bool Channel::send(const Message& message) {
    if (fd_ < 0)
        return false;
    out_.clear();
    encodeFrame(message, out_);
    std::size_t done = 0;
    while (done < out_.size()) {
        ssize_t n = ::send(fd_, out_.data() + done, out_.size() - done, MSG_NOSIGNAL);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            pollfd p{fd_, POLLIN | POLLOUT, 0};
            if (poll(&p, 1, -1) < 0 && errno != EINTR) {
                close();
                return false;
            }
            if (p.revents & POLLIN) {
                // Keep the peer's own sending going while ours waits.
                if (!receiveAvailable())
                    return false;
            } else if (p.revents & (POLLERR | POLLHUP | POLLNVAL)) {
                close();
                return false;
            }
            continue;
        }
        close();
        return false;
    }
    return true;
}

bool Channel::receiveAvailable() {
    if (fd_ < 0)
        return false;
    std::uint8_t buffer[16384];
    for (;;) {
        ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
        if (n > 0) {
            reader_.append({buffer, static_cast<std::size_t>(n)});
            if (static_cast<std::size_t>(n) < sizeof buffer)
                return true;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return true;
        close(); // end of stream or failure
        return false;
    }
}

bool Channel::waitReadable(int timeoutMs) const {
    if (fd_ < 0)
        return true;
    for (;;) {
        pollfd p{fd_, POLLIN, 0};
        int r = poll(&p, 1, timeoutMs);
        if (r < 0 && errno == EINTR)
            continue;
        return r != 0;
    }
}

} // namespace norv::web::rpc
