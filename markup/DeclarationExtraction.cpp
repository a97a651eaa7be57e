#include "markup/DeclarationExtraction.h"

#include "markup/HtmlDocument.h"
#include "markup/ValueSyntax.h"
#include "platform/com/ComPtr.h"
#include "platform/com/WhiteSpace.h"

namespace norv::markup {

using namespace com;

const char16_t* const kAcceptedNamespaces[] = {u"urn:schemas-tavimark-mixed1.0", nullptr};

namespace {

bool containsAcceptedNamespace(std::u16string_view text) {
    for (const char16_t* const* name = kAcceptedNamespaces; *name != nullptr; ++name) {
        if (text.find(*name) != std::u16string_view::npos)
            return true;
    }
    return false;
}

std::u16string replaceAll(std::u16string text, std::u16string_view from, std::u16string_view to) {
    std::u16string result;
    result.reserve(text.size());
    std::size_t start = 0;
    for (std::size_t at = text.find(from); at != std::u16string::npos;
         at = text.find(from, start)) {
        result.append(text, start, at - start);
        result.append(to);
        start = at + from.size();
    }
    result.append(text, start, std::u16string::npos);
    return result;
}

bool equalsIgnoringAsciiCase(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        auto lower = [](char16_t c) {
            return c >= u'A' && c <= u'Z' ? c + (u'a' - u'A') : c;
        };
        if (lower(a[i]) != lower(b[i]))
            return false;
    }
    return true;
}

} // namespace

bool looksLikeDeclaration(std::u16string_view text) {
    enum class State { start, beforeOpen, afterOpen, prefix, name, namespaceName };
    State state = State::start;
    bool prefixSeen = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i];
        switch (state) {
        case State::start:
            if (c == u' ' || c == u'\t' || c == u'\r' || c == u'\n')
                break;
            state = c == u'<' ? State::afterOpen : State::beforeOpen;
            break;
        case State::beforeOpen:
            if (c == u'<')
                state = State::afterOpen;
            break;
        case State::afterOpen:
            if (c == u'w' || c == u'd') {
                state = State::name;
            } else {
                if (prefixSeen)
                    return false;
                prefixSeen = true;
                state = State::prefix;
            }
            break;
        case State::prefix:
            if (c == u':')
                state = State::afterOpen;
            break;
        case State::name: {
            std::u16string_view rest = text.substr(i, 6);
            if (rest == u"indow " || rest == u"ialog ") {
                i += 5; // the loop steps over the sixth
                state = State::namespaceName;
            }
            break;
        }
        case State::namespaceName:
            return containsAcceptedNamespace(text.substr(i));
        }
    }
    return false;
}

std::optional<std::u16string> unwrapDeclaration(std::u16string_view innerHtml) {
    if (innerHtml.size() < 7)
        return std::nullopt;
    std::u16string_view trimmed = trimWhiteSpace(innerHtml);
    std::u16string text;
    if (trimmed.size() >= 4 && trimmed.starts_with(u"/*") && trimmed.ends_with(u"*/")) {
        text = replaceAll(std::u16string(trimmed), u"&lt;", u"<");
        text = replaceAll(std::move(text), u"&gt;", u">");
        text = text.substr(2, text.size() - 4);
    } else if (innerHtml.starts_with(u"<!--") && trimmed.size() >= 7 && trimmed.ends_with(u"-->")) {
        text = std::u16string(trimmed.substr(4, trimmed.size() - 7));
    } else {
        return std::nullopt;
    }
    return std::u16string(trimWhiteSpace(text));
}

HRESULT findDeclaration(IHtmlDocument* document, std::u16string& text) {
    ComPtr<IHtmlElementCollection> all;
    HRESULT hr = document->get_all(all.put());
    if (failed(hr))
        return hr;
    if (!all)
        return S_FALSE;
    std::int32_t length = 0;
    hr = all->get_length(&length);
    if (failed(hr))
        return hr;

    ComPtr<IHtmlElement> head;
    for (std::int32_t i = 0; i < length && !head; ++i) {
        ComPtr<IUnknown> item;
        hr = all->item(i, item.put());
        if (failed(hr))
            return hr;
        ComPtr<IHtmlElement> element;
        if (!item || failed(item.as(element)) || !element)
            continue;
        Bstr tagName;
        if (failed(element->get_tagName(&tagName)))
            continue;
        if (equalsIgnoringAsciiCase(tagName.view(), u"head"))
            head = element;
    }
    if (!head)
        return S_FALSE;

    ComPtr<IUnknown> childrenObject;
    hr = head->get_children(childrenObject.put());
    if (failed(hr))
        return hr;
    ComPtr<IHtmlElementCollection> children;
    if (!childrenObject || failed(childrenObject.as(children)) || !children)
        return E_NOINTERFACE;
    hr = children->get_length(&length);
    if (failed(hr))
        return hr;

    for (std::int32_t i = 0; i < length; ++i) {
        ComPtr<IUnknown> item;
        hr = children->item(i, item.put());
        if (failed(hr))
            return hr;
        ComPtr<IHtmlElement> child;
        if (!item || failed(item.as(child)) || !child)
            continue;
        Bstr innerHtml;
        if (failed(child->get_innerHTML(&innerHtml)))
            continue;
        std::optional<std::u16string> declaration = unwrapDeclaration(innerHtml.view());
        if (!declaration || !looksLikeDeclaration(*declaration))
            continue;
        text = std::move(*declaration);
        return S_OK;
    }
    return S_FALSE;
}

} // namespace norv::markup
