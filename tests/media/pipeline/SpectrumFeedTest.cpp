// The spectrum feed: its worker's timing, the buffers it keeps, the window it picks by the
// playback position, and that its worker never holds up or outlives what it must not.

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <mutex>
#include <random>
#include <vector>

#include "media/pipeline/MPSpectrumFeed.h"
#include "tests/support/Process.h"

namespace norv::media {
namespace {

using namespace std::chrono_literals;
using ms = std::chrono::milliseconds;
using test::waitUntil;

TEST(FeedSchedule, DeliversOncePerPeriodAndPrunesAtLeastEvery75ms) {
    std::mt19937 random(3);
    for (std::int32_t period : {50, 60, 75, 76, 100, 250, 1000}) {
        SCOPED_TRACE(period);
        FeedSchedule schedule;
        // Pushes wake the worker at random moments; the rest of the time it waits out
        // the time it asked for.
        std::uniform_int_distribution<int> nextPush(1, 2 * period);
        ms now{0}, lastDelivery{0}, lastAction{0};
        int deliveries = 0;
        for (int i = 0; i < 5000; ++i) {
            ms wait = schedule.waitTime(period);
            ASSERT_GE(wait, ms(1));
            ms elapsed = std::min(wait, ms(nextPush(random)));
            now += elapsed;
            switch (schedule.afterWait(period, elapsed)) {
            case FeedSchedule::Step::deliver:
                EXPECT_GE(now - lastDelivery, ms(period));
                EXPECT_LE(now - lastDelivery, ms(period) + ms(1));
                lastDelivery = lastAction = now;
                ++deliveries;
                break;
            case FeedSchedule::Step::prune:
                lastAction = now;
                break;
            case FeedSchedule::Step::none:
                break;
            }
            EXPECT_LE(now - lastAction, FeedSchedule::prunePeriod + ms(period > 75 ? 1 : period));
        }
        EXPECT_GT(deliveries, 0);
    }
}

TEST(FeedSchedule, NothingArmedWaitsBoundedAndPrunesOnWakes) {
    FeedSchedule schedule;
    EXPECT_EQ(schedule.waitTime(-1), FeedSchedule::idleWait);
    EXPECT_EQ(schedule.afterWait(-1, ms(40)), FeedSchedule::Step::none);
    EXPECT_EQ(schedule.afterWait(-1, ms(40)), FeedSchedule::Step::prune);
    EXPECT_EQ(schedule.afterWait(-1, ms(40)), FeedSchedule::Step::none);
    EXPECT_EQ(schedule.afterWait(-1, FeedSchedule::idleWait), FeedSchedule::Step::prune);
}

TEST(FeedWindow, TheWindowHoldsThePositionAndStaysInsideTheBuffer) {
    // A buffer of 8 windows of 100 bytes spanning [10, 11) seconds.
    const std::size_t size = 800, w = 100;
    EXPECT_EQ(MPSpectrumFeed::windowOffset(size, 10, 11, 10.05, w), 0u);
    EXPECT_EQ(MPSpectrumFeed::windowOffset(size, 10, 11, 10.55, w), 400u);
    EXPECT_EQ(MPSpectrumFeed::windowOffset(size, 10, 11, 10.999, w), 700u);
    EXPECT_EQ(MPSpectrumFeed::windowOffset(size, 10, 11, 12.0, w), 700u);
    EXPECT_EQ(MPSpectrumFeed::windowOffset(size, 10, 11, 9.0, w), 0u);
    EXPECT_EQ(MPSpectrumFeed::windowOffset(size, 10, 11, std::nan(""), w), 0u);
    // A size that is not a multiple of the window: the last whole window.
    EXPECT_EQ(MPSpectrumFeed::windowOffset(750, 10, 11, 10.99, w), 600u);
    // Shorter than a window, or whole buffers wanted: from the start.
    EXPECT_EQ(MPSpectrumFeed::windowOffset(60, 10, 11, 10.9, w), 0u);
    EXPECT_EQ(MPSpectrumFeed::windowOffset(size, 10, 11, 10.9, 0), 0u);
}

std::vector<std::uint8_t> filled(std::size_t size, std::uint8_t value) {
    return std::vector<std::uint8_t>(size, value);
}

class FeedQueueTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(
            feed.configure(-1, [](double, std::span<const std::uint8_t>) { return com::S_OK; }),
            com::S_OK);
    }
    std::vector<std::pair<double, double>> spans() const {
        std::vector<std::pair<double, double>> out;
        for (auto q : feed.queued())
            out.emplace_back(q.start, q.end);
        return out;
    }
    MPSpectrumFeed feed{[](double& p) {
        p = 0;
        return com::S_OK;
    }};
};

TEST_F(FeedQueueTest, KeepsBuffersInOrderAndDropsThosePlayed) {
    EXPECT_EQ(feed.push(1, 1, filled(4, 1)), com::E_INVALIDARG);
    EXPECT_EQ(feed.push(2, 1, filled(4, 1)), com::E_INVALIDARG);
    EXPECT_EQ(feed.push(std::nan(""), 1, filled(4, 1)), com::E_INVALIDARG);
    EXPECT_TRUE(feed.queued().empty());

    for (int i = 0; i < 4; ++i)
        ASSERT_EQ(feed.push(i, i + 1, filled(8, static_cast<std::uint8_t>(i))), com::S_OK);
    // The same span again replaces its buffer instead of adding one.
    ASSERT_EQ(feed.push(3, 4, filled(16, 9)), com::S_OK);
    EXPECT_EQ(spans(), (std::vector<std::pair<double, double>>{{0, 1}, {1, 2}, {2, 3}, {3, 4}}));
    EXPECT_EQ(feed.queued()[3].size, 16u);

    feed.dropPlayed(0); // nothing is heard yet
    EXPECT_EQ(feed.queued().size(), 4u);
    feed.dropPlayed(2.0);
    EXPECT_EQ(spans(), (std::vector<std::pair<double, double>>{{2, 3}, {3, 4}}));
    // Records given up are used again for new buffers, still in order.
    ASSERT_EQ(feed.push(4, 5, filled(8, 4)), com::S_OK);
    EXPECT_EQ(spans(), (std::vector<std::pair<double, double>>{{2, 3}, {3, 4}, {4, 5}}));
}

TEST_F(FeedQueueTest, ASeekBackwardsEmptiesTheQueue) {
    for (int i = 10; i < 13; ++i)
        feed.push(i, i + 1, filled(8, 0));
    feed.push(2, 3, filled(8, 0));
    EXPECT_EQ(spans(), (std::vector<std::pair<double, double>>{{2, 3}}));
}

TEST_F(FeedQueueTest, AQueueThatIsNeverPlayedStaysBounded) {
    for (int i = 0; i < 100; ++i)
        feed.push(i * 0.5, i * 0.5 + 0.5, filled(8, 0));
    auto q = feed.queued();
    ASSERT_FALSE(q.empty());
    EXPECT_LE(q.back().start - q.front().end, MPSpectrumFeed::maxQueuedSeconds);
    EXPECT_EQ(q.back().end, 50.0);
}

TEST(FeedQueue, NothingIsKeptWithoutACallback) {
    MPSpectrumFeed feed([](double& p) {
        p = 0;
        return com::S_OK;
    });
    EXPECT_EQ(feed.push(0, 1, filled(8, 0)), com::S_OK);
    EXPECT_TRUE(feed.queued().empty());
    EXPECT_EQ(feed.configure(0, [](double, std::span<const std::uint8_t>) { return com::S_OK; }),
              com::E_INVALIDARG);
}

// A player whose position the test sets, and a listener that records what it receives.
struct Deliveries {
    std::mutex lock;
    std::vector<std::pair<double, std::vector<std::uint8_t>>> calls;
    std::size_t count() {
        std::lock_guard l(lock);
        return calls.size();
    }
    std::pair<double, std::vector<std::uint8_t>> last() {
        std::lock_guard l(lock);
        return calls.back();
    }
};

class FeedWorkerTest : public testing::Test {
protected:
    MPSpectrumFeed::Callback recorder() {
        return [d = deliveries](double p, std::span<const std::uint8_t> window) {
            std::lock_guard l(d->lock);
            d->calls.emplace_back(p, std::vector<std::uint8_t>(window.begin(), window.end()));
            return com::S_OK;
        };
    }
    // Three buffers of 4 windows of 4 bytes; byte value = 16 × buffer + window.
    void pushThreeSeconds() {
        for (int b = 0; b < 3; ++b) {
            std::vector<std::uint8_t> bytes;
            for (int w = 0; w < 4; ++w)
                for (int i = 0; i < 4; ++i)
                    bytes.push_back(static_cast<std::uint8_t>(16 * b + w));
            ASSERT_EQ(feed.push(b, b + 1, bytes), com::S_OK);
        }
    }

    std::shared_ptr<std::atomic<double>> position = std::make_shared<std::atomic<double>>(0.0);
    std::shared_ptr<std::atomic<int>> positionReads = std::make_shared<std::atomic<int>>(0);
    std::shared_ptr<Deliveries> deliveries = std::make_shared<Deliveries>();
    MPSpectrumFeed feed{[p = position, reads = positionReads](double& out) {
        out = p->load();
        ++*reads;
        return com::S_OK;
    }};
};

TEST_F(FeedWorkerTest, DeliversTheWindowBeingHeardNotTheLatestArrival) {
    feed.setWindowSize(4);
    ASSERT_EQ(feed.configure(50, recorder()), com::S_OK);
    position->store(1.6); // buffer 1, window 2 of 4
    pushThreeSeconds();
    ASSERT_TRUE(waitUntil([&] { return deliveries->count() > 0; }, 10s));
    auto [p, window] = deliveries->last();
    EXPECT_EQ(p, 1.6);
    EXPECT_EQ(window, filled(4, 16 * 1 + 2));
    // The buffer played already is gone.
    EXPECT_EQ(feed.queued().front().start, 1.0);

    position->store(2.3);
    feed.push(3, 4, filled(16, 0x30));
    ASSERT_TRUE(waitUntil([&] { return deliveries->last().first == 2.3; }, 10s));
    EXPECT_EQ(deliveries->last().second, filled(4, 16 * 2 + 1));
}

TEST_F(FeedWorkerTest, AtPositionZeroTheListenerHearsSilence) {
    feed.setWindowSize(8);
    ASSERT_EQ(feed.configure(50, recorder()), com::S_OK);
    feed.push(0, 1, filled(64, 0x55));
    ASSERT_TRUE(waitUntil([&] { return deliveries->count() > 0; }, 10s));
    EXPECT_EQ(deliveries->last().first, 0.0);
    EXPECT_EQ(deliveries->last().second, filled(8, 0));
}

TEST_F(FeedWorkerTest, AStandingPositionStopsDeliveriesAfterAtMostOneMore) {
    feed.setWindowSize(4);
    ASSERT_EQ(feed.configure(50, recorder()), com::S_OK);
    position->store(0.5);
    pushThreeSeconds();
    ASSERT_TRUE(waitUntil([&] { return deliveries->count() > 0; }, 10s));
    const auto before = deliveries->count();
    // The worker keeps reading the position (to prune) while new audio arrives...
    for (int i = 0; i < 6; ++i) {
        int reads = positionReads->load();
        feed.push(3 + i, 4 + i, filled(16, 0));
        ASSERT_TRUE(waitUntil([&] { return positionReads->load() > reads; }, 10s));
    }
    // ...but a position that stands still is delivered once at most.
    EXPECT_LE(deliveries->count(), before + 1);
}

TEST_F(FeedWorkerTest, TheListenerMayReconfigureTheFeedFromItsCall) {
    feed.setWindowSize(4);
    std::atomic<int> calls{0};
    MPSpectrumFeed* self = &feed;
    ASSERT_EQ(feed.configure(50,
                             [&, self](double, std::span<const std::uint8_t>) {
                                 ++calls;
                                 // Removing the listener from inside its call.
                                 return self->configure(-1, [](double, auto) { return com::S_OK; });
                             }),
              com::S_OK);
    position->store(0.5);
    pushThreeSeconds();
    ASSERT_TRUE(waitUntil([&] { return calls.load() > 0; }, 10s));
    // Pushes go on; the removed listener is called no more.
    for (int i = 0; i < 2; ++i) {
        int reads = positionReads->load();
        position->store(0.6 + i * 0.1);
        feed.push(3 + i, 4 + i, filled(16, 0));
        ASSERT_TRUE(waitUntil([&] { return positionReads->load() > reads; }, 10s));
    }
    EXPECT_EQ(calls.load(), 1);
}

TEST(FeedLifetime, DestroyingTheFeedWhileTheListenerIsBlockedReturns) {
    // The listener blocks until the thread that destroys the feed lets it go, as a call
    // marshalled to the UI thread would while that thread tears the tap down.
    auto release = std::make_shared<std::promise<void>>();
    auto released = release->get_future().share();
    auto entered = std::make_shared<std::atomic<bool>>(false);
    auto finished = std::make_shared<std::atomic<bool>>(false);
    auto feed = std::make_unique<MPSpectrumFeed>([](double& p) {
        p = 0.5;
        return com::S_OK;
    });
    feed->setWindowSize(4);
    ASSERT_EQ(feed->configure(50,
                              [=](double, std::span<const std::uint8_t> window) {
                                  *entered = true;
                                  released.wait();
                                  // The window stays readable after the feed is gone.
                                  volatile std::uint8_t sum = 0;
                                  for (auto b : window)
                                      sum = static_cast<std::uint8_t>(sum + b);
                                  *finished = true;
                                  return com::S_OK;
                              }),
              com::S_OK);
    feed->push(0, 1, filled(16, 1));
    ASSERT_TRUE(waitUntil([&] { return entered->load(); }, 10s));
    auto destroyed = std::async(std::launch::async, [&feed] { feed.reset(); });
    EXPECT_EQ(destroyed.wait_for(10s), std::future_status::ready);
    EXPECT_FALSE(finished->load());
    release->set_value();
    EXPECT_TRUE(waitUntil([&] { return finished->load(); }, 10s));
}

TEST(FeedLifetime, TheListenerMayDestroyTheFeedFromItsCall) {
    // The listener's call drops the last reference to the tap that owns the feed.
    auto owner = std::make_shared<std::unique_ptr<MPSpectrumFeed>>();
    auto destroyed = std::make_shared<std::atomic<bool>>(false);
    *owner = std::make_unique<MPSpectrumFeed>([](double& p) {
        p = 0.5;
        return com::S_OK;
    });
    MPSpectrumFeed& feed = **owner;
    feed.setWindowSize(4);
    ASSERT_EQ(feed.configure(50,
                             [owner, destroyed](double, std::span<const std::uint8_t>) {
                                 owner->reset();
                                 *destroyed = true;
                                 return com::S_OK;
                             }),
              com::S_OK);
    feed.push(0, 1, filled(16, 1));
    EXPECT_TRUE(waitUntil([&] { return destroyed->load(); }, 10s));
}

} // namespace
} // namespace norv::media
