#include "platform/com/GlobalInterfaceTable.h"

#include <glib.h>

#include <condition_variable>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/com/ComObject.h"
#include "platform/com/Dispatch.h"

namespace norv::com {

namespace {

// One call waiting for, or running on, the owning thread.
struct PendingCall {
    std::function<HRESULT(IDispatch*)> body;
    std::mutex lock;
    std::condition_variable done;
    bool running = false;
    bool finished = false;
    HRESULT hr = E_UNEXPECTED;
};

struct Entry {
    ComPtr<IUnknown> object; // null once revoked
    IID iid;
    bool hasDispatch = false; // asked on the owning thread at registration
    std::thread::id owner;
    GMainContext* context = nullptr; // one reference
    std::list<std::shared_ptr<PendingCall>> pending;

    ~Entry() {
        if (context)
            g_main_context_unref(context);
    }
};

struct Table {
    std::mutex lock;
    std::map<std::uint32_t, std::shared_ptr<Entry>> entries;
    std::uint32_t nextCookie = 1;
};

Table& table() {
    static Table t;
    return t;
}

struct Dispatched {
    std::shared_ptr<Entry> entry;
    std::shared_ptr<PendingCall> call;
};

// Runs on the owning thread.
gboolean runPendingCall(gpointer data) {
    auto* d = static_cast<Dispatched*>(data);
    ComPtr<IDispatch> target;
    {
        std::lock_guard guard(table().lock);
        std::lock_guard callGuard(d->call->lock);
        if (d->call->finished) // cancelled by a revocation
            return G_SOURCE_REMOVE;
        d->entry->pending.remove(d->call);
        if (!d->entry->object) {
            d->call->hr = RPC_E_DISCONNECTED;
            d->call->finished = true;
            d->call->done.notify_all();
            return G_SOURCE_REMOVE;
        }
        d->call->running = true;
        d->entry->object->QueryInterface(IDispatch::iid, target.putVoid());
    }
    HRESULT hr = target ? d->call->body(target.get()) : E_NOINTERFACE;
    target.reset();
    std::lock_guard callGuard(d->call->lock);
    d->call->hr = hr;
    d->call->finished = true;
    d->call->done.notify_all();
    return G_SOURCE_REMOVE;
}

void freeDispatched(gpointer data) {
    delete static_cast<Dispatched*>(data);
}

// Sends `body` to the owning thread of `entry` and waits for its result.
HRESULT callOnOwner(const std::shared_ptr<Entry>& entry, std::function<HRESULT(IDispatch*)> body) {
    auto call = std::make_shared<PendingCall>();
    call->body = std::move(body);
    GMainContext* context = nullptr;
    {
        std::lock_guard guard(table().lock);
        if (!entry->object)
            return RPC_E_DISCONNECTED;
        entry->pending.push_back(call);
        context = g_main_context_ref(entry->context);
    }
    GSource* source = g_idle_source_new();
    g_source_set_priority(source, G_PRIORITY_DEFAULT);
    g_source_set_callback(source, runPendingCall, new Dispatched{entry, call}, freeDispatched);
    g_source_attach(source, context);
    g_source_unref(source);
    g_main_context_wakeup(context);
    g_main_context_unref(context);

    std::unique_lock wait(call->lock);
    call->done.wait(wait, [&] { return call->finished; });
    return call->hr;
}

// The IDispatch another thread sees.
class DispatchProxy final : public ComObject<DispatchProxy, IDispatch> {
public:
    explicit DispatchProxy(std::shared_ptr<Entry> entry) : entry_(std::move(entry)) {}

    HRESULT GetTypeInfoCount(std::uint32_t* count) override {
        return callOnOwner(entry_, [=](IDispatch* d) { return d->GetTypeInfoCount(count); });
    }
    HRESULT GetTypeInfo(std::uint32_t index, LCID lcid, ITypeInfo** out) override {
        return callOnOwner(entry_, [=](IDispatch* d) { return d->GetTypeInfo(index, lcid, out); });
    }
    HRESULT GetIDsOfNames(const IID& riid, std::span<const Bstr> names, LCID lcid,
                          std::span<DISPID> ids) override {
        return callOnOwner(entry_,
                           [&](IDispatch* d) { return d->GetIDsOfNames(riid, names, lcid, ids); });
    }
    HRESULT Invoke(DISPID id, const IID& riid, LCID lcid, std::uint16_t flags, DispParams& params,
                   Variant* result, ExcepInfo* excepInfo, std::uint32_t* argErr) override {
        return callOnOwner(entry_, [&](IDispatch* d) {
            return d->Invoke(id, riid, lcid, flags, params, result, excepInfo, argErr);
        });
    }

private:
    std::shared_ptr<Entry> entry_;
};

} // namespace

HRESULT registerInterfaceInGlobal(IUnknown* object, const IID& iid, std::uint32_t* cookie) {
    if (cookie == nullptr)
        return E_POINTER;
    *cookie = 0;
    if (object == nullptr)
        return E_INVALIDARG;
    auto entry = std::make_shared<Entry>();
    HRESULT hr = object->QueryInterface(iid, entry->object.putVoid());
    if (failed(hr))
        return hr;
    entry->iid = iid;
    ComPtr<IDispatch> dispatch;
    entry->hasDispatch = succeeded(object->QueryInterface(IDispatch::iid, dispatch.putVoid()));
    entry->owner = std::this_thread::get_id();
    entry->context = g_main_context_ref_thread_default();
    Table& t = table();
    std::lock_guard guard(t.lock);
    std::uint32_t c = t.nextCookie++;
    if (t.nextCookie == 0)
        t.nextCookie = 1;
    t.entries.emplace(c, std::move(entry));
    *cookie = c;
    return S_OK;
}

HRESULT revokeInterfaceFromGlobal(std::uint32_t cookie) {
    ComPtr<IUnknown> released; // released outside the lock
    std::shared_ptr<Entry> entry;
    {
        Table& t = table();
        std::lock_guard guard(t.lock);
        auto it = t.entries.find(cookie);
        if (it == t.entries.end())
            return E_INVALIDARG;
        entry = std::move(it->second);
        t.entries.erase(it);
        released = std::move(entry->object);
        for (const std::shared_ptr<PendingCall>& call : entry->pending) {
            std::lock_guard callGuard(call->lock);
            if (!call->running && !call->finished) {
                call->hr = RPC_E_DISCONNECTED;
                call->finished = true;
                call->done.notify_all();
            }
        }
        entry->pending.clear();
    }
    return S_OK;
}

HRESULT getInterfaceFromGlobal(std::uint32_t cookie, const IID& iid, void** out) {
    if (out == nullptr)
        return E_POINTER;
    *out = nullptr;
    std::shared_ptr<Entry> entry;
    ComPtr<IUnknown> object;
    {
        Table& t = table();
        std::lock_guard guard(t.lock);
        auto it = t.entries.find(cookie);
        if (it == t.entries.end())
            return E_INVALIDARG;
        entry = it->second;
        object = entry->object;
    }
    if (entry->owner == std::this_thread::get_id())
        return object ? object->QueryInterface(iid, out) : RPC_E_DISCONNECTED;
    if (iid != IDispatch::iid && iid != IUnknown::iid)
        return E_NOINTERFACE;
    if (!object)
        return RPC_E_DISCONNECTED;
    if (!entry->hasDispatch)
        return E_NOINTERFACE;
    ComPtr<DispatchProxy> proxy = makeObject<DispatchProxy>(entry);
    return proxy->QueryInterface(iid, out);
}

} // namespace norv::com
