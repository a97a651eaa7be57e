#pragma once
// ProtocolRegistrar: installs the program's wrapping handlers for "http" and "https" in the
// browser's session, so that every request carries the host's user agent.

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>

#include "app/InternetSession.h"

namespace norv::app {

class ProtocolRegistrar {
public:
    // The host's user-agent text for a request (empty: the platform's own).
    using UserAgentSource = std::function<std::u16string()>;

    ProtocolRegistrar(InternetSession& session, UserAgentSource source);
    // Unregisters what is still registered: the session never asks a dead registrar.
    ~ProtocolRegistrar();
    ProtocolRegistrar(const ProtocolRegistrar&) = delete;
    ProtocolRegistrar& operator=(const ProtocolRegistrar&) = delete;

    // Registers both protocols in table order; a protocol already in the table is left as
    // it is. The first failure stops and is returned.
    com::HRESULT registerAll();
    // Unregisters both protocols; returns the first failure.
    com::HRESULT unregisterAll();
    // NTE_NOT_FOUND for a protocol not in the table, E_NOTIMPL for a name other than
    // "http" and "https".
    com::HRESULT unregisterProtocol(std::string_view protocol);

    bool isRegistered(std::string_view protocol) const;
    std::size_t registeredCount() const { return table_.size(); }

    // The user-agent text for a request: the host's, widened.
    std::u16string userAgentForRequest() const;
    // The host's user agent changed.
    void userAgentChanged();

private:
    class WrappingFactory;

    InternetSession& session_;
    UserAgentSource source_;
    std::map<std::string, std::shared_ptr<WrappingFactory>, std::less<>> table_;
};

} // namespace norv::app
