#pragma once
// FilterChain: a stream tap's ordered list of stream filters and the call of each filter
// for every sample.
//
// The list holds one reference per filter and each filter once. A sample goes to the
// filters in list order on the streaming thread that brought it; every filter is called
// even when one before it failed. No lock is held while a filter runs: the call works on
// a copy of the list whose entries hold their own references, so a filter may insert or
// remove filters (itself included) from inside its call, and a filter removed meanwhile
// stays alive until the call is over. Once remove() has returned, no new call of that
// filter begins; only a call already running finishes.
//
// Filters that answer IBoundedStreamFilter (a call that waits for someone else) get a
// deadline (one second unless set) and a stop token. interrupt() triggers the token: the
// calls in flight return at once and such filters are skipped until resume(). The player
// interrupts before it waits for its streaming threads, so a thread stuck in a filter
// never holds up a stop, a seek or the next medium.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <stop_token>
#include <vector>

#include "media/pipeline/PipelineInterfaces.h"
#include "typelib/PlayerInterfaces.h"

namespace norv::media {

class FilterChain {
public:
    static constexpr std::chrono::milliseconds defaultDeadline{1000};

    // A filter as the chain holds it: asked once, when it is inserted, whether its call may
    // wait. Made without a lock held, since that question is the filter's own code.
    struct Filter {
        com::ComPtr<typelib::IMPStreamFilter> filter;
        com::ComPtr<IBoundedStreamFilter> bounded;
        static Filter of(typelib::IMPStreamFilter* filter);
    };

    // Appends `filter` unless it is in the list; true when it was appended.
    bool insert(const Filter& filter);
    bool insert(typelib::IMPStreamFilter* filter) { return insert(Filter::of(filter)); }
    // Takes `filter` out; true when it was in the list.
    bool remove(typelib::IMPStreamFilter* filter);
    // Replaces the list with `filters` (duplicates kept once).
    void assign(std::span<const Filter> filters);
    void clear();
    std::size_t size() const;

    void setDeadline(std::chrono::milliseconds deadline);

    // Calls every filter with the sample: `type`, the times in seconds, the bytes in place
    // and their count (VT_UI4 when `unsignedSize`, else VT_I4).
    void dispatch(typelib::MPStreamType type, double start, double end, std::uint8_t* data,
                  std::uint32_t size, bool unsignedSize);

    void interrupt();
    void resume();
    bool interrupted() const;

private:
    struct Entry {
        com::ComPtr<typelib::IMPStreamFilter> filter;
        com::ComPtr<IBoundedStreamFilter> bounded;
        std::atomic<bool> removed{false};
    };
    static std::shared_ptr<Entry> makeEntry(const Filter& filter);

    mutable std::mutex lock_;
    std::vector<std::shared_ptr<Entry>> entries_;
    std::stop_source interrupt_;
    std::chrono::milliseconds deadline_ = defaultDeadline;
};

} // namespace norv::media
