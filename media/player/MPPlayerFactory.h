#pragma once
// MPPlayerFactory: the program's class factory for the media player control's class
// (CLSID_MediaPlayer), registered in the class table for the whole process while a media
// service holds it (RegisteredClassFactory: each media service holds one reference
// through the process-wide slot; the last one to go takes the registration away).
//
// CreateInstance builds a player object (MPPlayer) around a real control, with its own
// registration lifted meanwhile so that the class table gives the player the platform's
// control. When the player cannot be built, a plain control is created instead: the page
// still gets a working control, without `services`. Aggregation is refused
// (CLASS_E_NOAGGREGATION) unless IUnknown is asked for; the outer object is not passed on.

#include "media/pipeline/RegisteredClassFactory.h"

namespace norv::media {

class MPPlayerFactory final : public RegisteredClassFactory<MPPlayerFactory> {
public:
    // One reference on the registered factory (registering a new one when there is none).
    static com::HRESULT acquire(com::ComPtr<com::IClassFactory>& out);

    // IClassFactory
    com::HRESULT CreateInstance(com::IUnknown* outer, const com::IID& iid, void** out) override;
};

} // namespace norv::media
