#include "script/PlatformServices.h"

#include "platform/web/ScriptBridge.h"
#include "script/GtkFileChooser.h"
#include "script/TaviDisplay.h"
#include "script/X11DisplayDesktop.h"

namespace norv::script {

PlatformServices desktopPlatformServices() {
    PlatformServices services;
    services.makeDisplay = [] {
        return com::ComPtr<typelib::ITaviDisplay>(
            com::makeObject<TaviDisplay>(X11DisplayDesktop::instance()));
    };
    services.fileChooser = std::make_shared<GtkFileChooser>();
    services.frameDocument = &web::ScriptBridge::frameDocument;
    return services;
}

} // namespace norv::script
