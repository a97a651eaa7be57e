#pragma once
// Endpoint: one end of a bridge connection, the same on both sides of the socket.
//
// It owns the channel and everything about the traffic that does not depend on what the
// messages mean: the table of calls waiting for replies, the order in which what is read
// is handled, the output queue, batched releases, the end of the connection, and how a
// waiting thread spends its time. Each side (the UI's BridgeConnection, the web process's
// PageBridge) gives it a Side: what to do with a request or a notice, and how to let go of
// the values of a reply nobody waits for any more.
//
// Threads. The thread that creates the endpoint is its home: every request and notice of
// the peer is served there, in the order it arrived. Calls may be made from any thread;
// each waits for its own reply, for at most its deadline. Whoever waits reads the socket
// (one thread at a time holds the reader role; the others sleep until it files their
// reply or lets go of the socket), so a reply never needs the home thread to be free,
// and the home thread's own calls need no hop through another thread. Everything read is
// handled before the role is let go: a reply is handed to its caller's receiver at once,
// on the reading thread, before anything that followed it on the wire is looked at; a
// request or notice goes to the home thread's inbox and wakes it. While the home thread
// waits for a reply it goes on serving its inbox, so calls nest both ways.
//
// Waiting. A waiting thread first polls the socket without sleeping for `spinTime` (a
// reply usually comes within microseconds; spinning saves two scheduler round trips),
// giving the processor away between looks in case the peer waits for it, then sleeps: in poll() on
// the socket when it holds the reader role, on a condition otherwise, or, for a home thread that
// must keep its main loop alive, in one round of that loop (Options::sleepHome).
//
// Nothing ever blocks in a write: a message is queued and written as the socket takes it,
// by the sender or whoever runs next (a waiting thread, the home thread's main loop).
//
// No lock of the endpoint is held while side code runs (serving, receiving, dropping).

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <thread>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/web/rpc/Channel.h"
#include "platform/web/rpc/Message.h"

namespace norv::web::rpc {

class Endpoint : public std::enable_shared_from_this<Endpoint> {
public:
    using Clock = std::chrono::steady_clock;
    using Deadline = Clock::time_point;
    static constexpr Deadline noDeadline = Deadline::max();

    // How long a thread that expects input polls before it sleeps (see above). Measured
    // with bench/bridge: shorter misses replies on a busy machine, longer gains nothing.
    static constexpr std::chrono::microseconds spinTime{50};
    // How long the home thread goes on serving a peer that keeps calling before it lets
    // its main loop run again.
    static constexpr std::chrono::microseconds serveBudget{2000};

    class Side {
    public:
        // A request of the peer, on the home thread: fill `reply.values`.
        virtual void serveRequest(Message& request, Message& reply) = 0;
        // A notice of the peer, on the home thread.
        virtual void serveNotice(Message& notice) = 0;
        // A reply whose caller gave up (deadline, cancellation) arrived: let go of what its
        // values hold. On the reading thread, in wire order.
        virtual void dropReply(Message& reply) = 0;
        // Releases the side noted for a later flush (see noteReleases()), on the home
        // thread, when the endpoint is about to flush.
        virtual void collectReleases() {}
        // The connection ended (the peer went away or broke the protocol, or close()), on
        // the home thread, once.
        virtual void ended() = 0;

    protected:
        ~Side() = default;
    };

    struct Options {
        // The operation of the notice that carries batched releases.
        std::uint8_t releaseOp = 0;
        // Keep descriptors the peer passes (for receiveFirst); otherwise they are closed.
        bool acceptDescriptors = false;
        // One round of the home thread's main loop, returning by `deadline` at the latest;
        // the loop must run a source that calls serve() (see EndpointSource). Empty: the
        // home thread waits in poll() and runs nothing else meanwhile.
        std::function<void(Deadline)> sleepHome;
    };

    enum class Outcome { Replied, Ended, TimedOut, Cancelled };

    // Takes ownership of `fd`. The calling thread becomes the home thread. `side` must
    // stay until detach(). An endpoint owned by a shared_ptr keeps itself alive while one
    // of its calls or serve() runs, so its owner may let go of it meanwhile.
    Endpoint(int fd, Side& side, Options options);
    // Ends the connection. No call may still be running.
    ~Endpoint();
    Endpoint(const Endpoint&) = delete;
    Endpoint& operator=(const Endpoint&) = delete;

    bool onHomeThread() const { return std::this_thread::get_id() == home_; }
    bool isOpen() const;

    // Queues a message (a reply, a notice) and writes what the socket takes now; any
    // thread, never blocks. `passFd` (duplicated) travels with the message. Releases queued
    // so far follow it. Nothing happens once the connection ended.
    void post(Message message, int passFd = -1);

    // Sends a request and waits for its reply, for at most `deadline`; any thread.
    // `receive` gets the reply as soon as it is read, on the reading thread, before
    // anything later on the wire is looked at; it is not called when the outcome is not
    // Replied. `tag` is the caller's, for cancelWorkerCalls. Calls from other threads than
    // the home one are Cancelled at once while a hold (holdWorkerCalls) lasts, and when
    // `cancel` is triggered. `sent`, when given, is set to the request's id once it is
    // queued (0 when it never was): a reply the caller gave up on reaches Side::dropReply
    // with that id.
    using Receiver = std::function<void(Message& reply)>;
    Outcome call(std::uint8_t op, std::vector<Value> values, Deadline deadline,
                 const Receiver& receive, std::uint32_t tag = 0, std::stop_token cancel = {},
                 std::uint32_t* sent = nullptr);

    // A release of `count` hand-outs of `handle`, sent after the next message or when the
    // home thread is next idle; any thread.
    void queueRelease(Value handle, std::uint32_t count);
    // The side has releases to collect (Side::collectReleases) when the home thread is next
    // idle. Any thread; only sets a flag and wakes the home thread.
    void noteReleases();

    // Home thread: the first message of the connection and the descriptor that came with
    // it (-1: none), read before anything else is handled; what came after it is handled
    // as usual. nullopt when the connection ended first or the deadline passed.
    struct Greeting {
        Message message;
        int fd = -1; // the caller's
    };
    std::optional<Greeting> receiveFirst(Deadline deadline);

    // Home thread: reads and serves what is there, flushes queued output and releases, and
    // goes on for a while if the peer keeps calling (serveBudget). Called by the home
    // thread's main-loop source.
    void serve();
    // What the home thread's main-loop source polls for (home thread).
    struct PollRequest {
        bool readSocket = false;  // nobody else reads it now
        bool writeSocket = false; // output is waiting for room
        bool ready = false;       // serve() has work without waiting for a descriptor
    };
    PollRequest pollRequest() const;
    int socketFd() const { return channel_.fd(); }
    // Readable while the home thread has work that the socket does not show (serve()
    // drains it).
    int wakeFd() const { return homeWake_; }

    // Cancels every call from another thread than the home one that waits now and whose
    // tag is below `tagBelow`: each returns Cancelled at once, and its reply, when it
    // comes, is dropped.
    void cancelWorkerCalls(std::uint32_t tagBelow = UINT32_MAX);
    // Cancels every worker call, and makes new ones Cancelled at once, while it lives.
    class Hold {
    public:
        Hold() = default;
        Hold(Hold&& other) noexcept : endpoint_(std::exchange(other.endpoint_, nullptr)) {}
        Hold& operator=(Hold&& other) noexcept;
        ~Hold();

    private:
        friend class Endpoint;
        explicit Hold(Endpoint* endpoint) : endpoint_(endpoint) {}
        Endpoint* endpoint_ = nullptr;
    };
    Hold holdWorkerCalls();

    // Ends the connection: every waiting call ends at once (Ended), nothing more is read
    // or written. Any thread.
    void close();
    // Ends the connection and stops calling the side; on the home thread, by a side that
    // goes away (no other thread may be in a call then).
    void detach();

    // Calls waiting now (for tests and diagnostics).
    std::size_t waitingCalls() const;

private:
    enum class State { Waiting, Receiving, Replied, Ended, Cancelled, GivenUp };
    struct Pending {
        const Receiver* receive; // the caller's, while it waits
        bool home;
        std::uint32_t tag;
        State state = State::Waiting;
    };

    bool takeRole();
    void releaseRole();
    // With the role held: reads what has arrived and handles every complete frame. False
    // when nothing was handled.
    bool readNow();
    bool dispatchFrames();
    bool fileReply(Message& reply);
    // With the role held: polls until input arrives or `until`, and handles what came.
    void pollSocket(Deadline until);
    // With the role held: reads without sleeping until something arrives (and is handled)
    // or `until`. True when something was handled or the peer went away.
    bool spinRead(Deadline until);
    // With the role held: keeps reading until call `id` is no longer waiting, `deadline`
    // passes or (home) the inbox has work.
    void readFor(std::uint32_t id, Deadline deadline, Deadline spinEnd, bool home);
    bool serveInbox();
    void flushOutput();
    void flushReleases();
    void end();
    void reportEnd();
    std::optional<Outcome> finished(std::uint32_t id);
    std::optional<Outcome> giveUp(std::uint32_t id);
    void wakeHome() const;
    void wakeReader() const;
    bool hasOutput();

    std::atomic<Side*> side_;
    Options options_;
    const std::thread::id home_;
    Channel channel_;
    int homeWake_ = -1;
    mutable std::atomic<bool> homeWoken_{false}; // homeWake_ may be readable
    int readerWake_ = -1;

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::unordered_map<std::uint32_t, Pending> pending_;
    std::uint32_t nextId_ = 1;
    std::deque<Message> inbox_;
    std::optional<std::thread::id> reader_;
    std::vector<Value> releases_;
    bool releasesNoted_ = false;
    int holds_ = 0;
    bool ended_ = false;
    bool endReported_ = false;

    mutable std::mutex sendMutex_; // the channel's output half
};

} // namespace norv::web::rpc
