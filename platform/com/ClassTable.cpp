#include "platform/com/ClassTable.h"

#include <map>
#include <mutex>
#include <vector>

namespace norv::com {

namespace {

struct Registration {
    std::uint32_t cookie = 0;
    CLSID clsid;
    ComPtr<IUnknown> factory;
    std::uint32_t context = 0;
    std::uint32_t flags = 0;
    bool suspended = false;
    bool used = false; // a single-use registration that has served
};

struct Table {
    std::mutex lock;
    std::vector<Registration> registrations; // oldest first
    std::map<CLSID, ComPtr<IUnknown>> platform;
    std::uint32_t nextCookie = 1;
};

Table& table() {
    static Table t;
    return t;
}

// The factory that serves `clsid` in `context` now, with a reference for the caller.
ComPtr<IUnknown> findFactory(const CLSID& clsid, std::uint32_t context) {
    Table& t = table();
    std::lock_guard guard(t.lock);
    for (auto it = t.registrations.rbegin(); it != t.registrations.rend(); ++it) {
        if (it->clsid != clsid || it->suspended || it->used || (it->context & context) == 0)
            continue;
        if ((it->flags & (REGCLS_MULTIPLEUSE | REGCLS_MULTI_SEPARATE)) == 0)
            it->used = true;
        return it->factory;
    }
    if ((context & CLSCTX_INPROC) != 0) {
        auto it = t.platform.find(clsid);
        if (it != t.platform.end())
            return it->second;
    }
    return nullptr;
}

class FunctionClassFactory final : public ComObject<FunctionClassFactory, IClassFactory> {
public:
    explicit FunctionClassFactory(CreateFunction create) : create_(std::move(create)) {}
    HRESULT CreateInstance(IUnknown* outer, const IID& iid, void** out) override {
        if (out == nullptr)
            return E_POINTER;
        *out = nullptr;
        return create_(outer, iid, out);
    }
    HRESULT LockServer(bool) override { return S_OK; }

private:
    CreateFunction create_;
};

} // namespace

HRESULT registerClassObject(const CLSID& clsid, IUnknown* factory, std::uint32_t context,
                            std::uint32_t flags, std::uint32_t* cookie) {
    if (cookie == nullptr)
        return E_POINTER;
    *cookie = 0;
    if (factory == nullptr)
        return E_INVALIDARG;
    Table& t = table();
    std::lock_guard guard(t.lock);
    Registration r;
    r.cookie = t.nextCookie++;
    if (t.nextCookie == 0)
        t.nextCookie = 1;
    r.clsid = clsid;
    r.factory = factory;
    r.context = context;
    r.flags = flags;
    r.suspended = (flags & REGCLS_SUSPENDED) != 0;
    t.registrations.push_back(std::move(r));
    *cookie = t.registrations.back().cookie;
    return S_OK;
}

HRESULT revokeClassObject(std::uint32_t cookie) {
    ComPtr<IUnknown> released; // released after the lock is let go
    {
        Table& t = table();
        std::lock_guard guard(t.lock);
        for (auto it = t.registrations.begin(); it != t.registrations.end(); ++it) {
            if (it->cookie == cookie) {
                released = std::move(it->factory);
                t.registrations.erase(it);
                return S_OK;
            }
        }
    }
    return CO_E_OBJNOTREG;
}

HRESULT resumeClassObjects() {
    Table& t = table();
    std::lock_guard guard(t.lock);
    for (Registration& r : t.registrations)
        r.suspended = false;
    return S_OK;
}

HRESULT getClassObject(const CLSID& clsid, std::uint32_t context, const IID& iid, void** out) {
    if (out == nullptr)
        return E_POINTER;
    *out = nullptr;
    ComPtr<IUnknown> factory = findFactory(clsid, context);
    if (!factory)
        return REGDB_E_CLASSNOTREG;
    return factory->QueryInterface(iid, out);
}

HRESULT createInstance(const CLSID& clsid, IUnknown* outer, std::uint32_t context, const IID& iid,
                       void** out) {
    if (out == nullptr)
        return E_POINTER;
    *out = nullptr;
    ComPtr<IClassFactory> factory;
    HRESULT hr = getClassObject(clsid, context, IClassFactory::iid, factory.putVoid());
    if (failed(hr))
        return hr;
    // The reference held here keeps the factory alive even if it revokes itself.
    hr = factory->CreateInstance(outer, iid, out);
    if (failed(hr))
        *out = nullptr;
    return hr;
}

void setPlatformClass(const CLSID& clsid, IUnknown* factory) {
    ComPtr<IUnknown> old;
    Table& t = table();
    std::lock_guard guard(t.lock);
    auto it = t.platform.find(clsid);
    if (it != t.platform.end()) {
        old = std::move(it->second);
        t.platform.erase(it);
    }
    if (factory)
        t.platform.emplace(clsid, factory);
}

ComPtr<IClassFactory> makeClassFactory(CreateFunction create) {
    return makeObject<FunctionClassFactory>(std::move(create));
}

} // namespace norv::com
