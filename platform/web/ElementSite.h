#pragma once
// ElementSite: the UI side of one page element that hosts a native object.
//
// It holds the object the host gave the element, the members the element carries (read
// from the described interfaces: the object's own type information first, then the ones
// the host added), and the connection to the object's events. The page names the element
// by a number of its own; the connection keeps the sites of its current document by that
// number and serves the element's member calls through them.
//
// Everything here runs on the connection's own (UI) thread, except the event sink, which
// may be called on any thread and forwards to the connection.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/com/ConnectionPoint.h"
#include "platform/com/TypeInfo.h"
#include "platform/web/ScriptBridge.h"
#include "platform/web/rpc/Message.h"

namespace norv::web {

class BridgeConnection;

class ElementSite {
public:
    // One name the element carries, with what the described interfaces say of it.
    struct Member {
        std::u16string name;                   // as the interface spells it
        const com::FuncInfo* get = nullptr;    // property get, if any
        const com::FuncInfo* put = nullptr;    // property put (or put by reference), if any
        const com::FuncInfo* method = nullptr; // method, if any
        // A property read and written without an index: an accessor on the element.
        bool isProperty() const;
        // The description of what a call of this member gives back, if any.
        const com::ParamInfo* result(rpc::ElementAction action, std::size_t argumentCount) const;
    };

    ElementSite(ElementId id, std::int32_t wireId, std::uint32_t generation, ElementObject object);
    ~ElementSite();
    ElementSite(const ElementSite&) = delete;
    ElementSite& operator=(const ElementSite&) = delete;

    ElementId id() const { return id_; }
    com::IDispatch* object() const { return object_.object.get(); }
    const std::vector<Member>& members() const { return members_; }
    // The names of the events the element raises.
    std::vector<std::u16string> eventNames() const;

    // The member of this name (matched without regard to case); null when none.
    const Member* find(std::u16string_view name) const;
    // The object's identifier of `name`, asked once and remembered.
    com::HRESULT idOf(const Member& member, com::DISPID& id);

    // Connects to the object's events, which reach `connection` (UI thread).
    void connectEvents(const std::weak_ptr<BridgeConnection>& connection);
    // Lets go of the events and of the object (UI thread). Idempotent.
    void release();

    // A record result as a Record value: `bytes` is the record followed by the block its
    // byte-pointer field points at. Nullopt when `result` does not describe a known record
    // or the bytes are too short for it.
    static std::optional<rpc::Value>
    recordToWire(const std::vector<const com::RecordInfo*>& records, const com::ParamInfo& result,
                 const std::vector<std::uint8_t>& bytes);
    const std::vector<const com::RecordInfo*>& records() const { return object_.records; }

    // The name script sees for an event argument: the parameter's name with its first
    // letter in lower case.
    static std::u16string argumentName(std::u16string_view parameter);

private:
    void addMembers(const com::InterfaceInfo& info);

    ElementId id_;
    std::int32_t wireId_;
    std::uint32_t generation_;
    ElementObject object_;
    std::vector<Member> members_;
    std::unordered_map<std::u16string, com::DISPID> ids_; // by the member's spelling
    com::ComPtr<com::IConnectionPoint> point_;
    std::uint32_t cookie_ = 0;
};

} // namespace norv::web
