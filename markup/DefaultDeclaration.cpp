#include "markup/DefaultDeclaration.h"

#include "markup/WindowDescription.h"

namespace norv::markup {

using namespace com;

std::u16string_view builtinDialogDeclarationSource() {
    return u"<ui:dialog xmlns:ui=\"urn:schemas-tavimark-mixed1.0\">"
           u"\t\t\t\t\t\t<title cssSelector=\"#e_window_title\" optional =\"true\">"
           u"\t\t\t\t\t\t\t<buttonClose cssSelector=\"#e_close_btn\" cssClass=\"e_close_btn\" "
           u"optional =\"true\"/>"
           u"\t\t\t\t\t\t\t<buttonMinimize cssSelector=\"#e_minimize_btn\" "
           u"cssClass=\"e_minimize_btn\" optional =\"true\"/>"
           u"\t\t\t\t\t\t</title>"
           u"\t\t\t\t\t</ui:dialog>";
}

Bstr builtinDialogDeclaration() {
    try {
        ComPtr<WindowDescription> description = makeObject<WindowDescription>();
        // The result of reading is not looked at: whatever was read is serialised.
        static_cast<void>(description->loadXml(Bstr(builtinDialogDeclarationSource())));
        Bstr text;
        if (failed(description->toXml(&text)))
            return Bstr();
        return text;
    } catch (const std::bad_alloc&) {
        return Bstr();
    }
}

} // namespace norv::markup
