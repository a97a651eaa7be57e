#pragma once
// EventTarget: the listeners of a native object that fires events (IEventTarget), kept by
// the object that embeds it (the host window for its native window object, a file dialog).
//
// Listeners are script functions (dispatch objects whose default member calls them),
// registered per event type; types are compared without regard to case. Each listener is
// held as a connection of a connection point (connection interface IUnknown) and so in the
// global interface table, from which it is fetched for each call: a listener can be
// reached from any thread.
//
// A dispatch calls the listeners of its type in registration order. No lock is held while
// a listener runs, so a listener may add and remove listeners, dispatch again, or have
// another thread do so:
// - a listener removed while a dispatch still has it to call is called in that dispatch
//   and removed when no dispatch has it to call any more;
// - a listener added during a dispatch is called by it only when the listener that added
//   it was not the last in the list at that moment;
// - once no dispatch is under way, a removal takes effect at once.

#include <cstdint>
#include <memory>
#include <mutex>
#include <string_view>
#include <vector>

#include "platform/com/Bstr.h"
#include "platform/com/ConnectionPoint.h"
#include "platform/com/Dispatch.h"

namespace norv::script {

class EventTarget {
public:
    // `container` (not counted; may be null) is what the connection point names as its
    // container; the embedding object outlives this target.
    explicit EventTarget(com::IConnectionPointContainer* container = nullptr);
    ~EventTarget();
    EventTarget(const EventTarget&) = delete;
    EventTarget& operator=(const EventTarget&) = delete;

    // S_FALSE when the listener is already registered for the type (a removal waiting for
    // a dispatch to finish is undone instead: S_OK); E_INVALIDARG for no type or for
    // useCapture; the connection point's failure when it cannot be advised.
    com::HRESULT addEventListener(const com::Bstr& type, com::IDispatch* listener,
                                  com::VARIANT_BOOL useCapture);
    // S_FALSE when it is not registered or its removal already waits.
    com::HRESULT removeEventListener(const com::Bstr& type, com::IDispatch* listener,
                                     com::VARIANT_BOOL useCapture);
    // Calls every listener of `type` with `event` as its only argument. What a listener
    // returns or fails with is not reported. E_INVALIDARG for no type or no event.
    com::HRESULT dispatchEvent(const com::Bstr& type, com::IDispatch* event);
    // Dispatches a new TaviEvent of `type` whose target and current target are `target`.
    com::HRESULT fire(std::u16string_view type, com::IDispatch* target);
    // Calls one listener (E_NOINTERFACE for a cookie that names none).
    com::HRESULT invokeListener(std::uint32_t cookie, com::IDispatch* event);

    com::IConnectionPoint* connectionPoint() const { return point_.get(); }
    // Drops every listener (the embedding object goes away).
    void clear();

private:
    struct Entry;
    using EntryPtr = std::shared_ptr<Entry>;

    EntryPtr findLocked(const com::Bstr& type, com::IDispatch* listener) const;
    EntryPtr firstAfterLocked(std::uint64_t sequence) const;
    void unlinkLocked(const EntryPtr& entry);
    // Ends the connection of an entry taken out of the list (no lock held); when that
    // fails the entry goes back to its place.
    com::HRESULT disconnect(const EntryPtr& entry);
    // A dispatch has no more business with `entry`: a removal that waited for the last
    // such dispatch takes it out now (to be disconnected by the caller).
    void releaseMarkLocked(const EntryPtr& entry, std::vector<EntryPtr>& toRemove);

    mutable std::mutex lock_;
    std::vector<EntryPtr> entries_; // in registration order
    std::uint64_t nextSequence_ = 1;
    com::ComPtr<com::ConnectionPoint> point_;
};

} // namespace norv::script
