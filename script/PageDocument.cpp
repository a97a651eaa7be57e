#include "script/PageDocument.h"

namespace norv::script {

using namespace com;

HRESULT PageDocument::of(IDispatch* object, ComPtr<markup::IHTMLDocument2>& out) {
    out.reset();
    if (object == nullptr)
        return E_POINTER;
    Variant type;
    HRESULT hr = invokeByName(object, u"nodeType", DISPATCH_PROPERTYGET, {}, &type);
    if (hr == DISP_E_UNKNOWNNAME || hr == DISP_E_MEMBERNOTFOUND)
        return E_NOINTERFACE;
    if (failed(hr))
        return hr;
    Variant number;
    constexpr std::int32_t documentNode = 9;
    if (failed(changeType(number, type, VT_I4)) || number.i4() != documentNode)
        return E_NOINTERFACE;
    out = makeObject<PageDocument>(ComPtr<IDispatch>(object));
    return S_OK;
}

HRESULT PageDocument::createElement(const Bstr& eTag, IDispatch** newElem) {
    if (newElem == nullptr)
        return E_POINTER;
    *newElem = nullptr;
    Variant args[] = {Variant::fromBstr(eTag)};
    Variant element;
    HRESULT hr = invokeByName(document_.get(), u"createElement", DISPATCH_METHOD, args, &element);
    if (failed(hr))
        return hr;
    if (element.vt() != VT_DISPATCH || element.dispatch() == nullptr)
        return E_NOINTERFACE;
    element.dispatch()->AddRef();
    *newElem = element.dispatch();
    return S_OK;
}

} // namespace norv::script
