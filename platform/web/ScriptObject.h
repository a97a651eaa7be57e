#pragma once
// ScriptObject: a script object or function of the page as native code sees it, an
// IDispatch that forwards to the page through the bridge.
//
// GetIDsOfNames asks the page whether the member exists (`name in object`, case
// sensitive) and hands out identifiers of its own; DISPID 0 with DISPATCH_METHOD calls
// the object itself (a function); named members are read, written
// (DISPATCH_PROPERTYPUT/PUTREF) and called (DISPATCH_METHOD, with `this` the object). A
// script exception becomes DISP_E_EXCEPTION with its number and message. Once the
// document is gone every call fails with RPC_E_DISCONNECTED.
//
// Any thread may call it. On the UI thread a call waits as long as script takes; on
// another thread it waits BridgeConnection::workerCallTimeout (or the deadline given to
// callUntil) and then fails with RPC_E_TIMEOUT, and it fails with RPC_E_CALL_CANCELED
// when the UI thread cancels the calls of other threads. A last Release on another thread
// is carried over to the UI thread.
//
// Facets: a layer above the bridge can let script objects stand for one of its own
// interfaces (a stream filter, say) with addFacet. The first query for such an interface
// makes the facet, an object aggregated in the script object (so its references are the
// script object's, and every query gives the same pointer); it lives as long as the
// script object.

#include <atomic>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

#include "platform/com/ComObject.h"
#include "platform/com/Dispatch.h"
#include "platform/web/BridgeConnection.h"

namespace norv::web {

class ScriptObject final : public com::ComObject<ScriptObject, com::IDispatch> {
public:
    // Answered by QueryInterface with the object itself: how the bridge recognises its
    // own wrappers when they travel back to the page.
    static constexpr com::IID privateIid = com::guid("{3C1E4A57-8A0B-4C8E-9F0E-6B1D2F4A7C91}");

    // `home`: the connection's own (UI) thread.
    ScriptObject(std::weak_ptr<BridgeConnection> connection, std::uint32_t id,
                 std::uint32_t generation, std::thread::id home);

    std::uint32_t id() const { return id_; }
    std::uint32_t generation() const { return generation_; }
    const std::weak_ptr<BridgeConnection>& connection() const { return connection_; }
    // One more hand-out of this script object reached native code.
    void received() { ++received_; }
    // For the connection's table: whether only one reference is left.
    bool isLastReference() const { return refCount() == 1; }
    // For the connection: gives back the reference the object was created with, once
    // another one holds it.
    void dropCreationReference() { ComObject::Release(); }

    // Calls the object itself (a function), or its member `name` (with `this` the object),
    // with `args` in their natural order (not COM's), waiting at most until `deadline`; a
    // call from another thread than the UI thread also ends when `cancel` is triggered
    // (RPC_E_CALL_CANCELED). Any thread.
    com::HRESULT callUntil(BridgeConnection::Deadline deadline, std::vector<com::Variant> args,
                           com::Variant* result, com::ExcepInfo* excepInfo = nullptr);
    com::HRESULT callUntil(const std::u16string& name, BridgeConnection::Deadline deadline,
                           std::vector<com::Variant> args, com::Variant* result,
                           com::ExcepInfo* excepInfo = nullptr, std::stop_token cancel = {});
    // Whether the object has a member `name` (`name in object`); nullopt when the page did
    // not answer (gone, too late, cancelled).
    std::optional<bool> has(const std::u16string& name, BridgeConnection::Deadline deadline,
                            std::stop_token cancel = {});
    // Whether the object's document is still the page's (its calls can reach script).
    bool live() const;

    // Makes the facet for one of `iids`: an object created aggregated in `outer`, its inner
    // unknown in `*inner`. It must not hold a reference to `outer`.
    using FacetMaker = com::HRESULT (*)(ScriptObject& outer, com::IUnknown** inner);
    // Registers `make` for `iids` (once for each maker; any thread).
    static void addFacet(std::initializer_list<com::IID> iids, FacetMaker make);

    ~ScriptObject() override;

    std::uint32_t Release() override;
    com::HRESULT GetTypeInfoCount(std::uint32_t* count) override;
    com::HRESULT GetTypeInfo(std::uint32_t index, com::LCID lcid, com::ITypeInfo** out) override;
    com::HRESULT GetIDsOfNames(const com::IID& riid, std::span<const com::Bstr> names,
                               com::LCID lcid, std::span<com::DISPID> ids) override;
    com::HRESULT Invoke(com::DISPID id, const com::IID& riid, com::LCID lcid, std::uint16_t flags,
                        com::DispParams& params, com::Variant* result, com::ExcepInfo* excepInfo,
                        std::uint32_t* argErr) override;

protected:
    com::HRESULT queryExtraInterface(const com::IID& iid, void** out) override;

private:
    // The deadline of a call made now on this thread when none is named.
    BridgeConnection::Deadline defaultDeadline() const;
    std::optional<std::u16string> nameOf(com::DISPID id);

    std::weak_ptr<BridgeConnection> connection_;
    std::uint32_t id_;
    std::uint32_t generation_;
    std::atomic<std::uint32_t> received_{0};
    std::thread::id thread_;
    std::mutex namesLock_;
    std::vector<std::u16string> names_; // DISPID n names names_[n - 1]
    std::mutex facetsLock_;
    std::vector<std::pair<FacetMaker, com::ComPtr<com::IUnknown>>> facets_; // inner unknowns
};

} // namespace norv::web
