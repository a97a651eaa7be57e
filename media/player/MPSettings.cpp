#include "media/player/MPSettings.h"

#include <iterator>

#include "media/player/SkinPackage.h"
#include "platform/com/Exceptions.h"

namespace norv::media {

namespace {

constexpr std::int32_t kBandCount = static_cast<std::int32_t>(std::size(MPSettings::kFrequencies));

HRESULT idOfName(IDispatch* object, const char16_t* name, DISPID& id) {
    Bstr names[1] = {Bstr(name)};
    DISPID ids[1] = {DISPID_UNKNOWN};
    HRESULT hr = object->GetIDsOfNames(IID_NULL, names, LOCALE_USER_DEFAULT, ids);
    id = ids[0];
    return hr;
}

// The control's index of band iIndex: one more (wrapping, as the 32-bit value it is).
std::int32_t controlIndex(std::int32_t iIndex) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(iIndex) + 1u);
}

} // namespace

// ---------------------------------------------------------------------------------------
// IMPPlugin

HRESULT MPSettings::startup() {
    return guard(IMPPlugin::iid, [&]() -> HRESULT {
        ComPtr<platform::media::IMediaPlayer> player;
        {
            std::lock_guard guard(lock_);
            if (!player_)
                return OLE_E_BLANK;
            started_ = true;
            player = player_;
        }
        // Switching to the custom mode loads the skin, whose onload puts the skin's
        // elements into `audio` and `video`; the mode then goes back to what it was.
        Bstr mode;
        HRESULT hr = player->get_uiMode(&mode);
        if (succeeded(hr))
            hr = player->put_uiMode(Bstr(u"custom"));
        if (succeeded(hr))
            hr = player->put_uiMode(mode);
        std::lock_guard guard(lock_);
        if (!audio_)
            return E_FAIL;
        return failed(hr) ? hr : S_OK;
    });
}

HRESULT MPSettings::shutdown() {
    std::lock_guard guard(lock_);
    started_ = false;
    return S_OK;
}

HRESULT MPSettings::get_id(Variant* out) {
    if (out == nullptr)
        return E_POINTER;
    out->clear();
    return S_OK;
}

HRESULT MPSettings::get_started(VARIANT_BOOL* out) {
    if (out == nullptr)
        return E_POINTER;
    std::lock_guard guard(lock_);
    *out = started_ ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
}

HRESULT MPSettings::get_init(Variant* out) {
    if (out == nullptr)
        return E_POINTER;
    std::lock_guard guard(lock_);
    *out = init_;
    return S_OK;
}

HRESULT MPSettings::put_init(const Variant& value) {
    std::lock_guard guard(lock_);
    init_ = value;
    return S_OK;
}

HRESULT MPSettings::get_settings(Variant* out) {
    if (out == nullptr)
        return E_POINTER;
    std::lock_guard guard(lock_);
    *out = settings_;
    return S_OK;
}

HRESULT MPSettings::put_settings(const Variant& value) {
    std::lock_guard guard(lock_);
    settings_ = value;
    return S_OK;
}

HRESULT MPSettings::get_services(IDispatch** out) {
    if (out == nullptr)
        return E_POINTER;
    std::lock_guard guard(lock_);
    *out = player_.get();
    if (*out)
        (*out)->AddRef();
    return S_OK;
}

HRESULT MPSettings::put_services(IDispatch* player) {
    return guard(IMPPlugin::iid, [&]() -> HRESULT {
        if (player) {
            {
                std::lock_guard guard(lock_);
                if (audio_ && video_)
                    return S_FALSE;
            }
            ComPtr<platform::media::IMediaPlayer> control;
            if (failed(player->QueryInterface(platform::media::IMediaPlayer::iid,
                                              control.putVoid())) ||
                !control)
                return E_NOINTERFACE;
            std::lock_guard guard(lock_);
            player_ = std::move(control);
        } else {
            ComPtr<platform::media::IMediaPlayer> oldPlayer;
            ComPtr<IDispatch> oldAudio, oldVideo;
            {
                std::lock_guard guard(lock_);
                oldPlayer = std::move(player_);
                oldAudio = std::move(audio_);
                oldVideo = std::move(video_);
            }
            // Released here, outside the lock.
        }
        return SkinPackage::ensure();
    });
}

// ---------------------------------------------------------------------------------------
// IMPSettings and IMPAudioSettings

HRESULT MPSettings::holdOnce(ComPtr<IDispatch>& slot, IDispatch* object) {
    std::lock_guard guard(lock_);
    if (slot)
        return E_ACCESSDENIED;
    if (object == nullptr)
        return E_NOINTERFACE;
    slot = object;
    return S_OK;
}

HRESULT MPSettings::get_audio(IMPAudioSettings** out) {
    if (out == nullptr)
        return E_POINTER;
    return QueryInterface(IMPAudioSettings::iid, reinterpret_cast<void**>(out));
}

HRESULT MPSettings::put_audio(IDispatch* object) {
    return holdOnce(audio_, object);
}

HRESULT MPSettings::get_video(IMPVideoSettings** out) {
    if (out == nullptr)
        return E_POINTER;
    // The part has no picture settings of its own (the element it holds is not offered).
    return QueryInterface(IMPVideoSettings::iid, reinterpret_cast<void**>(out));
}

HRESULT MPSettings::put_video(IDispatch* object) {
    return holdOnce(video_, object);
}

HRESULT MPSettings::get_equalizer(IMPEqualizer** out) {
    if (out == nullptr)
        return E_POINTER;
    return QueryInterface(IMPEqualizer::iid, reinterpret_cast<void**>(out));
}

HRESULT MPSettings::get_effects(IMPAudioEffects** out) {
    if (out == nullptr)
        return E_POINTER;
    return QueryInterface(IMPAudioEffects::iid, reinterpret_cast<void**>(out));
}

// ---------------------------------------------------------------------------------------
// By-name access to the skin's EQUALIZERSETTINGS

HRESULT MPSettings::audioObject(ComPtr<IDispatch>& out) {
    std::lock_guard guard(lock_);
    if (!audio_)
        return OLE_E_BLANK;
    out = audio_;
    return S_OK;
}

HRESULT MPSettings::getValue(const char16_t* name, Variant& result) {
    ComPtr<IDispatch> audio;
    HRESULT hr = audioObject(audio);
    DISPID id = DISPID_UNKNOWN;
    if (succeeded(hr))
        hr = idOfName(audio.get(), name, id);
    if (failed(hr))
        return hr;
    DispParams none{};
    return audio->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, none, &result,
                         nullptr, nullptr);
}

HRESULT MPSettings::getBoolean(const char16_t* name, VARIANT_BOOL* out) {
    if (out == nullptr)
        return E_POINTER;
    Variant result;
    HRESULT hr = getValue(name, result);
    if (succeeded(hr))
        *out = static_cast<VARIANT_BOOL>(result.i2()); // the 16-bit data, unconverted
    return hr;
}

HRESULT MPSettings::getInteger(const char16_t* name, std::int32_t* out) {
    if (out == nullptr)
        return E_POINTER;
    Variant result;
    HRESULT hr = getValue(name, result);
    if (succeeded(hr))
        *out = result.i4();
    return hr;
}

HRESULT MPSettings::putValue(const char16_t* name, Variant value) {
    ComPtr<IDispatch> audio;
    HRESULT hr = audioObject(audio);
    DISPID id = DISPID_UNKNOWN;
    if (succeeded(hr))
        hr = idOfName(audio.get(), name, id);
    if (failed(hr))
        return hr;
    Variant args[1] = {std::move(value)};
    const DISPID named[1] = {DISPID_PROPERTYPUT};
    DispParams params{args, named};
    return audio->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYPUT, params, nullptr,
                         nullptr, nullptr);
}

HRESULT MPSettings::get_bypass(VARIANT_BOOL* out) {
    return getBoolean(u"bypass", out);
}

HRESULT MPSettings::put_bypass(VARIANT_BOOL value) {
    return putValue(u"bypass", Variant::fromI2(value));
}

HRESULT MPSettings::get_bands(std::int32_t* out) {
    return getInteger(u"bands", out);
}

HRESULT MPSettings::get_gainLevels(std::int32_t iIndex, float* out) {
    if (out == nullptr)
        return E_POINTER;
    ComPtr<IDispatch> audio;
    HRESULT hr = audioObject(audio);
    DISPID id = DISPID_UNKNOWN;
    if (succeeded(hr))
        hr = idOfName(audio.get(), u"gainLevels", id);
    if (failed(hr))
        return hr;
    Variant args[1] = {Variant::fromI4(controlIndex(iIndex))};
    DispParams params{args, {}};
    Variant result;
    hr = audio->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, params, &result,
                       nullptr, nullptr);
    if (succeeded(hr))
        *out = result.r4();
    return hr;
}

HRESULT MPSettings::put_gainLevels(std::int32_t iIndex, float value) {
    ComPtr<IDispatch> audio;
    HRESULT hr = audioObject(audio);
    DISPID id = DISPID_UNKNOWN;
    if (succeeded(hr))
        hr = idOfName(audio.get(), u"gainLevels", id);
    if (failed(hr))
        return hr;
    // In COM order: the put value (the named argument), then the index.
    Variant args[2] = {Variant::fromR4(value), Variant::fromI4(controlIndex(iIndex))};
    const DISPID named[1] = {DISPID_PROPERTYPUT};
    DispParams params{args, named};
    return audio->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYPUT, params, nullptr,
                         nullptr, nullptr);
}

HRESULT MPSettings::get_freqValues(std::int32_t iIndex, std::int32_t* out) {
    if (out == nullptr)
        return E_POINTER;
    ComPtr<IDispatch> audio;
    if (HRESULT hr = audioObject(audio); failed(hr))
        return hr;
    if (iIndex < 0 || iIndex >= kBandCount)
        return E_INVALIDARG;
    *out = kFrequencies[iIndex];
    return S_OK;
}

HRESULT MPSettings::reset() {
    ComPtr<IDispatch> audio;
    HRESULT hr = audioObject(audio);
    DISPID id = DISPID_UNKNOWN;
    if (succeeded(hr))
        hr = idOfName(audio.get(), u"reset", id);
    if (failed(hr))
        return hr;
    DispParams none{};
    return audio->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, none, nullptr, nullptr,
                         nullptr);
}

HRESULT MPSettings::get_enable(VARIANT_BOOL* out) {
    return getBoolean(u"enhancedAudio", out);
}

HRESULT MPSettings::put_enable(VARIANT_BOOL value) {
    return putValue(u"enhancedAudio", Variant::fromI2(value));
}

HRESULT MPSettings::get_speakerSize(std::int32_t* out) {
    return getInteger(u"speakerSize", out);
}

HRESULT MPSettings::put_speakerSize(std::int32_t value) {
    return putValue(u"speakerSize", Variant::fromI4(value));
}

HRESULT MPSettings::get_truBassLevel(std::int32_t* out) {
    return getInteger(u"truBassLevel", out);
}

HRESULT MPSettings::put_truBassLevel(std::int32_t value) {
    return putValue(u"truBassLevel", Variant::fromI4(value));
}

HRESULT MPSettings::get_wowLevel(std::int32_t* out) {
    return getInteger(u"wowLevel", out);
}

HRESULT MPSettings::put_wowLevel(std::int32_t value) {
    return putValue(u"wowLevel", Variant::fromI4(value));
}

} // namespace norv::media
