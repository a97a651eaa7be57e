#pragma once
// RegisteredClassFactory: a process-wide class factory of the program that is registered
// in the class table while someone holds it, with its slot.
//
// acquire() gives the caller one reference on the factory in the slot, creating and
// registering a new one when the slot is empty. The registration holds a reference of its
// own; a release that leaves only that one revokes the registration (so the registration
// alone never keeps the factory alive): the factory is destroyed and the slot cleared,
// and the next acquire() registers a new factory. While the factory creates an object it
// may lift its registration (withoutRegistration), so that the class table finds the
// platform's class of the same identifier meanwhile.
//
//   class MPPlayerFactory final : public RegisteredClassFactory<MPPlayerFactory> { ... };
//   ComPtr<IClassFactory> keep;
//   MPPlayerFactory::acquire(CLSID_MediaPlayer, keep);
//
// acquire() and the holders' releases are meant for one thread (the UI thread).

#include <atomic>
#include <cstdint>
#include <mutex>
#include <utility>

#include "platform/com/ClassTable.h"
#include "platform/com/ComObject.h"

namespace norv::media {

template <class Derived>
class RegisteredClassFactory : public com::ComObject<Derived, com::IClassFactory> {
    using Base = com::ComObject<Derived, com::IClassFactory>;

public:
    static constexpr std::uint32_t registrationFlags =
        com::REGCLS_MULTIPLEUSE | com::REGCLS_MULTI_SEPARATE;

    static com::HRESULT acquire(const com::CLSID& clsid, com::ComPtr<com::IClassFactory>& out) {
        std::lock_guard lock(slotLock());
        if (Derived* f = slot()) {
            out = f; // one more reference
            return com::S_OK;
        }
        com::ComPtr<Derived> made = com::makeObject<Derived>();
        made->clsid_ = clsid;
        std::uint32_t cookie = 0;
        com::HRESULT hr = com::registerClassObject(
            clsid, made->unknown(), com::CLSCTX_INPROC_SERVER, registrationFlags, &cookie);
        if (com::failed(hr))
            return hr;
        made->cookie_ = cookie;
        slot() = made.get();
        out = made;
        return com::S_OK;
    }

    // Whether the slot holds a factory (it is registered then).
    static bool inSlot() {
        std::lock_guard lock(slotLock());
        return slot() != nullptr;
    }

    std::uint32_t Release() override {
        const std::uint32_t left = Base::Release();
        if (left != 1)
            return left;
        // Only the registration's reference is left, or a creation is running with the
        // registration lifted (then the cookie is 0 and nothing happens here).
        const std::uint32_t cookie = cookie_.exchange(0);
        if (cookie == 0)
            return left;
        {
            std::lock_guard lock(slotLock());
            if (slot() == this)
                slot() = nullptr;
        }
        com::revokeClassObject(cookie); // the table's release destroys the factory
        return 0;
    }

    com::HRESULT LockServer(bool lock) override {
        if (lock)
            this->AddRef();
        else
            Release();
        return com::S_OK;
    }

protected:
    // Runs `create` with the factory's registration lifted, registering it again after
    // (with `flags`).
    template <class F>
    com::HRESULT withoutRegistration(std::uint32_t flags, F&& create) {
        com::ComPtr<Derived> keep(static_cast<Derived*>(this));
        const std::uint32_t cookie = cookie_.exchange(0);
        if (cookie != 0)
            com::revokeClassObject(cookie);
        com::HRESULT hr = create();
        if (cookie != 0) {
            std::uint32_t fresh = 0;
            if (com::succeeded(com::registerClassObject(clsid_, this->unknown(),
                                                        com::CLSCTX_INPROC_SERVER, flags, &fresh)))
                cookie_ = fresh;
        }
        return hr;
    }

    const com::CLSID& clsid() const { return clsid_; }

private:
    static Derived*& slot() {
        static Derived* s = nullptr;
        return s;
    }
    static std::mutex& slotLock() {
        static std::mutex m;
        return m;
    }

    com::CLSID clsid_;
    std::atomic<std::uint32_t> cookie_{0};
};

} // namespace norv::media
