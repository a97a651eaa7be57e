#pragma once
// Where a top-level window's client area is, as far as the program can tell while the
// window manager places the window asynchronously.
//
// A placement the program asks for is the answer at once. It is sent to the window
// manager later (several placements asked for in a row become one request), and stays the
// answer until the window manager reports it done. Reports keep arriving that describe
// earlier states: the answers to earlier requests, and what the window manager did for
// other reasons before it got to the request (a new frame, say). A report equal to a
// request still waiting answers that request and every one sent before it; only reports
// equal to none of them count against the requests, and after a few of those in a row the
// window manager has decided otherwise and its word is final. A window that is not mapped
// is not placed by the window manager yet: its requests wait for the mapping.
//
// Some reports tell the size alone (the position in them is relative to a frame that may
// not be in place yet); they never confirm a request, only a size equal to none of them
// counts against them.

#include <deque>
#include <optional>

#include "platform/gtk/WindowSystem.h"

namespace norv::platform::gtk {

class PlacementTracker {
public:
    // A placement to send: where the client area goes, and whether it moves and is sized.
    struct Request {
        Rect client;
        bool move = false;
        bool size = false;
    };

    // Where the window was reported first.
    explicit PlacementTracker(const Rect& actual = {}) : actual_(actual) {}

    // The program asks for `client`; the parts not moved or sized are taken from it too.
    void want(const Rect& client, bool move, bool size);
    // The placement to send now, once; it then waits for the window manager's report.
    std::optional<Request> takeUnsent();
    // The window manager was asked to make `client` itself (to maximise the window, say).
    void expect(const Rect& client);
    // What the window manager reported; `positionKnown` false when only the size is.
    void report(const Rect& client, bool positionKnown, bool mapped);

    // The client area: the last placement asked for until it is reported done or refused.
    Rect answer() const;
    // The client area as last reported.
    const Rect& actual() const { return actual_; }
    // Whether something asked for is still waiting for the window manager.
    bool waiting() const { return unsent_.has_value() || !sent_.empty(); }

private:
    static constexpr int kMaxMisses = 3;
    // Requests kept waiting at most; older ones are taken as answered.
    static constexpr std::size_t kMaxWaiting = 64;

    std::optional<Request> unsent_;
    std::deque<Rect> sent_; // oldest first
    Rect actual_;
    int misses_ = 0;
};

} // namespace norv::platform::gtk
