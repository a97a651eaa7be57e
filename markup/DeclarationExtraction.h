#pragma once
// Finding a page's window declaration: a child of the head whose whole content is one
// style sheet comment ("/*...*/") or is wrapped in HTML comment markers ("<!--...-->")
// and holds a ui:window or ui:dialog block.

#include <optional>
#include <string>
#include <string_view>

#include "platform/com/HResult.h"

namespace norv::markup {

struct IHtmlDocument;

// The namespaces a declaration may use; the list ends with a null entry.
extern const char16_t* const kAcceptedNamespaces[];

// Decides cheaply whether a text looks like a declaration: an opening "<", at most one
// prefix, the name "window" or "dialog" followed by a blank, then an accepted namespace
// name somewhere in the rest.
bool looksLikeDeclaration(std::u16string_view text);

// The declaration text in a head child's inner HTML, unwrapped from its comment and
// trimmed; nullopt when the content has neither form or is shorter than 7 characters.
// In the style sheet form "&lt;" and "&gt;" are turned back into "<" and ">".
std::optional<std::u16string> unwrapDeclaration(std::u16string_view innerHtml);

// Looks for the head and examines its children in document order; the first child that
// passes the quick check decides. S_OK with `text` set; S_FALSE when there is no head or
// no declaration; E_NOINTERFACE when the head's children are no element collection; any
// failure of the document unchanged.
com::HRESULT findDeclaration(IHtmlDocument* document, std::u16string& text);

} // namespace norv::markup
