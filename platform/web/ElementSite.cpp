#include "platform/web/ElementSite.h"

#include <cstring>

#include "platform/com/ComObject.h"
#include "platform/web/BridgeConnection.h"

namespace norv::web {

using com::ComPtr;
using com::DISPID;
using com::FuncInfo;
using com::HRESULT;
using com::InvokeKind;
using com::ParamInfo;
using com::Variant;
using rpc::ElementAction;
using rpc::Value;

namespace {

// Receives the object's events and hands them to the connection, which raises them on the
// element. Answers the events interface by dispatch alone.
class EventSink final : public com::ComObject<EventSink, com::IDispatch> {
public:
    EventSink(std::weak_ptr<BridgeConnection> connection, std::int32_t element,
              std::uint32_t generation, const com::InterfaceInfo& events)
        : connection_(std::move(connection)), element_(element), generation_(generation),
          events_(events) {}

    HRESULT GetTypeInfoCount(std::uint32_t* count) override {
        if (!count)
            return com::E_POINTER;
        *count = 0;
        return com::S_OK;
    }
    HRESULT GetTypeInfo(std::uint32_t, com::LCID, com::ITypeInfo** out) override {
        if (out)
            *out = nullptr;
        return com::E_NOTIMPL;
    }
    HRESULT GetIDsOfNames(const com::IID&, std::span<const com::Bstr> names, com::LCID,
                          std::span<DISPID> ids) override {
        return com::dispatchGetIDsOfNames(events_, names, ids);
    }
    HRESULT Invoke(DISPID id, const com::IID&, com::LCID, std::uint16_t, com::DispParams& params,
                   Variant*, com::ExcepInfo*, std::uint32_t*) override {
        const FuncInfo* event = nullptr;
        for (const FuncInfo& f : events_.funcs) {
            if (f.memid == id && f.kind == InvokeKind::Method) {
                event = &f;
                break;
            }
        }
        if (!event)
            return com::DISP_E_MEMBERNOTFOUND;
        auto connection = connection_.lock();
        if (!connection)
            return com::S_OK; // the page is gone: nobody listens
        // COM order has the last argument first; named arguments are not used by events.
        std::vector<std::pair<std::u16string, Variant>> args;
        const std::size_t count = params.args.size();
        for (std::size_t i = 0; i < count; ++i) {
            std::u16string name = i < event->params.size()
                                      ? ElementSite::argumentName(event->params[i].name)
                                      : u"arg" + std::u16string(1, char16_t(u'0' + i % 10));
            args.emplace_back(std::move(name), params.args[count - 1 - i]);
        }
        connection->elementEvent(element_, generation_, event->name, std::move(args));
        return com::S_OK;
    }

protected:
    HRESULT queryExtraInterface(const com::IID& iid, void** out) override {
        if (iid != events_.iid)
            return com::E_NOINTERFACE;
        *out = static_cast<com::IDispatch*>(this);
        AddRef();
        return com::S_OK;
    }

private:
    std::weak_ptr<BridgeConnection> connection_;
    std::int32_t element_;
    std::uint32_t generation_;
    const com::InterfaceInfo& events_;
};

const com::InterfaceInfo* describe(com::ITypeInfo* typeInfo) {
    const com::InterfaceInfo* info = nullptr;
    if (!typeInfo || com::failed(typeInfo->GetInterfaceInfo(&info)))
        return nullptr;
    return info;
}

std::uint32_t readU32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

} // namespace

bool ElementSite::Member::isProperty() const {
    if (method)
        return false;
    const bool plainGet = get && get->params.empty();
    const bool plainPut = put && put->params.size() == 1;
    return (plainGet || !get) && (plainPut || !put);
}

const ParamInfo* ElementSite::Member::result(ElementAction action,
                                             std::size_t argumentCount) const {
    switch (action) {
    case ElementAction::Get:
        return get && get->retval ? &*get->retval : nullptr;
    case ElementAction::Put:
        return nullptr;
    case ElementAction::Call:
        if (method)
            return method->retval ? &*method->retval : nullptr;
        if (put && !put->params.empty() && argumentCount == put->params.size())
            return nullptr; // a write with the value last
        return get && get->retval ? &*get->retval : nullptr;
    }
    return nullptr;
}

ElementSite::ElementSite(ElementId id, std::int32_t wireId, std::uint32_t generation,
                         ElementObject object)
    : id_(id), wireId_(wireId), generation_(generation), object_(std::move(object)) {
    std::vector<ComPtr<com::ITypeInfo>> described;
    std::uint32_t count = 0;
    if (object_.object && com::succeeded(object_.object->GetTypeInfoCount(&count))) {
        for (std::uint32_t i = 0; i < count && i < 16; ++i) {
            ComPtr<com::ITypeInfo> own;
            if (com::succeeded(
                    object_.object->GetTypeInfo(i, com::LOCALE_USER_DEFAULT, own.put())) &&
                own)
                described.push_back(std::move(own));
        }
    }
    for (auto& extra : object_.interfaces) {
        if (extra)
            described.push_back(std::move(extra));
    }
    for (const auto& typeInfo : described) {
        if (const auto* info = describe(typeInfo.get()))
            addMembers(*info);
    }
    object_.interfaces = std::move(described);
}

ElementSite::~ElementSite() {
    release();
}

void ElementSite::addMembers(const com::InterfaceInfo& info) {
    for (const FuncInfo& f : info.funcs) {
        Member* member = nullptr;
        for (Member& m : members_) {
            if (com::namesEqual(m.name, f.name)) {
                member = &m;
                break;
            }
        }
        if (!member) {
            members_.push_back(Member{f.name});
            member = &members_.back();
        } else if (member->name != f.name) {
            continue; // an earlier interface's member of that name wins
        }
        switch (f.kind) {
        case InvokeKind::PropertyGet:
            if (!member->get)
                member->get = &f;
            break;
        case InvokeKind::PropertyPut:
        case InvokeKind::PropertyPutRef:
            if (!member->put)
                member->put = &f;
            break;
        case InvokeKind::Method:
            if (!member->method)
                member->method = &f;
            break;
        }
    }
}

std::vector<std::u16string> ElementSite::eventNames() const {
    std::vector<std::u16string> names;
    if (const auto* info = describe(object_.events.get())) {
        for (const FuncInfo& f : info->funcs) {
            if (f.kind == InvokeKind::Method)
                names.push_back(f.name);
        }
    }
    return names;
}

const ElementSite::Member* ElementSite::find(std::u16string_view name) const {
    for (const Member& m : members_) {
        if (com::namesEqual(m.name, name))
            return &m;
    }
    return nullptr;
}

HRESULT ElementSite::idOf(const Member& member, DISPID& id) {
    if (auto it = ids_.find(member.name); it != ids_.end()) {
        id = it->second;
        return com::S_OK;
    }
    ComPtr<com::IDispatch> object = object_.object;
    if (!object)
        return RPC_E_DISCONNECTED;
    // By name, not by the description's identifier: the object may map names to
    // identifiers of its own (a merged dispatch tags them).
    const com::Bstr names[1] = {com::Bstr(member.name)};
    DISPID ids[1] = {com::DISPID_UNKNOWN};
    HRESULT hr = object->GetIDsOfNames(com::IID_NULL, names, com::LOCALE_USER_DEFAULT, ids);
    if (com::failed(hr))
        return hr;
    id = ids[0];
    ids_.emplace(member.name, id);
    return com::S_OK;
}

void ElementSite::connectEvents(const std::weak_ptr<BridgeConnection>& connection) {
    const auto* events = describe(object_.events.get());
    if (!events || !object_.object || point_)
        return;
    ComPtr<com::IConnectionPointContainer> container;
    if (com::failed(object_.object->QueryInterface(com::IConnectionPointContainer::iid,
                                                   container.putVoid())) ||
        !container)
        return;
    ComPtr<com::IConnectionPoint> point;
    if (com::failed(container->FindConnectionPoint(events->iid, point.put())) || !point)
        return;
    auto sink = com::makeObject<EventSink>(connection, wireId_, generation_, *events);
    std::uint32_t cookie = 0;
    if (com::failed(point->Advise(static_cast<com::IDispatch*>(sink.get()), &cookie)))
        return;
    point_ = std::move(point);
    cookie_ = cookie;
}

void ElementSite::release() {
    if (auto point = std::exchange(point_, nullptr))
        point->Unadvise(std::exchange(cookie_, 0));
    // The object last: its destructor may call anything.
    ElementObject gone = std::exchange(object_, ElementObject{});
    ids_.clear();
    // The member table points into the descriptions, which live as long as the program.
}

std::optional<Value> ElementSite::recordToWire(const std::vector<const com::RecordInfo*>& records,
                                               const ParamInfo& result,
                                               const std::vector<std::uint8_t>& bytes) {
    if (result.vt != com::VT_RECORD)
        return std::nullopt;
    const com::RecordInfo* record = nullptr;
    for (const com::RecordInfo* r : records) {
        if (r && r->name == result.userType) {
            record = r;
            break;
        }
    }
    if (!record || bytes.size() < record->size)
        return std::nullopt;
    Value out = Value::record();
    for (const com::RecordField& field : record->fields) {
        if (std::uint64_t{field.offset} + field.size > record->size)
            return std::nullopt;
        const std::uint8_t* p = bytes.data() + field.offset;
        Value v;
        switch (field.vt) {
        case com::VT_RECORD:
            if (field.typeName == u"GUID" && field.size == 16)
                v = Value::fromString16(com::utf8ToUtf16(com::GUID::fromBytes(p).toString()));
            break;
        case com::VT_I4:
            if (field.size == 4)
                v = Value::fromI4(static_cast<std::int32_t>(readU32(p)));
            break;
        case com::VT_UI4:
            if (field.size == 4) {
                const std::uint32_t u = readU32(p);
                v = u <= 0x7FFFFFFFu ? Value::fromI4(static_cast<std::int32_t>(u))
                                     : Value::fromR8(u);
            }
            break;
        case com::VT_I2:
            if (field.size == 2)
                v = Value::fromI4(static_cast<std::int16_t>(p[0] | (p[1] << 8)));
            break;
        case com::VT_UI1:
            if (field.size == 1)
                v = Value::fromI4(p[0]);
            break;
        case com::VT_BOOL:
            if (field.size == 2)
                v = Value::fromBool((p[0] | p[1]) != 0);
            break;
        case com::VT_R8:
            if (field.size == 8) {
                double d = 0;
                std::memcpy(&d, p, 8);
                v = Value::fromR8(d);
            }
            break;
        case com::VT_R4:
            if (field.size == 4) {
                float f = 0;
                std::memcpy(&f, p, 4);
                v = Value::fromR8(f);
            }
            break;
        case com::VT_BYREF | com::VT_UI1:
            // A pointer means nothing here: the block it pointed at follows the record.
            v = Value::fromBytes(std::vector<std::uint8_t>(
                bytes.begin() + static_cast<std::ptrdiff_t>(record->size), bytes.end()));
            break;
        default:
            v = Value::null(); // an interface pointer, or a type with no script form
            break;
        }
        out.field(field.name, std::move(v));
    }
    return out;
}

std::u16string ElementSite::argumentName(std::u16string_view parameter) {
    std::u16string name(parameter);
    if (!name.empty() && name[0] >= u'A' && name[0] <= u'Z')
        name[0] = static_cast<char16_t>(name[0] - u'A' + u'a');
    return name;
}

} // namespace norv::web
