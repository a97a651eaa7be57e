#include "media/pipeline/FilterChain.h"

#include <algorithm>

namespace norv::media {

using namespace com;
using typelib::IMPStreamFilter;

FilterChain::Filter FilterChain::Filter::of(IMPStreamFilter* filter) {
    Filter f;
    f.filter = filter;
    if (filter)
        filter->QueryInterface(IBoundedStreamFilter::iid, f.bounded.putVoid());
    return f;
}

std::shared_ptr<FilterChain::Entry> FilterChain::makeEntry(const Filter& filter) {
    auto entry = std::make_shared<Entry>();
    entry->filter = filter.filter;
    entry->bounded = filter.bounded;
    return entry;
}

bool FilterChain::insert(const Filter& filter) {
    if (!filter.filter)
        return false;
    auto entry = makeEntry(filter);
    std::lock_guard lock(lock_);
    for (const auto& e : entries_)
        if (e->filter == filter.filter)
            return false;
    entries_.push_back(std::move(entry));
    return true;
}

bool FilterChain::remove(IMPStreamFilter* filter) {
    std::shared_ptr<Entry> removed; // the reference goes after the lock is let go
    std::lock_guard lock(lock_);
    auto it = std::find_if(entries_.begin(), entries_.end(),
                           [&](const auto& e) { return e->filter.get() == filter; });
    if (it == entries_.end())
        return false;
    (*it)->removed = true;
    removed = std::move(*it);
    entries_.erase(it);
    return true;
}

void FilterChain::assign(std::span<const Filter> filters) {
    std::vector<std::shared_ptr<Entry>> entries;
    for (const Filter& f : filters) {
        if (!f.filter || std::any_of(entries.begin(), entries.end(),
                                     [&](const auto& e) { return e->filter == f.filter; }))
            continue;
        entries.push_back(makeEntry(f));
    }
    std::lock_guard lock(lock_);
    for (auto& e : entries_)
        e->removed = true;
    entries_.swap(entries);
}

void FilterChain::clear() {
    std::vector<std::shared_ptr<Entry>> old;
    std::lock_guard lock(lock_);
    for (auto& e : entries_)
        e->removed = true;
    old.swap(entries_);
}

std::size_t FilterChain::size() const {
    std::lock_guard lock(lock_);
    return entries_.size();
}

void FilterChain::setDeadline(std::chrono::milliseconds deadline) {
    std::lock_guard lock(lock_);
    deadline_ = deadline;
}

void FilterChain::dispatch(typelib::MPStreamType type, double start, double end, std::uint8_t* data,
                           std::uint32_t size, bool unsignedSize) {
    std::vector<std::shared_ptr<Entry>> copy;
    std::stop_token token;
    std::chrono::milliseconds deadline;
    {
        std::lock_guard lock(lock_);
        if (entries_.empty())
            return;
        copy = entries_;
        token = interrupt_.get_token();
        deadline = deadline_;
    }
    for (const auto& entry : copy) {
        if (entry->removed)
            continue;
        const Variant timeStart = Variant::fromR8(start);
        const Variant timeEnd = Variant::fromR8(end);
        const Variant dataBuff = Variant::fromByteRef(data);
        const Variant dataSize = unsignedSize ? Variant::fromUI4(size)
                                              : Variant::fromI4(static_cast<std::int32_t>(size));
        if (entry->bounded) {
            if (token.stop_requested())
                continue;
            static_cast<void>(
                entry->bounded->processWithin(type, timeStart, timeEnd, dataBuff, dataSize,
                                              std::chrono::steady_clock::now() + deadline, token));
        } else {
            static_cast<void>(entry->filter->process(type, timeStart, timeEnd, dataBuff, dataSize));
        }
    }
}

void FilterChain::interrupt() {
    std::lock_guard lock(lock_);
    interrupt_.request_stop();
}

void FilterChain::resume() {
    std::lock_guard lock(lock_);
    if (interrupt_.stop_requested())
        interrupt_ = std::stop_source();
}

bool FilterChain::interrupted() const {
    std::lock_guard lock(lock_);
    return interrupt_.stop_requested();
}

} // namespace norv::media
