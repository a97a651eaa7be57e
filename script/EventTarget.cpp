#include "script/EventTarget.h"

#include <algorithm>
#include <new>
#include <string>

#include "platform/com/TypeInfo.h"
#include "script/TaviEvent.h"

namespace norv::script {

using namespace com;

struct EventTarget::Entry {
    std::uint64_t sequence = 0; // registration order
    std::uint32_t cookie = 0;   // connection cookie in the connection point
    std::u16string type;
    ComPtr<IDispatch> listener;
    bool linked = true;          // in the list
    bool removalPending = false; // removed while a dispatch still had it to call
    int dispatches = 0;          // dispatches under way that still have it to call
};

namespace {

HRESULT validate(const Bstr& type, VARIANT_BOOL useCapture) {
    // Capture listeners are refused: events are only ever delivered at their target.
    if (type.isNull() || useCapture != VARIANT_FALSE)
        return E_INVALIDARG;
    return S_OK;
}

} // namespace

EventTarget::EventTarget(IConnectionPointContainer* container)
    : point_(makeObject<ConnectionPoint>(IUnknown::iid, container)) {}

EventTarget::~EventTarget() {
    clear();
    point_->detachContainer();
}

EventTarget::EntryPtr EventTarget::findLocked(const Bstr& type, IDispatch* listener) const {
    for (const EntryPtr& e : entries_)
        if (sameObject(e->listener.get(), listener) && namesEqual(e->type, type.view()))
            return e;
    return nullptr;
}

EventTarget::EntryPtr EventTarget::firstAfterLocked(std::uint64_t sequence) const {
    for (const EntryPtr& e : entries_)
        if (e->sequence > sequence)
            return e;
    return nullptr;
}

HRESULT EventTarget::addEventListener(const Bstr& type, IDispatch* listener,
                                      VARIANT_BOOL useCapture) {
    if (HRESULT hr = validate(type, useCapture); failed(hr))
        return hr;
    {
        std::lock_guard guard(lock_);
        if (EntryPtr e = findLocked(type, listener)) {
            if (!e->removalPending)
                return S_FALSE;
            e->removalPending = false;
            return S_OK;
        }
    }
    std::uint32_t cookie = 0;
    if (HRESULT hr = point_->Advise(listener, &cookie); failed(hr))
        return hr;
    HRESULT result = S_OK;
    try {
        auto entry = std::make_shared<Entry>();
        entry->cookie = cookie;
        entry->type = type.str();
        entry->listener = listener;
        std::lock_guard guard(lock_);
        // Another thread may have registered the same listener meanwhile.
        if (EntryPtr e = findLocked(type, listener)) {
            result = e->removalPending ? S_OK : S_FALSE;
            e->removalPending = false;
        } else {
            entry->sequence = nextSequence_++;
            entries_.push_back(std::move(entry));
            return S_OK;
        }
    } catch (const std::bad_alloc&) {
        result = E_OUTOFMEMORY;
    }
    point_->Unadvise(cookie);
    return result;
}

HRESULT EventTarget::removeEventListener(const Bstr& type, IDispatch* listener,
                                         VARIANT_BOOL useCapture) {
    if (HRESULT hr = validate(type, useCapture); failed(hr))
        return hr;
    EntryPtr entry;
    {
        std::lock_guard guard(lock_);
        entry = findLocked(type, listener);
        if (!entry)
            return S_FALSE;
        if (entry->dispatches > 0) {
            if (entry->removalPending)
                return S_FALSE;
            entry->removalPending = true;
            return S_OK;
        }
        unlinkLocked(entry);
    }
    return disconnect(entry);
}

void EventTarget::unlinkLocked(const EntryPtr& entry) {
    std::erase(entries_, entry);
    entry->linked = false;
}

HRESULT EventTarget::disconnect(const EntryPtr& entry) {
    HRESULT hr = point_->Unadvise(entry->cookie);
    if (failed(hr)) {
        // The connection stays, and so does the listener, at its place.
        std::lock_guard guard(lock_);
        auto at = std::find_if(entries_.begin(), entries_.end(),
                               [&](const EntryPtr& e) { return e->sequence > entry->sequence; });
        entries_.insert(at, entry);
        entry->linked = true;
    }
    return hr;
}

void EventTarget::releaseMarkLocked(const EntryPtr& entry, std::vector<EntryPtr>& toRemove) {
    if (--entry->dispatches > 0 || !entry->removalPending || !entry->linked)
        return;
    unlinkLocked(entry);
    toRemove.push_back(entry);
}

HRESULT EventTarget::dispatchEvent(const Bstr& type, IDispatch* event) {
    if (type.isNull() || event == nullptr)
        return E_INVALIDARG;
    try {
        // The listeners present now are this dispatch's to call: each is marked, so that
        // a removal waits until the dispatch has called it (or passed it).
        std::vector<EntryPtr> marked;
        std::vector<bool> stillMarked;
        EntryPtr entry;
        {
            std::lock_guard guard(lock_);
            marked = entries_;
            stillMarked.assign(marked.size(), true);
            for (const EntryPtr& e : marked)
                ++e->dispatches;
            entry = firstAfterLocked(0);
        }
        std::vector<EntryPtr> toRemove;
        while (entry) {
            EntryPtr next;
            bool call = false;
            {
                std::lock_guard guard(lock_);
                // The successor is taken before the call: a listener added by the last
                // listener of the list is not reached.
                next = firstAfterLocked(entry->sequence);
                call = entry->linked && namesEqual(entry->type, type.view());
            }
            if (call) {
                invokeListener(entry->cookie, event);
                std::lock_guard guard(lock_);
                auto at = std::find(marked.begin(), marked.end(), entry);
                if (at != marked.end() && stillMarked[at - marked.begin()]) {
                    stillMarked[at - marked.begin()] = false;
                    releaseMarkLocked(entry, toRemove);
                }
            }
            for (const EntryPtr& e : toRemove)
                disconnect(e);
            toRemove.clear();
            entry = std::move(next);
            if (entry) {
                std::lock_guard guard(lock_);
                // Taken out during the call (one added meanwhile): go on after its place.
                if (!entry->linked)
                    entry = firstAfterLocked(entry->sequence);
            }
        }
        {
            std::lock_guard guard(lock_);
            for (std::size_t i = 0; i < marked.size(); ++i)
                if (stillMarked[i])
                    releaseMarkLocked(marked[i], toRemove);
        }
        for (const EntryPtr& e : toRemove)
            disconnect(e);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

HRESULT EventTarget::fire(std::u16string_view type, IDispatch* target) {
    try {
        ComPtr<TaviEvent> event = makeObject<TaviEvent>();
        event->init(type, target, target);
        return dispatchEvent(Bstr(type), event.get());
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

HRESULT EventTarget::invokeListener(std::uint32_t cookie, IDispatch* event) {
    if (event == nullptr)
        return E_INVALIDARG;
    ComPtr<IDispatch> listener;
    if (failed(point_->getSink(cookie, IDispatch::iid, listener.putVoid())) || !listener)
        return E_NOINTERFACE;
    Variant argument = Variant::fromDispatch(event);
    DispParams params{std::span<Variant>(&argument, 1), {}};
    Variant result;
    return listener->Invoke(DISPID_VALUE, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, params,
                            &result, nullptr, nullptr);
}

void EventTarget::clear() {
    std::vector<EntryPtr> all;
    {
        std::lock_guard guard(lock_);
        all.swap(entries_);
        for (const EntryPtr& e : all)
            e->linked = false;
    }
    for (const EntryPtr& e : all)
        point_->Unadvise(e->cookie);
}

} // namespace norv::script
