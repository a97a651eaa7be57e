#include "script/TaviWindow.h"

#include "platform/com/Exceptions.h"
#include "script/EventTarget.h"

namespace norv::script {

using com::HRESULT;
using com::VARIANT_BOOL;
using typelib::ITaviWindow;
using typelib::TaviWindowTypes;

namespace {

bool isTrue(VARIANT_BOOL value) {
    return value == com::VARIANT_TRUE;
}

VARIANT_BOOL toBool(bool value) {
    return value ? com::VARIANT_TRUE : com::VARIANT_FALSE;
}

} // namespace

TaviWindow::TaviWindow(NativeWindowHost& host) : host_(&host) {}

void TaviWindow::detach() {
    std::lock_guard lock(lock_);
    host_ = nullptr;
}

bool TaviWindow::isAttached() {
    std::lock_guard lock(lock_);
    return host_ != nullptr;
}

template <class Body>
HRESULT TaviWindow::forward(Body&& body) {
    NativeWindowHost* host = nullptr;
    {
        // A barrier only: the host's operations run page script (listeners, nested loops).
        std::lock_guard lock(lock_);
        host = host_;
    }
    if (!host)
        return com::E_FAIL;
    return com::guard(ITaviWindow::iid, [&]() -> HRESULT {
        body(*host);
        return com::S_OK;
    });
}

template <class Body>
HRESULT TaviWindow::getFlag(VARIANT_BOOL* out, Body&& body) {
    if (!out)
        return com::E_POINTER;
    return forward([&](NativeWindowHost& host) { *out = toBool(body(host)); });
}

HRESULT TaviWindow::addEventListener(const com::Bstr& type, com::IDispatch* listener,
                                     VARIANT_BOOL useCapture) {
    HRESULT result = com::S_OK;
    HRESULT hr = forward([&](NativeWindowHost& host) {
        result = host.windowEvents().addEventListener(type, listener, useCapture);
    });
    return com::failed(hr) ? hr : result;
}

HRESULT TaviWindow::removeEventListener(const com::Bstr& type, com::IDispatch* listener,
                                        VARIANT_BOOL useCapture) {
    HRESULT result = com::S_OK;
    HRESULT hr = forward([&](NativeWindowHost& host) {
        result = host.windowEvents().removeEventListener(type, listener, useCapture);
    });
    return com::failed(hr) ? hr : result;
}

HRESULT TaviWindow::setType(TaviWindowTypes type) {
    return forward([&](NativeWindowHost& host) { host.setWindowType(type); });
}

HRESULT TaviWindow::getType(TaviWindowTypes* pVal) {
    if (!pVal)
        return com::E_POINTER;
    return forward([&](NativeWindowHost& host) { *pVal = host.windowType(); });
}

HRESULT TaviWindow::setApplicationWindow(VARIANT_BOOL newVal) {
    return forward([&](NativeWindowHost& host) { host.setApplicationWindow(isTrue(newVal)); });
}

HRESULT TaviWindow::getApplicationWindow(VARIANT_BOOL* pVal) {
    return getFlag(pVal, [](NativeWindowHost& host) { return host.isApplicationWindow(); });
}

HRESULT TaviWindow::setMinimizedBox(VARIANT_BOOL newVal) {
    return forward([&](NativeWindowHost& host) { host.setMinimizeBox(isTrue(newVal)); });
}

HRESULT TaviWindow::getMinimizedBox(VARIANT_BOOL* pVal) {
    return getFlag(pVal, [](NativeWindowHost& host) { return host.hasMinimizeBox(); });
}

HRESULT TaviWindow::setMaximizedBox(VARIANT_BOOL newVal) {
    return forward([&](NativeWindowHost& host) { host.setMaximizeBox(isTrue(newVal)); });
}

HRESULT TaviWindow::getMaximizedBox(VARIANT_BOOL* pVal) {
    return getFlag(pVal, [](NativeWindowHost& host) { return host.hasMaximizeBox(); });
}

HRESULT TaviWindow::setResizable(VARIANT_BOOL newVal) {
    return forward([&](NativeWindowHost& host) { host.setWindowResizable(isTrue(newVal)); });
}

HRESULT TaviWindow::getResizable(VARIANT_BOOL* pVal) {
    return getFlag(pVal, [](NativeWindowHost& host) { return host.isWindowResizable(); });
}

HRESULT TaviWindow::setAlwaysOnTop(VARIANT_BOOL newVal) {
    return forward([&](NativeWindowHost& host) { host.setAlwaysOnTop(isTrue(newVal)); });
}

HRESULT TaviWindow::getAlwaysOnTop(VARIANT_BOOL* pVal) {
    return getFlag(pVal, [](NativeWindowHost& host) { return host.isAlwaysOnTop(); });
}

HRESULT TaviWindow::beginResizing(std::int32_t minWidth, std::int32_t minHeigth,
                                  std::int32_t maxWidth, std::int32_t maxHeigth,
                                  std::int32_t gravity) {
    return forward([&](NativeWindowHost& host) {
        host.beginResizing(minWidth, minHeigth, maxWidth, maxHeigth, gravity);
    });
}

HRESULT TaviWindow::abortResizing() {
    return forward([](NativeWindowHost& host) { host.abortResizing(); });
}

HRESULT TaviWindow::beginMove() {
    return forward([](NativeWindowHost& host) { host.beginMove(); });
}

HRESULT TaviWindow::abortMove() {
    return forward([](NativeWindowHost& host) { host.abortMove(); });
}

HRESULT TaviWindow::resizeBy(std::int32_t x, std::int32_t y) {
    return forward([&](NativeWindowHost& host) { host.resizeWindowBy(x, y); });
}

HRESULT TaviWindow::resizeTo(std::int32_t x, std::int32_t y) {
    return forward([&](NativeWindowHost& host) { host.resizeWindowTo(x, y); });
}

HRESULT TaviWindow::moveBy(std::int32_t x, std::int32_t y) {
    return forward([&](NativeWindowHost& host) { host.moveWindowBy(x, y); });
}

HRESULT TaviWindow::moveTo(std::int32_t x, std::int32_t y) {
    return forward([&](NativeWindowHost& host) { host.moveWindowTo(x, y); });
}

HRESULT TaviWindow::minimize() {
    return forward([](NativeWindowHost& host) { host.minimizeWindow(); });
}

HRESULT TaviWindow::maximize() {
    return forward([](NativeWindowHost& host) { host.maximizeWindow(); });
}

HRESULT TaviWindow::close() {
    return forward([](NativeWindowHost& host) { host.closeWindow(); });
}

HRESULT TaviWindow::reload(VARIANT_BOOL useSplashScreen) {
    return forward([&](NativeWindowHost& host) { host.reloadPage(isTrue(useSplashScreen)); });
}

HRESULT TaviWindow::get_nativeWindow(NativeWindow* out) {
    if (!out)
        return com::E_POINTER;
    *out = 0;
    NativeWindowHost* host = nullptr;
    {
        std::lock_guard lock(lock_);
        host = host_;
    }
    if (host)
        *out = host->nativeWindowId();
    return com::S_OK;
}

} // namespace norv::script
