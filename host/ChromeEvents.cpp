#include "host/ChromeEvents.h"

#include "host/ChromeBinding.h"
#include "host/LiveHtmlDocument.h"
#include "platform/com/Exceptions.h"
#include "platform/web/ScriptBridge.h"

namespace norv::host {

using com::HRESULT;

namespace {

// The document's watcher. It listens on the window in the capture phase, so the page's own
// handlers cannot keep the events from it; a sink that is gone (the call throws) only
// stops the chrome from working. Moves are reported while the left button is down, and
// the first one after it is released.
constexpr const char16_t* kWatcher =
    u"(function (sink) {"
    u"  var left = false;"
    u"  function ask(f) { try { return f(); } catch (e) { return false; } }"
    u"  function off(e) { e.preventDefault(); }"
    u"  addEventListener('selectstart', off, true);"
    u"  addEventListener('dragstart', off, true);"
    u"  addEventListener('mousedown', function (e) {"
    u"    var t = e.target;"
    u"    ask(function () { return sink.mouseDown(t, String(t.tagName || ''), String(t.id || '')); "
    u"});"
    u"  }, true);"
    u"  addEventListener('mouseup', function () {"
    u"    left = false;"
    u"    ask(function () { return sink.mouseUp(); });"
    u"  }, true);"
    u"  addEventListener('mousemove', function (e) {"
    u"    var down = (e.buttons & 1) !== 0;"
    u"    if (!down && !left) return;"
    u"    left = down;"
    u"    var t = e.target;"
    u"    if (ask(function () {"
    u"          return sink.mouseMove(down, Math.round(e.clientX), Math.round(e.clientY), t);"
    u"        }))"
    u"      e.preventDefault();"
    u"  }, true);"
    u"  function clicked(e) {"
    u"    var t = e.target;"
    u"    ask(function () { return sink.click(t, String(t.id || '')); });"
    u"  }"
    u"  addEventListener('click', clicked, true);"
    u"  addEventListener('dblclick', clicked, true);"
    u"})";

bool equalsIgnoringCase(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char16_t x = a[i] >= u'a' && a[i] <= u'z' ? char16_t(a[i] - 32) : a[i];
        char16_t y = b[i] >= u'a' && b[i] <= u'z' ? char16_t(b[i] - 32) : b[i];
        if (x != y)
            return false;
    }
    return true;
}

} // namespace

ChromeEvents::ChromeEvents(ChromeActions actions, com::ComPtr<com::IDispatch> title,
                           com::ComPtr<markup::IElementDescription> close,
                           com::ComPtr<markup::IElementDescription> minimize)
    : actions_(std::move(actions)), title_(std::move(title)), close_(std::move(close)),
      minimize_(std::move(minimize)) {}

HRESULT ChromeEvents::install(web::ScriptBridge& bridge, ChromeEvents* sink) {
    com::Variant function;
    HRESULT hr = bridge.runScript(kWatcher, &function);
    if (com::failed(hr))
        return hr;
    if (function.vt() != com::VT_DISPATCH || !function.dispatch())
        return com::E_NOINTERFACE;
    com::Variant args[1] = {com::Variant::fromDispatch(static_cast<IChromeEventSink*>(sink))};
    com::DispParams params{args, {}};
    return function.dispatch()->Invoke(com::DISPID_VALUE, com::IID_NULL, com::LOCALE_USER_DEFAULT,
                                       com::DISPATCH_METHOD, params, nullptr, nullptr, nullptr);
}

void ChromeEvents::detach() {
    attached_ = false;
    title_.reset();
    close_.reset();
    minimize_.reset();
}

bool ChromeEvents::isControlTag(std::u16string_view tagName) {
    for (std::u16string_view control : {u"A", u"INPUT", u"SELECT", u"TEXTAREA", u"BUTTON"})
        if (equalsIgnoringCase(tagName, control))
            return true;
    return false;
}

HRESULT ChromeEvents::mouseDown(com::IDispatch*, const com::Bstr& tagName, const com::Bstr& id) {
    if (!attached_)
        return com::E_FAIL;
    if (isControlTag(tagName.view()) || ChromeBinding::matchesSelector(close_.get(), id.view()) ||
        ChromeBinding::matchesSelector(minimize_.get(), id.view()))
        dragSuppressed_ = true;
    return com::S_OK;
}

HRESULT ChromeEvents::mouseUp() {
    if (!attached_)
        return com::E_FAIL;
    dragSuppressed_ = false;
    return com::S_OK;
}

bool ChromeEvents::insideTitle(std::int32_t x, std::int32_t y) {
    // The title's place in the document: its offsets summed up its offsetParent chain,
    // its extent the scroll size of its content.
    std::int64_t left = 0;
    std::int64_t top = 0;
    com::ComPtr<com::IDispatch> element = title_;
    for (int depth = 0; element && depth < 256; ++depth) {
        left += dom::getInt(element.get(), u"offsetLeft");
        top += dom::getInt(element.get(), u"offsetTop");
        element = dom::getObject(element.get(), u"offsetParent");
    }
    const std::int64_t width = dom::getInt(title_.get(), u"scrollWidth");
    const std::int64_t height = dom::getInt(title_.get(), u"scrollHeight");
    return x >= left && x <= left + width && y >= top && y <= top + height;
}

HRESULT ChromeEvents::mouseMove(com::VARIANT_BOOL leftButton, std::int32_t clientX,
                                std::int32_t clientY, com::IDispatch* source,
                                com::VARIANT_BOOL* handled) {
    if (!handled)
        return com::E_POINTER;
    *handled = com::VARIANT_FALSE;
    if (!attached_)
        return com::E_FAIL;
    if (leftButton != com::VARIANT_TRUE) {
        dragSuppressed_ = false;
        return com::S_OK;
    }
    if (!title_ || dragSuppressed_)
        return com::S_OK;
    return com::guard(iid, [&]() -> HRESULT {
        if (!insideTitle(clientX, clientY))
            return com::S_OK;
        // The press may be over by the time the move arrives: then there is nothing to
        // drag, and the page goes on as for any other move.
        try {
            if (actions_.titleDragged)
                actions_.titleDragged(source);
        } catch (const com::FrameworkException&) {
            return com::S_OK;
        }
        *handled = com::VARIANT_TRUE;
        return com::S_OK;
    });
}

HRESULT ChromeEvents::click(com::IDispatch* source, const com::Bstr& id,
                            com::VARIANT_BOOL* handled) {
    if (!handled)
        return com::E_POINTER;
    *handled = com::VARIANT_FALSE;
    if (!attached_)
        return com::E_FAIL;
    // The window may close here: nothing of this object is used afterwards.
    if (ChromeBinding::matchesSelector(close_.get(), id.view())) {
        *handled = com::VARIANT_TRUE;
        if (auto action = actions_.closeClicked)
            action(source);
    } else if (ChromeBinding::matchesSelector(minimize_.get(), id.view())) {
        *handled = com::VARIANT_TRUE;
        if (auto action = actions_.minimizeClicked)
            action(source);
    }
    return com::S_OK;
}

} // namespace norv::host
