#include "host/ChromeBinding.h"

#include "host/LiveHtmlDocument.h"
#include "platform/com/Exceptions.h"
#include "platform/web/ScriptBridge.h"

namespace norv::host {

using com::ComPtr;
using com::HRESULT;

namespace {

// Whether the document's style sheets have a rule for exactly ".name" (sheets the page may
// not read, of another origin, are passed over).
constexpr const char16_t* kHasClassRule =
    u"(function (name) {"
    u"  const wanted = '.' + name;"
    u"  const sheets = document.styleSheets;"
    u"  for (let i = 0; i < sheets.length; ++i) {"
    u"    let rules;"
    u"    try { rules = sheets[i].cssRules; } catch (e) { continue; }"
    u"    for (let j = 0; j < rules.length; ++j)"
    u"      if (rules[j].selectorText === wanted) return true;"
    u"  }"
    u"  return false;"
    u"})";

bool isOptional(markup::IElementDescription* declaration) {
    com::VARIANT_BOOL optional = com::VARIANT_FALSE;
    declaration->get_optional(&optional);
    return optional == com::VARIANT_TRUE;
}

std::u16string selectorOf(markup::IElementDescription* declaration) {
    com::Bstr selector;
    com::throwIfFailed(declaration->get_cssSelector(&selector));
    return selector.str();
}

class Binder {
public:
    explicit Binder(web::ScriptBridge& bridge) : bridge_(bridge) {
        com::Variant document;
        com::throwIfFailed(bridge_.runScript(u"document", &document));
        if (document.vt() != com::VT_DISPATCH || !document.dispatch())
            throw com::OleException(com::E_NOINTERFACE);
        document_ = ComPtr<com::IDispatch>(document.dispatch());
    }

    // The element a declaration names; null when it cannot be bound and may be missing.
    ComPtr<com::IDispatch> find(markup::IElementDescription* declaration) {
        HRESULT hr = com::S_OK;
        ComPtr<com::IDispatch> element;
        if (!declaration) {
            hr = com::E_INVALIDARG;
        } else if (auto id = ChromeBinding::idOfSelector(selectorOf(declaration))) {
            com::Variant found = dom::call(document_.get(), u"getElementById", {*id});
            if (found.vt() == com::VT_DISPATCH && found.dispatch())
                element = ComPtr<com::IDispatch>(found.dispatch());
            else
                hr = com::E_NOINTERFACE;
        } else {
            hr = com::E_NOINTERFACE;
        }
        if (com::succeeded(hr))
            return element;
        if ((hr == com::E_NOINTERFACE || hr == com::E_NOTIMPL) && isOptional(declaration))
            return nullptr;
        throw com::OleException(hr);
    }

    bool applyClass(markup::IElementDescription* declaration, com::IDispatch* element) {
        com::Bstr cssClass;
        com::throwIfFailed(declaration->get_cssClass(&cssClass));
        if (cssClass.isEmpty())
            return true;
        if (!hasClassRule_) {
            com::Variant function;
            com::throwIfFailed(bridge_.runScript(kHasClassRule, &function));
            if (function.vt() != com::VT_DISPATCH || !function.dispatch())
                return false;
            hasClassRule_ = ComPtr<com::IDispatch>(function.dispatch());
        }
        com::Variant args[1] = {com::Variant::fromBstr(cssClass)};
        com::DispParams params{args, {}};
        com::Variant found;
        HRESULT hr =
            hasClassRule_->Invoke(com::DISPID_VALUE, com::IID_NULL, com::LOCALE_USER_DEFAULT,
                                  com::DISPATCH_METHOD, params, &found, nullptr, nullptr);
        if (com::failed(hr) || found.vt() != com::VT_BOOL || !found.boolVal())
            return false;
        hr = com::putPropertyByName(element, u"className", com::Variant::fromBstr(cssClass));
        if (hr == com::E_NOTIMPL || hr == com::DISP_E_UNKNOWNNAME ||
            hr == com::DISP_E_MEMBERNOTFOUND)
            return false;
        com::throwIfFailed(hr);
        return true;
    }

private:
    web::ScriptBridge& bridge_;
    ComPtr<com::IDispatch> document_;
    ComPtr<com::IDispatch> hasClassRule_;
};

} // namespace

std::optional<std::u16string> ChromeBinding::idOfSelector(std::u16string_view selector) {
    if (selector.size() < 2 || selector.front() != u'#')
        return std::nullopt;
    return std::u16string(selector.substr(1));
}

bool ChromeBinding::matchesSelector(markup::IElementDescription* declaration,
                                    std::u16string_view elementId) {
    if (!declaration)
        return false;
    com::Bstr selector;
    if (com::failed(declaration->get_cssSelector(&selector)))
        return false;
    auto id = idOfSelector(selector.view());
    return id && *id == elementId;
}

void ChromeBinding::release() {
    title_.reset();
}

int ChromeBinding::bind(markup::IWindowDescription& description, web::ScriptBridge& bridge) {
    release();
    ComPtr<markup::ITitleDescription> title;
    com::throwIfFailed(description.get_title(title.put()));
    if (!title)
        return 0;
    Binder binder(bridge);
    int count = 0;
    if (ComPtr<com::IDispatch> element = binder.find(title.get())) {
        title_ = element;
        count = binder.applyClass(title.get(), element.get()) ? 1 : 0;
    }
    ComPtr<markup::IElementDescription> close;
    com::throwIfFailed(title->get_buttonClose(close.put()));
    if (close)
        if (ComPtr<com::IDispatch> element = binder.find(close.get()))
            count += binder.applyClass(close.get(), element.get()) ? 1 : 0;
    for (auto member : {&markup::ITitleDescription::get_buttonMinimize,
                        &markup::ITitleDescription::get_caption}) {
        ComPtr<markup::IElementDescription> declaration;
        com::throwIfFailed((title.get()->*member)(declaration.put()));
        if (declaration)
            if (ComPtr<com::IDispatch> element = binder.find(declaration.get()))
                binder.applyClass(declaration.get(), element.get());
    }
    return count;
}

} // namespace norv::host
