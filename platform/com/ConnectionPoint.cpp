#include "platform/com/ConnectionPoint.h"

#include "platform/com/GlobalInterfaceTable.h"

namespace norv::com {

ConnectionPoint::ConnectionPoint(const IID& connectionInterface,
                                 IConnectionPointContainer* container)
    : interface_(connectionInterface), container_(container) {}

ConnectionPoint::~ConnectionPoint() {
    unadviseAll();
}

HRESULT ConnectionPoint::GetConnectionInterface(IID* out) {
    if (out == nullptr)
        return E_POINTER;
    *out = interface_;
    return S_OK;
}

HRESULT ConnectionPoint::GetConnectionPointContainer(IConnectionPointContainer** out) {
    if (out == nullptr)
        return E_POINTER;
    std::lock_guard guard(lock_);
    *out = container_;
    if (container_ == nullptr)
        return E_UNEXPECTED;
    container_->AddRef();
    return S_OK;
}

HRESULT ConnectionPoint::Advise(IUnknown* sink, std::uint32_t* cookie) {
    if (cookie == nullptr)
        return E_POINTER;
    *cookie = 0;
    if (sink == nullptr)
        return E_POINTER;
    ComPtr<IUnknown> asInterface;
    if (failed(sink->QueryInterface(interface_, asInterface.putVoid())))
        return CONNECT_E_CANNOTCONNECT;
    std::uint32_t tableCookie = 0;
    if (failed(registerInterfaceInGlobal(asInterface.get(), interface_, &tableCookie)))
        return CONNECT_E_ADVISELIMIT;
    std::lock_guard guard(lock_);
    try {
        std::size_t slot = 0;
        while (slot < slots_.size() && slots_[slot] != 0)
            ++slot;
        if (slot == slots_.size())
            slots_.push_back(0);
        slots_[slot] = tableCookie;
        *cookie = static_cast<std::uint32_t>(slot + 1);
    } catch (...) {
        revokeInterfaceFromGlobal(tableCookie);
        return CONNECT_E_ADVISELIMIT;
    }
    return S_OK;
}

HRESULT ConnectionPoint::Unadvise(std::uint32_t cookie) {
    std::uint32_t tableCookie = 0;
    {
        std::lock_guard guard(lock_);
        if (cookie == 0 || cookie > slots_.size() || slots_[cookie - 1] == 0)
            return CONNECT_E_NOCONNECTION;
        tableCookie = std::exchange(slots_[cookie - 1], 0);
    }
    revokeInterfaceFromGlobal(tableCookie);
    return S_OK;
}

HRESULT ConnectionPoint::EnumConnections(std::vector<ConnectData>* out) {
    if (out == nullptr)
        return E_POINTER;
    out->clear();
    std::vector<std::uint32_t> slots;
    {
        std::lock_guard guard(lock_);
        slots = slots_;
    }
    for (std::size_t i = 0; i < slots.size(); ++i) {
        if (slots[i] == 0)
            continue;
        ConnectData data;
        data.cookie = static_cast<std::uint32_t>(i + 1);
        if (succeeded(getInterfaceFromGlobal(slots[i], IUnknown::iid, data.sink.putVoid())))
            out->push_back(std::move(data));
    }
    return S_OK;
}

HRESULT ConnectionPoint::getSink(std::uint32_t cookie, const IID& iid, void** out) {
    if (out == nullptr)
        return E_POINTER;
    *out = nullptr;
    std::uint32_t tableCookie = 0;
    {
        std::lock_guard guard(lock_);
        if (cookie == 0 || cookie > slots_.size() || slots_[cookie - 1] == 0)
            return E_NOINTERFACE;
        tableCookie = slots_[cookie - 1];
    }
    return getInterfaceFromGlobal(tableCookie, iid, out);
}

void ConnectionPoint::detachContainer() {
    std::lock_guard guard(lock_);
    container_ = nullptr;
}

void ConnectionPoint::unadviseAll() {
    std::vector<std::uint32_t> slots;
    {
        std::lock_guard guard(lock_);
        slots.swap(slots_);
    }
    for (std::uint32_t tableCookie : slots)
        if (tableCookie != 0)
            revokeInterfaceFromGlobal(tableCookie);
}

} // namespace norv::com
