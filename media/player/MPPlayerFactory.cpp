#include "media/player/MPPlayerFactory.h"

#include "media/player/MPPlayer.h"
#include "platform/media/PlayerHostInterfaces.h"

namespace norv::media {

using namespace com;
using platform::media::CLSID_MediaPlayer;

HRESULT MPPlayerFactory::acquire(ComPtr<IClassFactory>& out) {
    return RegisteredClassFactory::acquire(CLSID_MediaPlayer, out);
}

HRESULT MPPlayerFactory::CreateInstance(IUnknown* outer, const IID& iid, void** out) {
    if (out == nullptr)
        return E_POINTER;
    *out = nullptr;
    if (outer != nullptr && iid != IUnknown::iid)
        return CLASS_E_NOAGGREGATION;
    return withoutRegistration(REGCLS_MULTIPLEUSE, [&] {
        ComPtr<MPPlayer> player;
        HRESULT hr = MPPlayer::create(player);
        if (succeeded(hr))
            hr = player->QueryInterface(iid, out);
        if (failed(hr))
            hr = com::createInstance(CLSID_MediaPlayer, outer, CLSCTX_INPROC, iid, out);
        return hr;
    });
}

} // namespace norv::media
