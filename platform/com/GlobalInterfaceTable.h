#pragma once
// The global interface table: an interface registered by one thread can be fetched by any
// thread under a cookie. The registering thread (and any thread fetching on it) gets the
// object itself; another thread gets a proxy that runs every call on the registering
// thread's GLib main context (its thread-default context, else the global default one,
// which the UI thread runs) while the calling thread waits.
//
// Proxies exist for IDispatch (and IUnknown, which answers IDispatch when the object has
// it): the interfaces that travel between threads here are listeners. Asking another
// thread for any other interface gives E_NOINTERFACE.
//
// The owning thread must keep iterating its main context while other threads call in.
// Revoking a registration makes calls that are still waiting for the owning thread
// return RPC_E_DISCONNECTED at once (a call already running finishes), so the owning
// thread can revoke and then join a worker that calls it.

#include <cstdint>

#include "platform/com/ComPtr.h"
#include "platform/com/Unknown.h"

namespace norv::com {

// Registers `object` (queried for `iid`, which must be IUnknown or IDispatch-derived for
// cross-thread use) and returns a non-zero cookie. The table holds one reference.
HRESULT registerInterfaceInGlobal(IUnknown* object, const IID& iid, std::uint32_t* cookie);
// Removes a registration (E_INVALIDARG for an unknown cookie) and releases the object.
HRESULT revokeInterfaceFromGlobal(std::uint32_t cookie);
// The registered object queried for `iid` (on the owning thread), or a proxy.
HRESULT getInterfaceFromGlobal(std::uint32_t cookie, const IID& iid, void** out);

template <Interface T>
HRESULT getInterfaceFromGlobal(std::uint32_t cookie, ComPtr<T>& out) {
    return getInterfaceFromGlobal(cookie, T::iid, out.putVoid());
}

} // namespace norv::com
