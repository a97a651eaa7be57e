#include "tests/media/pipeline/FilterDoubles.h"

#include <gtest/gtest.h>

namespace norv::test {

HRESULT RecordingFilter::process(MPStreamType type, const Variant& timeStart,
                                 const Variant& timeEnd, const Variant& dataBuff,
                                 const Variant& dataSize) {
    SampleCall call{type,          timeStart.r8(), timeEnd.r8(),
                    dataSize.vt(), dataSize.ui4(), std::this_thread::get_id()};
    EXPECT_EQ(timeStart.vt(), VT_R8);
    EXPECT_EQ(timeEnd.vt(), VT_R8);
    EXPECT_EQ(dataBuff.vt(), VT_UI1 | VT_BYREF);
    if (change)
        change(call, dataBuff.byteRef());
    std::lock_guard lock(lock_);
    calls_.push_back(call);
    return result;
}

std::vector<SampleCall> RecordingFilter::calls() const {
    std::lock_guard lock(lock_);
    return calls_;
}

std::size_t RecordingFilter::count() const {
    std::lock_guard lock(lock_);
    return calls_.size();
}

HRESULT WaitingFilter::process(MPStreamType, const Variant&, const Variant&, const Variant&,
                               const Variant&) {
    ADD_FAILURE() << "a filter that may wait is called through processWithin";
    return E_UNEXPECTED;
}

HRESULT WaitingFilter::processWithin(MPStreamType, const Variant&, const Variant&, const Variant&,
                                     const Variant&, std::chrono::steady_clock::time_point deadline,
                                     std::stop_token interrupt) {
    ++inFlight;
    Ended ended = wait_(deadline, interrupt);
    {
        std::lock_guard lock(lock_);
        ends_.push_back(ended);
    }
    --inFlight;
    return ended == Ended::answered ? S_OK : E_ABORT;
}

std::vector<WaitingFilter::Ended> WaitingFilter::ends() const {
    std::lock_guard lock(lock_);
    return ends_;
}

WaitingFilter::Ended
WaitingFilter::holdUntilReleased(std::chrono::steady_clock::time_point deadline,
                                 std::stop_token interrupt) {
    std::mutex m;
    std::condition_variable_any cv;
    std::unique_lock lock(m);
    bool stopped = cv.wait_until(lock, interrupt, deadline, [] { return false; });
    static_cast<void>(stopped);
    return interrupt.stop_requested() ? Ended::interrupted : Ended::deadline;
}

} // namespace norv::test
