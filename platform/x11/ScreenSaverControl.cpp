#include "platform/x11/ScreenSaverControl.h"

#include <X11/Xlib.h>
#include <X11/extensions/dpms.h>

#include <algorithm>

namespace norv::platform::x11 {

namespace {

struct DpmsTimeouts {
    CARD16 standby = 0;
    CARD16 suspend = 0;
    CARD16 off = 0;
};

bool hasDpms(Display* display) {
    int event = 0;
    int error = 0;
    return DPMSQueryExtension(display, &event, &error) && DPMSCapable(display);
}

} // namespace

std::optional<unsigned> ScreenSaverControl::screenSaverTimeout() {
    Display* display = connection_.display();
    if (!display)
        return std::nullopt;
    int timeout = 0, interval = 0, blanking = 0, exposures = 0;
    XGetScreenSaver(display, &timeout, &interval, &blanking, &exposures);
    return static_cast<unsigned>(std::max(timeout, 0));
}

bool ScreenSaverControl::rewriteScreenSaverTimeout() {
    Display* display = connection_.display();
    if (!display)
        return false;
    X11ErrorTrap trap(display);
    int timeout = 0, interval = 0, blanking = 0, exposures = 0;
    XGetScreenSaver(display, &timeout, &interval, &blanking, &exposures);
    if (timeout <= 0)
        return true;
    XSetScreenSaver(display, 0, interval, blanking, exposures);
    trap.sync(); // a failure of the intermediate write changes nothing
    XSetScreenSaver(display, timeout, interval, blanking, exposures);
    return trap.sync() == 0;
}

std::optional<unsigned> ScreenSaverControl::powerOffTimeout() {
    Display* display = connection_.display();
    if (!display || !hasDpms(display))
        return std::nullopt;
    CARD16 level = 0;
    BOOL enabled = False;
    if (!DPMSInfo(display, &level, &enabled))
        return std::nullopt;
    if (!enabled)
        return 0u;
    DpmsTimeouts t;
    if (!DPMSGetTimeouts(display, &t.standby, &t.suspend, &t.off))
        return std::nullopt;
    unsigned first = 0;
    for (CARD16 value : {t.standby, t.suspend, t.off})
        if (value != 0 && (first == 0 || value < first))
            first = value;
    return first;
}

bool ScreenSaverControl::rewritePowerOffTimeouts() {
    Display* display = connection_.display();
    if (!display || !hasDpms(display))
        return false;
    X11ErrorTrap trap(display);
    DpmsTimeouts t;
    if (!DPMSGetTimeouts(display, &t.standby, &t.suspend, &t.off))
        return false;
    if (t.standby == 0 && t.suspend == 0 && t.off == 0)
        return true;
    DPMSSetTimeouts(display, 0, 0, 0);
    trap.sync();
    DPMSSetTimeouts(display, t.standby, t.suspend, t.off);
    return trap.sync() == 0;
}

void ScreenSaverControl::resetIdle() {
    if (Display* display = connection_.display()) {
        XResetScreenSaver(display);
        XFlush(display);
    }
}

} // namespace norv::platform::x11
