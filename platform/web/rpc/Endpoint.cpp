#include "platform/web/rpc/Endpoint.h"

#include <algorithm>
#include <cerrno>
#include <poll.h>
#include <sched.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace norv::web::rpc {

namespace {

void signal(int fd) {
    const std::uint64_t one = 1;
    ssize_t n;
    do {
        n = ::write(fd, &one, sizeof one);
    } while (n < 0 && errno == EINTR);
}

void drain(int fd) {
    std::uint64_t value;
    ssize_t n;
    do {
        n = ::read(fd, &value, sizeof value);
    } while (n < 0 && errno == EINTR);
}

// Milliseconds from now until `until` for poll(), rounded up; -1 for no deadline.
int pollTimeout(Endpoint::Deadline until) {
    if (until == Endpoint::noDeadline)
        return -1;
    const auto left = until - Endpoint::Clock::now();
    if (left <= Endpoint::Clock::duration::zero())
        return 0;
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
    return ms > 1000000 ? 1000000 : static_cast<int>(ms);
}

} // namespace

Endpoint::Endpoint(int fd, Side& side, Options options)
    : side_(&side), options_(std::move(options)), home_(std::this_thread::get_id()),
      channel_(fd, options_.acceptDescriptors) {
    homeWake_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    readerWake_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (homeWake_ < 0 || readerWake_ < 0)
        end();
}

Endpoint::~Endpoint() {
    end();
    if (homeWake_ >= 0)
        ::close(homeWake_);
    if (readerWake_ >= 0)
        ::close(readerWake_);
}

bool Endpoint::isOpen() const {
    std::lock_guard lock(mutex_);
    return !ended_;
}

std::size_t Endpoint::waitingCalls() const {
    std::lock_guard lock(mutex_);
    std::size_t n = 0;
    for (const auto& [id, p] : pending_)
        n += p.state == State::Waiting || p.state == State::Receiving;
    return n;
}

void Endpoint::wakeHome() const {
    if (homeWake_ >= 0) {
        homeWoken_ = true;
        signal(homeWake_);
    }
}

void Endpoint::wakeReader() const {
    if (readerWake_ >= 0)
        signal(readerWake_);
}

// ---- Output ----------------------------------------------------------------------------

void Endpoint::post(Message message, int passFd) {
    std::vector<Value> releases;
    {
        std::lock_guard lock(mutex_);
        if (ended_)
            return;
        releases.swap(releases_);
    }
    bool ok;
    {
        std::lock_guard lock(sendMutex_);
        channel_.enqueue(message, passFd);
        // After the message: it may still name an object these let go.
        if (!releases.empty())
            channel_.enqueue({Kind::Notice, 0, options_.releaseOp, std::move(releases)});
        ok = channel_.flush();
    }
    if (!ok)
        end();
}

void Endpoint::flushOutput() {
    bool ok;
    {
        std::lock_guard lock(sendMutex_);
        ok = channel_.flush();
    }
    if (!ok)
        end();
}

bool Endpoint::hasOutput() {
    std::lock_guard lock(sendMutex_);
    return channel_.hasOutput();
}

void Endpoint::queueRelease(Value handle, std::uint32_t count) {
    bool first;
    {
        std::lock_guard lock(mutex_);
        if (ended_)
            return;
        first = releases_.empty();
        releases_.push_back(std::move(handle));
        releases_.push_back(Value::fromI4(static_cast<std::int32_t>(count)));
    }
    if (first && !onHomeThread())
        wakeHome();
}

void Endpoint::noteReleases() {
    {
        std::lock_guard lock(mutex_);
        if (releasesNoted_ || ended_)
            return;
        releasesNoted_ = true;
    }
    wakeHome();
}

void Endpoint::flushReleases() {
    bool noted;
    {
        std::lock_guard lock(mutex_);
        noted = std::exchange(releasesNoted_, false);
    }
    if (Side* side = side_.load(); noted && side)
        side->collectReleases();
    std::vector<Value> releases;
    {
        std::lock_guard lock(mutex_);
        if (ended_ || releases_.empty())
            return;
        releases.swap(releases_);
    }
    bool ok;
    {
        std::lock_guard lock(sendMutex_);
        channel_.enqueue({Kind::Notice, 0, options_.releaseOp, std::move(releases)});
        ok = channel_.flush();
    }
    if (!ok)
        end();
}

// ---- Input -----------------------------------------------------------------------------

bool Endpoint::takeRole() {
    std::lock_guard lock(mutex_);
    if (reader_ || ended_)
        return false;
    reader_ = std::this_thread::get_id();
    return true;
}

void Endpoint::releaseRole() {
    {
        std::lock_guard lock(mutex_);
        reader_.reset();
    }
    changed_.notify_all();
    // The home thread's main loop stopped polling the socket while another thread read it.
    if (!onHomeThread())
        wakeHome();
}

bool Endpoint::readNow() {
    const bool open = channel_.receive() >= 0;
    const bool handled = dispatchFrames();
    if (!open)
        end();
    return handled;
}

bool Endpoint::spinRead(Deadline until) {
    // Plain non-blocking reads, no poll(): the cheapest way to see a reply the moment it is
    // there. Each empty look gives the processor away if something else wants it: when the
    // peer shares this processor, spinning would only keep it from answering.
    do {
        const long got = channel_.receive();
        if (got != 0) {
            const bool handled = dispatchFrames();
            if (got < 0)
                end();
            return handled || got < 0;
        }
        sched_yield();
    } while (Clock::now() < until);
    return false;
}

bool Endpoint::dispatchFrames() {
    bool handled = false;
    for (;;) {
        {
            std::lock_guard lock(mutex_);
            if (ended_)
                return handled;
        }
        Message message;
        auto status = channel_.next(message);
        if (status == FrameReader::Status::NeedMore)
            return handled;
        if (status == FrameReader::Status::Malformed) {
            end(); // the peer cannot be trusted any more
            return handled;
        }
        handled = true;
        if (message.kind == Kind::Reply) {
            if (!fileReply(message)) {
                end(); // a reply nobody asked for: the peer is confused
                return handled;
            }
            continue;
        }
        {
            std::lock_guard lock(mutex_);
            inbox_.push_back(std::move(message));
        }
        if (!onHomeThread()) {
            changed_.notify_all(); // a home thread waiting for another reader
            wakeHome();            // a home thread in its main loop
        }
    }
}

bool Endpoint::fileReply(Message& reply) {
    const Receiver* receive = nullptr;
    bool home = false;
    {
        std::lock_guard lock(mutex_);
        auto it = pending_.find(reply.id);
        if (it == pending_.end())
            return false;
        Pending& p = it->second;
        if (p.state == State::Cancelled || p.state == State::GivenUp) {
            // Its caller is gone or going: nobody converts these values.
            pending_.erase(it);
            receive = nullptr;
        } else if (p.state == State::Waiting) {
            p.state = State::Receiving;
            receive = p.receive;
            home = p.home;
        } else {
            return false; // a second reply
        }
    }
    if (!receive) {
        if (Side* side = side_.load())
            side->dropReply(reply);
        return true;
    }
    if (*receive)
        (*receive)(reply);
    {
        std::lock_guard lock(mutex_);
        if (auto it = pending_.find(reply.id); it != pending_.end())
            it->second.state = State::Replied;
    }
    changed_.notify_all();
    if (home && !onHomeThread())
        wakeHome();
    return true;
}

void Endpoint::pollSocket(Deadline until) {
    pollfd fds[2] = {{channel_.fd(), POLLIN, 0}, {readerWake_, POLLIN, 0}};
    if (hasOutput())
        fds[0].events |= POLLOUT;
    int r;
    do {
        r = ::poll(fds, 2, pollTimeout(until));
    } while (r < 0 && errno == EINTR);
    if (r <= 0)
        return;
    if (fds[1].revents & POLLIN)
        drain(readerWake_);
    if (fds[0].revents & POLLOUT)
        flushOutput();
    if (fds[0].revents & (POLLIN | POLLHUP | POLLERR | POLLNVAL))
        readNow();
}

void Endpoint::readFor(std::uint32_t id, Deadline deadline, Deadline spinEnd, bool home) {
    for (;;) {
        {
            std::lock_guard lock(mutex_);
            auto it = pending_.find(id);
            if (ended_ || it == pending_.end() || it->second.state != State::Waiting)
                return;
            if (home && !inbox_.empty())
                return; // serve the peer's call first: it may be what our reply waits for
        }
        const auto now = Clock::now();
        if (now >= deadline)
            return;
        if (now < spinEnd && !hasOutput())
            spinRead(std::min(spinEnd, deadline));
        else
            pollSocket(deadline);
    }
}

std::optional<Endpoint::Greeting> Endpoint::receiveFirst(Deadline deadline) {
    auto keep = weak_from_this().lock();
    if (!takeRole())
        return std::nullopt;
    std::optional<Greeting> greeting;
    for (;;) {
        Message message;
        auto status = channel_.next(message);
        if (status == FrameReader::Status::Message) {
            greeting = Greeting{std::move(message), channel_.takeReceivedFd()};
            dispatchFrames(); // whatever came with it
            break;
        }
        if (status == FrameReader::Status::Malformed || !channel_.isOpen() ||
            Clock::now() >= deadline) {
            end();
            break;
        }
        pollfd p{channel_.fd(), POLLIN, 0};
        int r;
        do {
            r = ::poll(&p, 1, pollTimeout(deadline));
        } while (r < 0 && errno == EINTR);
        if (r > 0 && channel_.receive() < 0 && !channel_.hasInput()) {
            end();
            break;
        }
    }
    releaseRole();
    return greeting;
}

// ---- Home ------------------------------------------------------------------------------

bool Endpoint::serveInbox() {
    bool served = false;
    for (;;) {
        Message message;
        {
            std::lock_guard lock(mutex_);
            if (ended_ || inbox_.empty())
                return served;
            message = std::move(inbox_.front());
            inbox_.pop_front();
        }
        served = true;
        Side* side = side_.load();
        if (!side)
            return served;
        if (message.kind == Kind::Request) {
            Message reply{Kind::Reply, message.id, message.op, {}};
            side->serveRequest(message, reply);
            post(std::move(reply));
        } else {
            side->serveNotice(message);
        }
    }
}

void Endpoint::reportEnd() {
    {
        std::lock_guard lock(mutex_);
        if (!ended_ || endReported_)
            return;
        endReported_ = true;
    }
    if (Side* side = side_.load())
        side->ended();
}

void Endpoint::serve() {
    if (!onHomeThread())
        return;
    auto keep = weak_from_this().lock();
    if (homeWoken_.exchange(false))
        drain(homeWake_);
    const auto budgetEnd = Clock::now() + serveBudget;
    for (bool more = true; more;) {
        bool handled = false;
        if (takeRole()) {
            handled = readNow();
            releaseRole();
        }
        handled = serveInbox() || handled;
        flushReleases();
        if (hasOutput())
            flushOutput();
        // A peer calling in a loop sends its next call within microseconds of our reply:
        // look a little for it instead of going back to sleep, for a bounded time so that
        // the main loop still runs.
        more = false;
        const auto now = Clock::now();
        if (handled && isOpen() && now < budgetEnd && takeRole()) {
            more = spinRead(std::min(now + spinTime, budgetEnd));
            releaseRole();
        }
        reportEnd();
    }
}

Endpoint::PollRequest Endpoint::pollRequest() const {
    PollRequest request;
    {
        std::lock_guard lock(mutex_);
        request.readSocket = !ended_ && !reader_;
        request.ready = !inbox_.empty() || (!ended_ && (!releases_.empty() || releasesNoted_)) ||
                        (ended_ && !endReported_);
        if (ended_)
            return request;
    }
    std::lock_guard lock(sendMutex_);
    request.writeSocket = channel_.hasOutput();
    return request;
}

// ---- Calls -----------------------------------------------------------------------------

std::optional<Endpoint::Outcome> Endpoint::finished(std::uint32_t id) {
    std::lock_guard lock(mutex_);
    auto it = pending_.find(id);
    if (it == pending_.end())
        return Outcome::Cancelled; // given up and its reply already dropped
    switch (it->second.state) {
    case State::Waiting:
    case State::Receiving:
        return std::nullopt;
    case State::Replied:
        pending_.erase(it);
        return Outcome::Replied;
    case State::Ended:
        pending_.erase(it);
        return Outcome::Ended;
    case State::Cancelled:
    case State::GivenUp:
        // Kept until its reply comes, so that the reply is recognised and dropped.
        it->second.state = State::GivenUp;
        it->second.receive = nullptr;
        return Outcome::Cancelled;
    }
    return std::nullopt;
}

std::optional<Endpoint::Outcome> Endpoint::giveUp(std::uint32_t id) {
    std::unique_lock lock(mutex_);
    auto it = pending_.find(id);
    if (it == pending_.end())
        return Outcome::Cancelled;
    if (it->second.state == State::Waiting) {
        it->second.state = State::GivenUp;
        it->second.receive = nullptr;
        return Outcome::TimedOut;
    }
    if (it->second.state == State::Receiving) {
        // Its receiver runs now on the reading thread, with no lock held; it converts
        // values and returns within microseconds.
        changed_.wait(lock, [&] {
            auto p = pending_.find(id);
            return p == pending_.end() || p->second.state != State::Receiving;
        });
    }
    return std::nullopt; // finished() tells
}

Endpoint::Outcome Endpoint::call(std::uint8_t op, std::vector<Value> values, Deadline deadline,
                                 const Receiver& receive, std::uint32_t tag, std::stop_token cancel,
                                 std::uint32_t* sent) {
    const bool home = onHomeThread();
    auto keep = weak_from_this().lock();
    std::uint32_t id;
    if (sent)
        *sent = 0;
    if (!home && cancel.stop_requested())
        return Outcome::Cancelled;
    {
        std::lock_guard lock(mutex_);
        if (ended_)
            return Outcome::Ended;
        if (!home && holds_ > 0)
            return Outcome::Cancelled;
        do {
            id = nextId_++;
        } while (id == 0 || pending_.contains(id));
        pending_.emplace(id, Pending{&receive, home, tag});
    }
    if (sent)
        *sent = id;
    post({Kind::Request, id, op, std::move(values)});
    // A worker's call ends as soon as its caller cancels it, like cancelWorkerCalls.
    auto cancelThis = [this, id] {
        {
            std::lock_guard lock(mutex_);
            auto it = pending_.find(id);
            if (it != pending_.end() && it->second.state == State::Waiting)
                it->second.state = State::Cancelled;
        }
        changed_.notify_all();
        wakeReader();
    };
    std::optional<std::stop_callback<decltype(cancelThis)>> onCancel;
    if (!home && cancel.stop_possible())
        onCancel.emplace(cancel, cancelThis);
    const Deadline spinEnd = Clock::now() + spinTime;
    for (;;) {
        if (auto outcome = finished(id))
            return *outcome;
        const auto now = Clock::now();
        if (now >= deadline) {
            if (auto outcome = giveUp(id))
                return *outcome;
            continue;
        }
        if (home && options_.sleepHome) {
            // Poll the socket directly for a moment, then let the main loop run: its source
            // reads and serves meanwhile, and a reply another thread files wakes it.
            if (now < spinEnd && takeRole()) {
                readFor(id, std::min(deadline, spinEnd), spinEnd, true);
                releaseRole();
                serveInbox();
                continue;
            }
            if (serveInbox())
                continue;
            options_.sleepHome(deadline);
            continue;
        }
        if (takeRole()) {
            readFor(id, deadline, spinEnd, home);
            releaseRole();
            if (home)
                serveInbox();
            continue;
        }
        if (home && serveInbox())
            continue;
        // Another thread reads: it files our reply, or lets go of the socket, or the call is
        // cancelled; each wakes us.
        std::unique_lock lock(mutex_);
        auto woken = [&] {
            auto it = pending_.find(id);
            return ended_ || !reader_ || it == pending_.end() ||
                   it->second.state != State::Waiting || (home && !inbox_.empty());
        };
        if (deadline == noDeadline)
            changed_.wait(lock, woken);
        else
            changed_.wait_until(lock, deadline, woken);
    }
}

void Endpoint::cancelWorkerCalls(std::uint32_t tagBelow) {
    {
        std::lock_guard lock(mutex_);
        for (auto& [id, p] : pending_) {
            if (!p.home && p.state == State::Waiting && p.tag < tagBelow)
                p.state = State::Cancelled;
        }
    }
    changed_.notify_all();
    wakeReader(); // a cancelled caller may be the one reading
}

Endpoint::Hold& Endpoint::Hold::operator=(Hold&& other) noexcept {
    if (this != &other) {
        Hold gone(std::move(*this));
        endpoint_ = std::exchange(other.endpoint_, nullptr);
    }
    return *this;
}

Endpoint::Hold::~Hold() {
    if (endpoint_) {
        std::lock_guard lock(endpoint_->mutex_);
        --endpoint_->holds_;
    }
}

Endpoint::Hold Endpoint::holdWorkerCalls() {
    {
        std::lock_guard lock(mutex_);
        ++holds_;
    }
    cancelWorkerCalls();
    return Hold(this);
}

// ---- End -------------------------------------------------------------------------------

void Endpoint::end() {
    std::deque<Message> inbox;
    std::vector<Value> releases;
    {
        std::lock_guard lock(mutex_);
        if (ended_)
            return;
        ended_ = true;
        for (auto it = pending_.begin(); it != pending_.end();) {
            if (it->second.state == State::GivenUp) {
                it = pending_.erase(it);
                continue;
            }
            if (it->second.state == State::Waiting)
                it->second.state = State::Ended;
            ++it;
        }
        inbox.swap(inbox_);
        releases.swap(releases_);
    }
    channel_.shutdown();
    changed_.notify_all();
    wakeHome();
    wakeReader();
}

void Endpoint::close() {
    end();
}

void Endpoint::detach() {
    side_ = nullptr;
    end();
}

} // namespace norv::web::rpc
