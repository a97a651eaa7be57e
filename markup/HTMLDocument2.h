#pragma once
// The piece of an HTML document that the media service needs to hand a page its player
// element: creating an element. The page's live documents (through the script bridge)
// answer it, and so does a new, detached document of the class CLSID_HTMLDocument
// created through the class table.

#include "platform/com/Bstr.h"
#include "platform/com/Dispatch.h"
#include "platform/com/Guid.h"

namespace norv::markup {

// The class of a new, empty HTML document.
constexpr com::CLSID CLSID_HTMLDocument = com::guid("{25336920-03F9-11CF-8FD0-00AA00686F13}");

struct IHTMLDocument2 : com::IUnknown {
    static constexpr com::IID iid = com::guid("{332C4425-26CB-11D0-B483-00C04FD90119}");
    using Base = com::IUnknown;

    // A new element of the document named `eTag` (not inserted anywhere), as the dispatch
    // object script would see.
    virtual com::HRESULT createElement(const com::Bstr& eTag, com::IDispatch** newElem) = 0;

protected:
    ~IHTMLDocument2() = default;
};

} // namespace norv::markup
