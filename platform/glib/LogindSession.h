#pragma once
// LogindSession: watches the program's own login session through systemd-logind on the
// system bus (the bus of DBUS_SYSTEM_BUS_ADDRESS when that is set) and reports each change
// of the session's Active property: false when the session loses its seat or its remote
// connection (another user's session is switched to, a remote client disconnects), true
// when it has it again. Locking and unlocking do not change Active and are not reported.
//
// The session is the one XDG_SESSION_ID names, else the one logind finds for the
// program's process (GetSessionByPID). Without a system bus, without logind or outside any
// session nothing is watched and nothing is reported, silently. Everything is
// asynchronous; the callback runs on the thread of the default main context, never after
// the object is destroyed. All calls on that thread.

#include <functional>
#include <memory>
#include <string>

namespace norv::platform::glib {

class LogindSession {
public:
    explicit LogindSession(std::function<void(bool active)> activeChanged);
    ~LogindSession();
    LogindSession(const LogindSession&) = delete;
    LogindSession& operator=(const LogindSession&) = delete;

    // Whether the session was found and its changes are watched.
    bool watching() const;
    // The session's object path; empty until found.
    std::string sessionPath() const;
    // Called once when the watch is in place (for diagnostics and tests).
    void setWatchingHandler(std::function<void()> handler);

    struct State;

private:
    std::shared_ptr<State> state_;
};

} // namespace norv::platform::glib
