#include "script/TaviPlatform.h"

#include "platform/com/Exceptions.h"
#include "script/TaviUi.h"

namespace norv::script {

using namespace com;

namespace {

template <class I>
ComPtr<I> make(const std::function<ComPtr<I>()>& factory) {
    if (!factory)
        return nullptr;
    ComPtr<I> service = factory();
    if (!service)
        throw OleException(E_FAIL);
    return service;
}

HRESULT handOut(IUnknown* service, IDispatch** out) {
    if (!service)
        return E_NOINTERFACE;
    return service->QueryInterface(IDispatch::iid, reinterpret_cast<void**>(out));
}

} // namespace

HRESULT TaviPlatform::create(const PlatformServices& services, ComPtr<TaviPlatform>* out) {
    if (out == nullptr)
        return E_POINTER;
    *out = nullptr;
    return guard(typelib::ITaviPlatform::iid, [&] {
        *out = makeObject<TaviPlatform>(services);
        return S_OK;
    });
}

TaviPlatform::TaviPlatform(const PlatformServices& services)
    : services_(services), media_(make(services.makeMedia)), display_(make(services.makeDisplay)) {}

void TaviPlatform::setDialogOwner(std::weak_ptr<DialogOwner> owner) {
    std::lock_guard lock(lock_);
    owner_ = std::move(owner);
}

HRESULT TaviPlatform::getService(const Bstr& newVal, IDispatch** pVal) {
    if (newVal.isNull() || pVal == nullptr)
        return E_INVALIDARG;
    *pVal = nullptr;
    const std::u16string_view name = newVal.view();
    std::lock_guard lock(lock_);
    if (name == u"media")
        return handOut(media_.get(), pVal);
    if (name == u"display")
        return handOut(display_.get(), pVal);
    if (name == u"ui") {
        return guard(typelib::ITaviPlatform::iid, [&] {
            auto ui = makeObject<TaviUi>(services_.fileChooser, owner_);
            return handOut(static_cast<typelib::ITaviUi*>(ui.get()), pVal);
        });
    }
    return E_NOINTERFACE;
}

HRESULT TaviPlatform::obtainCrossDomainDocument(IDispatch* pHTMLIFrameElement,
                                                IDispatch** ppHTMLDocument) {
    if (ppHTMLDocument == nullptr)
        return E_POINTER;
    *ppHTMLDocument = nullptr;
    if (pHTMLIFrameElement == nullptr)
        return E_INVALIDARG;

    // The frame's window: an element without one is no frame element.
    Variant window;
    HRESULT hr =
        invokeByName(pHTMLIFrameElement, u"contentWindow", DISPATCH_PROPERTYGET, {}, &window);
    if (hr == DISP_E_UNKNOWNNAME || hr == DISP_E_MEMBERNOTFOUND) {
        clearErrorInfo();
        return E_NOINTERFACE;
    }
    if (failed(hr))
        return hr;
    if (window.vt() != VT_DISPATCH || window.dispatch() == nullptr)
        return E_FAIL;

    // As the page reads it: refused when the frame shows a document of another origin.
    Variant document;
    hr = invokeByName(window.dispatch(), u"document", DISPATCH_PROPERTYGET, {}, &document);
    if (succeeded(hr) && document.vt() == VT_DISPATCH && document.dispatch() != nullptr)
        return handOut(document.dispatch(), ppHTMLDocument);
    // The refusal is the page's business, not a failure of this call.
    clearErrorInfo();

    // Through the frame itself.
    if (!services_.frameDocument)
        return E_NOINTERFACE;
    ComPtr<IDispatch> frameDocument;
    hr = services_.frameDocument(pHTMLIFrameElement, &frameDocument);
    if (failed(hr))
        return hr;
    if (!frameDocument)
        return E_FAIL;
    *ppHTMLDocument = frameDocument.detach();
    return S_OK;
}

} // namespace norv::script
