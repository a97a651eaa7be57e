#include "platform/com/ComPtr.h"

namespace norv::com {

bool sameObject(IUnknown* a, IUnknown* b) {
    if (a == nullptr || b == nullptr)
        return a == b;
    if (a == b)
        return true;
    ComPtr<IUnknown> ua, ub;
    if (failed(a->QueryInterface(IUnknown::iid, ua.putVoid())) ||
        failed(b->QueryInterface(IUnknown::iid, ub.putVoid())))
        return false;
    return ua.get() == ub.get();
}

} // namespace norv::com
