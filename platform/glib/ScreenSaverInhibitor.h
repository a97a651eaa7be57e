#pragma once
// ScreenSaverInhibitor: idle inhibitions held through the desktop's
// org.freedesktop.ScreenSaver service on the session bus (KDE, Xfce, GNOME through its
// screen-saver proxy, and others): Inhibit(application, reason) gives a cookie that
// UnInhibit(cookie) returns.
//
// Everything is asynchronous, so the UI thread never waits for the bus or the service. A
// missing bus or service is not an error: the hold is then simply not there. A hold given
// up while its Inhibit call is still under way is returned as soon as its cookie arrives.
// All calls on the thread that runs the default main context.

#include <chrono>
#include <memory>
#include <string>

namespace norv::platform::glib {

class ScreenSaverInhibitor {
public:
    struct Shared;
    struct Request;

    // One inhibition; released when the hold is destroyed.
    class Hold {
    public:
        explicit Hold(std::shared_ptr<Request> request) : request_(std::move(request)) {}
        ~Hold();
        Hold(const Hold&) = delete;
        Hold& operator=(const Hold&) = delete;

    private:
        std::shared_ptr<Request> request_;
    };

    // `application` is the name the service shows for the inhibitions.
    explicit ScreenSaverInhibitor(std::string application);
    // Releases every hold still held (see releaseAll).
    ~ScreenSaverInhibitor();
    ScreenSaverInhibitor(const ScreenSaverInhibitor&) = delete;
    ScreenSaverInhibitor& operator=(const ScreenSaverInhibitor&) = delete;

    // Asks for an inhibition with `reason`.
    std::unique_ptr<Hold> inhibit(const std::string& reason);

    // Before the program exits: returns every cookie still held, waiting at most `bound`
    // for each reply and for the messages to be written, and takes no new holds. A hold
    // whose Inhibit is still under way is ended by the bus when the program's connection
    // closes.
    void releaseAll(std::chrono::milliseconds bound = std::chrono::milliseconds(1000));

private:
    std::shared_ptr<Shared> shared_;
};

} // namespace norv::platform::glib
