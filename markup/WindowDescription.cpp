#include "markup/WindowDescription.h"

#include <array>
#include <utility>

#include "markup/DeclarationExtraction.h"
#include "markup/HtmlDocument.h"
#include "markup/TitleDescription.h"
#include "markup/ValueSyntax.h"
#include "markup/XmlDocument.h"
#include "platform/com/ErrorInfo.h"
#include "platform/com/Exceptions.h"

namespace norv::markup {

using namespace com;

namespace {

constexpr std::string_view kSerialisationTemplate =
    R"(<ui:window xmlns:ui="urn:schemas-tavimark-mixed1.0"/>)";

// The attribute as the XML engine hands it over: text, or VT_NULL when it is absent.
Variant attributeValue(const xmlNode* element, const char* name) {
    std::optional<std::string> value = xmlAttribute(element, name);
    if (!value)
        return Variant::null();
    return Variant::fromBstr(Bstr::fromUtf8(*value));
}

bool isAbsent(const Variant& value) {
    return value.vt() == VT_NULL || value.vt() == VT_EMPTY;
}

// A value that does not fit its attribute is reported as the parser's own code.
HRESULT valueError(HRESULT hr) {
    return hr == TYPE_E_TYPEMISMATCH || hr == DISP_E_TYPEMISMATCH ? NORV_E_XMLBADVALUE : hr;
}

// The element rules, shared by the title and its three children.
HRESULT readElement(const xmlNode* node, IElementDescription* element) {
    Variant selector = attributeValue(node, "cssSelector");
    if (isAbsent(selector))
        return NORV_E_XMLBADROOT;
    if (selector.vt() != VT_BSTR)
        return NORV_E_XMLBADVALUE;
    if (selector.bstr().isEmpty())
        return NORV_E_XMLBADROOT;
    HRESULT hr = element->put_cssSelector(selector.bstr());
    if (failed(hr))
        return hr;

    Variant cssClass = attributeValue(node, "cssClass");
    if (!isAbsent(cssClass)) {
        Variant text;
        hr = changeType(text, cssClass, VT_BSTR);
        if (failed(hr))
            return valueError(hr);
        hr = element->put_cssClass(text.bstr());
        if (failed(hr))
            return hr;
    }

    Variant optional = attributeValue(node, "optional");
    if (!isAbsent(optional)) {
        Variant flag;
        // A failure of this conversion is returned as it is.
        hr = changeType(flag, optional, VT_BOOL);
        if (failed(hr))
            return hr;
        hr = element->put_optional(flag.boolVal() != VARIANT_FALSE ? VARIANT_TRUE : VARIANT_FALSE);
        if (failed(hr))
            return hr;
    }
    return S_OK;
}

HRESULT writeElement(xmlNode* node, IElementDescription* element) {
    Bstr selector;
    HRESULT hr = element->get_cssSelector(&selector);
    if (failed(hr))
        return hr;
    if (selector.isEmpty())
        return NORV_E_XMLBADROOT;
    if (!setXmlAttribute(node, "cssSelector", selector.toUtf8()))
        return E_OUTOFMEMORY;

    Bstr cssClass;
    hr = element->get_cssClass(&cssClass);
    if (failed(hr))
        return hr;
    if (!cssClass.isEmpty() && !setXmlAttribute(node, "cssClass", cssClass.toUtf8()))
        return E_OUTOFMEMORY;

    VARIANT_BOOL optional = VARIANT_FALSE;
    hr = element->get_optional(&optional);
    if (failed(hr))
        return hr;
    if (optional != VARIANT_FALSE && !setXmlAttribute(node, "optional", "true"))
        return E_OUTOFMEMORY;
    return S_OK;
}

// Appends a new element without namespace to `parent`.
xmlNode* appendElement(xmlNode* parent, const char* name) {
    xmlNode* node =
        xmlNewDocNode(parent->doc, nullptr, reinterpret_cast<const xmlChar*>(name), nullptr);
    if (node && !xmlAddChild(parent, node)) {
        xmlFreeNode(node);
        return nullptr;
    }
    return node;
}

std::string_view booleanText(VARIANT_BOOL value) {
    return value != VARIANT_FALSE ? "true" : "false";
}

void publishParseError(const XmlParseError& error) {
    std::string description = error.reason + " (" + std::to_string(error.line) + ", " +
                              std::to_string(error.column) + ")";
    setErrorInfo(IWindowDescription::iid, Bstr::fromUtf8(description));
}

} // namespace

std::u16string separateQuotes(std::u16string_view text) {
    // Works on the original text and copies it into the result with the inserted blanks;
    // the positions searched are those the in-place repair would search.
    std::u16string repaired;
    repaired.reserve(text.size() + text.size() / 8);
    std::size_t copied = 0;
    std::size_t equals = text.find(u'=');
    while (equals != std::u16string_view::npos) {
        std::size_t open = equals + 1;
        while (open < text.size() && text[open] == u' ')
            ++open;
        if (open >= text.size())
            break;
        const std::size_t close = text.find(text[open], open + 1);
        if (close == std::u16string_view::npos)
            break;
        std::size_t next = close + 2;
        if (close + 1 < text.size()) {
            const char16_t after = text[close + 1];
            if (after != u' ' && after != u'>' && after != u'/') {
                repaired.append(text.substr(copied, close + 1 - copied));
                repaired.push_back(u' ');
                copied = close + 1;
                next = close + 1; // the inserted blank is skipped
            }
        }
        equals = next < text.size() ? text.find(u'=', next) : std::u16string_view::npos;
    }
    repaired.append(text.substr(copied));
    return repaired;
}

HRESULT WindowDescription::GetTypeInfoCount(std::uint32_t* count) {
    if (count == nullptr)
        return E_POINTER;
    *count = 0;
    return S_OK;
}

HRESULT WindowDescription::GetTypeInfo(std::uint32_t, LCID, ITypeInfo** out) {
    if (out != nullptr)
        *out = nullptr;
    return E_NOTIMPL;
}

HRESULT WindowDescription::GetIDsOfNames(const IID&, std::span<const Bstr>, LCID,
                                         std::span<DISPID> ids) {
    for (DISPID& id : ids)
        id = DISPID_UNKNOWN;
    return E_NOTIMPL;
}

HRESULT WindowDescription::Invoke(DISPID, const IID&, LCID, std::uint16_t, DispParams&, Variant*,
                                  ExcepInfo*, std::uint32_t*) {
    return E_NOTIMPL;
}

HRESULT WindowDescription::InterfaceSupportsErrorInfo(const IID& iid) {
    return iid == IWindowDescription::iid ? S_OK : S_FALSE;
}

HRESULT WindowDescription::loadFromDocument(IUnknown* document, VARIANT_BOOL* found) {
    if (found != nullptr)
        *found = VARIANT_FALSE;
    if (document == nullptr)
        return NORV_E_NOHTMLDOCUMENT;
    ComPtr<IHtmlDocument> html;
    if (failed(queryInterface(document, html.put())) || !html)
        return NORV_E_NOHTMLDOCUMENT;
    return guard(IWindowDescription::iid, [&]() -> HRESULT {
        std::u16string text;
        HRESULT hr = findDeclaration(html.get(), text);
        if (hr != S_OK)
            return hr;
        return loadXml(Bstr(std::move(text)));
    });
}

HRESULT WindowDescription::createTitle(ITitleDescription** out) {
    if (out == nullptr)
        return E_INVALIDARG;
    return guard(IWindowDescription::iid, [&]() -> HRESULT {
        *out = makeObject<TitleDescription>().detach();
        return S_OK;
    });
}

HRESULT WindowDescription::createElement(IElementDescription** out) {
    if (out == nullptr)
        return E_INVALIDARG;
    return guard(IWindowDescription::iid, [&]() -> HRESULT {
        *out = makeObject<ElementDescription>().detach();
        return S_OK;
    });
}

HRESULT WindowDescription::get_title(ITitleDescription** out) {
    if (out == nullptr)
        return E_INVALIDARG;
    std::lock_guard lock(mutex_);
    return title_.copyTo(out);
}

HRESULT WindowDescription::put_title(ITitleDescription* value) {
    ComPtr<ITitleDescription> old;
    {
        std::lock_guard lock(mutex_);
        old = std::exchange(title_, ComPtr<ITitleDescription>(value));
    }
    old.reset();
    onChanged(DescriptionMember::title);
    return S_OK;
}

HRESULT WindowDescription::reset() {
    std::lock_guard lock(mutex_);
    resetMembers();
    return S_OK;
}

void WindowDescription::resetMembers() {
    type_ = wtAuto;
    isApplicationWindow_ = kTriStateAuto;
    isFullScreen_ = VARIANT_FALSE;
    isMinimizedBox_ = VARIANT_TRUE;
    isMaximizedBox_ = VARIANT_FALSE;
    isResizable_ = VARIANT_FALSE;
    isAlwaysOnTop_ = VARIANT_FALSE;
    clientWidth_ = kLengthAuto;
    clientHeight_ = kLengthAuto;
    title_.reset();
}

HRESULT WindowDescription::loadXml(const Bstr& text) {
    return guard(IWindowDescription::iid, [&]() -> HRESULT {
        XmlDocument document;
        XmlParseError error;
        HRESULT hr = document.load(utf16ToUtf8(separateQuotes(text.view())), error);
        if (hr == NORV_E_XMLNOTWELLFORMED)
            publishParseError(error);
        if (failed(hr))
            return hr;

        const xmlNode* root = document.root();
        std::optional<std::string_view> ns = namespaceOf(root);
        if (!ns || *ns != kDeclarationNamespace)
            return NORV_E_XMLBADNAMESPACE;
        std::string_view name = localNameOf(root);
        if (name != "window" && name != "dialog")
            return NORV_E_XMLBADROOT;

        std::lock_guard lock(mutex_);
        resetMembers();
        try {
            hr = readDeclaration(root);
        } catch (...) {
            resetMembers(); // a failed parse never leaves a partial description
            throw;
        }
        if (failed(hr)) {
            resetMembers();
            return hr;
        }
        return S_OK;
    });
}

HRESULT WindowDescription::readDeclaration(const xmlNode* root) {
    HRESULT hr = S_OK;

    Variant value = attributeValue(root, "type");
    if (!isAbsent(value)) {
        std::int32_t type = wtAuto;
        hr = readWindowType(value, type);
        if (failed(hr))
            return valueError(hr);
        type_ = type;
    }

    value = attributeValue(root, "isApplicationWindow");
    if (!isAbsent(value)) {
        std::int32_t state = kTriStateAuto;
        hr = readTriState(value, state);
        if (failed(hr))
            return valueError(hr);
        isApplicationWindow_ = state;
    }

    const std::array<std::pair<const char*, VARIANT_BOOL*>, 5> flags = {{
        {"isMinimizedBox", &isMinimizedBox_},
        {"isMaximizedBox", &isMaximizedBox_},
        {"isResizable", &isResizable_},
        {"isAlwaysOnTop", &isAlwaysOnTop_},
        {"isFullScreen", &isFullScreen_},
    }};
    for (const auto& [attribute, member] : flags) {
        value = attributeValue(root, attribute);
        if (isAbsent(value))
            continue;
        Variant flag;
        hr = changeType(flag, value, VT_BOOL);
        if (failed(hr))
            return valueError(hr);
        *member = flag.boolVal() != VARIANT_FALSE ? VARIANT_TRUE : VARIANT_FALSE;
    }

    const std::array<std::pair<const char*, std::int32_t*>, 2> lengths = {{
        {"clientWidth", &clientWidth_},
        {"clientHeight", &clientHeight_},
    }};
    for (const auto& [attribute, member] : lengths) {
        value = attributeValue(root, attribute);
        if (isAbsent(value))
            continue;
        if (value.vt() != VT_BSTR)
            return NORV_E_XMLBADVALUE;
        std::int32_t length = kLengthAuto;
        hr = readLength(value, length);
        if (failed(hr))
            return valueError(hr);
        *member = length;
    }

    const xmlNode* titleNode = firstDescendant(root, "title");
    if (titleNode == nullptr)
        return S_OK;
    ComPtr<TitleDescription> title = makeObject<TitleDescription>();
    title_ = title;
    hr = readElement(titleNode, title.get());
    if (failed(hr))
        return hr;

    using Setter = HRESULT (TitleDescription::*)(IElementDescription*);
    const std::array<std::pair<const char*, Setter>, 3> children = {{
        {"caption", &TitleDescription::put_caption},
        {"buttonClose", &TitleDescription::put_buttonClose},
        {"buttonMinimize", &TitleDescription::put_buttonMinimize},
    }};
    for (const auto& [name, setter] : children) {
        const xmlNode* childNode = firstDescendant(titleNode, name);
        if (childNode == nullptr)
            continue;
        ComPtr<ElementDescription> child = makeObject<ElementDescription>();
        hr = readElement(childNode, child.get());
        if (failed(hr))
            return hr;
        hr = (title.get()->*setter)(child.get());
        if (failed(hr))
            return hr;
    }
    return S_OK;
}

HRESULT WindowDescription::toXml(Bstr* out) {
    if (out == nullptr)
        return E_INVALIDARG;
    return guard(IWindowDescription::iid, [&]() -> HRESULT {
        XmlDocument document;
        XmlParseError error;
        HRESULT hr = document.load(kSerialisationTemplate, error);
        if (hr == NORV_E_XMLNOTWELLFORMED)
            publishParseError(error);
        if (failed(hr))
            return hr;
        xmlNode* root = document.root();
        if (root == nullptr)
            return E_FAIL;

        std::lock_guard lock(mutex_);
        hr = writeDeclaration(root);
        if (failed(hr))
            return hr;
        std::optional<std::string> text = document.rootXml();
        if (!text)
            return E_OUTOFMEMORY;
        *out = Bstr::fromUtf8(*text);
        return S_OK;
    });
}

HRESULT WindowDescription::writeDeclaration(xmlNode* root) {
    auto set = [root](const char* name, std::string_view text) {
        return setXmlAttribute(root, name, text) ? S_OK : E_OUTOFMEMORY;
    };
    HRESULT hr = S_OK;
    std::u16string text;

    if (type_ != wtAuto) {
        hr = writeWindowType(type_, text);
        if (failed(hr))
            return hr;
        if (failed(hr = set("type", utf16ToUtf8(text))))
            return hr;
    }
    if (clientWidth_ != kLengthAuto &&
        failed(hr = set("clientWidth", utf16ToUtf8(writeLength(clientWidth_)))))
        return hr;
    if (clientHeight_ != kLengthAuto &&
        failed(hr = set("clientHeight", utf16ToUtf8(writeLength(clientHeight_)))))
        return hr;
    if (isApplicationWindow_ != kTriStateAuto) {
        hr = writeTriState(isApplicationWindow_, text);
        if (failed(hr))
            return hr;
        if (failed(hr = set("isApplicationWindow", utf16ToUtf8(text))))
            return hr;
    }
    if (isMinimizedBox_ != VARIANT_TRUE &&
        failed(hr = set("isMinimizedBox", booleanText(isMinimizedBox_))))
        return hr;
    if (isMaximizedBox_ != VARIANT_FALSE &&
        failed(hr = set("isMaximizedBox", booleanText(isMaximizedBox_))))
        return hr;
    if (isAlwaysOnTop_ != VARIANT_FALSE &&
        failed(hr = set("isAlwaysOnTop", booleanText(isAlwaysOnTop_))))
        return hr;
    if (isResizable_ != VARIANT_FALSE && failed(hr = set("isResizable", booleanText(isResizable_))))
        return hr;
    // isFullScreen is never written.

    if (!title_)
        return S_OK;
    xmlNode* titleNode = appendElement(root, "title");
    if (titleNode == nullptr)
        return E_OUTOFMEMORY;
    hr = writeElement(titleNode, title_.get());
    if (failed(hr))
        return hr;

    using Getter = HRESULT (ITitleDescription::*)(IElementDescription**);
    const std::array<std::pair<const char*, Getter>, 3> children = {{
        {"buttonClose", &ITitleDescription::get_buttonClose},
        {"caption", &ITitleDescription::get_caption},
        {"buttonMinimize", &ITitleDescription::get_buttonMinimize},
    }};
    for (const auto& [name, getter] : children) {
        ComPtr<IElementDescription> child;
        hr = (title_.get()->*getter)(child.put());
        if (failed(hr))
            return hr;
        if (!child)
            continue;
        xmlNode* childNode = appendElement(titleNode, name);
        if (childNode == nullptr)
            return E_OUTOFMEMORY;
        hr = writeElement(childNode, child.get());
        if (failed(hr))
            return hr;
    }
    return S_OK;
}

} // namespace norv::markup
