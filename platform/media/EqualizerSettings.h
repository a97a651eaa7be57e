#pragma once
// EqualizerSettings: the EQUALIZERSETTINGS element of a custom skin, over the control's
// AudioEffects. Every element made for the control reaches the same settings, so a value
// set through one skin load reads back through the next.

#include <memory>
#include <string>

#include "platform/com/DispatchObject.h"
#include "platform/media/AudioEffects.h"
#include "platform/media/SkinInterfaces.h"

namespace norv::platform::media {

class EqualizerSettings final : public DispatchObject<EqualizerSettings, IEqualizerSettings> {
public:
    EqualizerSettings(std::shared_ptr<AudioEffects> effects, std::string id);

    HRESULT get_bypass(VARIANT_BOOL* pVal) override;
    HRESULT put_bypass(VARIANT_BOOL pVal) override;
    HRESULT get_bands(std::int32_t* pVal) override;
    HRESULT get_gainLevels(std::int32_t index, float* pVal) override;
    HRESULT put_gainLevels(std::int32_t index, float pVal) override;
    HRESULT reset() override;
    HRESULT get_enhancedAudio(VARIANT_BOOL* pVal) override;
    HRESULT put_enhancedAudio(VARIANT_BOOL pVal) override;
    HRESULT get_speakerSize(std::int32_t* pVal) override;
    HRESULT put_speakerSize(std::int32_t pVal) override;
    HRESULT get_truBassLevel(std::int32_t* pVal) override;
    HRESULT put_truBassLevel(std::int32_t pVal) override;
    HRESULT get_wowLevel(std::int32_t* pVal) override;
    HRESULT put_wowLevel(std::int32_t pVal) override;
    HRESULT get_id(Bstr* pVal) override;

private:
    std::shared_ptr<AudioEffects> effects_;
    std::string id_;
};

} // namespace norv::platform::media
