#pragma once
// Writing out what a D-Bus connection still has queued, with a bound on the wait: used
// before the program exits, so that a release sent just before reaches its service.

#include <chrono>

typedef struct _GDBusConnection GDBusConnection;

namespace norv::platform::glib {

// Waits until every message queued on `connection` so far has been written, or `bound`
// has passed; true when written. Runs no sources of the thread's other main contexts.
bool flushDbusConnection(GDBusConnection* connection, std::chrono::milliseconds bound);

} // namespace norv::platform::glib
