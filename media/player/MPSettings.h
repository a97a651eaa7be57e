#pragma once
// MPSettings: the player's settings part (player.services.settings). It reaches the
// control's equaliser and audio effects the way a skin does: the control loads the skin
// package (SkinPackage) and its onload puts the skin's EQUALIZERSETTINGS and VIDEOSETTINGS
// elements into this object's `audio` and `video` (IMPSettings is the skin's scriptable
// object "wmpsrv"). Every equaliser and effects member is then a by-name property access
// on the EQUALIZERSETTINGS element; nothing is copied or checked here, values and ranges
// are the control's.
//
// What the player plugin (its owner) does with it:
//  - gives it the player with IMPPlugin::put_services (an object that answers the
//    control's IMediaPlayer, as the player does through its aggregated control), and null
//    when the player loses its client site; the result is the package step's
//    (SkinPackage::ensure);
//  - answers the control's IRemoteMediaServices from its own client site with
//    GetScriptableObject: name SkinPackage::kScriptableName and this object queried for
//    IMPSettings, and GetCustomUIMode: SkinPackage::customUiMode;
//  - calls startup once the control has that site (the control then loads the skin while
//    startup switches its uiMode to "custom" and back), and shutdown when it goes;
//  - hands it to script as IMPPlayerServices::settings (queried for IMPSettings).
// The part keeps its own reference count and lock: script may hold it after the plugin
// has gone. The lock is never held while it calls out (into the control or the skin
// element, which may run script of their own).

#include <mutex>

#include "platform/com/DispatchObject.h"
#include "platform/media/PlayerInterfaces.h"
#include "typelib/PlayerInterfaces.h"

namespace norv::media {

using namespace norv::com;
using namespace norv::typelib;

class MPSettings final : public DispatchObject<MPSettings, IMPSettings, IMPPlugin, IMPEqualizer,
                                               IMPAudioEffects, IMPAudioSettings> {
public:
    // Band centre frequencies in hertz, by band index.
    static constexpr std::int32_t kFrequencies[] = {31,   62,   125,  250,  500,
                                                    1000, 2000, 4000, 8000, 16000};

    // IMPPlugin
    HRESULT startup() override;
    HRESULT shutdown() override;
    HRESULT get_id(Variant* pVal) override;
    HRESULT get_started(VARIANT_BOOL* pVal) override;
    HRESULT get_init(Variant* pVal) override;
    HRESULT put_init(const Variant& pVal) override;
    HRESULT get_settings(Variant* pVal) override;
    HRESULT put_settings(const Variant& pVal) override;
    HRESULT get_services(IDispatch** pVal) override;
    HRESULT put_services(IDispatch* pVal) override;

    // IMPSettings
    HRESULT get_audio(IMPAudioSettings** pVal) override;
    HRESULT put_audio(IDispatch* pVal) override;
    HRESULT get_video(IMPVideoSettings** pVal) override;
    HRESULT put_video(IDispatch* pVal) override;

    // IMPAudioSettings
    HRESULT get_equalizer(IMPEqualizer** pVal) override;
    HRESULT get_effects(IMPAudioEffects** pVal) override;

    // IMPEqualizer
    HRESULT get_bypass(VARIANT_BOOL* pVal) override;
    HRESULT put_bypass(VARIANT_BOOL pVal) override;
    HRESULT get_bands(std::int32_t* pVal) override;
    HRESULT get_gainLevels(std::int32_t iIndex, float* pVal) override;
    HRESULT put_gainLevels(std::int32_t iIndex, float pVal) override;
    HRESULT get_freqValues(std::int32_t iIndex, std::int32_t* pVal) override;
    HRESULT reset() override;

    // IMPAudioEffects
    HRESULT get_enable(VARIANT_BOOL* pVal) override;
    HRESULT put_enable(VARIANT_BOOL pVal) override;
    HRESULT get_speakerSize(std::int32_t* pVal) override;
    HRESULT put_speakerSize(std::int32_t pVal) override;
    HRESULT get_truBassLevel(std::int32_t* pVal) override;
    HRESULT put_truBassLevel(std::int32_t pVal) override;
    HRESULT get_wowLevel(std::int32_t* pVal) override;
    HRESULT put_wowLevel(std::int32_t pVal) override;

private:
    // The audio object, or OLE_E_BLANK.
    HRESULT audioObject(ComPtr<IDispatch>& out);
    // A property of the audio settings object, read by name.
    HRESULT getValue(const char16_t* name, Variant& result);
    HRESULT getBoolean(const char16_t* name, VARIANT_BOOL* out);
    HRESULT getInteger(const char16_t* name, std::int32_t* out);
    HRESULT putValue(const char16_t* name, Variant value);
    HRESULT holdOnce(ComPtr<IDispatch>& slot, IDispatch* object);

    std::recursive_mutex lock_;
    ComPtr<platform::media::IMediaPlayer> player_;
    ComPtr<IDispatch> audio_; // the skin's EQUALIZERSETTINGS
    ComPtr<IDispatch> video_; // the skin's VIDEOSETTINGS (held, not used)
    bool started_ = false;
    Variant init_;
    Variant settings_;
};

} // namespace norv::media
