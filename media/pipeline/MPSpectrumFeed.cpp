#include "media/pipeline/MPSpectrumFeed.h"

#include <algorithm>
#include <cmath>
#include <new>
#include <optional>
#include <system_error>

namespace norv::media {

using Clock = std::chrono::steady_clock;

FeedSchedule::ms FeedSchedule::waitTime(std::int32_t armed) const {
    if (armed < 0)
        return idleWait;
    ms left = ms(armed) - elapsed_;
    if (armed > prunePeriod.count())
        left = std::min(left, prunePeriod);
    return std::max(left, ms(1));
}

FeedSchedule::Step FeedSchedule::afterWait(std::int32_t armed, ms elapsed) {
    elapsed_ += elapsed;
    if (armed >= 0 && elapsed_ >= ms(armed)) {
        elapsed_ = ms(0);
        return Step::deliver;
    }
    if (elapsed_ > prunePeriod) {
        if (armed < 0)
            elapsed_ = ms(0);
        return Step::prune;
    }
    return Step::none;
}

struct MPSpectrumFeed::Shared {
    explicit Shared(PositionSource p) : position(std::move(p)) {}

    const PositionSource position;

    mutable std::mutex lock;
    std::condition_variable wake; // the auto-reset event: `signalled`
    bool signalled = false;
    bool stop = false;
    std::condition_variable ended;
    bool done = false;

    // Guarded by `lock`.
    std::vector<Record> records; // [0, filled) hold buffers, oldest first
    std::size_t filled = 0;
    std::optional<double> lastPushedStart;
    std::int32_t configured = -1;
    std::int32_t armed = -1;
    std::size_t windowSize = 0;
    Callback callback;
    std::optional<double> lastDelivery;

    // The worker's own.
    std::vector<std::uint8_t> delivery;
    FeedSchedule schedule;
};

MPSpectrumFeed::MPSpectrumFeed(PositionSource position)
    : shared_(std::make_shared<Shared>(std::move(position))) {}

MPSpectrumFeed::~MPSpectrumFeed() {
    {
        std::unique_lock lock(shared_->lock);
        shared_->stop = true;
        shared_->callback = nullptr;
        shared_->wake.notify_all();
        // A worker inside the callback may be waiting for the thread destroying the feed
        // (the callback reaches the UI thread): wait a little, then let it end by itself.
        // It holds its own reference to the shared state and touches nothing else after
        // it sees `stop`.
        // The worker itself may destroy the feed from its callback: it cannot wait for
        // itself.
        if (worker_.joinable() && worker_.get_id() != std::this_thread::get_id())
            shared_->ended.wait_for(lock, stopWait, [&] { return shared_->done; });
    }
    if (worker_.joinable()) {
        bool done;
        {
            std::lock_guard lock(shared_->lock);
            done = shared_->done;
        }
        if (done)
            worker_.join();
        else
            worker_.detach();
    }
}

com::HRESULT MPSpectrumFeed::configure(std::int32_t periodMs, Callback callback) {
    if (callback && periodMs == 0)
        return com::E_INVALIDARG;
    std::lock_guard lock(shared_->lock);
    shared_->armed = -1;
    shared_->configured = callback ? periodMs : -1;
    const bool start = callback && !worker_.joinable();
    shared_->callback = std::move(callback);
    if (start) {
        try {
            worker_ = std::thread(&MPSpectrumFeed::run, shared_);
        } catch (const std::system_error& e) {
            shared_->callback = nullptr;
            shared_->configured = -1;
            return com::hresultFromErrno(e.code().value());
        }
    }
    return com::S_OK;
}

void MPSpectrumFeed::setWindowSize(std::uint32_t bytes) {
    std::lock_guard lock(shared_->lock);
    shared_->windowSize = bytes;
}

com::HRESULT MPSpectrumFeed::push(double start, double end, std::span<const std::uint8_t> bytes) {
    if (!(end > start)) // also refuses NaN
        return com::E_INVALIDARG;
    Shared& s = *shared_;
    std::lock_guard lock(s.lock);
    if (!s.callback)
        return com::S_OK;
    if (s.lastPushedStart && start < *s.lastPushedStart)
        s.filled = 0;
    s.lastPushedStart = start;

    std::size_t i = 0;
    while (i < s.filled && !(s.records[i].start == start && s.records[i].end == end))
        ++i;
    const bool appended = i == s.filled;
    try {
        if (appended && s.records.size() == s.filled)
            s.records.emplace_back();
        Record& r = s.records[i];
        if (r.bytes.size() < bytes.size())
            r.bytes.resize(bytes.size());
        std::copy(bytes.begin(), bytes.end(), r.bytes.begin());
        r.size = bytes.size();
        r.start = start;
        r.end = end;
    } catch (const std::bad_alloc&) {
        if (!appended) { // the record lost its old contents: take it out of the queue
            std::rotate(s.records.begin() + i, s.records.begin() + i + 1,
                        s.records.begin() + s.filled);
            --s.filled;
        }
        return com::E_OUTOFMEMORY;
    }
    if (appended)
        ++s.filled;

    // Keep the queue's span bounded.
    std::size_t stale = 0;
    while (s.filled - stale > 1 && start - s.records[stale].end > maxQueuedSeconds)
        ++stale;
    if (stale > 0) {
        std::rotate(s.records.begin(), s.records.begin() + stale, s.records.begin() + s.filled);
        s.filled -= stale;
    }

    s.armed = s.configured;
    s.signalled = true;
    s.wake.notify_one();
    return com::S_OK;
}

void MPSpectrumFeed::dropPlayed(double position) {
    std::lock_guard lock(shared_->lock);
    dropPlayedLocked(*shared_, position);
}

void MPSpectrumFeed::clear() {
    std::lock_guard lock(shared_->lock);
    shared_->filled = 0;
    shared_->lastPushedStart.reset();
    shared_->lastDelivery.reset();
    shared_->armed = -1;
}

void MPSpectrumFeed::dropPlayedLocked(Shared& s, double position) {
    if (position == 0)
        return;
    // Played records move behind the ones that remain, keeping their capacity; the order
    // of the remaining ones is kept.
    auto first = s.records.begin();
    auto kept = std::stable_partition(first, first + static_cast<std::ptrdiff_t>(s.filled),
                                      [&](const Record& r) { return r.end > position; });
    s.filled = static_cast<std::size_t>(kept - first);
}

std::vector<MPSpectrumFeed::QueuedSpan> MPSpectrumFeed::queued() const {
    std::lock_guard lock(shared_->lock);
    std::vector<QueuedSpan> out;
    for (std::size_t i = 0; i < shared_->filled; ++i) {
        const Record& r = shared_->records[i];
        out.push_back({r.start, r.end, r.size});
    }
    return out;
}

std::size_t MPSpectrumFeed::windowOffset(std::size_t size, double start, double end,
                                         double position, std::size_t windowSize) {
    if (windowSize == 0 || size <= windowSize || position == 0)
        return 0;
    const double offset = static_cast<double>(size) / (end - start) * (position - start);
    if (!(offset > static_cast<double>(windowSize))) // before the second window, or NaN
        return 0;
    const double windows = std::floor(offset / static_cast<double>(windowSize));
    const double lastStart = static_cast<double>(size - windowSize);
    double begin = std::min(windows * static_cast<double>(windowSize), lastStart);
    // Aligned to the window size from the buffer's start, ending inside the buffer.
    begin = std::floor(begin / static_cast<double>(windowSize)) * static_cast<double>(windowSize);
    return static_cast<std::size_t>(begin);
}

void MPSpectrumFeed::deliver(Shared& s) {
    double position = 0;
    if (com::failed(s.position(position)) || !std::isfinite(position))
        return;
    Callback callback;
    std::size_t length = 0;
    {
        std::lock_guard lock(s.lock);
        if (s.stop)
            return;
        dropPlayedLocked(s, position);
        if (s.lastDelivery == position) { // nothing new: paused, or the queue ran dry
            s.armed = -1;
            return;
        }
        s.lastDelivery = position;
        try {
            if (position == 0) {
                // Nothing is being heard yet: the listener gets silence at time 0.
                s.armed = -1;
                length = s.windowSize;
                if (s.delivery.size() < length)
                    s.delivery.resize(length);
                std::fill_n(s.delivery.begin(), length, 0);
            } else {
                if (s.filled == 0) {
                    s.armed = -1;
                    return;
                }
                const Record& r = s.records[0];
                length = s.windowSize == 0 ? r.size : std::min(s.windowSize, r.size);
                const std::size_t offset =
                    windowOffset(r.size, r.start, r.end, position, s.windowSize);
                if (s.delivery.size() < length)
                    s.delivery.resize(length);
                std::copy_n(r.bytes.begin() + static_cast<std::ptrdiff_t>(offset), length,
                            s.delivery.begin());
            }
        } catch (const std::bad_alloc&) {
            return;
        }
        callback = s.callback;
    }
    if (callback)
        static_cast<void>(callback(position, std::span(s.delivery.data(), length)));
}

void MPSpectrumFeed::run(std::shared_ptr<Shared> shared) {
    Shared& s = *shared;
    for (;;) {
        std::int32_t armed;
        {
            std::lock_guard lock(s.lock);
            if (s.stop)
                break;
            armed = s.armed;
        }
        const auto wait = s.schedule.waitTime(armed);
        const auto before = Clock::now();
        {
            std::unique_lock lock(s.lock);
            s.wake.wait_for(lock, wait, [&] { return s.signalled || s.stop; });
            s.signalled = false;
            if (s.stop)
                break;
        }
        const auto elapsed = std::chrono::duration_cast<FeedSchedule::ms>(Clock::now() - before);
        switch (s.schedule.afterWait(armed, elapsed)) {
        case FeedSchedule::Step::deliver:
            deliver(s);
            break;
        case FeedSchedule::Step::prune: {
            bool any;
            {
                std::lock_guard lock(s.lock);
                any = s.filled > 0;
            }
            double position = 0;
            if (any && com::succeeded(s.position(position)) && std::isfinite(position)) {
                std::lock_guard lock(s.lock);
                if (!s.stop)
                    dropPlayedLocked(s, position);
            }
            break;
        }
        case FeedSchedule::Step::none:
            break;
        }
    }
    std::lock_guard lock(s.lock);
    s.done = true;
    s.ended.notify_all();
}

} // namespace norv::media
