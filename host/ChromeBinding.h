#pragma once
// The page's own title bar and buttons, as its window declaration names them (a title
// with a caption, a close and a minimise button, each by a CSS selector, a class and
// whether it may be missing), bound to the live document's elements when it completes.
//
// A selector binds only in the form "#id"; any other form, and an id that names no
// element, cannot be bound: that is an error unless the declaration is optional. A class
// is applied only when one of the document's style sheets has a rule whose whole selector
// is a dot and that class name.

#include <optional>
#include <string>
#include <string_view>

#include "markup/IWindowDescription.h"
#include "platform/com/ComPtr.h"
#include "platform/com/Dispatch.h"

namespace norv::web {
class ScriptBridge;
}

namespace norv::host {

class ChromeBinding {
public:
    // Binds the declaration's title and buttons in the bridge's current document and
    // answers the count that decides an automatic window type: 1 for a title whose class
    // could be applied, 1 more for such a close button. Raises a framework exception for
    // an element that cannot be bound and is not optional (E_NOINTERFACE for a selector in
    // another form or naming no element).
    int bind(markup::IWindowDescription& description, web::ScriptBridge& bridge);
    // Forgets the elements of the previous document.
    void release();

    bool titleBound() const { return title_ != nullptr; }
    com::IDispatch* titleElement() const { return title_.get(); }

    // The element id a selector names ("#id"); nothing for a selector in another form.
    static std::optional<std::u16string> idOfSelector(std::u16string_view selector);
    // Whether the declaration's selector names the element with id `elementId` exactly.
    static bool matchesSelector(markup::IElementDescription* declaration,
                                std::u16string_view elementId);

private:
    com::ComPtr<com::IDispatch> title_;
};

} // namespace norv::host
