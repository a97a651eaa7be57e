#include "platform/glib/ScreenSaverInhibitor.h"

#include <gio/gio.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "platform/glib/DbusFlush.h"

namespace norv::platform::glib {

namespace {
constexpr const char* kService = "org.freedesktop.ScreenSaver";
constexpr const char* kPath = "/org/freedesktop/ScreenSaver";
constexpr const char* kInterface = "org.freedesktop.ScreenSaver";
// A service that does not answer within this time holds nothing for us.
constexpr int kCallTimeoutMs = 500;
} // namespace

struct ScreenSaverInhibitor::Shared {
    enum class Bus { connecting, ready, unavailable, closed };

    std::string application;
    Bus bus = Bus::connecting;
    GDBusConnection* connection = nullptr; // owned reference once ready
    std::vector<std::weak_ptr<Request>> requests;

    ~Shared() {
        if (connection)
            g_object_unref(connection);
    }
};

struct ScreenSaverInhibitor::Request {
    enum class State { waitingForBus, held, done };

    std::shared_ptr<Shared> shared;
    std::string reason;
    State state = State::waitingForBus;
    bool wanted = true;
    std::uint32_t cookie = 0;
};

namespace {

using Shared = ScreenSaverInhibitor::Shared;
using Request = ScreenSaverInhibitor::Request;

void sendUnInhibit(GDBusConnection* connection, std::uint32_t cookie) {
    g_debug("display: ScreenSaver UnInhibit %u", cookie);
    g_dbus_connection_call(connection, kService, kPath, kInterface, "UnInhibit",
                           g_variant_new("(u)", cookie), nullptr, G_DBUS_CALL_FLAGS_NONE,
                           kCallTimeoutMs, nullptr, nullptr, nullptr);
}

// The Inhibit call waits for its answer, with a bound: the cookie is then known at once, so
// that a release, even one made just before the program exits, can always return it.
void sendInhibit(const std::shared_ptr<Request>& request) {
    Shared& shared = *request->shared;
    request->state = Request::State::done;
    GError* error = nullptr;
    GVariant* reply = g_dbus_connection_call_sync(
        shared.connection, kService, kPath, kInterface, "Inhibit",
        g_variant_new("(ss)", shared.application.c_str(), request->reason.c_str()),
        G_VARIANT_TYPE("(u)"), G_DBUS_CALL_FLAGS_NONE, kCallTimeoutMs, nullptr, &error);
    if (!reply) {
        // No such service, or it refused: nothing is held, silently. A service that does
        // not answer in time is not asked again.
        g_debug("display: ScreenSaver Inhibit not available: %s", error->message);
        if (g_error_matches(error, G_IO_ERROR, G_IO_ERROR_TIMED_OUT))
            shared.bus = Shared::Bus::unavailable;
        g_error_free(error);
        return;
    }
    g_variant_get(reply, "(u)", &request->cookie);
    g_variant_unref(reply);
    g_debug("display: ScreenSaver Inhibit cookie %u", request->cookie);
    request->state = Request::State::held;
}

void onBus(GObject*, GAsyncResult* result, gpointer data) {
    std::unique_ptr<std::shared_ptr<Shared>> holder(static_cast<std::shared_ptr<Shared>*>(data));
    Shared& shared = **holder;
    GError* error = nullptr;
    GDBusConnection* connection = g_bus_get_finish(result, &error);
    if (!connection) {
        g_debug("display: no session bus: %s", error->message);
        g_error_free(error);
    }
    if (!connection || shared.bus == Shared::Bus::closed) {
        if (connection)
            g_object_unref(connection);
        if (shared.bus != Shared::Bus::closed)
            shared.bus = Shared::Bus::unavailable;
        for (auto& weak : shared.requests)
            if (auto request = weak.lock())
                request->state = Request::State::done;
        return;
    }
    shared.connection = connection;
    shared.bus = Shared::Bus::ready;
    for (auto& weak : shared.requests) {
        auto request = weak.lock();
        if (!request || request->state != Request::State::waitingForBus)
            continue;
        if (request->wanted && shared.bus == Shared::Bus::ready)
            sendInhibit(request);
        else
            request->state = Request::State::done;
    }
}

} // namespace

ScreenSaverInhibitor::Hold::~Hold() {
    Request& request = *request_;
    request.wanted = false;
    if (request.state == Request::State::held) {
        request.state = Request::State::done;
        if (request.shared->connection)
            sendUnInhibit(request.shared->connection, request.cookie);
    }
}

ScreenSaverInhibitor::ScreenSaverInhibitor(std::string application)
    : shared_(std::make_shared<Shared>()) {
    shared_->application = std::move(application);
    // Reached now, so that the first hold does not wait for it.
    shared_->bus = Shared::Bus::connecting;
    g_bus_get(G_BUS_TYPE_SESSION, nullptr, onBus, new std::shared_ptr<Shared>(shared_));
}

ScreenSaverInhibitor::~ScreenSaverInhibitor() {
    releaseAll();
}

std::unique_ptr<ScreenSaverInhibitor::Hold>
ScreenSaverInhibitor::inhibit(const std::string& reason) {
    auto request = std::make_shared<Request>();
    request->shared = shared_;
    request->reason = reason;
    auto& requests = shared_->requests;
    requests.erase(std::remove_if(requests.begin(), requests.end(),
                                  [](const auto& weak) { return weak.expired(); }),
                   requests.end());
    switch (shared_->bus) {
    case Shared::Bus::connecting:
        requests.push_back(request);
        break;
    case Shared::Bus::ready:
        requests.push_back(request);
        sendInhibit(request);
        break;
    case Shared::Bus::unavailable:
    case Shared::Bus::closed:
        request->state = Request::State::done;
        break;
    }
    return std::make_unique<Hold>(std::move(request));
}

void ScreenSaverInhibitor::releaseAll(std::chrono::milliseconds bound) {
    const bool ready = shared_->bus == Shared::Bus::ready;
    for (auto& weak : shared_->requests) {
        auto request = weak.lock();
        if (!request)
            continue;
        if (request->state == Request::State::held && ready) {
            g_debug("display: ScreenSaver UnInhibit %u", request->cookie);
            GVariant* reply = g_dbus_connection_call_sync(
                shared_->connection, kService, kPath, kInterface, "UnInhibit",
                g_variant_new("(u)", request->cookie), nullptr, G_DBUS_CALL_FLAGS_NONE,
                static_cast<int>(bound.count()), nullptr, nullptr);
            if (reply)
                g_variant_unref(reply);
        }
        request->wanted = false;
        request->state = Request::State::done;
    }
    shared_->requests.clear();
    if (ready)
        flushDbusConnection(shared_->connection, bound);
    shared_->bus = Shared::Bus::closed;
}

} // namespace norv::platform::glib
