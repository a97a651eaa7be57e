#pragma once
// The internal interfaces of a window declaration: the window description, its title
// binding and the title's elements. Script never sees them; they are not in the type
// library.

#include <cstdint>

#include "platform/com/Bstr.h"
#include "platform/com/Dispatch.h"
#include "platform/com/Unknown.h"
#include "platform/com/Variant.h"

namespace norv::markup {

// Result codes (HResult.h): NORV_E_XMLNOTWELLFORMED 0x80040201, NORV_E_XMLBADNAMESPACE
// 0x80040202, NORV_E_XMLBADROOT 0x80040203, NORV_E_XMLBADVALUE 0x80040204 and
// NORV_E_NOHTMLDOCUMENT 0x80040200.

// One page element bound by a CSS selector: the caption, a button, or (through
// ITitleDescription) the title bar itself.
struct IElementDescription : com::IUnknown {
    static constexpr com::IID iid = com::guid("{AFDE1729-80BF-4034-91CE-A872F22D5745}");
    using Base = com::IUnknown;

    // Text getters hand out a fresh copy; setters copy, an absent text becoming empty.
    virtual com::HRESULT get_cssSelector(com::Bstr* out) = 0;
    virtual com::HRESULT put_cssSelector(const com::Bstr& value) = 0;
    virtual com::HRESULT get_cssClass(com::Bstr* out) = 0;
    virtual com::HRESULT put_cssClass(const com::Bstr& value) = 0;
    // VARIANT_TRUE or VARIANT_FALSE; the setter sets the flag only for VARIANT_TRUE.
    virtual com::HRESULT get_optional(com::VARIANT_BOOL* out) = 0;
    virtual com::HRESULT put_optional(com::VARIANT_BOOL value) = 0;

protected:
    ~IElementDescription() = default;
};

// The title bar binding with its caption, close and minimise elements.
struct ITitleDescription : IElementDescription {
    static constexpr com::IID iid = com::guid("{8819207D-5D91-4615-A417-635163B485FE}");
    using Base = IElementDescription;

    // Child getters hand out a reference (null when there is none); setters keep a
    // reference to the new element and drop the old one.
    virtual com::HRESULT get_caption(IElementDescription** out) = 0;
    virtual com::HRESULT put_caption(IElementDescription* value) = 0;
    virtual com::HRESULT get_buttonClose(IElementDescription** out) = 0;
    virtual com::HRESULT put_buttonClose(IElementDescription* value) = 0;
    virtual com::HRESULT get_buttonMinimize(IElementDescription** out) = 0;
    virtual com::HRESULT put_buttonMinimize(IElementDescription* value) = 0;

protected:
    ~ITitleDescription() = default;
};

// The window a page declares. Getters whose out-pointer is missing return E_INVALIDARG;
// setters store the value unchanged, without validation.
struct IWindowDescription : com::IDispatch {
    static constexpr com::IID iid = com::guid("{2BD032B6-F678-4BA4-9BF9-8AC47910D27C}");
    using Base = com::IDispatch;

    // Finds the declaration in the head of `document` (an object answering IHtmlDocument)
    // and parses it. `found` (optional) is set to VARIANT_FALSE; callers judge by the
    // result: the parser's result, S_FALSE when there is no declaration,
    // NORV_E_NOHTMLDOCUMENT, E_NOINTERFACE, or a failure of the document unchanged.
    virtual com::HRESULT loadFromDocument(com::IUnknown* document, com::VARIANT_BOOL* found) = 0;
    virtual com::HRESULT createTitle(ITitleDescription** out) = 0;
    virtual com::HRESULT createElement(IElementDescription** out) = 0;
    // Writes the members that differ from their defaults as a ui:window declaration.
    virtual com::HRESULT toXml(com::Bstr* out) = 0;
    // Replaces the whole description with the declaration in `text`.
    virtual com::HRESULT loadXml(const com::Bstr& text) = 0;

    virtual com::HRESULT get_type(std::int32_t* out) = 0;
    virtual com::HRESULT put_type(std::int32_t value) = 0;
    virtual com::HRESULT get_isApplicationWindow(std::int32_t* out) = 0;
    virtual com::HRESULT put_isApplicationWindow(std::int32_t value) = 0;
    virtual com::HRESULT get_isMinimizedBox(com::VARIANT_BOOL* out) = 0;
    virtual com::HRESULT put_isMinimizedBox(com::VARIANT_BOOL value) = 0;
    virtual com::HRESULT get_isMaximizedBox(com::VARIANT_BOOL* out) = 0;
    virtual com::HRESULT put_isMaximizedBox(com::VARIANT_BOOL value) = 0;
    virtual com::HRESULT get_isResizable(com::VARIANT_BOOL* out) = 0;
    virtual com::HRESULT put_isResizable(com::VARIANT_BOOL value) = 0;
    virtual com::HRESULT get_isAlwaysOnTop(com::VARIANT_BOOL* out) = 0;
    virtual com::HRESULT put_isAlwaysOnTop(com::VARIANT_BOOL value) = 0;
    virtual com::HRESULT get_isFullScreen(com::VARIANT_BOOL* out) = 0;
    virtual com::HRESULT put_isFullScreen(com::VARIANT_BOOL value) = 0;
    virtual com::HRESULT get_clientWidth(std::int32_t* out) = 0;
    virtual com::HRESULT put_clientWidth(std::int32_t value) = 0;
    virtual com::HRESULT get_clientHeight(std::int32_t* out) = 0;
    virtual com::HRESULT put_clientHeight(std::int32_t value) = 0;
    virtual com::HRESULT get_title(ITitleDescription** out) = 0;
    virtual com::HRESULT put_title(ITitleDescription* value) = 0;

    // Puts every member back to its default and drops the title.
    virtual com::HRESULT reset() = 0;

protected:
    ~IWindowDescription() = default;
};

} // namespace norv::markup
