#include "platform/web/rpc/EndpointSource.h"

#include "platform/web/rpc/Endpoint.h"

namespace norv::web::rpc {

struct EndpointSource::Source {
    GSource base;
    Endpoint* endpoint;
    GPollFD socket;
    GPollFD wake;

    static gboolean prepare(GSource* s, gint* timeout) {
        auto* self = reinterpret_cast<Source*>(s);
        const Endpoint::PollRequest request = self->endpoint->pollRequest();
        gushort events = 0;
        if (request.readSocket)
            events |= G_IO_IN | G_IO_HUP | G_IO_ERR;
        if (request.writeSocket)
            events |= G_IO_OUT;
        self->socket.events = events;
        *timeout = -1;
        return request.ready;
    }

    static gboolean check(GSource* s) {
        auto* self = reinterpret_cast<Source*>(s);
        return (self->socket.revents & self->socket.events) != 0 ||
               (self->wake.revents & G_IO_IN) != 0 || self->endpoint->pollRequest().ready;
    }

    static gboolean dispatch(GSource* s, GSourceFunc, gpointer) {
        reinterpret_cast<Source*>(s)->endpoint->serve();
        return G_SOURCE_CONTINUE;
    }
};

EndpointSource::EndpointSource(Endpoint& endpoint, GMainContext* context, int priority) {
    static GSourceFuncs funcs = {&Source::prepare, &Source::check, &Source::dispatch,
                                 nullptr,          nullptr,        nullptr};
    GSource* s = g_source_new(&funcs, sizeof(Source));
    source_ = reinterpret_cast<Source*>(s);
    source_->endpoint = &endpoint;
    source_->socket = {endpoint.socketFd(), 0, 0};
    source_->wake = {endpoint.wakeFd(), G_IO_IN, 0};
    g_source_add_poll(s, &source_->socket);
    g_source_add_poll(s, &source_->wake);
    g_source_set_can_recurse(s, TRUE);
    g_source_set_priority(s, priority);
    g_source_attach(s, context);
}

EndpointSource::~EndpointSource() {
    g_source_destroy(&source_->base);
    g_source_unref(&source_->base);
}

} // namespace norv::web::rpc
