#pragma once
// TaviWindow: the script's handle on its host window (ITaviWindow), what
// tavi.nativeWindow() and window.getAttributes() return. Every member forwards to the host
// window (NativeWindowHost) and holds no window state of its own; its listeners are the
// host window's. A failure reaches script as an HRESULT with the message as its error
// text: the host's own messages (code 1001) as E_FAIL.
//
// The host window detaches the object before it goes away; from then on every member
// answers E_FAIL, so a script that kept the object after its window closed reaches
// nothing. The object also tells which X window it stands for (INativeWindowHandle), for
// the display service.
//
// UI thread only.

#include <mutex>

#include "platform/com/DispatchObject.h"
#include "script/NativeWindowHandle.h"
#include "script/NativeWindowHost.h"
#include "typelib/ShellInterfaces.h"

namespace norv::script {

class TaviWindow final : public com::ComObject<TaviWindow, com::DispatchImpl<typelib::ITaviWindow>,
                                               INativeWindowHandle> {
public:
    // `host` (not owned) must call detach() before it goes away.
    explicit TaviWindow(NativeWindowHost& host);

    void detach();
    bool isAttached();

    // IEventTarget
    com::HRESULT addEventListener(const com::Bstr& type, com::IDispatch* listener,
                                  com::VARIANT_BOOL useCapture) override;
    com::HRESULT removeEventListener(const com::Bstr& type, com::IDispatch* listener,
                                     com::VARIANT_BOOL useCapture) override;

    // ITaviWindow
    com::HRESULT setType(typelib::TaviWindowTypes type) override;
    com::HRESULT getType(typelib::TaviWindowTypes* pVal) override;
    com::HRESULT setApplicationWindow(com::VARIANT_BOOL newVal) override;
    com::HRESULT getApplicationWindow(com::VARIANT_BOOL* pVal) override;
    com::HRESULT setMinimizedBox(com::VARIANT_BOOL newVal) override;
    com::HRESULT getMinimizedBox(com::VARIANT_BOOL* pVal) override;
    com::HRESULT setMaximizedBox(com::VARIANT_BOOL newVal) override;
    com::HRESULT getMaximizedBox(com::VARIANT_BOOL* pVal) override;
    com::HRESULT setResizable(com::VARIANT_BOOL newVal) override;
    com::HRESULT getResizable(com::VARIANT_BOOL* pVal) override;
    com::HRESULT setAlwaysOnTop(com::VARIANT_BOOL newVal) override;
    com::HRESULT getAlwaysOnTop(com::VARIANT_BOOL* pVal) override;
    com::HRESULT beginResizing(std::int32_t minWidth, std::int32_t minHeigth, std::int32_t maxWidth,
                               std::int32_t maxHeigth, std::int32_t gravity) override;
    com::HRESULT abortResizing() override;
    com::HRESULT beginMove() override;
    com::HRESULT abortMove() override;
    com::HRESULT resizeBy(std::int32_t x, std::int32_t y) override;
    com::HRESULT resizeTo(std::int32_t x, std::int32_t y) override;
    com::HRESULT moveBy(std::int32_t x, std::int32_t y) override;
    com::HRESULT moveTo(std::int32_t x, std::int32_t y) override;
    com::HRESULT minimize() override;
    com::HRESULT maximize() override;
    com::HRESULT close() override;
    com::HRESULT reload(com::VARIANT_BOOL useSplashScreen) override;

    // INativeWindowHandle
    com::HRESULT get_nativeWindow(NativeWindow* out) override;

private:
    // Runs `body(host)` under the entry-point guard; E_FAIL once detached.
    template <class Body>
    com::HRESULT forward(Body&& body);
    template <class Body>
    com::HRESULT getFlag(com::VARIANT_BOOL* out, Body&& body);

    std::recursive_mutex lock_;
    NativeWindowHost* host_;
};

} // namespace norv::script
