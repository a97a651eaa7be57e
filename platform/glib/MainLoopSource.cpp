#include "platform/glib/MainLoopSource.h"

#include <glib-unix.h>
#include <glib.h>

#include <utility>

namespace norv::platform::glib {

// The state lives as long as the source or the owning object, whichever lasts longer: the
// source holds a reference through its user data, released by GLib when the source goes.
struct MainLoopSource::State {
    Callback callback;
    guint id = 0;

    using Holder = std::shared_ptr<State>;

    static gboolean dispatch(gpointer data) {
        // Keep the state alive across the call: the callback may drop its owner.
        Holder state = *static_cast<Holder*>(data);
        if (state->id == 0 || !state->callback)
            return G_SOURCE_REMOVE;
        if (state->callback())
            return G_SOURCE_CONTINUE;
        state->id = 0;
        return G_SOURCE_REMOVE;
    }
    static gboolean dispatchFd(gint, GIOCondition, gpointer data) { return dispatch(data); }
    static void destroyHolder(gpointer data) { delete static_cast<Holder*>(data); }
};

MainLoopSource::~MainLoopSource() {
    reset();
}

MainLoopSource::MainLoopSource(MainLoopSource&& other) noexcept
    : state_(std::exchange(other.state_, nullptr)) {}

MainLoopSource& MainLoopSource::operator=(MainLoopSource&& other) noexcept {
    if (this != &other) {
        reset();
        state_ = std::exchange(other.state_, nullptr);
    }
    return *this;
}

MainLoopSource MainLoopSource::timeout(std::chrono::milliseconds interval, Callback callback) {
    auto state = std::make_shared<State>();
    state->callback = std::move(callback);
    const auto ms = interval.count() < 0 ? 0 : interval.count();
    state->id = g_timeout_add_full(G_PRIORITY_DEFAULT, static_cast<guint>(ms), State::dispatch,
                                   new std::shared_ptr<State>(state), State::destroyHolder);
    return MainLoopSource(std::move(state));
}

MainLoopSource MainLoopSource::idle(Callback callback) {
    auto state = std::make_shared<State>();
    state->callback = std::move(callback);
    state->id = g_idle_add_full(G_PRIORITY_DEFAULT_IDLE, State::dispatch,
                                new std::shared_ptr<State>(state), State::destroyHolder);
    return MainLoopSource(std::move(state));
}

MainLoopSource MainLoopSource::readable(int fd, Callback callback) {
    auto state = std::make_shared<State>();
    state->callback = std::move(callback);
    state->id = g_unix_fd_add_full(
        G_PRIORITY_DEFAULT, fd, static_cast<GIOCondition>(G_IO_IN | G_IO_HUP | G_IO_ERR),
        State::dispatchFd, new std::shared_ptr<State>(state), State::destroyHolder);
    return MainLoopSource(std::move(state));
}

bool MainLoopSource::active() const {
    return state_ && state_->id != 0;
}

void MainLoopSource::reset() {
    if (!state_)
        return;
    if (guint id = std::exchange(state_->id, 0))
        g_source_remove(id);
    state_.reset();
}

} // namespace norv::platform::glib
