#pragma once
// PageDocument: a document of the page, reached through the script bridge as a plain
// script object, seen as the HTML document the media service makes its elements in.
// Each call is a call into the page.

#include "markup/HTMLDocument2.h"
#include "platform/com/ComObject.h"
#include "platform/com/ComPtr.h"

namespace norv::script {

class PageDocument final : public com::ComObject<PageDocument, markup::IHTMLDocument2> {
public:
    // The document `object` is, when it is one (a DOM node of the document type);
    // E_NOINTERFACE for any other object, the page's failure when it cannot be asked.
    static com::HRESULT of(com::IDispatch* object, com::ComPtr<markup::IHTMLDocument2>& out);

    explicit PageDocument(com::ComPtr<com::IDispatch> document) : document_(std::move(document)) {}

    // IHTMLDocument2
    com::HRESULT createElement(const com::Bstr& eTag, com::IDispatch** newElem) override;

private:
    com::ComPtr<com::IDispatch> document_;
};

} // namespace norv::script
