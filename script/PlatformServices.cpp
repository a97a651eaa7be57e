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

PlatformServices desktopPlatformServices() {
    PlatformServices services;
    services.makeMedia = [] {
        ComPtr<TaviMedia> media;
        com::throwIfFailed(TaviMedia::create(media, &PageDocument::of));
        return com::ComPtr<typelib::ITaviMedia>(media.get());
    };
    services.makeDisplay = [] {
        return com::ComPtr<typelib::ITaviDisplay>(
            com::makeObject<TaviDisplay>(X11DisplayDesktop::instance()));
    };
    services.fileChooser = std::make_shared<GtkFileChooser>();
    services.frameDocument = &web::ScriptBridge::frameDocument;
    return services;
}

} // namespace norv::script
