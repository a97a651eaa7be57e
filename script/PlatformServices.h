#pragma once
// PlatformServices: what a platform object is made with, the services it hands out and
// the desktop pieces behind them.

#include <functional>
#include <memory>

#include "platform/com/ComPtr.h"
#include "platform/com/Dispatch.h"
#include "script/DisplayDesktop.h"
#include "script/FileChooser.h"
#include "typelib/ShellInterfaces.h"

namespace norv::script {

struct PlatformServices {
    // Make the media and display services of a new platform object, which keeps them for
    // its life. A factory raises its failure (the framework's exceptions) or returns null
    // (E_FAIL); either fails the platform object. Without a factory the platform object
    // has no such service: getService answers E_NOINTERFACE for its name.
    std::function<com::ComPtr<typelib::ITaviMedia>()> makeMedia;
    std::function<com::ComPtr<typelib::ITaviDisplay>()> makeDisplay;
    // Runs the file dialogs of the UI services. Without it file dialogs fail to show
    // (E_FAIL).
    std::shared_ptr<FileChooser> fileChooser;
    // The document a frame element of the page shows, whatever its origin: how a platform
    // object reaches a frame whose document the page's own script is refused. Without it
    // such documents cannot be had (E_NOINTERFACE).
    std::function<com::HRESULT(com::IDispatch* frameElement, com::ComPtr<com::IDispatch>* document)>
        frameDocument;
};

// How a host finds the native window of a window object its page hands the display service
// (the page's own `window`); E_NOINTERFACE for an object that is none of its windows.
using PageWindowResolver = std::function<com::HRESULT(com::IDispatch* window, NativeWindow* out)>;

// Makes a new, empty document of the page's own that belongs to no window (where the media
// service makes a player element for no given document).
using PageDocumentMaker = std::function<com::HRESULT(com::ComPtr<com::IDispatch>& document)>;

// The program's services (desktop build): the media service (players through the
// program's factory, elements made in the page's own documents), the display service on
// the X11 desktop, the desktop's file chooser and the script bridge's frame documents.
// The display service takes a native window object (INativeWindowHandle) for its window,
// and, with `pageWindows`, whatever that resolver knows. The media service makes detached
// documents with `newDocument` (without it, of the class table's HTML document class).
PlatformServices desktopPlatformServices(PageWindowResolver pageWindows = {},
                                         PageDocumentMaker newDocument = {});

} // namespace norv::script
