#pragma once
// The process class table: class objects registered by the program, over the platform's
// own classes, which are the fall-back.
//
// createInstance(clsid) asks the newest visible registration of the class; when there is
// none (never registered, or every registration revoked) the platform's class of that
// identifier answers; when that is missing too, REGDB_E_CLASSNOTREG. No lock is held while
// a factory runs, so a factory may revoke and re-register itself (or others) during its own
// CreateInstance.

#include <cstdint>
#include <functional>

#include "platform/com/ComObject.h"
#include "platform/com/ComPtr.h"
#include "platform/com/Unknown.h"

namespace norv::com {

struct IClassFactory : IUnknown {
    static constexpr IID iid = guid("{00000001-0000-0000-C000-000000000046}");
    using Base = IUnknown;

    virtual HRESULT CreateInstance(IUnknown* outer, const IID& iid, void** out) = 0;
    virtual HRESULT LockServer(bool lock) = 0;

protected:
    ~IClassFactory() = default;
};

// Class contexts.
constexpr std::uint32_t CLSCTX_INPROC_SERVER = 0x1;
constexpr std::uint32_t CLSCTX_INPROC_HANDLER = 0x2;
constexpr std::uint32_t CLSCTX_LOCAL_SERVER = 0x4;
constexpr std::uint32_t CLSCTX_REMOTE_SERVER = 0x10;
constexpr std::uint32_t CLSCTX_INPROC = CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER;
constexpr std::uint32_t CLSCTX_ALL = 0x17;

// Registration flags.
constexpr std::uint32_t REGCLS_SINGLEUSE = 0; // serves one request, then is hidden
constexpr std::uint32_t REGCLS_MULTIPLEUSE = 1;
constexpr std::uint32_t REGCLS_MULTI_SEPARATE = 2;
constexpr std::uint32_t REGCLS_SUSPENDED = 4; // hidden until resumeClassObjects()

// Registers `factory` (an object answering IClassFactory) for `clsid` in `context`; the
// table holds one reference until the registration is revoked. cookie receives a non-zero
// identifier of the registration.
HRESULT registerClassObject(const CLSID& clsid, IUnknown* factory, std::uint32_t context,
                            std::uint32_t flags, std::uint32_t* cookie);
// Removes a registration; CO_E_OBJNOTREG for a cookie that names none.
HRESULT revokeClassObject(std::uint32_t cookie);
// Makes registrations made with REGCLS_SUSPENDED visible.
HRESULT resumeClassObjects();

// The class object of `clsid` for `context`, queried for `iid`.
HRESULT getClassObject(const CLSID& clsid, std::uint32_t context, const IID& iid, void** out);
// Creates an object of `clsid` (aggregated by `outer` when given) through its class
// object's CreateInstance.
HRESULT createInstance(const CLSID& clsid, IUnknown* outer, std::uint32_t context, const IID& iid,
                       void** out);
template <Interface T>
HRESULT createInstance(const CLSID& clsid, IUnknown* outer, std::uint32_t context, ComPtr<T>& out) {
    return createInstance(clsid, outer, context, T::iid, out.putVoid());
}

// The platform's own classes (the fall-back): one factory per identifier, in-process.
// Registering again replaces the previous one; a null factory removes it.
void setPlatformClass(const CLSID& clsid, IUnknown* factory);

// A class factory that calls a function for CreateInstance.
using CreateFunction = std::function<HRESULT(IUnknown* outer, const IID& iid, void** out)>;
ComPtr<IClassFactory> makeClassFactory(CreateFunction create);

// A class factory for a ComObject class C (created through C::createInstance, which
// handles aggregation).
template <class C>
ComPtr<IClassFactory> makeClassFactoryFor() {
    return makeClassFactory([](IUnknown* outer, const IID& iid, void** out) {
        return C::createInstance(outer, iid, out);
    });
}

} // namespace norv::com
