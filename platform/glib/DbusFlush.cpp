#include "platform/glib/DbusFlush.h"

#include <gio/gio.h>

#include <memory>

namespace norv::platform::glib {

namespace {
struct FlushState {
    bool done = false;
    bool ok = false;
};
} // namespace

bool flushDbusConnection(GDBusConnection* connection, std::chrono::milliseconds bound) {
    if (connection == nullptr || g_dbus_connection_is_closed(connection))
        return false;
    // A context of its own, so that waiting here dispatches nothing but the flush and the
    // deadline. The state outlives this call if the flush finishes after the deadline.
    GMainContext* context = g_main_context_new();
    g_main_context_push_thread_default(context);
    auto* state = new std::shared_ptr<FlushState>(std::make_shared<FlushState>());
    std::shared_ptr<FlushState> local = *state;
    g_dbus_connection_flush(
        connection, nullptr,
        [](GObject* source, GAsyncResult* result, gpointer data) {
            auto* s = static_cast<std::shared_ptr<FlushState>*>(data);
            (*s)->ok = g_dbus_connection_flush_finish(G_DBUS_CONNECTION(source), result, nullptr);
            (*s)->done = true;
            delete s;
        },
        state);
    bool expired = false;
    GSource* deadline = g_timeout_source_new(static_cast<guint>(bound.count()));
    g_source_set_callback(
        deadline,
        [](gpointer flag) -> gboolean {
            *static_cast<bool*>(flag) = true;
            return G_SOURCE_REMOVE;
        },
        &expired, nullptr);
    g_source_attach(deadline, context);
    while (!local->done && !expired)
        g_main_context_iteration(context, TRUE);
    g_source_destroy(deadline);
    g_source_unref(deadline);
    g_main_context_pop_thread_default(context);
    g_main_context_unref(context);
    return local->done && local->ok;
}

} // namespace norv::platform::glib
