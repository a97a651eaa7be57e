#pragma once
// The hidden window that owns the host windows of one `run`: it lies off-screen with no
// size, carries the caption and the program's icon, and answers a request to close (or the
// end of the session) by closing the host windows it owns, never itself.

#include <string>

namespace norv::app {

class OwnerWindow {
public:
    virtual ~OwnerWindow() = default; // destroys the window
    virtual void setTitle(const std::u16string& title) = 0;
    // Sets icon `id` of the program as the big and the small icon; false when it does not
    // load.
    virtual bool setIcon(unsigned id) = 0;
    // Shows the window without activating it.
    virtual void showNoActivate() = 0;
};

} // namespace norv::app
