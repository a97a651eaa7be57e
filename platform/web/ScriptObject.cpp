#include "platform/web/ScriptObject.h"

#include <glib.h>

namespace norv::web {

using com::HRESULT;
using Action = BridgeConnection::ScriptAction;

ScriptObject::ScriptObject(std::weak_ptr<BridgeConnection> connection, std::uint32_t id,
                           std::uint32_t generation, std::thread::id home)
    : connection_(std::move(connection)), id_(id), generation_(generation), thread_(home) {}

ScriptObject::~ScriptObject() {
    if (auto c = connection_.lock())
        c->wrapperGone(this, id_, generation_, received_);
}

std::uint32_t ScriptObject::Release() {
    if (std::this_thread::get_id() != thread_) {
        // The page's object may only be let go on the UI thread: carry the release there.
        GSource* source = g_idle_source_new();
        g_source_set_callback(
            source,
            [](gpointer self) {
                static_cast<ScriptObject*>(self)->Release();
                return G_SOURCE_REMOVE;
            },
            this, nullptr);
        g_source_attach(source, g_main_context_default());
        g_source_unref(source);
        return 1;
    }
    if (auto c = connection_.lock())
        c->lastReleaseOf(this);
    return ComObject::Release();
}

namespace {
struct FacetTable {
    std::mutex lock;
    std::vector<std::pair<com::IID, ScriptObject::FacetMaker>> makers;
};
FacetTable& facetTable() {
    static FacetTable table;
    return table;
}
} // namespace

void ScriptObject::addFacet(std::initializer_list<com::IID> iids, FacetMaker make) {
    FacetTable& table = facetTable();
    std::lock_guard lock(table.lock);
    for (const com::IID& iid : iids) {
        bool known = false;
        for (const auto& [i, m] : table.makers)
            known = known || (i == iid && m == make);
        if (!known)
            table.makers.emplace_back(iid, make);
    }
}

HRESULT ScriptObject::queryExtraInterface(const com::IID& iid, void** out) {
    if (iid == privateIid) {
        *out = this;
        AddRef();
        return com::S_OK;
    }
    FacetMaker make = nullptr;
    {
        FacetTable& table = facetTable();
        std::lock_guard lock(table.lock);
        for (const auto& [i, m] : table.makers)
            if (i == iid)
                make = m;
    }
    if (make == nullptr)
        return com::E_NOINTERFACE;
    com::ComPtr<com::IUnknown> inner;
    {
        std::lock_guard lock(facetsLock_);
        for (const auto& [m, facet] : facets_)
            if (m == make)
                inner = facet;
        if (!inner) {
            HRESULT hr = make(*this, inner.put());
            if (com::failed(hr) || !inner)
                return com::failed(hr) ? hr : com::E_NOINTERFACE;
            facets_.emplace_back(make, inner);
        }
    }
    // The facet's interfaces count on this object.
    return inner->QueryInterface(iid, out);
}

bool ScriptObject::live() const {
    auto c = connection_.lock();
    return c && c->isCurrent(generation_);
}

std::optional<bool> ScriptObject::has(const std::u16string& name,
                                      BridgeConnection::Deadline deadline, std::stop_token cancel) {
    auto c = connection_.lock();
    if (!c || !c->isCurrent(generation_))
        return std::nullopt;
    com::Variant has;
    HRESULT hr = c->scriptAction(id_, generation_, Action::Has, name, false, {}, &has, nullptr,
                                 deadline, std::move(cancel));
    if (com::failed(hr))
        return std::nullopt;
    return has.vt() == com::VT_BOOL && has.boolVal() != com::VARIANT_FALSE;
}

HRESULT ScriptObject::callUntil(const std::u16string& name, BridgeConnection::Deadline deadline,
                                std::vector<com::Variant> args, com::Variant* result,
                                com::ExcepInfo* excepInfo, std::stop_token cancel) {
    auto c = connection_.lock();
    if (!c || !c->isCurrent(generation_))
        return RPC_E_DISCONNECTED;
    return c->scriptAction(id_, generation_, Action::Call, name, false, std::move(args), result,
                           excepInfo, deadline, std::move(cancel));
}

HRESULT ScriptObject::GetTypeInfoCount(std::uint32_t* count) {
    if (!count)
        return com::E_POINTER;
    *count = 0;
    return com::S_OK;
}

HRESULT ScriptObject::GetTypeInfo(std::uint32_t, com::LCID, com::ITypeInfo** out) {
    if (out)
        *out = nullptr;
    return com::E_NOTIMPL;
}

BridgeConnection::Deadline ScriptObject::defaultDeadline() const {
    if (std::this_thread::get_id() == thread_)
        return BridgeConnection::noDeadline;
    return rpc::Endpoint::Clock::now() + BridgeConnection::workerCallTimeout;
}

HRESULT ScriptObject::GetIDsOfNames(const com::IID&, std::span<const com::Bstr> names, com::LCID,
                                    std::span<com::DISPID> ids) {
    if (ids.size() < names.size())
        return com::E_INVALIDARG;
    auto c = connection_.lock();
    if (!c || !c->isCurrent(generation_))
        return RPC_E_DISCONNECTED;
    const auto deadline = defaultDeadline();
    HRESULT result = com::S_OK;
    for (std::size_t i = 0; i < names.size(); ++i) {
        const std::u16string name = names[i].str();
        com::Variant has;
        HRESULT hr = c->scriptAction(id_, generation_, Action::Has, name, false, {}, &has, nullptr,
                                     deadline);
        if (com::failed(hr))
            return hr;
        if (has.vt() != com::VT_BOOL || has.boolVal() == com::VARIANT_FALSE) {
            ids[i] = com::DISPID_UNKNOWN;
            result = com::DISP_E_UNKNOWNNAME;
            continue;
        }
        std::lock_guard lock(namesLock_);
        std::size_t k = 0;
        while (k < names_.size() && names_[k] != name)
            ++k;
        if (k == names_.size())
            names_.push_back(name);
        ids[i] = static_cast<com::DISPID>(k + 1);
    }
    return result;
}

std::optional<std::u16string> ScriptObject::nameOf(com::DISPID id) {
    std::lock_guard lock(namesLock_);
    if (id < 1 || static_cast<std::size_t>(id) > names_.size())
        return std::nullopt;
    return names_[static_cast<std::size_t>(id) - 1];
}

HRESULT ScriptObject::callUntil(BridgeConnection::Deadline deadline, std::vector<com::Variant> args,
                                com::Variant* result, com::ExcepInfo* excepInfo) {
    auto c = connection_.lock();
    if (!c || !c->isCurrent(generation_))
        return RPC_E_DISCONNECTED;
    return c->scriptAction(id_, generation_, Action::Call, {}, false, std::move(args), result,
                           excepInfo, deadline);
}

HRESULT ScriptObject::Invoke(com::DISPID id, const com::IID&, com::LCID, std::uint16_t flags,
                             com::DispParams& params, com::Variant* result,
                             com::ExcepInfo* excepInfo, std::uint32_t*) {
    auto c = connection_.lock();
    if (!c || !c->isCurrent(generation_))
        return RPC_E_DISCONNECTED;
    std::u16string name;
    if (id != com::DISPID_VALUE) {
        auto known = nameOf(id);
        if (!known)
            return com::DISP_E_MEMBERNOTFOUND;
        name = std::move(*known);
    }
    const auto deadline = defaultDeadline();
    if (flags & (com::DISPATCH_PROPERTYPUT | com::DISPATCH_PROPERTYPUTREF)) {
        if (name.empty())
            return com::DISP_E_MEMBERNOTFOUND;
        if (params.args.empty())
            return com::DISP_E_BADPARAMCOUNT;
        return c->scriptAction(id_, generation_, Action::Put, name, false, {params.args[0]},
                               nullptr, excepInfo, deadline);
    }
    if (!params.namedArgs.empty())
        return com::DISP_E_NONAMEDARGS;
    // COM order has the last argument first.
    std::vector<com::Variant> args(params.args.rbegin(), params.args.rend());
    if (flags & com::DISPATCH_METHOD)
        return c->scriptAction(id_, generation_, Action::Call, name,
                               (flags & com::DISPATCH_PROPERTYGET) != 0, std::move(args), result,
                               excepInfo, deadline);
    if ((flags & com::DISPATCH_PROPERTYGET) && !name.empty())
        return c->scriptAction(id_, generation_, Action::Get, name, false, {}, result, excepInfo,
                               deadline);
    return com::DISP_E_MEMBERNOTFOUND;
}

} // namespace norv::web
