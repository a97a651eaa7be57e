// The bridge endpoint with real threads on a socket pair: each end has a home thread that
// runs a small main loop serving it, as the UI and the web process do. Calls from several
// threads, nested calls both ways, deadlines, cancellation, the peer's end, the output
// that waits for room, and the shared memory.
#include <gtest/gtest.h>

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <future>
#include <mutex>
#include <thread>

#include "platform/web/rpc/Endpoint.h"
#include "platform/web/rpc/SharedArea.h"

using namespace norv::web::rpc;
using namespace std::chrono_literals;
using Outcome = Endpoint::Outcome;

namespace {

constexpr std::uint8_t opEcho = 40;    // replies its first value
constexpr std::uint8_t opHandler = 41; // runs the side's handler
constexpr std::uint8_t opRelease = 42; // batched releases

Endpoint::Deadline in(std::chrono::milliseconds d) {
    return Endpoint::Clock::now() + d;
}

// A flag a test can wait for, with a deadline.
class Latch {
public:
    void open() {
        std::lock_guard lock(m_);
        open_ = true;
        cv_.notify_all();
    }
    bool wait(std::chrono::milliseconds d = 20s) {
        std::unique_lock lock(m_);
        return cv_.wait_for(lock, d, [&] { return open_; });
    }

private:
    std::mutex m_;
    std::condition_variable cv_;
    bool open_ = false;
};

// One end: an endpoint and the home thread that serves it in a loop of its own.
class End final : public Endpoint::Side {
public:
    // `mainLoop`: the home thread waits for its own replies in rounds of its loop (as the
    // UI does); otherwise in poll() on the socket alone (as the web process does).
    End(int fd, bool mainLoop) {
        stop_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        tasks_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        std::promise<void> ready;
        home_ = std::thread([this, fd, mainLoop, &ready] {
            Endpoint::Options options;
            options.releaseOp = opRelease;
            options.acceptDescriptors = true;
            if (mainLoop)
                options.sleepHome = [this](Endpoint::Deadline d) {
                    round(d);
                };
            endpoint = std::make_shared<Endpoint>(fd, *this, std::move(options));
            homeId = std::this_thread::get_id();
            ready.set_value();
            while (!stopped_)
                round(Endpoint::noDeadline);
            endpoint->detach();
        });
        ready.get_future().wait();
    }
    ~End() {
        stopped_ = true;
        const std::uint64_t one = 1;
        (void)::write(stop_, &one, sizeof one);
        home_.join();
        ::close(stop_);
        ::close(tasks_);
    }

    // Runs `task` on the home thread and waits (bounded) for it to finish.
    template <class F>
    auto onHome(F task) {
        auto job = std::make_shared<std::packaged_task<decltype(task())()>>(std::move(task));
        auto result = job->get_future();
        {
            std::lock_guard lock(m_);
            queue_.push_back([job] { (*job)(); });
        }
        const std::uint64_t one = 1;
        (void)::write(tasks_, &one, sizeof one);
        if (result.wait_for(20s) != std::future_status::ready) {
            ADD_FAILURE() << "the home thread did not run the task";
            std::abort(); // rather than hang
        }
        return result.get();
    }

    // Calls the peer's echo with `value`, from this thread.
    Outcome echo(std::int32_t value, std::int32_t* got, Endpoint::Deadline deadline = in(20s)) {
        return endpoint->call(opEcho, {Value::fromI4(value)}, deadline, [got](Message& reply) {
            if (got && !reply.values.empty())
                *got = reply.values[0].i4;
        });
    }

    std::shared_ptr<Endpoint> endpoint;
    std::thread::id homeId;
    // What a request of opHandler does here (on the home thread).
    std::function<void(Message&, Message&)> handler;
    std::function<void(Message&)> notices;
    std::atomic<int> dropped{0};
    std::atomic<int> endings{0};
    std::atomic<bool> servedOffHome{false};

private:
    void serveRequest(Message& request, Message& reply) override {
        if (std::this_thread::get_id() != homeId)
            servedOffHome = true;
        if (request.op == opEcho && !request.values.empty())
            reply.values = {request.values[0]};
        else if (request.op == opHandler && handler)
            handler(request, reply);
    }
    void serveNotice(Message& notice) override {
        if (notices)
            notices(notice);
    }
    void dropReply(Message&) override { ++dropped; }
    void ended() override { ++endings; }

    // One round of the home loop: serve what is there, run tasks, or sleep until something
    // is (or `deadline`).
    void round(Endpoint::Deadline deadline) {
        auto request = endpoint->pollRequest();
        if (request.ready) {
            endpoint->serve();
            return;
        }
        pollfd fds[4] = {{endpoint->socketFd(), 0, 0},
                         {endpoint->wakeFd(), POLLIN, 0},
                         {tasks_, POLLIN, 0},
                         {stop_, POLLIN, 0}};
        if (request.readSocket)
            fds[0].events |= POLLIN;
        if (request.writeSocket)
            fds[0].events |= POLLOUT;
        int timeout = -1;
        if (deadline != Endpoint::noDeadline) {
            auto left =
                std::chrono::ceil<std::chrono::milliseconds>(deadline - Endpoint::Clock::now());
            timeout = static_cast<int>(std::max<long long>(0, left.count()));
        }
        if (fds[0].events == 0)
            fds[0].fd = -1;
        if (::poll(fds, 4, timeout) <= 0)
            return;
        if (fds[2].revents & POLLIN) {
            std::uint64_t n;
            (void)::read(tasks_, &n, sizeof n);
            std::vector<std::function<void()>> tasks;
            {
                std::lock_guard lock(m_);
                tasks.swap(queue_);
            }
            for (auto& t : tasks)
                t();
        }
        if ((fds[0].revents | fds[1].revents) != 0)
            endpoint->serve();
    }

    std::thread home_;
    int stop_ = -1;
    int tasks_ = -1;
    std::atomic<bool> stopped_{false};
    std::mutex m_;
    std::vector<std::function<void()>> queue_;
};

struct Pair {
    Pair(bool uiLoop = true, bool pageLoop = false) {
        int fds[2];
        EXPECT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
        ui = std::make_unique<End>(fds[0], uiLoop);
        page = std::make_unique<End>(fds[1], pageLoop);
    }
    std::unique_ptr<End> ui;
    std::unique_ptr<End> page;
};

bool eventually(const std::function<bool()>& cond, std::chrono::milliseconds d = 20s) {
    const auto end = std::chrono::steady_clock::now() + d;
    while (!cond()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

} // namespace

TEST(EndpointTest, NothingReadWhileTheSocketIsFullIsLeftBehind) {
    Pair p;
    std::atomic<std::size_t> bigArrived{0};
    p.page->notices = [&](Message& m) {
        if (!m.values.empty())
            bigArrived = m.values[0].text16.size();
    };
    // The UI sends far more than the socket holds while the page calls it: the page's
    // call must be served, and the big message arrive whole after it.
    const std::u16string big(1 << 20, u'x');
    p.ui->onHome([&] {
        p.ui->endpoint->post({Kind::Notice, 0, 27, {Value::fromString16(big)}});
        return 0;
    });
    std::int32_t got = 0;
    EXPECT_EQ(p.page->onHome([&] { return p.page->echo(7, &got); }), Outcome::Replied);
    EXPECT_EQ(got, 7);
    EXPECT_TRUE(eventually([&] { return bigArrived == big.size(); }));

    // Both at once, both ways, from the home threads and a worker.
    std::thread worker([&] {
        std::int32_t w = 0;
        EXPECT_EQ(p.ui->echo(3, &w), Outcome::Replied);
        EXPECT_EQ(w, 3);
    });
    bigArrived = 0;
    std::atomic<std::size_t> uiArrived{0};
    p.ui->notices = [&](Message& m) {
        uiArrived = m.values.at(0).text16.size();
    };
    p.page->onHome([&] {
        p.page->endpoint->post({Kind::Notice, 0, 27, {Value::fromString16(big)}});
        return 0;
    });
    p.ui->onHome([&] {
        p.ui->endpoint->post({Kind::Notice, 0, 27, {Value::fromString16(big)}});
        return 0;
    });
    EXPECT_EQ(p.page->onHome([&] { return p.page->echo(8, &got); }), Outcome::Replied);
    worker.join();
    EXPECT_TRUE(eventually([&] { return bigArrived == big.size() && uiArrived == big.size(); }));
}

TEST(EndpointTest, WorkersGetTheirOwnRepliesWhileTheHomeThreadIsBusyElsewhere) {
    Pair p;
    // The UI's home thread is blocked for the whole test.
    Latch release, blocked;
    std::thread holder([&] {
        p.ui->onHome([&] {
            blocked.open();
            return release.wait();
        });
    });
    ASSERT_TRUE(blocked.wait());
    std::vector<std::thread> workers;
    std::atomic<int> right{0};
    for (int w = 0; w < 4; ++w) {
        workers.emplace_back([&, w] {
            for (int i = 0; i < 200; ++i) {
                std::int32_t got = -1;
                if (p.ui->echo(w * 1000 + i, &got) == Outcome::Replied && got == w * 1000 + i)
                    ++right;
            }
        });
    }
    for (auto& t : workers)
        t.join();
    EXPECT_EQ(right, 800);
    release.open();
    holder.join();
    EXPECT_FALSE(p.ui->servedOffHome);
    EXPECT_FALSE(p.page->servedOffHome);
}

TEST(EndpointTest, CallsNestBothWaysAndThePageServesWorkersWhileItWaits) {
    Pair p;
    // The page's handler calls back into the UI, whose handler calls the page again.
    p.page->handler = [&](Message& request, Message& reply) {
        std::int32_t got = 0;
        const auto depth = request.values.at(0).i4;
        Message inner;
        auto outcome = p.page->endpoint->call(
            opHandler, {Value::fromI4(depth + 1)}, Endpoint::noDeadline,
            [&](Message& r) { got = r.values.empty() ? -1 : r.values[0].i4; });
        EXPECT_EQ(outcome, Outcome::Replied);
        reply.values = {Value::fromI4(got + 1)};
    };
    p.ui->handler = [&](Message& request, Message& reply) {
        const auto depth = request.values.at(0).i4;
        if (depth >= 5) {
            reply.values = {Value::fromI4(100)};
            return;
        }
        std::int32_t got = 0;
        EXPECT_EQ(p.ui->endpoint->call(opHandler, {Value::fromI4(depth + 1)}, Endpoint::noDeadline,
                                       [&](Message& r) { got = r.values.at(0).i4; }),
                  Outcome::Replied);
        reply.values = {Value::fromI4(got + 1)};
    };
    // From the UI's home thread and from a worker at the same time.
    auto nested = [&] {
        std::int32_t got = 0;
        EXPECT_EQ(p.ui->endpoint->call(opHandler, {Value::fromI4(0)}, in(20s),
                                       [&](Message& r) { got = r.values.at(0).i4; }),
                  Outcome::Replied);
        return got;
    };
    auto fromWorker = std::async(std::launch::async, nested);
    EXPECT_EQ(p.ui->onHome(nested), 105);
    EXPECT_EQ(fromWorker.get(), 105);

    // The page waits for a reply of its own while the UI's answer needs a worker's call
    // to the page: the page serves it meanwhile.
    p.ui->handler = [&](Message&, Message& reply) {
        std::int32_t got = 0;
        std::thread([&] { EXPECT_EQ(p.ui->echo(55, &got), Outcome::Replied); }).join();
        reply.values = {Value::fromI4(got)};
    };
    std::int32_t got = 0;
    EXPECT_EQ(p.page->onHome([&] {
        return p.page->endpoint->call(opHandler, {}, Endpoint::noDeadline,
                                      [&](Message& r) { got = r.values.at(0).i4; });
    }),
              Outcome::Replied);
    EXPECT_EQ(got, 55);
    EXPECT_FALSE(p.ui->servedOffHome);
}

TEST(EndpointTest, AWorkerGivesUpAtItsDeadlineAndItsLateReplyIsDropped) {
    Pair p;
    Latch answer, asked;
    p.page->handler = [&](Message&, Message& reply) {
        asked.open();
        answer.wait();
        reply.values = {Value::fromI4(1)};
    };
    std::atomic<bool> called{false};
    auto outcome = std::async(std::launch::async, [&] {
        return p.ui->endpoint->call(opHandler, {}, in(200ms), [&](Message&) { called = true; });
    });
    ASSERT_TRUE(asked.wait());
    EXPECT_EQ(outcome.get(), Outcome::TimedOut);
    answer.open();
    EXPECT_TRUE(eventually([&] { return p.ui->dropped == 1; }));
    EXPECT_FALSE(called);
    // The connection goes on.
    std::int32_t got = 0;
    EXPECT_EQ(p.ui->echo(9, &got), Outcome::Replied);
    EXPECT_EQ(got, 9);
    EXPECT_TRUE(p.ui->endpoint->isOpen());
}

TEST(EndpointTest, TheHomeThreadCancelsWorkersThatWaitForScriptThatWaitsForIt) {
    Pair p;
    // The page's handler needs the UI's home thread (a call back into it), and the UI's
    // home thread waits for the workers that made the first calls (as a pipeline state
    // change waits for its streaming threads): without cancelling, none of them could go
    // on.
    std::atomic<int> asked{0};
    p.page->handler = [&](Message&, Message& reply) {
        ++asked;
        std::int32_t got = 0;
        p.page->echo(1, &got, Endpoint::noDeadline);
        reply.values = {Value::fromI4(got)};
    };
    std::atomic<int> cancelled{0};
    p.ui->onHome([&] {
        std::vector<std::thread> workers;
        for (int i = 0; i < 3; ++i) {
            workers.emplace_back([&] {
                if (p.ui->endpoint->call(opHandler, {}, in(60s), {}) == Outcome::Cancelled)
                    ++cancelled;
            });
        }
        // The page serves all three while it waits for the UI.
        EXPECT_TRUE(eventually([&] { return asked == 3; }));
        auto hold = p.ui->endpoint->holdWorkerCalls();
        for (auto& t : workers)
            t.join(); // at once: they were all cancelled
        // While the hold lasts, new worker calls do not even start.
        std::async(std::launch::async, [&] {
            EXPECT_EQ(p.ui->echo(1, nullptr, in(60s)), Outcome::Cancelled);
        }).get();
        return 0;
    });
    EXPECT_EQ(cancelled, 3);
    // Once the UI is free again the page's handlers finish; their replies are dropped.
    EXPECT_TRUE(eventually([&] { return p.ui->dropped == 3; }));
    std::int32_t got = 0;
    EXPECT_EQ(p.ui->echo(4, &got), Outcome::Replied);
    EXPECT_EQ(got, 4);
}

TEST(EndpointTest, ThePeerGoingAwayEndsEveryWaitingCallAtOnce) {
    Pair p;
    Latch never, asked;
    std::atomic<int> asks{0};
    p.page->handler = [&](Message&, Message&) {
        if (++asks == 1)
            asked.open();
        never.wait(60s);
    };
    std::vector<std::future<Outcome>> calls;
    for (int i = 0; i < 3; ++i)
        calls.push_back(std::async(
            std::launch::async, [&] { return p.ui->endpoint->call(opHandler, {}, in(60s), {}); }));
    std::thread homeCall(
        [&] { p.ui->onHome([&] { return p.ui->endpoint->call(opHandler, {}, in(60s), {}); }); });
    ASSERT_TRUE(asked.wait());
    ASSERT_TRUE(eventually([&] { return p.ui->endpoint->waitingCalls() == 4; }));
    // The page's process dies: its socket closes under it.
    ::shutdown(p.page->endpoint->socketFd(), SHUT_RDWR);
    for (auto& c : calls)
        EXPECT_EQ(c.get(), Outcome::Ended);
    never.open();
    homeCall.join();
    EXPECT_TRUE(eventually([&] { return p.ui->endings == 1; }));
    EXPECT_EQ(p.ui->echo(1, nullptr), Outcome::Ended);
}

TEST(EndpointTest, ReleasesFollowTheNextMessageOrGoWhenTheHomeThreadIsIdle) {
    Pair p;
    std::mutex m;
    std::vector<std::uint8_t> ops;
    p.page->notices = [&](Message& n) {
        std::lock_guard lock(m);
        ops.push_back(n.op);
    };
    p.ui->onHome([&] {
        p.ui->endpoint->queueRelease(Value::scriptObject(5), 1);
        p.ui->endpoint->queueRelease(Value::scriptObject(6), 2);
        p.ui->endpoint->post({Kind::Notice, 0, 30, {}});
        return 0;
    });
    // From another thread, with nothing sent after it.
    std::thread([&] { p.ui->endpoint->queueRelease(Value::scriptObject(7), 1); }).join();
    EXPECT_TRUE(eventually([&] {
        std::lock_guard lock(m);
        return ops.size() == 3;
    }));
    std::lock_guard lock(m);
    EXPECT_EQ(ops, (std::vector<std::uint8_t>{30, opRelease, opRelease}));
}

TEST(EndpointTest, SharedMemoryIsTheSameBytesOnBothSidesAndCannotBeCut) {
    auto area = SharedArea::create(64 * 1024);
    ASSERT_TRUE(area);
    // The peer maps the descriptor passed with the greeting.
    int fds[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
    struct Quiet final : Endpoint::Side {
        void serveRequest(Message&, Message&) override {}
        void serveNotice(Message&) override {}
        void dropReply(Message&) override {}
        void ended() override {}
    } side;
    auto ui = std::make_shared<Endpoint>(fds[0], side, Endpoint::Options{});
    Endpoint::Options pageOptions;
    pageOptions.acceptDescriptors = true;
    auto page = std::make_shared<Endpoint>(fds[1], side, std::move(pageOptions));
    ui->post(helloNotice(static_cast<std::uint32_t>(area->size())), area->fd());
    auto greeting = page->receiveFirst(in(10s));
    ASSERT_TRUE(greeting);
    ASSERT_EQ(helloSharedSize(greeting->message), area->size());
    auto mapped = SharedArea::adopt(greeting->fd, area->size());
    ASSERT_TRUE(mapped);

    auto block = area->reserve(1000);
    ASSERT_TRUE(block);
    block->bytes()[999] = 0x5A;
    auto seen = mapped->range(block->offset(), block->size());
    ASSERT_EQ(seen.size(), 1000u);
    EXPECT_EQ(seen[999], 0x5A);
    seen[0] = 0xA5;
    EXPECT_EQ(block->bytes()[0], 0xA5);
    EXPECT_TRUE(mapped->range(static_cast<std::uint32_t>(mapped->size()) - 10, 11).empty());
    EXPECT_TRUE(mapped->range(0xFFFFFFF0u, 0x20).empty());

    // The receiving side cannot shrink it under the creator's mapping.
    EXPECT_NE(ftruncate(mapped->fd(), 0), 0);
    // Nor adopt a descriptor that is smaller than announced.
    EXPECT_FALSE(SharedArea::adopt(dup(area->fd()), area->size() + 4096));

    // Blocks: found by their first byte only, given back when they go, reused first fit.
    EXPECT_EQ(area->blockAt(block->bytes().data()),
              (std::pair<std::uint32_t, std::uint32_t>{block->offset(), 1000}));
    EXPECT_FALSE(area->blockAt(block->bytes().data() + 1));
    auto second = area->reserve(100);
    ASSERT_TRUE(second);
    EXPECT_GE(second->offset(), block->offset() + 1000);
    const auto first = block->offset();
    block.reset();
    auto third = area->reserve(500);
    ASSERT_TRUE(third);
    EXPECT_EQ(third->offset(), first);
    EXPECT_FALSE(area->reserve(area->size()));
    EXPECT_EQ(area->reserved(), 600u);
    ui->detach();
    page->detach();
}
