#include "platform/media/EqualizerSettings.h"

#include <cmath>

namespace norv::platform::media {

namespace {
VARIANT_BOOL toScript(bool value) {
    return value ? VARIANT_TRUE : VARIANT_FALSE;
}
} // namespace

EqualizerSettings::EqualizerSettings(std::shared_ptr<AudioEffects> effects, std::string id)
    : effects_(std::move(effects)), id_(std::move(id)) {}

HRESULT EqualizerSettings::get_bypass(VARIANT_BOOL* out) {
    if (out == nullptr)
        return E_POINTER;
    *out = toScript(effects_->bypass());
    return S_OK;
}

HRESULT EqualizerSettings::put_bypass(VARIANT_BOOL value) {
    effects_->setBypass(value != VARIANT_FALSE);
    return S_OK;
}

HRESULT EqualizerSettings::get_bands(std::int32_t* out) {
    if (out == nullptr)
        return E_POINTER;
    *out = AudioEffects::kBands;
    return S_OK;
}

HRESULT EqualizerSettings::get_gainLevels(std::int32_t index, float* out) {
    if (out == nullptr)
        return E_POINTER;
    if (index < 1 || index > AudioEffects::kBands)
        return E_INVALIDARG;
    *out = effects_->gain(index - 1);
    return S_OK;
}

HRESULT EqualizerSettings::put_gainLevels(std::int32_t index, float value) {
    if (index < 1 || index > AudioEffects::kBands || std::isnan(value))
        return E_INVALIDARG;
    effects_->setGain(index - 1, value);
    return S_OK;
}

HRESULT EqualizerSettings::reset() {
    effects_->reset();
    return S_OK;
}

HRESULT EqualizerSettings::get_enhancedAudio(VARIANT_BOOL* out) {
    if (out == nullptr)
        return E_POINTER;
    *out = toScript(effects_->enhanced());
    return S_OK;
}

HRESULT EqualizerSettings::put_enhancedAudio(VARIANT_BOOL value) {
    effects_->setEnhanced(value != VARIANT_FALSE);
    return S_OK;
}

HRESULT EqualizerSettings::get_speakerSize(std::int32_t* out) {
    if (out == nullptr)
        return E_POINTER;
    *out = effects_->speakerSize();
    return S_OK;
}

HRESULT EqualizerSettings::put_speakerSize(std::int32_t value) {
    effects_->setSpeakerSize(value);
    return S_OK;
}

HRESULT EqualizerSettings::get_truBassLevel(std::int32_t* out) {
    if (out == nullptr)
        return E_POINTER;
    *out = effects_->bassLevel();
    return S_OK;
}

HRESULT EqualizerSettings::put_truBassLevel(std::int32_t value) {
    effects_->setBassLevel(value);
    return S_OK;
}

HRESULT EqualizerSettings::get_wowLevel(std::int32_t* out) {
    if (out == nullptr)
        return E_POINTER;
    *out = effects_->wideningLevel();
    return S_OK;
}

HRESULT EqualizerSettings::put_wowLevel(std::int32_t value) {
    effects_->setWideningLevel(value);
    return S_OK;
}

HRESULT EqualizerSettings::get_id(Bstr* out) {
    if (out == nullptr)
        return E_POINTER;
    *out = Bstr::fromUtf8(id_);
    return S_OK;
}

} // namespace norv::platform::media
