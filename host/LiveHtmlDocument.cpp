#include "host/LiveHtmlDocument.h"

#include <new>
#include <vector>

#include "platform/com/Exceptions.h"

namespace norv::host {

using com::ComPtr;
using com::HRESULT;
using com::Variant;

namespace {

// A variant holding an object, as a dispatch pointer (null for null or empty).
HRESULT asObject(const Variant& value, ComPtr<com::IDispatch>& out) {
    out.reset();
    switch (value.vt()) {
    case com::VT_EMPTY:
    case com::VT_NULL:
        return com::S_OK;
    case com::VT_DISPATCH:
        out = ComPtr<com::IDispatch>(value.dispatch());
        return com::S_OK;
    case com::VT_UNKNOWN:
        if (!value.unknown())
            return com::S_OK;
        return value.unknown()->QueryInterface(com::IDispatch::iid, out.putVoid());
    default:
        return com::DISP_E_TYPEMISMATCH;
    }
}

HRESULT readProperty(com::IDispatch* object, std::u16string_view name, Variant& out) {
    if (!object)
        return com::E_POINTER;
    return com::invokeByName(object, name, com::DISPATCH_PROPERTYGET, {}, &out);
}

template <class Body>
HRESULT guarded(Body&& body) {
    try {
        return body();
    } catch (const com::FrameworkException& e) {
        return e.hresult();
    } catch (const std::bad_alloc&) {
        return com::E_OUTOFMEMORY;
    }
}

} // namespace

HRESULT LiveHtmlDocument::get_all(markup::IHtmlElementCollection** out) {
    if (!out)
        return com::E_POINTER;
    *out = nullptr;
    return guarded([&] {
        // Every element of the document in document order.
        Variant all = dom::call(document_.get(), u"getElementsByTagName", {u"*"});
        ComPtr<com::IDispatch> collection;
        com::throwIfFailed(asObject(all, collection));
        if (!collection)
            return com::E_NOINTERFACE;
        *out = com::makeObject<LiveElementCollection>(std::move(collection)).detach();
        return com::S_OK;
    });
}

HRESULT LiveElementCollection::get_length(std::int32_t* out) {
    if (!out)
        return com::E_POINTER;
    return guarded([&] {
        *out = dom::getInt(collection_.get(), u"length");
        return com::S_OK;
    });
}

HRESULT LiveElementCollection::item(std::int32_t index, com::IUnknown** out) {
    if (!out)
        return com::E_POINTER;
    *out = nullptr;
    return guarded([&] {
        Variant args[1] = {Variant::fromI4(index)};
        Variant result;
        com::throwIfFailed(
            com::invokeByName(collection_.get(), u"item", com::DISPATCH_METHOD, args, &result));
        ComPtr<com::IDispatch> element;
        com::throwIfFailed(asObject(result, element));
        if (element)
            *out = com::makeObject<LiveHtmlElement>(std::move(element)).detach();
        return com::S_OK;
    });
}

HRESULT LiveHtmlElement::get_tagName(com::Bstr* out) {
    if (!out)
        return com::E_POINTER;
    return guarded([&] {
        *out = com::Bstr(dom::getText(element_.get(), u"tagName"));
        return com::S_OK;
    });
}

HRESULT LiveHtmlElement::get_children(com::IUnknown** out) {
    if (!out)
        return com::E_POINTER;
    *out = nullptr;
    return guarded([&] {
        ComPtr<com::IDispatch> children = dom::getObject(element_.get(), u"children");
        if (!children)
            return com::E_NOINTERFACE;
        *out = com::makeObject<LiveElementCollection>(std::move(children)).detach();
        return com::S_OK;
    });
}

HRESULT LiveHtmlElement::get_innerHTML(com::Bstr* out) {
    if (!out)
        return com::E_POINTER;
    return guarded([&] {
        *out = com::Bstr(dom::getText(element_.get(), u"innerHTML"));
        return com::S_OK;
    });
}

namespace dom {

Variant get(com::IDispatch* object, std::u16string_view name) {
    Variant value;
    com::throwIfFailed(readProperty(object, name, value));
    return value;
}

ComPtr<com::IDispatch> getObject(com::IDispatch* object, std::u16string_view name) {
    ComPtr<com::IDispatch> out;
    com::throwIfFailed(asObject(get(object, name), out));
    return out;
}

std::int32_t getInt(com::IDispatch* object, std::u16string_view name) {
    Variant number;
    com::throwIfFailed(com::changeType(number, get(object, name), com::VT_I4));
    return number.i4();
}

std::u16string getText(com::IDispatch* object, std::u16string_view name) {
    Variant value = get(object, name);
    if (value.vt() == com::VT_NULL || value.vt() == com::VT_EMPTY)
        return {};
    Variant text;
    com::throwIfFailed(com::changeType(text, value, com::VT_BSTR));
    return text.bstr().str();
}

void putText(com::IDispatch* object, std::u16string_view name, std::u16string_view value) {
    if (!object)
        throw com::OleException(com::E_POINTER);
    com::throwIfFailed(
        com::putPropertyByName(object, name, Variant::fromBstr(com::Bstr(std::u16string(value)))));
}

Variant call(com::IDispatch* object, std::u16string_view name,
             std::initializer_list<std::u16string_view> args) {
    if (!object)
        throw com::OleException(com::E_POINTER);
    std::vector<Variant> values;
    for (std::u16string_view arg : args)
        values.push_back(Variant::fromBstr(com::Bstr(std::u16string(arg))));
    Variant result;
    com::throwIfFailed(com::invokeByName(object, name, com::DISPATCH_METHOD, values, &result));
    return result;
}

} // namespace dom

} // namespace norv::host
