#pragma once
// The frame a window manager draws around a top-level window, as it publishes it in the
// window's _NET_FRAME_EXTENTS property, and the request that makes it publish the frame it
// would draw around a window that is not mapped yet (_NET_REQUEST_FRAME_EXTENTS).

#include <chrono>
#include <optional>
#include <vector>

typedef struct _XDisplay Display;

namespace norv::platform::x11 {

// Widths in pixels of the frame on each side of the client area.
struct FrameExtents {
    long left = 0;
    long right = 0;
    long top = 0;
    long bottom = 0;
    friend bool operator==(const FrameExtents&, const FrameExtents&) = default;
};

// The window's _NET_FRAME_EXTENTS; nothing when the property is absent or malformed.
std::optional<FrameExtents> readFrameExtents(Display* display, unsigned long window);

// Asks the window manager to publish the extents it would give `window` (an unmapped
// top-level window) as it is now; the answer arrives as a change of the property.
void requestFrameExtents(Display* display, unsigned long window);

// The decorations and functions of a window as _MOTIF_WM_HINTS gives them.
struct MotifHints {
    long functions = 0;
    long decorations = 0;
};

// Which frame the window manager draws around a window of each of `kinds`: asks it about
// unmapped windows of those kinds on a connection of its own to `displayName`, and waits
// for the answers at most `timeout`. A kind it did not answer for (or a manager that does
// not take the request) is left without extents.
std::vector<std::optional<FrameExtents>> probeFrameExtents(const char* displayName,
                                                           const std::vector<MotifHints>& kinds,
                                                           std::chrono::milliseconds timeout);

} // namespace norv::platform::x11
