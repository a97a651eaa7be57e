#include "platform/web/rpc/Channel.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace norv::web::rpc {

namespace {
// At most this many descriptors are kept waiting for takeReceivedFd; more are closed.
constexpr std::size_t maxKeptDescriptors = 4;
} // namespace

Channel::Channel(int fd, bool acceptDescriptors) : fd_(fd), acceptDescriptors_(acceptDescriptors) {
    if (fd_ < 0) {
        failed_ = true;
        return;
    }
    int flags = fcntl(fd_, F_GETFL);
    if (flags >= 0)
        fcntl(fd_, F_SETFL, flags | O_NONBLOCK);
    fcntl(fd_, F_SETFD, FD_CLOEXEC);
}

Channel::~Channel() {
    for (int fd : received_)
        ::close(fd);
    for (const Passed& p : passing_)
        ::close(p.fd);
    if (fd_ >= 0)
        ::close(fd_);
}

void Channel::fail() {
    failed_ = true;
}

void Channel::shutdown() {
    fail();
    if (fd_ >= 0)
        ::shutdown(fd_, SHUT_RDWR);
}

void Channel::enqueue(const Message& message, int passFd) {
    if (!isOpen())
        return;
    // Drop what was written once it is all written, so the buffer does not grow forever.
    if (outDone_ == out_.size()) {
        out_.clear();
        outDone_ = 0;
    } else if (outDone_ > 64 * 1024 && outDone_ * 2 > out_.size()) {
        out_.erase(out_.begin(), out_.begin() + static_cast<std::ptrdiff_t>(outDone_));
        for (Passed& p : passing_)
            p.at -= outDone_;
        outDone_ = 0;
    }
    if (passFd >= 0) {
        int copy = fcntl(passFd, F_DUPFD_CLOEXEC, 0);
        if (copy >= 0)
            passing_.push_back({out_.size(), copy});
    }
    encodeFrame(message, out_);
}

bool Channel::flush() {
    while (isOpen() && hasOutput()) {
        std::size_t end = out_.size();
        int pass = -1;
        if (!passing_.empty()) {
            if (passing_.front().at == outDone_)
                pass = passing_.front().fd;
            else
                end = passing_.front().at; // write up to the byte the descriptor goes with
        }
        iovec iov{out_.data() + outDone_, end - outDone_};
        msghdr msg{};
        msg.msg_iov = &iov;
        msg.msg_iovlen = 1;
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))];
        if (pass >= 0) {
            std::memset(control, 0, sizeof control);
            msg.msg_control = control;
            msg.msg_controllen = sizeof control;
            cmsghdr* c = CMSG_FIRSTHDR(&msg);
            c->cmsg_level = SOL_SOCKET;
            c->cmsg_type = SCM_RIGHTS;
            c->cmsg_len = CMSG_LEN(sizeof(int));
            std::memcpy(CMSG_DATA(c), &pass, sizeof(int));
        }
        ssize_t n = ::sendmsg(fd_, &msg, MSG_NOSIGNAL);
        if (n > 0) {
            if (pass >= 0) {
                ::close(pass);
                passing_.pop_front();
            }
            outDone_ += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return true;
        fail();
        return false;
    }
    return isOpen();
}

long Channel::receive() {
    if (!isOpen())
        return -1;
    long total = 0;
    std::uint8_t buffer[16384];
    for (;;) {
        iovec iov{buffer, sizeof buffer};
        msghdr msg{};
        msg.msg_iov = &iov;
        msg.msg_iovlen = 1;
        alignas(cmsghdr) char control[CMSG_SPACE(maxKeptDescriptors * sizeof(int))];
        msg.msg_control = control;
        msg.msg_controllen = sizeof control;
        ssize_t n = ::recvmsg(fd_, &msg, MSG_DONTWAIT | MSG_CMSG_CLOEXEC);
        if (n >= 0 && msg.msg_controllen > 0) {
            for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(&msg, c)) {
                if (c->cmsg_level != SOL_SOCKET || c->cmsg_type != SCM_RIGHTS)
                    continue;
                const std::size_t count = (c->cmsg_len - CMSG_LEN(0)) / sizeof(int);
                for (std::size_t i = 0; i < count; ++i) {
                    int fd = -1;
                    std::memcpy(&fd, CMSG_DATA(c) + i * sizeof(int), sizeof(int));
                    if (acceptDescriptors_ && received_.size() < maxKeptDescriptors)
                        received_.push_back(fd);
                    else
                        ::close(fd);
                }
            }
        }
        if (n > 0) {
            reader_.append({buffer, static_cast<std::size_t>(n)});
            total += n;
            if (static_cast<std::size_t>(n) < sizeof buffer)
                return total;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return total;
        fail(); // end of stream or failure
        return -1;
    }
}

int Channel::takeReceivedFd() {
    if (received_.empty())
        return -1;
    int fd = received_.front();
    received_.pop_front();
    return fd;
}

} // namespace norv::web::rpc
