#pragma once
// MPPlayer: the player object the program builds when the page's <object> element asks
// for the media player control. It is the outer object of an aggregation around a real
// control (the platform's class) and owns the control's plugin (MPPlayerPlugin).
//
// QueryInterface: IDispatch and IMPPlayer (the merged dispatch), IOleObject (its own),
// and every other interface from the control.
//
// The merged dispatch answers the player's own members (IMPPlayer: `services`) and every
// member of the control. GetIDsOfNames asks the player's type information first, then the
// control, and tags the identifier with the entry that knew the name: 0x10000 for the
// player's own members (`services` is 0x10064), 0x20000 for the control's. Invoke gives
// an identifier tagged 0x10000 to the player's own members (as id & 0xFFFF), one tagged
// 0x20000 to the control as id & 0xFFFF, and any other identifier (DISPID_VALUE, the
// platform's negative identifiers, identifiers the page took from the control itself) to
// the control unchanged. A member that fails reports its own error; only a call no entry
// knows is DISP_E_MEMBERNOTFOUND.
//
// IOleObject is passed on to the control, except SetClientSite: the control gets the
// plugin's site, the plugin keeps the page's (its `init`) and is started; a null site
// shuts the plugin down and lets go of the page's site. The host must clear the site
// before it lets go of the player: until then the plugin and the control hold the player.

#include <cstdint>

#include "media/player/MPPlayerPlugin.h"
#include "platform/com/ComObject.h"
#include "platform/media/PlayerHostInterfaces.h"
#include "typelib/PlayerInterfaces.h"

namespace norv::media {

class MPPlayer final
    : public com::ComObject<MPPlayer, typelib::IMPPlayer, platform::media::IOleObject> {
public:
    static constexpr com::DISPID ownTag = 0x10000;
    static constexpr com::DISPID controlTag = 0x20000;

    // A player around a new control (created through the class table, aggregated); the
    // control's failure when it cannot be made.
    static com::HRESULT create(com::ComPtr<MPPlayer>& out);

    ~MPPlayer() override;

    // IDispatch: the merged dispatch
    com::HRESULT GetTypeInfoCount(std::uint32_t* count) override;
    com::HRESULT GetTypeInfo(std::uint32_t index, com::LCID lcid, com::ITypeInfo** out) override;
    com::HRESULT GetIDsOfNames(const com::IID& riid, std::span<const com::Bstr> names,
                               com::LCID lcid, std::span<com::DISPID> ids) override;
    com::HRESULT Invoke(com::DISPID id, const com::IID& riid, com::LCID lcid, std::uint16_t flags,
                        com::DispParams& params, com::Variant* result, com::ExcepInfo* excepInfo,
                        std::uint32_t* argErr) override;

    // IMPPlayer
    com::HRESULT get_services(typelib::IMPPlayerServices** pVal) override;

    // IOleObject
    com::HRESULT SetClientSite(platform::media::IOleClientSite* site) override;
    com::HRESULT GetClientSite(platform::media::IOleClientSite** site) override;
    com::HRESULT SetHostNames(const com::Bstr& containerApp,
                              const com::Bstr& containerObject) override;
    com::HRESULT Close(std::uint32_t saveOption) override;
    com::HRESULT SetMoniker(std::uint32_t which, com::IUnknown* moniker) override;
    com::HRESULT GetMoniker(std::uint32_t assign, std::uint32_t which,
                            com::IUnknown** moniker) override;
    com::HRESULT InitFromData(com::IUnknown* dataObject, bool creation,
                              std::uint32_t reserved) override;
    com::HRESULT GetClipboardData(std::uint32_t reserved, com::IUnknown** dataObject) override;
    com::HRESULT DoVerb(std::int32_t verb, platform::media::IOleClientSite* activeSite,
                        std::int32_t index) override;
    com::HRESULT EnumVerbs(com::IUnknown** enumerator) override;
    com::HRESULT Update() override;
    com::HRESULT IsUpToDate() override;
    com::HRESULT GetUserClassID(com::CLSID* clsid) override;
    com::HRESULT GetUserType(std::uint32_t form, com::Bstr* userType) override;
    com::HRESULT SetExtent(std::uint32_t drawAspect,
                           const platform::media::ExtentSize& size) override;
    com::HRESULT GetExtent(std::uint32_t drawAspect, platform::media::ExtentSize* size) override;
    com::HRESULT Advise(com::IUnknown* adviseSink, std::uint32_t* connection) override;
    com::HRESULT Unadvise(std::uint32_t connection) override;
    com::HRESULT EnumAdvise(com::IUnknown** enumerator) override;
    com::HRESULT GetMiscStatus(std::uint32_t aspect, std::uint32_t* status) override;
    com::HRESULT SetColorScheme(std::uint32_t scheme) override;

    MPPlayerPlugin* plugin() const { return plugin_.get(); }

protected:
    com::HRESULT queryExtraInterface(const com::IID& iid, void** out) override;

private:
    com::HRESULT construct();

    com::ComPtr<com::IUnknown> inner_;
    com::InnerInterface<com::IDispatch> innerDispatch_;
    com::InnerInterface<platform::media::IOleObject> innerObject_;
    com::ComPtr<MPPlayerPlugin> plugin_;
};

} // namespace norv::media
