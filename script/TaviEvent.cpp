#include "script/TaviEvent.h"

#include <new>

namespace norv::script {

using namespace com;

void TaviEvent::init(std::u16string_view type, IDispatch* target, IDispatch* currentTarget) {
    Bstr text(type);
    ComPtr<IDispatch> newTarget(target);
    ComPtr<IDispatch> newCurrent(currentTarget);
    {
        std::lock_guard guard(lock_);
        std::swap(type_, text);
        target_.swap(newTarget);
        currentTarget_.swap(newCurrent);
    }
    // The old references go here, outside the lock.
}

HRESULT TaviEvent::get_type(Bstr* pVal) {
    if (pVal == nullptr)
        return E_POINTER;
    std::lock_guard guard(lock_);
    try {
        *pVal = type_;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

HRESULT TaviEvent::get_target(IDispatch** pVal) {
    std::lock_guard guard(lock_);
    return target_.copyTo(pVal);
}

HRESULT TaviEvent::get_currentTarget(IDispatch** pVal) {
    std::lock_guard guard(lock_);
    return currentTarget_.copyTo(pVal);
}

HRESULT TaviEvent::get_eventPhase(std::int32_t* pVal) {
    if (pVal == nullptr)
        return E_POINTER;
    *pVal = 2;
    return S_OK;
}

HRESULT TaviEvent::get_bubbles(VARIANT_BOOL* pVal) {
    if (pVal == nullptr)
        return E_POINTER;
    *pVal = VARIANT_FALSE;
    return S_OK;
}

HRESULT TaviEvent::get_cancelable(VARIANT_BOOL* pVal) {
    if (pVal == nullptr)
        return E_POINTER;
    *pVal = VARIANT_FALSE;
    return S_OK;
}

HRESULT TaviEvent::get_timeStamp(Variant* pVal) {
    if (pVal == nullptr)
        return E_POINTER;
    *pVal = Variant::fromDate(0.0);
    return S_OK;
}

HRESULT TaviEvent::stopPropagation() {
    return E_NOTIMPL;
}

HRESULT TaviEvent::preventDefault() {
    return E_NOTIMPL;
}

HRESULT TaviEvent::initEvent(const Bstr&, VARIANT_BOOL, VARIANT_BOOL) {
    return E_NOTIMPL;
}

} // namespace norv::script
