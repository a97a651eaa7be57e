#pragma once
// SessionWatcher: the host window's session notifications. When the user's session is
// disconnected (systemd-logind: the program's session is no longer Active, because another
// session took the seat or the remote connection went) it reports "mute"; when it is
// connected again, "unmute". Locking and unlocking the session report nothing. Without a
// system bus or logind there are no notifications, silently.
//
// The host runs the mute script on each report (muteForSession with its page). UI thread.

#include <functional>

#include "platform/glib/LogindSession.h"

namespace norv::host {

class SessionWatcher {
public:
    // `notify(true)` on a disconnect, `notify(false)` on a connect; never after destruction.
    explicit SessionWatcher(std::function<void(bool mute)> notify);

    // Whether the session is found and watched.
    bool available() const { return session_.watching(); }
    // Called once the watch is in place (diagnostics and tests).
    void setAvailableHandler(std::function<void()> handler) {
        session_.setWatchingHandler(std::move(handler));
    }

private:
    platform::glib::LogindSession session_;
};

} // namespace norv::host
