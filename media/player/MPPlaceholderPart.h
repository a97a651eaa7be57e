#pragma once
// MPPlaceholderPart: a part of the player that keeps the IMPPlugin life cycle (the
// behaviour of PluginState) and does nothing else; it stands in for a part that is not
// there.

#include "media/pipeline/PluginState.h"
#include "platform/com/DispatchObject.h"
#include "typelib/PlayerInterfaces.h"

namespace norv::media {

class MPPlaceholderPart final : public com::DispatchObject<MPPlaceholderPart, typelib::IMPPlugin> {
public:
    com::HRESULT startup() override;
    com::HRESULT shutdown() override;
    com::HRESULT get_id(com::Variant* pVal) override { return state_.getId(pVal); }
    com::HRESULT get_started(com::VARIANT_BOOL* pVal) override { return state_.getStarted(pVal); }
    com::HRESULT get_init(com::Variant* pVal) override { return state_.getInit(pVal); }
    com::HRESULT put_init(const com::Variant& pVal) override;
    com::HRESULT get_settings(com::Variant* pVal) override { return state_.getSettings(pVal); }
    com::HRESULT put_settings(const com::Variant& pVal) override;
    com::HRESULT get_services(com::IDispatch** pVal) override { return state_.getServices(pVal); }
    com::HRESULT put_services(com::IDispatch* pVal) override;

private:
    PluginState state_;
};

} // namespace norv::media
