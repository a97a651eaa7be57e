#include "platform/glib/LogindSession.h"

#include <gio/gio.h>

#include <cstdlib>
#include <optional>

#include <unistd.h>

namespace norv::platform::glib {

namespace {
constexpr const char* kService = "org.freedesktop.login1";
constexpr const char* kManagerPath = "/org/freedesktop/login1";
constexpr const char* kManager = "org.freedesktop.login1.Manager";
constexpr const char* kSession = "org.freedesktop.login1.Session";
constexpr const char* kProperties = "org.freedesktop.DBus.Properties";
constexpr int kCallTimeoutMs = 5000;
} // namespace

struct LogindSession::State {
    std::function<void(bool)> activeChanged;
    std::function<void()> watchingHandler;
    bool alive = true;
    GCancellable* cancellable = g_cancellable_new();
    GDBusConnection* connection = nullptr;
    std::string path;
    guint subscription = 0;
    bool watching = false;
    std::optional<bool> active;

    ~State() {
        if (connection)
            g_object_unref(connection);
        g_object_unref(cancellable);
    }
};

namespace {

using State = LogindSession::State;
using Holder = std::shared_ptr<State>;

// Heap copies of the state's owner for GLib callbacks; each is freed by its callback.
gpointer hold(const Holder& state) {
    return new Holder(state);
}
Holder take(gpointer data) {
    std::unique_ptr<Holder> holder(static_cast<Holder*>(data));
    return *holder;
}

void setActive(State& state, bool active, bool report) {
    if (state.active == active)
        return;
    state.active = active;
    if (report && state.alive && state.activeChanged) {
        g_debug("login session: %s active %d", state.path.c_str(), active);
        state.activeChanged(active);
    }
}

void readActive(const Holder& state, bool initial);

void onActiveRead(GObject* source, GAsyncResult* result, gpointer data, bool initial) {
    Holder state = take(data);
    GError* error = nullptr;
    GVariant* reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &error);
    if (!reply) {
        g_error_free(error);
        return;
    }
    GVariant* boxed = nullptr;
    g_variant_get(reply, "(v)", &boxed);
    if (state->alive && g_variant_is_of_type(boxed, G_VARIANT_TYPE_BOOLEAN)) {
        const bool active = g_variant_get_boolean(boxed);
        // The first answer only tells where the session stands; a change seen before it
        // has been reported already.
        if (!initial || !state->active)
            setActive(*state, active, !initial);
        if (initial && !state->watching) {
            state->watching = true;
            if (state->watchingHandler)
                state->watchingHandler();
        }
    }
    g_variant_unref(boxed);
    g_variant_unref(reply);
}

void readActive(const Holder& state, bool initial) {
    g_dbus_connection_call(
        state->connection, kService, state->path.c_str(), kProperties, "Get",
        g_variant_new("(ss)", kSession, "Active"), G_VARIANT_TYPE("(v)"), G_DBUS_CALL_FLAGS_NONE,
        kCallTimeoutMs, state->cancellable,
        initial ? +[](GObject* s, GAsyncResult* r, gpointer d) { onActiveRead(s, r, d, true); }
                : +[](GObject* s, GAsyncResult* r, gpointer d) { onActiveRead(s, r, d, false); },
        hold(state));
}

void onPropertiesChanged(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
                         GVariant* parameters, gpointer data) {
    const Holder& state = *static_cast<Holder*>(data);
    if (!state->alive || !g_variant_is_of_type(parameters, G_VARIANT_TYPE("(sa{sv}as)")))
        return;
    const gchar* interface = nullptr;
    GVariant* changed = nullptr;
    GVariant* invalidated = nullptr;
    g_variant_get(parameters, "(&s@a{sv}@as)", &interface, &changed, &invalidated);
    if (g_strcmp0(interface, kSession) == 0) {
        gboolean active = FALSE;
        if (g_variant_lookup(changed, "Active", "b", &active)) {
            setActive(*state, active, true);
        } else {
            gsize count = 0;
            const gchar** names = g_variant_get_strv(invalidated, &count);
            for (gsize i = 0; i < count; ++i)
                if (g_strcmp0(names[i], "Active") == 0)
                    readActive(state, false);
            g_free(names);
        }
    }
    g_variant_unref(changed);
    g_variant_unref(invalidated);
}

void watchSession(const Holder& state, const gchar* path) {
    state->path = path;
    state->subscription = g_dbus_connection_signal_subscribe(
        state->connection, kService, kProperties, "PropertiesChanged", path, kSession,
        G_DBUS_SIGNAL_FLAGS_NONE, onPropertiesChanged, hold(state),
        [](gpointer data) { delete static_cast<Holder*>(data); });
    // The match is in place before this call reaches logind: no change after the answer
    // is missed.
    readActive(state, true);
}

void onSessionByPid(GObject* source, GAsyncResult* result, gpointer data) {
    Holder state = take(data);
    GError* error = nullptr;
    GVariant* reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &error);
    if (!reply) {
        g_debug("login session: none: %s", error->message);
        g_error_free(error);
        return;
    }
    if (state->alive) {
        const gchar* path = nullptr;
        g_variant_get(reply, "(&o)", &path);
        watchSession(state, path);
    }
    g_variant_unref(reply);
}

void findSessionByPid(const Holder& state) {
    g_dbus_connection_call(state->connection, kService, kManagerPath, kManager, "GetSessionByPID",
                           g_variant_new("(u)", static_cast<guint32>(getpid())),
                           G_VARIANT_TYPE("(o)"), G_DBUS_CALL_FLAGS_NONE, kCallTimeoutMs,
                           state->cancellable, onSessionByPid, hold(state));
}

void onSessionById(GObject* source, GAsyncResult* result, gpointer data) {
    Holder state = take(data);
    GError* error = nullptr;
    GVariant* reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &error);
    if (!reply) {
        const bool cancelled = g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED);
        g_error_free(error);
        if (!cancelled && state->alive)
            findSessionByPid(state);
        return;
    }
    if (state->alive) {
        const gchar* path = nullptr;
        g_variant_get(reply, "(&o)", &path);
        watchSession(state, path);
    }
    g_variant_unref(reply);
}

void onBus(GObject*, GAsyncResult* result, gpointer data) {
    Holder state = take(data);
    GError* error = nullptr;
    GDBusConnection* connection = g_bus_get_finish(result, &error);
    if (!connection) {
        g_debug("login session: no system bus: %s", error->message);
        g_error_free(error);
        return;
    }
    if (!state->alive) {
        g_object_unref(connection);
        return;
    }
    state->connection = connection;
    const char* id = std::getenv("XDG_SESSION_ID");
    if (id && *id) {
        g_dbus_connection_call(state->connection, kService, kManagerPath, kManager, "GetSession",
                               g_variant_new("(s)", id), G_VARIANT_TYPE("(o)"),
                               G_DBUS_CALL_FLAGS_NONE, kCallTimeoutMs, state->cancellable,
                               onSessionById, hold(state));
    } else {
        findSessionByPid(state);
    }
}

} // namespace

LogindSession::LogindSession(std::function<void(bool active)> activeChanged)
    : state_(std::make_shared<State>()) {
    state_->activeChanged = std::move(activeChanged);
    g_bus_get(G_BUS_TYPE_SYSTEM, state_->cancellable, onBus, hold(state_));
}

LogindSession::~LogindSession() {
    state_->alive = false;
    state_->activeChanged = nullptr;
    state_->watchingHandler = nullptr;
    g_cancellable_cancel(state_->cancellable);
    if (state_->subscription)
        g_dbus_connection_signal_unsubscribe(state_->connection, state_->subscription);
}

bool LogindSession::watching() const {
    return state_->watching;
}

std::string LogindSession::sessionPath() const {
    return state_->path;
}

void LogindSession::setWatchingHandler(std::function<void()> handler) {
    state_->watchingHandler = std::move(handler);
}

} // namespace norv::platform::glib
