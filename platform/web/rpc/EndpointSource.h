#pragma once
// EndpointSource: serves an Endpoint from a GLib main loop on its home thread.
//
// A custom source that polls the socket while nobody else reads it (for input, and for
// room while output waits) and the endpoint's wake descriptor, and is ready whenever the
// endpoint has work of its own (an inbox message, releases to flush, the end to report).
// It may recurse, so that the home thread's nested waits in its dispatch still serve.

#include <glib.h>

namespace norv::web::rpc {

class Endpoint;

class EndpointSource {
public:
    // Attaches to `context` (null: the default one) at `priority`.
    EndpointSource(Endpoint& endpoint, GMainContext* context, int priority);
    ~EndpointSource();
    EndpointSource(const EndpointSource&) = delete;
    EndpointSource& operator=(const EndpointSource&) = delete;

private:
    struct Source;
    Source* source_;
};

} // namespace norv::web::rpc
