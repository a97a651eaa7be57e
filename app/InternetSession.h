#pragma once
// The browser's protocol session: where the program registers the handlers that wrap the
// platform's own http and https handlers. The session asks a registered handler for the
// user agent of each request of its protocol.

#include <memory>
#include <string>
#include <string_view>

#include "platform/com/Guid.h"
#include "platform/com/HResult.h"

namespace norv::app {

// A wrapping handler factory: forwards everything to the platform's handler of its class,
// except the user agent, which comes from the program.
class ProtocolHandlerFactory {
public:
    virtual ~ProtocolHandlerFactory() = default;
    // The class of the platform's own handler that this factory wraps.
    virtual const com::CLSID& wrappedClass() const = 0;
    // The user agent a request carries; empty when the platform's own applies.
    virtual std::u16string userAgent() const = 0;
};

class InternetSession {
public:
    virtual ~InternetSession() = default;
    virtual com::HRESULT registerNameSpace(std::shared_ptr<ProtocolHandlerFactory> factory,
                                           std::string_view protocol) = 0;
    virtual com::HRESULT unregisterNameSpace(const ProtocolHandlerFactory* factory,
                                             std::string_view protocol) = 0;
    // The answers of the registered factories changed: the next request of every page in
    // the session carries the new ones.
    virtual void handlersChanged() = 0;
};

} // namespace norv::app
