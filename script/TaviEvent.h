#pragma once
// TaviEvent: the event object a listener of a native object receives (IEvent). Delivered
// at its target only: no capture, no bubbling, no cancelling.

#include <mutex>
#include <string_view>

#include "platform/com/DispatchObject.h"
#include "typelib/EventInterfaces.h"

namespace norv::script {

class TaviEvent final : public com::DispatchObject<TaviEvent, typelib::IEvent> {
public:
    // Native side: the type, target and current target (the old ones are released).
    void init(std::u16string_view type, com::IDispatch* target, com::IDispatch* currentTarget);

    // IEvent
    com::HRESULT get_type(com::Bstr* pVal) override;
    com::HRESULT get_target(com::IDispatch** pVal) override;
    com::HRESULT get_currentTarget(com::IDispatch** pVal) override;
    // Always 2: at the target.
    com::HRESULT get_eventPhase(std::int32_t* pVal) override;
    com::HRESULT get_bubbles(com::VARIANT_BOOL* pVal) override;
    com::HRESULT get_cancelable(com::VARIANT_BOOL* pVal) override;
    // A date of 0.
    com::HRESULT get_timeStamp(com::Variant* pVal) override;
    // Not supported: E_NOTIMPL.
    com::HRESULT stopPropagation() override;
    com::HRESULT preventDefault() override;
    com::HRESULT initEvent(const com::Bstr& eventTypeArg, com::VARIANT_BOOL canBubbleArg,
                           com::VARIANT_BOOL cancelableArg) override;

private:
    std::mutex lock_;
    com::Bstr type_ = com::Bstr::empty();
    com::ComPtr<com::IDispatch> target_;
    com::ComPtr<com::IDispatch> currentTarget_;
};

} // namespace norv::script
