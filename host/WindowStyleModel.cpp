#include "host/WindowStyleModel.h"

#include "platform/com/Bstr.h"
#include "platform/com/Exceptions.h"

namespace norv::host {

using platform::gtk::FrameExtents;
using platform::gtk::Rect;
using namespace typelib;

void WindowStyleModel::attach(platform::gtk::WindowSystem& window) {
    window_ = &window;
    style_ = pending_.initialStyle();
    window.setTitle(com::utf16ToUtf8(pending_.captionText));
    window.applyLook(style_.look());
    auto area = window.monitorOfWindow();
    if (!area)
        return;
    if (pending_.screenMode) {
        window.setWindowRect(area->monitor);
        return;
    }
    Rect outer = window.windowRect();
    Rect client = window.clientRect();
    int width = pending_.clientWidth > 0 ? pending_.clientWidth : client.width();
    int height = pending_.clientHeight > 0 ? pending_.clientHeight : client.height();
    width += outer.width() - client.width();
    height += outer.height() - client.height();
    const Rect& work = area->workArea;
    window.setWindowRect(Rect::fromOriginSize(work.left + (work.width() - width) / 2,
                                              work.top + (work.height() - height) / 2, width,
                                              height));
}

void WindowStyleModel::detach() {
    window_ = nullptr;
}

platform::gtk::WindowSystem& WindowStyleModel::live() const {
    if (!window_)
        throw com::OleException(com::OLE_E_BLANK);
    return *window_;
}

void WindowStyleModel::writeStyle(const WindowStyle& next) {
    WindowStyle old = style_;
    if (next == old)
        return;
    style_ = next;
    window_->applyLook(next.look());
    if (isScreenMode())
        return;
    // Keep the client area in place: the outer rectangle moves by the change of the frame
    // on each side, and is pushed back on screen at the top and left.
    FrameExtents was = window_->frameExtentsFor(old.look());
    FrameExtents now = window_->frameExtentsFor(next.look());
    Rect current = window_->windowRect();
    Rect r{current.left - (now.left - was.left), current.top - (now.top - was.top),
           current.right + (now.right - was.right), current.bottom + (now.bottom - was.bottom)};
    if (r.top < 0)
        r = r.offsetBy(0, -r.top);
    if (r.left < 0)
        r = r.offsetBy(-r.left, 0);
    if (r != current)
        window_->setWindowRect(r);
}

void WindowStyleModel::setStyleBits(std::uint32_t bits, bool on) {
    writeStyle(on ? style_.changed(bits, 0) : style_.changed(0, bits));
}

void WindowStyleModel::setExStyleBits(std::uint32_t bits, bool on) {
    writeStyle(on ? style_.changed(0, 0, bits, 0) : style_.changed(0, 0, 0, bits));
}

void WindowStyleModel::applyFrameKind(std::int32_t kind) {
    if (window_) {
        writeStyle(style_.withFrameKind(kind));
        return;
    }
    if (kind < static_cast<std::int32_t>(FrameKind::sizable) ||
        kind > static_cast<std::int32_t>(FrameKind::modalFrame))
        throw com::OleException(com::E_INVALIDARG);
    auto frame = static_cast<FrameKind>(kind);
    if (pending_.frameKind == frame)
        return;
    pending_.frameKind = frame;
    pending_.caption = frame != FrameKind::none;
    pending_.minimizeBox = frame == FrameKind::sizable;
}

FrameKind WindowStyleModel::frameKind() const {
    return window_ ? style_.frameKind() : pending_.frameKind;
}

void WindowStyleModel::setCaption(bool on) {
    if (window_)
        setStyleBits(ws::caption, on);
    else
        pending_.caption = on;
}

bool WindowStyleModel::hasCaption() const {
    return window_ ? style_.hasCaption() : pending_.caption;
}

void WindowStyleModel::setMinimizeBox(bool on) {
    if (window_)
        setStyleBits(ws::minimizeBox, on);
    else
        pending_.minimizeBox = on;
}

bool WindowStyleModel::hasMinimizeBox() const {
    return window_ ? style_.has(ws::minimizeBox) : pending_.minimizeBox;
}

void WindowStyleModel::setMaximizeBox(bool on) {
    if (window_)
        setStyleBits(ws::maximizeBox, on);
    else
        pending_.maximizeBox = on;
}

bool WindowStyleModel::hasMaximizeBox() const {
    return window_ ? style_.has(ws::maximizeBox) : pending_.maximizeBox;
}

void WindowStyleModel::setApplicationWindow(bool on) {
    if (window_)
        setExStyleBits(wsEx::appWindow, on);
    else
        pending_.applicationWindow = on;
}

bool WindowStyleModel::isApplicationWindow() const {
    return window_ ? style_.hasEx(wsEx::appWindow) : pending_.applicationWindow;
}

void WindowStyleModel::setAlwaysOnTop(bool on) {
    if (!window_) {
        pending_.alwaysOnTop = on;
        return;
    }
    // Only the stacking changes: the frame, and so the client area, stays as it is.
    style_ = on ? style_.changed(0, 0, wsEx::topmost, 0) : style_.changed(0, 0, 0, wsEx::topmost);
    window_->applyLook(style_.look());
}

bool WindowStyleModel::isAlwaysOnTop() const {
    return window_ ? style_.hasEx(wsEx::topmost) : pending_.alwaysOnTop;
}

void WindowStyleModel::setToolWindow(bool on) {
    if (window_)
        setExStyleBits(wsEx::toolWindow, on);
    else
        pending_.toolWindow = on;
}

bool WindowStyleModel::isToolWindow() const {
    return window_ ? style_.hasEx(wsEx::toolWindow) : pending_.toolWindow;
}

void WindowStyleModel::setScreenMode(bool on) {
    if (!window_) {
        pending_.screenMode = on;
        return;
    }
    if (on) {
        auto area = window_->monitorOfWindow();
        if (!area || window_->windowRect() == area->monitor)
            return;
        window_->coverMonitor(area->monitor);
        return;
    }
    if (window_->windowRect() == window_->normalPlacement() || window_->isMinimized())
        return;
    window_->restore();
}

bool WindowStyleModel::isScreenMode() const {
    if (!window_)
        return pending_.screenMode;
    auto area = window_->monitorOfWindow();
    return area && window_->windowRect() == area->monitor;
}

void WindowStyleModel::setClientSize(int width, int height) {
    if (!window_) {
        pending_.clientWidth = width;
        pending_.clientHeight = height;
        return;
    }
    Rect outer = window_->windowRect();
    Rect client = window_->clientRect();
    window_->resizeWindow(width + outer.width() - client.width(),
                          height + outer.height() - client.height());
}

std::u16string WindowStyleModel::caption() const {
    return window_ ? com::utf8ToUtf16(window_->title()) : pending_.captionText;
}

void WindowStyleModel::setCaptionText(const std::u16string& text) {
    if (window_)
        window_->setTitle(com::utf16ToUtf8(text));
    else
        pending_.captionText = text;
}

void WindowStyleModel::setType(TaviWindowTypes type) {
    TaviWindowTypes previous = type;
    if (!hooks_.isLayoutPending()) {
        // Only leaving screen mode depends on it: a type that cannot be told is none.
        try {
            previous = getType();
        } catch (const com::FrameworkException&) {
            previous = wtUnknown;
        }
    }
    switch (type) {
    case wtNormal:
        applyFrameKind(getResizable() ? 1 : 4);
        setScreenMode(false);
        setToolWindow(false);
        break;
    case wtUtility:
        applyFrameKind(getResizable() ? 1 : 2);
        setToolWindow(true);
        setScreenMode(false);
        break;
    case wtCustom:
        if (getResizable()) {
            // A sizing border without a caption.
            applyFrameKind(1);
            setCaption(false);
        } else {
            applyFrameKind(3);
        }
        setScreenMode(false);
        setToolWindow(false);
        break;
    case wtScreen:
        setScreenMode(true);
        applyFrameKind(3);
        setToolWindow(false);
        break;
    default:
        throw com::OleException(com::E_INVALIDARG);
    }
    if (previous == wtScreen && type != wtScreen)
        hooks_.sizeToDeclaration();
}

TaviWindowTypes WindowStyleModel::getType() {
    switch (frameKind()) {
    case FrameKind::sizable:
        if (isToolWindow())
            return wtUtility;
        return hasCaption() ? wtNormal : wtCustom;
    case FrameKind::fixedCaption:
        if (isToolWindow())
            return wtUtility;
        break;
    case FrameKind::none:
        return isScreenMode() && !hasCaption() ? wtScreen : wtCustom;
    case FrameKind::modalFrame:
        return wtNormal;
    default:
        break;
    }
    throw com::OleException(com::E_FAIL);
}

void WindowStyleModel::setResizable(bool flag) {
    switch (getType()) {
    case wtNormal: {
        bool hadMinimizeBox = hasMinimizeBox();
        applyFrameKind(flag ? 1 : 4);
        if (!hadMinimizeBox)
            setMinimizeBox(false);
        break;
    }
    case wtUtility:
        applyFrameKind(flag ? 1 : 2);
        setToolWindow(true);
        break;
    case wtCustom: {
        if (!flag) {
            applyFrameKind(3);
            break;
        }
        bool hadMinimizeBox = hasMinimizeBox();
        applyFrameKind(1);
        setCaption(false);
        if (!hadMinimizeBox)
            setMinimizeBox(false);
        break;
    }
    case wtScreen:
        if (flag)
            throw com::DispatchException(u"Type of wtScreen can't be resizable.");
        break;
    default:
        throw com::OleException(com::E_FAIL);
    }
}

bool WindowStyleModel::getResizable() {
    return frameKind() == FrameKind::sizable;
}

} // namespace norv::host
