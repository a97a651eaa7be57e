#include "platform/web/bridge/FrameDocument.h"

namespace norv::web::bridge {

FrameDocument frameDocumentOf(WebKitFrame* frame, JSCValue* element) {
    FrameDocument result;
    if (!frame || !element || !jsc_value_is_object(element))
        return result;
    // The engine's DOM interface is the one way the web-process API offers to a frame's
    // document across origins; it is deprecated in favour of script, which cannot do this.
    G_GNUC_BEGIN_IGNORE_DEPRECATIONS
    WebKitDOMNode* node = webkit_dom_node_for_js_value(element);
    WebKitDOMDocument* document = nullptr;
    if (node && WEBKIT_DOM_IS_HTML_IFRAME_ELEMENT(node)) {
        result.isFrameElement = true;
        document = webkit_dom_html_iframe_element_get_content_document(
            WEBKIT_DOM_HTML_IFRAME_ELEMENT(node));
    } else if (node && WEBKIT_DOM_IS_HTML_FRAME_ELEMENT(node)) {
        result.isFrameElement = true;
        document =
            webkit_dom_html_frame_element_get_content_document(WEBKIT_DOM_HTML_FRAME_ELEMENT(node));
    }
    if (document)
        result.document = glib::GObjectRef<JSCValue>::adopt(
            webkit_frame_get_js_value_for_dom_object(frame, WEBKIT_DOM_OBJECT(document)));
    G_GNUC_END_IGNORE_DEPRECATIONS
    return result;
}

} // namespace norv::web::bridge
