#pragma once
// ChromeEvents: the page's mouse events as its chrome elements need them. A script put in
// each laid-out document watches the document's mouse events (in the capture phase, ahead
// of the page's own handlers) and tells this object; it decides:
// - a left-button drag that begins on the bound title starts move mode (titleDragged),
//   unless the press was on an anchor, input, select, text area or button element, or on
//   the close or minimise element: then nothing moves until the button is released;
// - a click or double click on the close or minimise element (matched by id against the
//   declaration's selector) is closeClicked or minimizeClicked.
// The same script switches off text selection and element dragging in the page.
//
// One object per document; detach() cuts it off from the window when the document goes,
// so that a page that keeps it reaches nothing. UI thread only.

#include <functional>

#include "markup/IWindowDescription.h"
#include "platform/com/ComPtr.h"
#include "platform/com/DispatchObject.h"

namespace norv::web {
class ScriptBridge;
}

namespace norv::host {

// What the document's watcher script calls.
struct IChromeEventSink : com::IDispatch {
    static constexpr com::IID iid = com::guid("{5D960FFB-9285-4FA9-9A9F-5CF482611E55}");
    using Base = com::IDispatch;

    virtual com::HRESULT mouseDown(com::IDispatch* source, const com::Bstr& tagName,
                                   const com::Bstr& id) = 0;
    virtual com::HRESULT mouseUp() = 0;
    // `handled`: a drag of the title began.
    virtual com::HRESULT mouseMove(com::VARIANT_BOOL leftButton, std::int32_t clientX,
                                   std::int32_t clientY, com::IDispatch* source,
                                   com::VARIANT_BOOL* handled) = 0;
    // `handled`: the close or minimise element was clicked.
    virtual com::HRESULT click(com::IDispatch* source, const com::Bstr& id,
                               com::VARIANT_BOOL* handled) = 0;

    static const com::InterfaceInfo& interfaceInfo() {
        using I = IChromeEventSink;
        static const com::InterfaceInfo info = com::describeInterface<I>(
            u"IChromeEventSink", u"The chrome elements' mouse events",
            com::method(1, u"mouseDown", &I::mouseDown, {u"source", u"tagName", u"id"}),
            com::method(2, u"mouseUp", &I::mouseUp),
            com::method(3, u"mouseMove", &I::mouseMove,
                        {u"leftButton", u"clientX", u"clientY", u"source"}),
            com::method(4, u"click", &I::click, {u"source", u"id"}));
        return info;
    }

protected:
    ~IChromeEventSink() = default;
};

struct ChromeActions {
    std::function<void(com::IDispatch* source)> titleDragged;
    std::function<void(com::IDispatch* source)> closeClicked;
    std::function<void(com::IDispatch* source)> minimizeClicked;
};

class ChromeEvents final : public com::DispatchObject<ChromeEvents, IChromeEventSink> {
public:
    // `title`: the bound title element (may be null); `close`, `minimize`: the declarations
    // of the buttons (may be null).
    ChromeEvents(ChromeActions actions, com::ComPtr<com::IDispatch> title,
                 com::ComPtr<markup::IElementDescription> close,
                 com::ComPtr<markup::IElementDescription> minimize);

    // Puts the watcher script in the bridge's current document, reporting to `sink`.
    static com::HRESULT install(web::ScriptBridge& bridge, ChromeEvents* sink);
    void detach();

    bool dragSuppressed() const { return dragSuppressed_; }

    com::HRESULT mouseDown(com::IDispatch* source, const com::Bstr& tagName,
                           const com::Bstr& id) override;
    com::HRESULT mouseUp() override;
    com::HRESULT mouseMove(com::VARIANT_BOOL leftButton, std::int32_t clientX, std::int32_t clientY,
                           com::IDispatch* source, com::VARIANT_BOOL* handled) override;
    com::HRESULT click(com::IDispatch* source, const com::Bstr& id,
                       com::VARIANT_BOOL* handled) override;

    // Whether a press on an element of this tag keeps the title from being dragged.
    static bool isControlTag(std::u16string_view tagName);

private:
    bool insideTitle(std::int32_t x, std::int32_t y);

    ChromeActions actions_;
    com::ComPtr<com::IDispatch> title_;
    com::ComPtr<markup::IElementDescription> close_;
    com::ComPtr<markup::IElementDescription> minimize_;
    bool attached_ = true;
    bool dragSuppressed_ = false;
};

} // namespace norv::host
