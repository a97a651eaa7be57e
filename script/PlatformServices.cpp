#include "script/PlatformServices.h"

#include "platform/com/Exceptions.h"
#include "platform/web/ScriptBridge.h"
#include "script/GtkFileChooser.h"
#include "script/PageDocument.h"
#include "script/TaviDisplay.h"
#include "script/TaviMedia.h"
#include "script/X11DisplayDesktop.h"

namespace norv::script {

using com::ComPtr;

PlatformServices desktopPlatformServices(PageWindowResolver pageWindows,
                                         PageDocumentMaker newDocument) {
    PlatformServices services;
    services.makeMedia = [newDocument = std::move(newDocument)] {
        ComPtr<TaviMedia> media;
        com::throwIfFailed(TaviMedia::create(media, &PageDocument::of, newDocument));
        return com::ComPtr<typelib::ITaviMedia>(media.get());
    };
    services.makeDisplay = [pageWindows = std::move(pageWindows)] {
        TaviDisplay::WindowResolver resolver = TaviDisplay::resolveNativeWindowHandle;
        if (pageWindows)
            resolver = [pageWindows](com::IDispatch* window, NativeWindow* out) {
                const com::HRESULT hr = TaviDisplay::resolveNativeWindowHandle(window, out);
                return hr == com::E_NOINTERFACE ? pageWindows(window, out) : hr;
            };
        return com::ComPtr<typelib::ITaviDisplay>(
            com::makeObject<TaviDisplay>(X11DisplayDesktop::instance(), std::move(resolver)));
    };
    services.fileChooser = std::make_shared<GtkFileChooser>();
    services.frameDocument = &web::ScriptBridge::frameDocument;
    return services;
}

} // namespace norv::script
