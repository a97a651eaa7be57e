#pragma once
// ScreenSaverInhibitor: idle inhibitions held through the desktop's
// org.freedesktop.ScreenSaver service on the session bus (KDE, Xfce, GNOME through its
// screen-saver proxy, and others): Inhibit(application, reason) gives a cookie that
// UnInhibit(cookie) returns.
//
// The bus is reached asynchronously from construction on, so the UI thread never waits for
// it; once connected,
// Inhibit waits for its cookie at most half a second (a service that lets it wait longer is
// not asked again), so that every hold taken can be given back, even just before the
// program exits. A missing bus or service is not an error: the hold is then simply not
// there. A hold asked for while the bus is still being reached is taken once it is.
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
    // for each reply and for the messages to be written, and takes no new holds.
    void releaseAll(std::chrono::milliseconds bound = std::chrono::milliseconds(1000));

private:
    std::shared_ptr<Shared> shared_;
};

} // namespace norv::platform::glib
