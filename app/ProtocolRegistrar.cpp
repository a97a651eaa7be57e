#include "app/ProtocolRegistrar.h"

#include <array>
#include <utility>

namespace norv::app {

namespace {

struct Protocol {
    std::string_view name;
    com::CLSID handler;
};

// The platform's own handlers, in the order they are registered.
constexpr std::array<Protocol, 2> kProtocols = {{
    {"http", com::guid("{79EAC9E2-BAF9-11CE-8C82-00AA004BA90B}")},
    {"https", com::guid("{79EAC9E5-BAF9-11CE-8C82-00AA004BA90B}")},
}};

const Protocol* findProtocol(std::string_view name) {
    for (const auto& p : kProtocols) {
        if (p.name == name)
            return &p;
    }
    return nullptr;
}

} // namespace

class ProtocolRegistrar::WrappingFactory final : public ProtocolHandlerFactory {
public:
    WrappingFactory(const com::CLSID& wrapped, const ProtocolRegistrar* owner)
        : wrapped_(wrapped), owner_(owner) {}
    const com::CLSID& wrappedClass() const override { return wrapped_; }
    std::u16string userAgent() const override {
        return owner_ ? owner_->userAgentForRequest() : std::u16string();
    }
    void detach() { owner_ = nullptr; }

private:
    com::CLSID wrapped_;
    const ProtocolRegistrar* owner_;
};

ProtocolRegistrar::ProtocolRegistrar(InternetSession& session, UserAgentSource source)
    : session_(session), source_(std::move(source)) {}

ProtocolRegistrar::~ProtocolRegistrar() {
    unregisterAll();
    for (auto& [name, factory] : table_)
        factory->detach();
}

com::HRESULT ProtocolRegistrar::registerAll() {
    for (const auto& protocol : kProtocols) {
        if (table_.contains(protocol.name))
            continue;
        auto factory = std::make_shared<WrappingFactory>(protocol.handler, this);
        com::HRESULT hr = session_.registerNameSpace(factory, protocol.name);
        if (com::failed(hr)) {
            factory->detach();
            return hr;
        }
        table_.emplace(std::string(protocol.name), std::move(factory));
    }
    return com::S_OK;
}

com::HRESULT ProtocolRegistrar::unregisterAll() {
    com::HRESULT result = com::S_OK;
    for (const auto& protocol : kProtocols) {
        if (!table_.contains(protocol.name))
            continue;
        com::HRESULT hr = unregisterProtocol(protocol.name);
        if (com::failed(hr) && com::succeeded(result))
            result = hr;
    }
    return result;
}

com::HRESULT ProtocolRegistrar::unregisterProtocol(std::string_view protocol) {
    if (!findProtocol(protocol))
        return com::E_NOTIMPL;
    auto it = table_.find(protocol);
    if (it == table_.end())
        return com::NTE_NOT_FOUND;
    com::HRESULT hr = session_.unregisterNameSpace(it->second.get(), protocol);
    it->second->detach();
    table_.erase(it);
    return hr;
}

bool ProtocolRegistrar::isRegistered(std::string_view protocol) const {
    return table_.find(protocol) != table_.end();
}

std::u16string ProtocolRegistrar::userAgentForRequest() const {
    return source_ ? source_() : std::u16string();
}

void ProtocolRegistrar::userAgentChanged() {
    if (!table_.empty())
        session_.handlersChanged();
}

} // namespace norv::app
