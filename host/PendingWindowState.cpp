#include "host/PendingWindowState.h"

namespace norv::host {

namespace {
// Pop-up, system menu, centred, created even when a control fails, system font, 3-D look.
constexpr std::uint32_t kDialogStyle = 0x8008081C;
} // namespace

WindowStyle PendingWindowState::initialStyle() const {
    WindowStyle s{kDialogStyle, 0};
    if (caption)
        s.style |= ws::caption;
    if (minimizeBox)
        s.style |= ws::minimizeBox;
    if (maximizeBox)
        s.style |= ws::maximizeBox;
    if (toolWindow)
        s.exStyle |= wsEx::toolWindow;
    if (applicationWindow)
        s.exStyle |= wsEx::appWindow;
    if (alwaysOnTop)
        s.exStyle |= wsEx::topmost;
    // A frame kind applied before the window existed is the window's frame from the start,
    // so that what the pending state answered (resizable, say) stays true afterwards.
    // A caption taken away after the frame kind stays away (a sizing border alone).
    if (frameKind != FrameKind::notYet) {
        s = s.withFrameKind(static_cast<std::int32_t>(frameKind));
        if (!caption)
            s.style &= ~ws::caption;
    }
    return s;
}

} // namespace norv::host
