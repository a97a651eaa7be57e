#pragma once
// Connection points: the advise / unadvise / enumerate machinery of event sources.
//
// A ConnectionPoint keeps its sinks in the global interface table, so a sink can be
// reached from any thread; each table slot holds one sink's table cookie, and the
// connection cookie is the slot index + 1. Free slots are reused, lowest first.

#include <cstdint>
#include <mutex>
#include <vector>

#include "platform/com/ComObject.h"
#include "platform/com/ComPtr.h"

namespace norv::com {

struct IConnectionPointContainer;

struct ConnectData {
    ComPtr<IUnknown> sink;
    std::uint32_t cookie = 0;
};

struct IConnectionPoint : IUnknown {
    static constexpr IID iid = guid("{B196B286-BAB4-101A-B69C-00AA00341D07}");
    using Base = IUnknown;

    virtual HRESULT GetConnectionInterface(IID* out) = 0;
    virtual HRESULT GetConnectionPointContainer(IConnectionPointContainer** out) = 0;
    // CONNECT_E_CANNOTCONNECT when the sink lacks the connection interface;
    // CONNECT_E_ADVISELIMIT when it cannot be stored.
    virtual HRESULT Advise(IUnknown* sink, std::uint32_t* cookie) = 0;
    // CONNECT_E_NOCONNECTION for a cookie that names no connection.
    virtual HRESULT Unadvise(std::uint32_t cookie) = 0;
    // The connections in slot order, each with its own reference.
    virtual HRESULT EnumConnections(std::vector<ConnectData>* out) = 0;

protected:
    ~IConnectionPoint() = default;
};

struct IConnectionPointContainer : IUnknown {
    static constexpr IID iid = guid("{B196B284-BAB4-101A-B69C-00AA00341D07}");
    using Base = IUnknown;

    virtual HRESULT EnumConnectionPoints(std::vector<ComPtr<IConnectionPoint>>* out) = 0;
    virtual HRESULT FindConnectionPoint(const IID& iid, IConnectionPoint** out) = 0;

protected:
    ~IConnectionPointContainer() = default;
};

class ConnectionPoint final : public ComObject<ConnectionPoint, IConnectionPoint> {
public:
    // `container` is not counted: the container owns the point and calls
    // detachContainer() before it goes away.
    ConnectionPoint(const IID& connectionInterface, IConnectionPointContainer* container);
    ~ConnectionPoint() override;

    HRESULT GetConnectionInterface(IID* out) override;
    HRESULT GetConnectionPointContainer(IConnectionPointContainer** out) override;
    HRESULT Advise(IUnknown* sink, std::uint32_t* cookie) override;
    HRESULT Unadvise(std::uint32_t cookie) override;
    HRESULT EnumConnections(std::vector<ConnectData>* out) override;

    // The sink of a connection, queried for `iid` (E_NOINTERFACE when the cookie names no
    // connection); on another thread than the adviser's, a proxy.
    HRESULT getSink(std::uint32_t cookie, const IID& iid, void** out);
    void detachContainer();
    // Drops every connection.
    void unadviseAll();

private:
    mutable std::mutex lock_;
    IID interface_;
    IConnectionPointContainer* container_;
    std::vector<std::uint32_t> slots_; // table cookies; 0 = free
};

} // namespace norv::com
