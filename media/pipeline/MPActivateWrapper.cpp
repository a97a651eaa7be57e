#include "media/pipeline/MPActivateWrapper.h"

#include "media/pipeline/MPActivateFactory.h"

namespace norv::media {

using namespace com;
using platform::media::IActivate;

HRESULT MPActivateWrapper::setReal(IUnknown* real, bool aggregated) {
    if (real == nullptr)
        return E_POINTER;
    realUnknown_ = real;
    if (aggregated)
        return aggregated_.query(controllingUnknown(), real);
    return real->QueryInterface(IActivate::iid, plain_.putVoid());
}

IActivate* MPActivateWrapper::real() const {
    return aggregated_ ? aggregated_.get() : plain_.get();
}

HRESULT MPActivateWrapper::queryExtraInterface(const IID& iid, void** out) {
    if (!realUnknown_)
        return E_NOINTERFACE;
    return realUnknown_->QueryInterface(iid, out);
}

HRESULT MPActivateWrapper::GetItem(const GUID& key, Variant* value) {
    IActivate* r = real();
    return r ? r->GetItem(key, value) : OLE_E_BLANK;
}
HRESULT MPActivateWrapper::SetItem(const GUID& key, const Variant& value) {
    IActivate* r = real();
    return r ? r->SetItem(key, value) : OLE_E_BLANK;
}
HRESULT MPActivateWrapper::DeleteItem(const GUID& key) {
    IActivate* r = real();
    return r ? r->DeleteItem(key) : OLE_E_BLANK;
}
HRESULT MPActivateWrapper::DeleteAllItems() {
    IActivate* r = real();
    return r ? r->DeleteAllItems() : OLE_E_BLANK;
}
HRESULT MPActivateWrapper::GetCount(std::uint32_t* count) {
    IActivate* r = real();
    return r ? r->GetCount(count) : OLE_E_BLANK;
}
HRESULT MPActivateWrapper::GetItemByIndex(std::uint32_t index, GUID* key, Variant* value) {
    IActivate* r = real();
    return r ? r->GetItemByIndex(index, key, value) : OLE_E_BLANK;
}
HRESULT MPActivateWrapper::GetUnknown(const GUID& key, const IID& iid, void** out) {
    IActivate* r = real();
    return r ? r->GetUnknown(key, iid, out) : OLE_E_BLANK;
}
HRESULT MPActivateWrapper::SetUnknown(const GUID& key, IUnknown* value) {
    IActivate* r = real();
    return r ? r->SetUnknown(key, value) : OLE_E_BLANK;
}

HRESULT MPActivateWrapper::ActivateObject(const IID& iid, void** out) {
    IActivate* r = real();
    if (r == nullptr)
        return OLE_E_BLANK;
    if (out == nullptr)
        return E_POINTER;
    for (const ComPtr<IActivationHook>& hook : MPActivateFactory::hooks()) {
        *out = nullptr;
        HRESULT hr = hook->activate(r, iid, out);
        if (succeeded(hr) && *out != nullptr)
            return hr;
        *out = nullptr;
    }
    return r->ActivateObject(iid, out);
}

HRESULT MPActivateWrapper::ShutdownObject() {
    IActivate* r = real();
    return r ? r->ShutdownObject() : OLE_E_BLANK;
}

HRESULT MPActivateWrapper::DetachObject() {
    IActivate* r = real();
    return r ? r->DetachObject() : OLE_E_BLANK;
}

} // namespace norv::media
