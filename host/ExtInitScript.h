#pragma once
// The bridge script: run verbatim in every top-level document as soon as its window object
// is ready. It creates window.tavi (unless the page made its own) and the deprecated
// window.getAttributes().

namespace norv::host {

inline constexpr const char16_t* kExtInitScript =
    u"try{(function() {var wnd = window;if(wnd.tavi)return;var rt;var o;rt = wnd.tavi = "
    u"{host: null,platform: null,_nw: null,windowTypes: { normal: 1, utility: 2, custom: 3, "
    u"screen: 4 },windowGravity: { left: 1, right: 2, top: 4, bottom: 8 },nativeWindow: "
    u"function() {return this._nw;}};wnd.getAttributes = function() {/*DEPRECATED: Use "
    u"tavi.nativeWindow([void])*/return window.tavi.nativeWindow();};})(); "
    u"}catch(e){alert('Error(ExtInitScript): ' + e.description);}";

} // namespace norv::host
