#pragma once
// Test support: the X server's screen saver as a user's screen shows it (the
// MIT-SCREEN-SAVER extension): time since the last input, whether it is on, its timeout.
// Programs using it link Xss.

#include <X11/Xlib.h>
#include <X11/extensions/scrnsaver.h>

#include <string>

namespace norv::test {

class ScreenSaverState {
public:
    explicit ScreenSaverState(const std::string& display)
        : display_(XOpenDisplay(display.c_str())), info_(XScreenSaverAllocInfo()) {}
    ~ScreenSaverState() {
        XFree(info_);
        if (display_)
            XCloseDisplay(display_);
    }
    ScreenSaverState(const ScreenSaverState&) = delete;
    ScreenSaverState& operator=(const ScreenSaverState&) = delete;

    bool query() {
        return display_ && XScreenSaverQueryInfo(display_, DefaultRootWindow(display_), info_);
    }
    // Milliseconds since the last input (or reset).
    unsigned long idle() { return query() ? info_->idle : 0; }
    bool on() { return query() && info_->state == ScreenSaverOn; }
    int timeout() {
        int timeout = 0, interval = 0, blanking = 0, exposures = 0;
        XGetScreenSaver(display_, &timeout, &interval, &blanking, &exposures);
        return timeout;
    }

private:
    Display* display_;
    XScreenSaverInfo* info_;
};

} // namespace norv::test
