// A tap's filter list and the call of its filters: order, arguments in place, filters
// that change the list from inside their call, a filter removed from another thread, and
// the filters whose call may wait (deadline and interruption).

#include <gtest/gtest.h>

#include <array>
#include <thread>

#include "media/pipeline/FilterChain.h"
#include "tests/media/pipeline/FilterDoubles.h"

using namespace norv::test;
using norv::media::FilterChain;
using norv::typelib::mpsAudio;
using norv::typelib::mpsVideo;

namespace {

TEST(FilterChainTest, EveryFilterGetsTheSampleInPlaceInListOrderWhateverTheOthersReturn) {
    FilterChain chain;
    std::vector<int> order;
    std::array<ComPtr<RecordingFilter>, 3> filters;
    for (int i = 0; i < 3; ++i) {
        filters[i] = makeObject<RecordingFilter>();
        filters[i]->change = [&order, i](const SampleCall&, std::uint8_t* data) {
            order.push_back(i);
            data[0] = static_cast<std::uint8_t>(data[0] + 1); // each sees the one before
        };
        EXPECT_TRUE(chain.insert(filters[i].get()));
    }
    filters[0]->result = E_FAIL;
    EXPECT_FALSE(chain.insert(filters[1].get()));
    EXPECT_EQ(chain.size(), 3u);

    std::uint8_t bytes[8] = {10};
    chain.dispatch(mpsAudio, 1.5, 1.75, bytes, sizeof bytes, false);
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2}));
    EXPECT_EQ(bytes[0], 13);
    auto call = filters[2]->calls().at(0);
    EXPECT_EQ(call.type, mpsAudio);
    EXPECT_EQ(call.start, 1.5);
    EXPECT_EQ(call.end, 1.75);
    EXPECT_EQ(call.sizeType, VT_I4);
    EXPECT_EQ(call.size, 8u);

    chain.dispatch(mpsVideo, 0, 0.04, bytes, sizeof bytes, true);
    EXPECT_EQ(filters[0]->calls().at(1).sizeType, VT_UI4);

    EXPECT_TRUE(chain.remove(filters[1].get()));
    EXPECT_FALSE(chain.remove(filters[1].get()));
    order.clear();
    chain.dispatch(mpsAudio, 2, 2.25, bytes, sizeof bytes, false);
    EXPECT_EQ(order, (std::vector<int>{0, 2}));
}

TEST(FilterChainTest, AFilterChangesTheListFromInsideItsCall) {
    FilterChain chain;
    auto self = makeObject<RecordingFilter>();
    auto later = makeObject<RecordingFilter>();
    auto added = makeObject<RecordingFilter>();
    // The first filter takes itself and the one after it out, and puts a new one in.
    self->change = [&](const SampleCall&, std::uint8_t*) {
        chain.remove(self.get());
        chain.remove(later.get());
        chain.insert(added.get());
    };
    chain.insert(self.get());
    chain.insert(later.get());
    std::uint8_t byte = 0;
    chain.dispatch(mpsAudio, 0, 1, &byte, 1, false);
    // The removed one is not called even within the same sample; the new one from the
    // next sample on.
    EXPECT_EQ(later->count(), 0u);
    EXPECT_EQ(added->count(), 0u);
    chain.dispatch(mpsAudio, 1, 2, &byte, 1, false);
    EXPECT_EQ(self->count(), 1u);
    EXPECT_EQ(added->count(), 1u);
}

// Counts its own destruction.
class DyingFilter final : public DispatchObject<DyingFilter, IMPStreamFilter> {
public:
    explicit DyingFilter(std::function<void()> during, bool& destroyed)
        : during_(std::move(during)), destroyed_(destroyed) {}
    ~DyingFilter() override { destroyed_ = true; }
    HRESULT process(MPStreamType, const Variant&, const Variant&, const Variant&,
                    const Variant&) override {
        during_();
        EXPECT_FALSE(destroyed_);
        return S_OK;
    }

private:
    std::function<void()> during_;
    bool& destroyed_;
};

TEST(FilterChainTest, AFilterRemovedDuringItsCallLivesUntilTheCallReturns) {
    FilterChain chain;
    bool destroyed = false;
    DyingFilter* raw = nullptr;
    {
        auto filter = makeObject<DyingFilter>([&] { chain.remove(raw); }, destroyed);
        raw = filter.get();
        chain.insert(raw);
    } // the chain holds the only reference now
    std::uint8_t byte = 0;
    chain.dispatch(mpsAudio, 0, 1, &byte, 1, false);
    EXPECT_TRUE(destroyed);
    EXPECT_EQ(chain.size(), 0u);
}

TEST(FilterChainTest, AFilterRemovedFromAnotherThreadIsNotCalledOnceRemovalReturned) {
    FilterChain chain;
    std::atomic<bool> stop{false};
    std::thread streaming([&] {
        std::uint8_t byte = 0;
        double t = 0;
        while (!stop) {
            chain.dispatch(mpsAudio, t, t + 0.01, &byte, 1, false);
            t += 0.01;
        }
    });
    for (int round = 0; round < 200; ++round) {
        auto filter = makeObject<RecordingFilter>();
        std::atomic<bool> removed{false};
        std::atomic<int> afterRemoval{0};
        filter->change = [&](const SampleCall&, std::uint8_t*) {
            if (removed)
                ++afterRemoval;
        };
        chain.insert(filter.get());
        while (filter->count() < 2)
            std::this_thread::yield();
        chain.remove(filter.get());
        removed = true;
        filter.reset();
        // At most the call that was already running.
        EXPECT_LE(afterRemoval.load(), 1);
    }
    stop = true;
    streaming.join();
}

TEST(FilterChainTest, AFilterThatMayWaitGetsADeadlineAndLetsGoWhenInterrupted) {
    FilterChain chain;
    chain.setDeadline(std::chrono::milliseconds(20));
    auto waiting = makeObject<WaitingFilter>(&WaitingFilter::holdUntilReleased);
    auto plain = makeObject<RecordingFilter>();
    chain.insert(waiting.get());
    chain.insert(plain.get());
    std::uint8_t byte = 0;
    chain.dispatch(mpsAudio, 0, 1, &byte, 1, false);
    EXPECT_EQ(waiting->ends(), (std::vector{WaitingFilter::Ended::deadline}));
    EXPECT_EQ(plain->count(), 1u);

    // A call in flight lets go when the chain is interrupted from another thread.
    chain.setDeadline(std::chrono::minutes(10));
    std::thread streaming([&] { chain.dispatch(mpsAudio, 1, 2, &byte, 1, false); });
    while (waiting->inFlight == 0)
        std::this_thread::yield();
    chain.interrupt();
    streaming.join();
    EXPECT_EQ(waiting->ends().back(), WaitingFilter::Ended::interrupted);
    EXPECT_EQ(plain->count(), 2u);

    // Until resumed, filters that may wait are skipped; the others are called.
    EXPECT_TRUE(chain.interrupted());
    chain.dispatch(mpsAudio, 2, 3, &byte, 1, false);
    EXPECT_EQ(waiting->ends().size(), 2u);
    EXPECT_EQ(plain->count(), 3u);
    chain.resume();
    chain.setDeadline(std::chrono::milliseconds(1));
    chain.dispatch(mpsAudio, 3, 4, &byte, 1, false);
    EXPECT_EQ(waiting->ends().size(), 3u);
}

} // namespace
