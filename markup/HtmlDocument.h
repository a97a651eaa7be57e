#pragma once
// The small view of a loaded HTML document that declaration extraction needs: every
// element with its tag name, and the children of the head with their inner HTML. The
// host binds it to the page's DOM; tests fake it. Every call may fail with an HRESULT,
// which the extraction returns unchanged.

#include <cstdint>

#include "platform/com/Bstr.h"
#include "platform/com/Unknown.h"

namespace norv::markup {

struct IHtmlElementCollection;

struct IHtmlDocument : com::IUnknown {
    static constexpr com::IID iid = com::guid("{3BE54FA3-5E73-4088-AEFD-6538F04EB4B3}");
    using Base = com::IUnknown;

    // All elements of the document in document order.
    virtual com::HRESULT get_all(IHtmlElementCollection** out) = 0;

protected:
    ~IHtmlDocument() = default;
};

struct IHtmlElementCollection : com::IUnknown {
    static constexpr com::IID iid = com::guid("{0C30B86A-99A3-40A9-BA8C-54F904111216}");
    using Base = com::IUnknown;

    virtual com::HRESULT get_length(std::int32_t* out) = 0;
    // The item at `index`; S_OK with null when there is none. Items that are elements
    // answer IHtmlElement.
    virtual com::HRESULT item(std::int32_t index, com::IUnknown** out) = 0;

protected:
    ~IHtmlElementCollection() = default;
};

struct IHtmlElement : com::IUnknown {
    static constexpr com::IID iid = com::guid("{B2513A5D-7389-407F-A6FF-B871445744D5}");
    using Base = com::IUnknown;

    virtual com::HRESULT get_tagName(com::Bstr* out) = 0;
    // The element's child elements in document order; they answer IHtmlElementCollection.
    virtual com::HRESULT get_children(com::IUnknown** out) = 0;
    virtual com::HRESULT get_innerHTML(com::Bstr* out) = 0;

protected:
    ~IHtmlElement() = default;
};

} // namespace norv::markup
