#pragma once
// The page's live document as declaration extraction sees it (markup's IHtmlDocument,
// IHtmlElementCollection and IHtmlElement), over the script objects the bridge hands out
// for the document, its collections and its elements. Each call is a call into the page.
//
// Also the few reads and writes of the live DOM the host window makes itself (elements by
// id, scroll sizes, class names), as plain functions that raise framework exceptions.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "markup/HtmlDocument.h"
#include "platform/com/ComObject.h"
#include "platform/com/ComPtr.h"
#include "platform/com/Dispatch.h"

namespace norv::host {

class LiveHtmlDocument final : public com::ComObject<LiveHtmlDocument, markup::IHtmlDocument> {
public:
    explicit LiveHtmlDocument(com::ComPtr<com::IDispatch> document)
        : document_(std::move(document)) {}

    com::HRESULT get_all(markup::IHtmlElementCollection** out) override;

private:
    com::ComPtr<com::IDispatch> document_;
};

class LiveElementCollection final
    : public com::ComObject<LiveElementCollection, markup::IHtmlElementCollection> {
public:
    explicit LiveElementCollection(com::ComPtr<com::IDispatch> collection)
        : collection_(std::move(collection)) {}

    com::HRESULT get_length(std::int32_t* out) override;
    com::HRESULT item(std::int32_t index, com::IUnknown** out) override;

private:
    com::ComPtr<com::IDispatch> collection_;
};

class LiveHtmlElement final : public com::ComObject<LiveHtmlElement, markup::IHtmlElement> {
public:
    explicit LiveHtmlElement(com::ComPtr<com::IDispatch> element) : element_(std::move(element)) {}

    com::HRESULT get_tagName(com::Bstr* out) override;
    com::HRESULT get_children(com::IUnknown** out) override;
    com::HRESULT get_innerHTML(com::Bstr* out) override;

private:
    com::ComPtr<com::IDispatch> element_;
};

namespace dom {

// A property of a page object; raised when it cannot be read.
com::Variant get(com::IDispatch* object, std::u16string_view name);
// The property as an object (null for null or undefined); raised when it is something
// else or cannot be read.
com::ComPtr<com::IDispatch> getObject(com::IDispatch* object, std::u16string_view name);
std::int32_t getInt(com::IDispatch* object, std::u16string_view name);
std::u16string getText(com::IDispatch* object, std::u16string_view name);
void putText(com::IDispatch* object, std::u16string_view name, std::u16string_view value);
// Calls a method of a page object with text arguments.
com::Variant call(com::IDispatch* object, std::u16string_view name,
                  std::initializer_list<std::u16string_view> args);

} // namespace dom

} // namespace norv::host
