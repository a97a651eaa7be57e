#pragma once
// MPSpectrumFeed: the audio tap's copies of recent buffers and the worker that hands the
// window being heard now to the spectrum callback.
//
// Buffers reach the player's tap about a second before they are heard, so the feed keeps
// a copy of each with its time span (push), and its worker thread picks the window by the
// playback position, not by arrival: about every period it reads the position, drops the
// buffers played already, takes the window of the buffer that holds the position and
// calls the callback with it. Deliveries stop by themselves when the position stands still
// (pause) and start again with the next push; a push that starts before the previous one
// (a seek backwards, a restart) empties the queue.
//
//   MPSpectrumFeed feed([&](double& p) { return player.position(p); });
//   feed.setWindowSize(512 * blockAlign);
//   feed.configure(-1, streamCallback);    // at tap creation: the worker starts
//   feed.configure(50, streamCallback);    // a listener at 50 ms
//   feed.push(start, end, bytes);          // from the streaming thread, every buffer
//
// The callback runs on the worker with no lock of the feed held and may block (it reaches
// the page through the UI thread). Times are seconds on the clock of the position source.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <thread>
#include <vector>

#include "platform/com/HResult.h"

namespace norv::media {

// The worker's timing: how long it waits for the next push, and what it does when a wait
// ends. It delivers once the armed period has passed, and prunes played buffers at least
// every 75 ms while armed (and on pushes while not).
class FeedSchedule {
public:
    using ms = std::chrono::milliseconds;
    static constexpr ms prunePeriod{75};
    // The longest wait while nothing is armed: the worker then only waits for a push, but
    // never without a bound.
    static constexpr ms idleWait{1000};

    enum class Step { none, deliver, prune };

    // The wait before the next step, for armed period `armed` (-1: nothing armed).
    ms waitTime(std::int32_t armed) const;
    // Counts the `elapsed` time of a wait and tells the step to take.
    Step afterWait(std::int32_t armed, ms elapsed);

private:
    ms elapsed_{0};
};

class MPSpectrumFeed {
public:
    // Reads the playback position in seconds. A failure skips that prune or delivery. Like
    // the callback, it runs on the worker and must keep alive what it uses.
    using PositionSource = std::function<com::HRESULT(double& seconds)>;
    // Receives the window at `position`. Runs on the worker; it must keep alive what it
    // uses, since a worker still inside it when the feed is destroyed finishes the call.
    using Callback =
        std::function<com::HRESULT(double position, std::span<const std::uint8_t> window)>;

    // How long the destructor waits for the worker before leaving it to end by itself.
    static constexpr std::chrono::milliseconds stopWait{200};
    // A queue longer than this (from its oldest end to its newest start) loses its oldest
    // buffers: a position that stops being readable cannot grow it without bound.
    static constexpr double maxQueuedSeconds = 10.0;

    explicit MPSpectrumFeed(PositionSource position);
    ~MPSpectrumFeed();
    MPSpectrumFeed(const MPSpectrumFeed&) = delete;
    MPSpectrumFeed& operator=(const MPSpectrumFeed&) = delete;

    // Sets the delivery period in milliseconds (-1: none) and the callback (empty: none).
    // A callback with period 0 is E_INVALIDARG. The first callback starts the worker.
    com::HRESULT configure(std::int32_t periodMs, Callback callback);

    // The window size in bytes (512 frames of the tap's format); 0 delivers whole buffers.
    void setWindowSize(std::uint32_t bytes);

    // Copies a buffer spanning [start, end) seconds. end <= start is E_INVALIDARG; without
    // a callback nothing is kept. E_OUTOFMEMORY when the copy cannot be made.
    com::HRESULT push(double start, double end, std::span<const std::uint8_t> bytes);

    // Drops the buffers that end at or before `position` (0 drops nothing).
    void dropPlayed(double position);
    // Drops every buffer kept (playback stopped or the medium changed): nothing queued
    // before is delivered, and the next push starts a new queue.
    void clear();

    struct QueuedSpan {
        double start;
        double end;
        std::size_t size;
    };
    // The buffers kept, oldest first.
    std::vector<QueuedSpan> queued() const;

    // Where the window lies in a buffer of `size` bytes spanning [start, end) for position
    // `position`: the window of `windowSize` bytes that holds the position, aligned to the
    // window size from the buffer's start and kept inside the buffer. Returns the offset;
    // the window's length is min(windowSize, size) (all of it when windowSize is 0).
    static std::size_t windowOffset(std::size_t size, double start, double end, double position,
                                    std::size_t windowSize);

private:
    struct Record {
        std::vector<std::uint8_t> bytes; // capacity kept when the record is reused
        std::size_t size = 0;
        double start = 0;
        double end = 0;
    };
    struct Shared;

    static void run(std::shared_ptr<Shared> shared);
    static void deliver(Shared& s);
    static void dropPlayedLocked(Shared& s, double position);

    std::shared_ptr<Shared> shared_;
    std::thread worker_;
};

} // namespace norv::media
