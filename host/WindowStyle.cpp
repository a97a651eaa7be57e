#include "host/WindowStyle.h"

#include "platform/com/Exceptions.h"

namespace norv::host {

FrameKind WindowStyle::frameKind() const {
    if (style & ws::modalFrame)
        return FrameKind::modalFrame;
    if (style & ws::thickFrame)
        return FrameKind::sizable;
    if (hasCaption())
        return FrameKind::fixedCaption;
    return FrameKind::none;
}

WindowStyle WindowStyle::withFrameKind(std::int32_t kind) const {
    switch (static_cast<FrameKind>(kind)) {
    case FrameKind::modalFrame:
        return changed(ws::caption | ws::modalFrame, ws::thickFrame);
    case FrameKind::sizable:
        return changed(ws::caption | ws::thickFrame, ws::modalFrame, wsEx::windowEdge);
    case FrameKind::fixedCaption:
        return changed(ws::caption, ws::thickFrame | ws::modalFrame);
    case FrameKind::none:
        return changed(ws::popup, ws::caption | ws::thickFrame | ws::modalFrame, 0,
                       wsEx::dialogModalFrame);
    default:
        throw com::OleException(com::E_INVALIDARG);
    }
}

WindowStyle WindowStyle::changed(std::uint32_t add, std::uint32_t remove, std::uint32_t addEx,
                                 std::uint32_t removeEx) const {
    return {add | (style & ~remove), addEx | (exStyle & ~removeEx)};
}

platform::gtk::WindowLook WindowStyle::look() const {
    platform::gtk::WindowLook look;
    look.titled = hasCaption();
    look.sizable = (style & ws::thickFrame) != 0;
    look.bordered = look.titled || look.sizable || (style & (ws::modalFrame | ws::border)) != 0;
    look.minimizeBox = (style & ws::minimizeBox) != 0;
    look.maximizeBox = (style & ws::maximizeBox) != 0;
    look.toolWindow = (exStyle & wsEx::toolWindow) != 0;
    look.taskbar = (exStyle & wsEx::appWindow) != 0;
    look.keepAbove = (exStyle & wsEx::topmost) != 0;
    return look;
}

} // namespace norv::host
