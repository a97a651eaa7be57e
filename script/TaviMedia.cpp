#include "script/TaviMedia.h"

#include "markup/HTMLDocument2.h"
#include "media/player/MPPlayerFactory.h"
#include "platform/media/PlayerHostInterfaces.h"

namespace norv::script {

using namespace com;

HRESULT TaviMedia::create(ComPtr<TaviMedia>& out, DocumentLookup documentOf,
                          NewDocument newDocument) {
    out.reset();
    auto media = makeObject<TaviMedia>();
    media->documentOf_ = std::move(documentOf);
    media->newDocument_ = std::move(newDocument);
    HRESULT hr = media::MPPlayerFactory::acquire(media->factory_);
    if (failed(hr))
        return hr;
    out = std::move(media);
    return S_OK;
}

HRESULT TaviMedia::createMediaPlayer(IDispatch* Owner, IDispatch** pVal) {
    if (pVal == nullptr)
        return E_POINTER;
    *pVal = nullptr;
    ComPtr<IDispatch> owner(Owner);
    if (!owner) {
        HRESULT hr = newDocument_
                         ? newDocument_(owner)
                         : com::createInstance(markup::CLSID_HTMLDocument, nullptr, CLSCTX_ALL,
                                               IDispatch::iid, owner.putVoid());
        if (failed(hr))
            return hr;
        if (!owner)
            return E_NOINTERFACE;
    }
    ComPtr<markup::IHTMLDocument2> document;
    HRESULT hr = owner->QueryInterface(markup::IHTMLDocument2::iid, document.putVoid());
    if (failed(hr) && documentOf_ && succeeded(documentOf_(owner.get(), document)) && document)
        hr = S_OK;
    if (failed(hr))
        return hr;
    ComPtr<IDispatch> element;
    hr = document->createElement(Bstr(u"object"), element.put());
    if (failed(hr))
        return hr;
    if (!element)
        return E_POINTER;
    hr = putPropertyByName(element.get(), u"classid", Variant::fromBstr(Bstr(playerClassId)));
    if (failed(hr))
        return hr;
    *pVal = element.detach();
    return S_OK;
}

} // namespace norv::script
