#include "platform/gtk/MessageLoop.h"

#include <glib.h>

#include <vector>

#include "platform/glib/Owned.h"

namespace norv::platform::gtk {

namespace {

struct State {
    std::vector<GMainLoop*> running; // innermost last
    bool quitPending = false;
    int quitCode = 0;
};

State& state() {
    static State s;
    return s;
}

} // namespace

int MessageLoop::run() {
    State& s = state();
    if (!s.quitPending) {
        glib::OwnedMainLoop loop(g_main_loop_new(nullptr, FALSE));
        s.running.push_back(loop.get());
        g_main_loop_run(loop.get());
        s.running.pop_back();
    }
    s.quitPending = false;
    return s.quitCode;
}

void MessageLoop::postQuit(int code) {
    State& s = state();
    s.quitCode = code;
    s.quitPending = true;
    if (!s.running.empty())
        g_main_loop_quit(s.running.back());
}

int MessageLoop::lastQuitCode() {
    return state().quitCode;
}

bool MessageLoop::isRunning() {
    return !state().running.empty();
}

} // namespace norv::platform::gtk
