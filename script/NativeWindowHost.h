#pragma once
// NativeWindowHost: what the native window object (TaviWindow) forwards to, the host
// window it stands for. The host window implements it; its operations raise framework
// exceptions (the window's own messages as dispatch exceptions of code 1001), which the
// native window object turns into the script caller's HRESULT and error text.

#include <cstdint>

#include "platform/com/HResult.h"
#include "script/DisplayDesktop.h"
#include "typelib/NorvViewTypes.h"

namespace norv::script {

class EventTarget;

class NativeWindowHost {
public:
    // The listeners of the window's events ("moved", "resized").
    virtual EventTarget& windowEvents() = 0;
    // The X window; 0 while there is none.
    virtual NativeWindow nativeWindowId() = 0;

    virtual void setWindowType(typelib::TaviWindowTypes type) = 0;
    virtual typelib::TaviWindowTypes windowType() = 0;
    virtual void setApplicationWindow(bool flag) = 0;
    virtual bool isApplicationWindow() = 0;
    virtual void setMinimizeBox(bool flag) = 0;
    virtual bool hasMinimizeBox() = 0;
    virtual void setMaximizeBox(bool flag) = 0;
    virtual bool hasMaximizeBox() = 0;
    virtual void setWindowResizable(bool flag) = 0;
    virtual bool isWindowResizable() = 0;
    virtual void setAlwaysOnTop(bool flag) = 0;
    virtual bool isAlwaysOnTop() = 0;

    // The move and resize engine (see the host's window model).
    virtual void beginResizing(std::int32_t minWidth, std::int32_t minHeight, std::int32_t maxWidth,
                               std::int32_t maxHeight, std::int32_t gravity) = 0;
    virtual void abortResizing() = 0;
    virtual void beginMove() = 0;
    virtual void abortMove() = 0;
    virtual void resizeWindowBy(std::int32_t dx, std::int32_t dy) = 0;
    virtual void resizeWindowTo(std::int32_t width, std::int32_t height) = 0;
    virtual void moveWindowBy(std::int32_t dx, std::int32_t dy) = 0;
    virtual void moveWindowTo(std::int32_t x, std::int32_t y) = 0;
    // E_ACCESSDENIED for a window that is not an application window.
    virtual void minimizeWindow() = 0;
    virtual void maximizeWindow() = 0;
    // Asks the window to close, as its close box does.
    virtual void closeWindow() = 0;
    // Loads again the address that failed last, else the current one; with the splash
    // page shown meanwhile when `splash`.
    virtual void reloadPage(bool splash) = 0;

protected:
    ~NativeWindowHost() = default;
};

} // namespace norv::script
