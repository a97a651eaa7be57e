#pragma once
// The document shown in a frame element of the page, whatever its origin.
//
// Script of the top document may not read the document of a frame that shows a page of
// another origin (iframe.contentWindow.document throws). Native code may: the engine's
// DOM gives a frame element's document without the origin check, and the document is
// then handed to the top document's main world like any other script object (its own
// members carry no origin check; only windows and locations do).

#include <jsc/jsc.h>
#include <webkit2/webkit-web-extension.h>

#include "platform/glib/GObjectRef.h"

namespace norv::web::bridge {

struct FrameDocument {
    // False when `element` is no <iframe> or <frame> element.
    bool isFrameElement = false;
    // The document as a value of the main world of `frame`; null when the frame element
    // shows no document (not attached, not loaded yet).
    glib::GObjectRef<JSCValue> document;
};

// `element`: a script value of the main world of `frame` (the top frame).
FrameDocument frameDocumentOf(WebKitFrame* frame, JSCValue* element);

} // namespace norv::web::bridge
