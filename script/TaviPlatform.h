#pragma once
// TaviPlatform: window.tavi.platform (ITaviPlatform), the page's entry to the native
// services, and the documents of frames of other origins.
//
// getService(name) compares the name exactly: "media" and "display" give the platform
// object's own services (the same object on every call), "ui" a new UI service on every
// call, whose file dialogs are modal for the platform object's dialog owner; any other
// name, or a service the platform object was made without, gives E_NOINTERFACE.
//
// obtainCrossDomainDocument(frameElement) gives the document an <iframe> or <frame>
// element shows. It first reads it as the page itself would (the element's contentWindow,
// then its document); when the frame's document is of another origin and that is refused,
// it takes the document through the frame itself (PlatformServices::frameDocument).
//
// One per host window, made when the window is; UI thread only.

#include <memory>
#include <mutex>

#include "platform/com/DispatchObject.h"
#include "script/DialogOwner.h"
#include "script/PlatformServices.h"
#include "typelib/ShellInterfaces.h"

namespace norv::script {

class TaviPlatform final : public com::DispatchObject<TaviPlatform, typelib::ITaviPlatform> {
public:
    // Makes the platform object and its services (see PlatformServices). A service that
    // cannot be made fails it: its HRESULT, with error information when it has a text.
    static com::HRESULT create(const PlatformServices& services, com::ComPtr<TaviPlatform>* out);

    // Use create.
    explicit TaviPlatform(const PlatformServices& services);

    // The window the dialogs of UI services handed out from now on are modal for (the
    // host window, once it exists).
    void setDialogOwner(std::weak_ptr<DialogOwner> owner);

    // ITaviPlatform. E_INVALIDARG for no name or no out-pointer.
    com::HRESULT getService(const com::Bstr& newVal, com::IDispatch** pVal) override;
    // E_POINTER for no out-pointer; E_INVALIDARG for no element; E_NOINTERFACE for an
    // object that is no frame element; E_FAIL when the element shows no document.
    com::HRESULT obtainCrossDomainDocument(com::IDispatch* pHTMLIFrameElement,
                                           com::IDispatch** ppHTMLDocument) override;

private:
    void makeServices();

    PlatformServices services_;
    std::mutex lock_;
    com::ComPtr<typelib::ITaviMedia> media_;
    com::ComPtr<typelib::ITaviDisplay> display_;
    std::weak_ptr<DialogOwner> owner_;
};

} // namespace norv::script
