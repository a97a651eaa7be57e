#pragma once
// PluginState: what every part of the player keeps for the IMPPlugin life cycle, and the
// behaviour its members share: `id` reads as an empty VARIANT, `started` as a script
// boolean, `init` and `settings` store and hand back copies of a VARIANT, `services`
// holds one object and hands out new references to it. Getters refuse a null
// out-pointer with E_POINTER. Guarded by a lock of its own, so a part can be asked from
// any thread.

#include <mutex>

#include "platform/com/Dispatch.h"
#include "platform/com/Variant.h"

namespace norv::media {

class PluginState {
public:
    com::HRESULT getId(com::Variant* out) const;
    com::HRESULT getStarted(com::VARIANT_BOOL* out) const;
    com::HRESULT getInit(com::Variant* out) const;
    void putInit(const com::Variant& value);
    com::HRESULT getSettings(com::Variant* out) const;
    void putSettings(const com::Variant& value);
    com::HRESULT getServices(com::IDispatch** out) const;
    void putServices(com::IDispatch* value);

    bool started() const;
    void setStarted(bool started);
    com::ComPtr<com::IDispatch> services() const;
    com::Variant init() const;

private:
    mutable std::mutex lock_;
    bool started_ = false;
    com::Variant init_;
    com::Variant settings_;
    com::ComPtr<com::IDispatch> services_;
};

} // namespace norv::media
