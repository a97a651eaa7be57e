#pragma once
// Native stream filters for the tests: one that records (and may change) every sample it
// is given, and one whose call waits for someone else (IBoundedStreamFilter).

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <stop_token>
#include <thread>
#include <vector>

#include "media/pipeline/PipelineInterfaces.h"
#include "platform/com/DispatchObject.h"
#include "typelib/PlayerInterfaces.h"

namespace norv::test {

using namespace norv::com;
using typelib::IMPStreamFilter;
using typelib::MPStreamType;

// One call of a filter, as the filter saw it.
struct SampleCall {
    MPStreamType type;
    double start;
    double end;
    VARTYPE sizeType;
    std::uint32_t size;
    std::thread::id thread;
};

// Records every call; `change` may modify the bytes in place.
class RecordingFilter final : public DispatchObject<RecordingFilter, IMPStreamFilter> {
public:
    HRESULT process(MPStreamType type, const Variant& timeStart, const Variant& timeEnd,
                    const Variant& dataBuff, const Variant& dataSize) override;

    std::vector<SampleCall> calls() const;
    std::size_t count() const;
    std::function<void(const SampleCall&, std::uint8_t* data)> change;
    HRESULT result = S_OK; // what process returns

private:
    mutable std::mutex lock_;
    std::vector<SampleCall> calls_;
};

// A filter whose call waits for someone else (IBoundedStreamFilter): each call runs
// `wait` with the deadline and stop token the tap gave it. It records how each call
// ended.
class WaitingFilter final
    : public ComObject<WaitingFilter, DispatchImpl<IMPStreamFilter>, media::IBoundedStreamFilter> {
public:
    enum class Ended { answered, deadline, interrupted };
    using Wait = std::function<Ended(std::chrono::steady_clock::time_point, std::stop_token)>;

    explicit WaitingFilter(Wait wait) : wait_(std::move(wait)) {}

    HRESULT process(MPStreamType, const Variant&, const Variant&, const Variant&,
                    const Variant&) override;
    HRESULT processWithin(MPStreamType type, const Variant& timeStart, const Variant& timeEnd,
                          const Variant& dataBuff, const Variant& dataSize,
                          std::chrono::steady_clock::time_point deadline,
                          std::stop_token interrupt) override;

    std::vector<Ended> ends() const;
    std::atomic<int> inFlight{0};

    // A wait that holds the call until the deadline passes or the tap interrupts it.
    static Ended holdUntilReleased(std::chrono::steady_clock::time_point deadline,
                                   std::stop_token interrupt);

private:
    Wait wait_;
    mutable std::mutex lock_;
    std::vector<Ended> ends_;
};

} // namespace norv::test
