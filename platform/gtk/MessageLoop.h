#pragma once
// The UI thread's message loop over the GLib main context: `run` returns when the quit
// message arrives. A quit posted while no loop runs ends the next one at once, as a quit
// message waiting in the thread's queue would.

namespace norv::platform::gtk {

class MessageLoop {
public:
    // Runs a (possibly nested) loop until the quit message; returns its code.
    static int run();
    // Posts the quit message with `code` to the innermost running loop.
    static void postQuit(int code);
    // The code of the last quit message; 0 before any.
    static int lastQuitCode();
    // Whether a loop runs now.
    static bool isRunning();
};

} // namespace norv::platform::gtk
