#pragma once
// X11Connection: a connection of the program's own to the X server, beside the one GDK
// keeps, for what the toolkit does not offer (the server's screen saver and DPMS settings,
// the window manager's idea of the active window). Server-wide settings and window ids are
// the same on every connection.
//
// X11ErrorTrap: while one lives, protocol errors of that connection are recorded instead
// of going to the process's error handler (GDK's, which would end the program); errors of
// other connections still go there.

#include <string>

typedef struct _XDisplay Display;

namespace norv::platform::x11 {

using XWindow = unsigned long;

class X11Connection {
public:
    // Opens `displayName`, or $DISPLAY when it is empty; see isOpen.
    explicit X11Connection(const std::string& displayName = {});
    ~X11Connection();
    X11Connection(const X11Connection&) = delete;
    X11Connection& operator=(const X11Connection&) = delete;

    bool isOpen() const { return display_ != nullptr; }
    Display* display() const { return display_; }
    // The socket, for a main-loop watch; -1 when not open.
    int fd() const;
    XWindow root() const;
    // Sends what is buffered.
    void flush();

private:
    Display* display_ = nullptr;
};

class X11ErrorTrap {
public:
    explicit X11ErrorTrap(Display* display);
    ~X11ErrorTrap();
    X11ErrorTrap(const X11ErrorTrap&) = delete;
    X11ErrorTrap& operator=(const X11ErrorTrap&) = delete;

    // Waits until the server has handled every request sent so far; returns the code of
    // the first error seen since the trap was set or last synced (0: none).
    int sync();

    // For the process-wide handler: the connection, the enclosing trap, and the handler
    // that was in place before this trap.
    Display* display() const { return display_; }
    X11ErrorTrap* outer() const { return outer_; }
    void* previousHandler() const { return previousHandler_; }
    void record(int code) {
        if (error_ == 0)
            error_ = code;
    }

private:
    Display* display_;
    X11ErrorTrap* outer_;
    void* previousHandler_;
    int error_ = 0;
};

} // namespace norv::platform::x11
