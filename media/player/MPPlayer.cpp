#include "media/player/MPPlayer.h"

#include <new>

#include "platform/com/ClassTable.h"
#include "typelib/NorvViewLib.h"

namespace norv::media {

using namespace com;
using namespace platform::media;

namespace {

constexpr DISPID tagMask = static_cast<DISPID>(0xFFFF0000u);

// The player's own type information, loaded once for the process.
ITypeInfo* playerTypeInfo() {
    static ITypeInfo* const info = [] {
        ITypeInfo* t = nullptr;
        typelib::getInterfaceTypeInfo(typelib::IMPPlayer::iid, &t);
        return t; // kept for the life of the process
    }();
    return info;
}

bool notFound(HRESULT hr) {
    return hr == DISP_E_MEMBERNOTFOUND || hr == DISP_E_UNKNOWNNAME || hr == DISP_E_UNKNOWNINTERFACE;
}

} // namespace

HRESULT MPPlayer::create(ComPtr<MPPlayer>& out) {
    out.reset();
    try {
        auto player = makeObject<MPPlayer>();
        HRESULT hr = player->construct();
        if (failed(hr))
            return hr;
        out = std::move(player);
        return S_OK;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

HRESULT MPPlayer::construct() {
    // This object is the control's outer object: the control's interfaces count on it.
    HRESULT hr = com::createInstance(CLSID_MediaPlayer, controllingUnknown(), CLSCTX_INPROC,
                                     IUnknown::iid, inner_.putVoid());
    if (failed(hr))
        return hr;
    if (!inner_)
        return E_NOINTERFACE;
    hr = innerDispatch_.query(controllingUnknown(), inner_.get());
    if (succeeded(hr))
        hr = innerObject_.query(controllingUnknown(), inner_.get());
    if (failed(hr))
        return hr;
    plugin_ = makeObject<MPPlayerPlugin>();
    return S_OK;
}

MPPlayer::~MPPlayer() {
    if (plugin_) {
        plugin_->shutdown();
        plugin_->put_services(nullptr);
        plugin_.reset();
    }
    innerObject_.reset();
    innerDispatch_.reset();
    inner_.reset();
}

HRESULT MPPlayer::queryExtraInterface(const IID& iid, void** out) {
    if (!inner_)
        return E_NOINTERFACE;
    return inner_->QueryInterface(iid, out);
}

// The merged dispatch --------------------------------------------------------------------------

HRESULT MPPlayer::GetTypeInfoCount(std::uint32_t* count) {
    if (count == nullptr)
        return E_POINTER;
    *count = 1;
    return S_OK;
}

HRESULT MPPlayer::GetTypeInfo(std::uint32_t index, LCID, ITypeInfo** out) {
    if (index != 0)
        return DISP_E_BADINDEX;
    if (out == nullptr)
        return E_POINTER;
    *out = playerTypeInfo();
    if (*out == nullptr)
        return TYPE_E_ELEMENTNOTFOUND;
    (*out)->AddRef();
    return S_OK;
}

HRESULT MPPlayer::GetIDsOfNames(const IID& riid, std::span<const Bstr> names, LCID lcid,
                                std::span<DISPID> ids) {
    if (names.empty() || ids.size() < names.size())
        return E_INVALIDARG;
    if (ITypeInfo* own = playerTypeInfo(); own && succeeded(own->GetIDsOfNames(names, ids))) {
        ids[0] |= ownTag;
        return S_OK;
    }
    if (innerDispatch_) {
        HRESULT hr = innerDispatch_->GetIDsOfNames(riid, names, lcid, ids);
        if (succeeded(hr)) {
            ids[0] |= controlTag;
            return hr;
        }
    }
    for (DISPID& id : ids)
        id = DISPID_UNKNOWN;
    return DISP_E_UNKNOWNNAME;
}

HRESULT MPPlayer::Invoke(DISPID id, const IID& riid, LCID lcid, std::uint16_t flags,
                         DispParams& params, Variant* result, ExcepInfo* excepInfo,
                         std::uint32_t* argErr) {
    const DISPID tag = id & tagMask;
    const DISPID member = id & 0xFFFF;
    HRESULT failure = DISP_E_MEMBERNOTFOUND;
    if (tag == ownTag) {
        if (ITypeInfo* own = playerTypeInfo()) {
            HRESULT hr = own->Invoke(static_cast<typelib::IMPPlayer*>(this), member, flags, params,
                                     result, excepInfo, argErr);
            if (succeeded(hr))
                return hr;
            if (!notFound(hr))
                failure = hr;
        }
    }
    if (innerDispatch_) {
        HRESULT hr = innerDispatch_->Invoke(tag == controlTag ? member : id, riid, lcid, flags,
                                            params, result, excepInfo, argErr);
        if (succeeded(hr))
            return hr;
        if (!notFound(hr) && failure == DISP_E_MEMBERNOTFOUND)
            failure = hr;
    }
    return failure;
}

HRESULT MPPlayer::get_services(typelib::IMPPlayerServices** pVal) {
    if (pVal == nullptr)
        return E_POINTER;
    *pVal = nullptr;
    if (!inner_ || !plugin_)
        return OLE_E_BLANK;
    return queryInterface(static_cast<typelib::IMPPlayerServices*>(plugin_.get()), pVal);
}

// IOleObject --------------------------------------------------------------------------------

HRESULT MPPlayer::SetClientSite(IOleClientSite* site) {
    if (!innerObject_)
        return OLE_E_BLANK;
    ComPtr<IOleClientSite> previous;
    if (site) {
        Variant old;
        HRESULT hr = plugin_->get_init(&old);
        if (failed(hr))
            return hr;
        if (old.vt() == VT_UNKNOWN && old.unknown())
            old.unknown()->QueryInterface(IOleClientSite::iid, previous.putVoid());
        hr = plugin_->put_init(Variant::fromUnknown(site));
        if (failed(hr))
            return hr;
    }
    auto pluginSite = ComPtr<typelib::IMPPlugin>(plugin_.get()).as<IOleClientSite>();
    if (!site || (previous && !sameObject(previous.get(), pluginSite.get())))
        innerObject_->SetClientSite(nullptr);
    if (site) {
        HRESULT hr = innerObject_->SetClientSite(pluginSite.get());
        if (succeeded(hr))
            hr = plugin_->put_services(static_cast<typelib::IMPPlayer*>(this));
        if (failed(hr))
            return hr;
        plugin_->startup();
    } else {
        plugin_->shutdown();
        plugin_->put_services(nullptr);
        // The page's site goes too: it holds this player.
        plugin_->put_init(Variant());
    }
    return S_OK;
}

#define NORV_PASS_ON(call)                                                                         \
    do {                                                                                           \
        if (!innerObject_)                                                                         \
            return OLE_E_BLANK;                                                                    \
        return innerObject_->call;                                                                 \
    } while (false)

HRESULT MPPlayer::GetClientSite(IOleClientSite** site) {
    NORV_PASS_ON(GetClientSite(site));
}
HRESULT MPPlayer::SetHostNames(const Bstr& containerApp, const Bstr& containerObject) {
    NORV_PASS_ON(SetHostNames(containerApp, containerObject));
}
HRESULT MPPlayer::Close(std::uint32_t saveOption) {
    NORV_PASS_ON(Close(saveOption));
}
HRESULT MPPlayer::SetMoniker(std::uint32_t which, IUnknown* moniker) {
    NORV_PASS_ON(SetMoniker(which, moniker));
}
HRESULT MPPlayer::GetMoniker(std::uint32_t assign, std::uint32_t which, IUnknown** moniker) {
    NORV_PASS_ON(GetMoniker(assign, which, moniker));
}
HRESULT MPPlayer::InitFromData(IUnknown* dataObject, bool creation, std::uint32_t reserved) {
    NORV_PASS_ON(InitFromData(dataObject, creation, reserved));
}
HRESULT MPPlayer::GetClipboardData(std::uint32_t reserved, IUnknown** dataObject) {
    NORV_PASS_ON(GetClipboardData(reserved, dataObject));
}
HRESULT MPPlayer::DoVerb(std::int32_t verb, IOleClientSite* activeSite, std::int32_t index) {
    NORV_PASS_ON(DoVerb(verb, activeSite, index));
}
HRESULT MPPlayer::EnumVerbs(IUnknown** enumerator) {
    NORV_PASS_ON(EnumVerbs(enumerator));
}
HRESULT MPPlayer::Update() {
    NORV_PASS_ON(Update());
}
HRESULT MPPlayer::IsUpToDate() {
    NORV_PASS_ON(IsUpToDate());
}
HRESULT MPPlayer::GetUserClassID(CLSID* clsid) {
    NORV_PASS_ON(GetUserClassID(clsid));
}
HRESULT MPPlayer::GetUserType(std::uint32_t form, Bstr* userType) {
    NORV_PASS_ON(GetUserType(form, userType));
}
HRESULT MPPlayer::SetExtent(std::uint32_t drawAspect, const ExtentSize& size) {
    NORV_PASS_ON(SetExtent(drawAspect, size));
}
HRESULT MPPlayer::GetExtent(std::uint32_t drawAspect, ExtentSize* size) {
    NORV_PASS_ON(GetExtent(drawAspect, size));
}
HRESULT MPPlayer::Advise(IUnknown* adviseSink, std::uint32_t* connection) {
    NORV_PASS_ON(Advise(adviseSink, connection));
}
HRESULT MPPlayer::Unadvise(std::uint32_t connection) {
    NORV_PASS_ON(Unadvise(connection));
}
HRESULT MPPlayer::EnumAdvise(IUnknown** enumerator) {
    NORV_PASS_ON(EnumAdvise(enumerator));
}
HRESULT MPPlayer::GetMiscStatus(std::uint32_t aspect, std::uint32_t* status) {
    NORV_PASS_ON(GetMiscStatus(aspect, status));
}
HRESULT MPPlayer::SetColorScheme(std::uint32_t scheme) {
    NORV_PASS_ON(SetColorScheme(scheme));
}

#undef NORV_PASS_ON

} // namespace norv::media
