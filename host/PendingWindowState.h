#pragma once
// The window settings of a host window while it has no window yet, and the styles its
// window starts with when it is created from them.

#include <cstdint>
#include <string>

#include "host/WindowStyle.h"

namespace norv::host {

struct PendingWindowState {
    bool applicationWindow = true; // listed in the taskbar
    bool minimizeBox = true;
    bool maximizeBox = true;
    bool caption = true;
    bool alwaysOnTop = false;
    bool screenMode = false; // the window covers the whole screen
    bool toolWindow = false;
    std::int32_t clientWidth = -1; // -1: not set
    std::int32_t clientHeight = -1;
    FrameKind frameKind = FrameKind::notYet; // the last frame kind applied
    std::u16string captionText;

    // The styles of a window created now: a pop-up dialog with a system menu, a caption
    // and the boxes as asked, and the frame kind last applied (if any).
    WindowStyle initialStyle() const;
};

} // namespace norv::host
