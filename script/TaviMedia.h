#pragma once
// TaviMedia: the media service of the platform object (ITaviMedia, getService("media")).
//
// While a media service exists the program's player factory is registered for the media
// player control's class (MPPlayerFactory), so every player the page's document
// instantiates is a player object with `services`. createMediaPlayer(Owner) makes an
// <object> element of the player's class in `Owner` (a document answering
// IHTMLDocument2; null: a new, detached document, made by the service's `newDocument`
// (the page's own, so that the element can go into the page) or else of the class
// table's HTML document class) and returns it, not inserted anywhere. A failing step's HRESULT is
// returned as it is; an Owner that is not a document fails with the result of that query. The
// page's own documents come through the script bridge as plain script objects: a service
// made with `documentOf` asks it for the document such an Owner is before it fails.
//
// UI thread only.

#include <functional>

#include "markup/HTMLDocument2.h"
#include "platform/com/ClassTable.h"
#include "platform/com/DispatchObject.h"
#include "typelib/ShellInterfaces.h"

namespace norv::script {

class TaviMedia final : public com::DispatchObject<TaviMedia, typelib::ITaviMedia> {
public:
    // The classid the player elements carry.
    static constexpr char16_t playerClassId[] = u"clsid:{6BF52A52-394A-11D3-B153-00C04F79FAA6}";

    // The document an Owner that answers no IHTMLDocument2 is (E_NOINTERFACE: none).
    using DocumentLookup =
        std::function<com::HRESULT(com::IDispatch*, com::ComPtr<markup::IHTMLDocument2>&)>;

    // Makes a new, empty document that belongs to no window.
    using NewDocument = std::function<com::HRESULT(com::ComPtr<com::IDispatch>&)>;

    // A media service; the factory registration's failure when it cannot be made.
    static com::HRESULT create(com::ComPtr<TaviMedia>& out, DocumentLookup documentOf = {},
                               NewDocument newDocument = {});

    // ITaviMedia
    com::HRESULT createMediaPlayer(com::IDispatch* Owner, com::IDispatch** pVal) override;

private:
    com::ComPtr<com::IClassFactory> factory_; // this service's reference on the factory
    DocumentLookup documentOf_;
    NewDocument newDocument_;
};

} // namespace norv::script
