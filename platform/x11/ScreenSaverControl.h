#pragma once
// ScreenSaverControl: the X server's screen saver (XGetScreenSaver/XSetScreenSaver) and
// display power management (DPMS) settings, and the reset of the server's idle countdown
// (XResetScreenSaver), which counts as user input for the screen saver, DPMS and the
// desktop's own idle monitors that watch the server's idle time.
//
// Rewriting a time-out writes 0 and then exactly the settings just read, so the user's
// settings are what they were once the call returns.

#include <optional>

#include "platform/x11/X11Connection.h"

namespace norv::platform::x11 {

class ScreenSaverControl {
public:
    explicit ScreenSaverControl(X11Connection& connection) : connection_(connection) {}

    // The screen saver's time-out in seconds (0: off); nullopt without a connection.
    std::optional<unsigned> screenSaverTimeout();
    // Writes the time-out 0 and then the current settings again; false when writing them
    // back failed. Nothing is written while the time-out is 0.
    bool rewriteScreenSaverTimeout();

    // The time until the display first leaves the "on" state (the smallest non-zero DPMS
    // time-out), in seconds; 0 when DPMS is off or has no time-out; nullopt when the
    // server offers no DPMS.
    std::optional<unsigned> powerOffTimeout();
    // As rewriteScreenSaverTimeout, for the three DPMS time-outs.
    bool rewritePowerOffTimeouts();

    // Restarts the server's idle countdown.
    void resetIdle();

private:
    X11Connection& connection_;
};

} // namespace norv::platform::x11
