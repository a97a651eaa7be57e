#pragma once
// The scripting surface of the skin elements the control makes for a custom skin:
// EQUALIZERSETTINGS (the equaliser and the audio effects) and VIDEOSETTINGS (the picture).
// A skin's script reaches them by name through IDispatch (names matched without regard to
// case), for example `eq.gainLevels(3)`.
//
// Ranges (values outside are clamped by the control):
//  - gainLevels(i): i from 1 to bands (10), the gain of band i in dB, from -12 to +12;
//    an index outside is E_INVALIDARG;
//  - speakerSize: 0 small, 1 medium, 2 large; truBassLevel and wowLevel: 0 to 100;
//  - brightness, contrast, hue, saturation: -100 to 100, 0 being the picture unchanged.

#include <cstdint>

#include "platform/com/Dispatch.h"
#include "platform/com/TypeInfo.h"

namespace norv::platform::media {

using namespace norv::com;

struct IEqualizerSettings : IDispatch {
    static constexpr IID iid = guid("{1C5E4B71-0F0B-4A7D-9B3E-5D2A8C6F7E01}");
    using Base = IDispatch;

    // While true the equaliser leaves the sound unchanged (its gains are kept).
    virtual HRESULT get_bypass(VARIANT_BOOL* pVal) = 0;
    virtual HRESULT put_bypass(VARIANT_BOOL pVal) = 0;
    virtual HRESULT get_bands(std::int32_t* pVal) = 0;
    virtual HRESULT get_gainLevels(std::int32_t index, float* pVal) = 0;
    virtual HRESULT put_gainLevels(std::int32_t index, float pVal) = 0;
    // Every band back to 0 dB.
    virtual HRESULT reset() = 0;
    // The audio effects (bass and widening) on or off.
    virtual HRESULT get_enhancedAudio(VARIANT_BOOL* pVal) = 0;
    virtual HRESULT put_enhancedAudio(VARIANT_BOOL pVal) = 0;
    virtual HRESULT get_speakerSize(std::int32_t* pVal) = 0;
    virtual HRESULT put_speakerSize(std::int32_t pVal) = 0;
    virtual HRESULT get_truBassLevel(std::int32_t* pVal) = 0;
    virtual HRESULT put_truBassLevel(std::int32_t pVal) = 0;
    virtual HRESULT get_wowLevel(std::int32_t* pVal) = 0;
    virtual HRESULT put_wowLevel(std::int32_t pVal) = 0;
    // The element's id in the skin.
    virtual HRESULT get_id(Bstr* pVal) = 0;

    static const InterfaceInfo& interfaceInfo() {
        using I = IEqualizerSettings;
        static const InterfaceInfo info = describeInterface<I>(
            u"IEqualizerSettings", u"Equaliser and audio effects of a skin",
            propget(1, u"bypass", &I::get_bypass), propput(1, u"bypass", &I::put_bypass, {u"pVal"}),
            propget(2, u"bands", &I::get_bands),
            propget(3, u"gainLevels", &I::get_gainLevels, {u"index"}),
            propput(3, u"gainLevels", &I::put_gainLevels, {u"index", u"pVal"}),
            method(4, u"reset", &I::reset), propget(5, u"enhancedAudio", &I::get_enhancedAudio),
            propput(5, u"enhancedAudio", &I::put_enhancedAudio, {u"pVal"}),
            propget(6, u"speakerSize", &I::get_speakerSize),
            propput(6, u"speakerSize", &I::put_speakerSize, {u"pVal"}),
            propget(7, u"truBassLevel", &I::get_truBassLevel),
            propput(7, u"truBassLevel", &I::put_truBassLevel, {u"pVal"}),
            propget(8, u"wowLevel", &I::get_wowLevel),
            propput(8, u"wowLevel", &I::put_wowLevel, {u"pVal"}), propget(9, u"id", &I::get_id));
        return info;
    }

protected:
    ~IEqualizerSettings() = default;
};

struct IVideoSettings : IDispatch {
    static constexpr IID iid = guid("{1C5E4B71-0F0B-4A7D-9B3E-5D2A8C6F7E02}");
    using Base = IDispatch;

    virtual HRESULT get_brightness(std::int32_t* pVal) = 0;
    virtual HRESULT put_brightness(std::int32_t pVal) = 0;
    virtual HRESULT get_contrast(std::int32_t* pVal) = 0;
    virtual HRESULT put_contrast(std::int32_t pVal) = 0;
    virtual HRESULT get_hue(std::int32_t* pVal) = 0;
    virtual HRESULT put_hue(std::int32_t pVal) = 0;
    virtual HRESULT get_saturation(std::int32_t* pVal) = 0;
    virtual HRESULT put_saturation(std::int32_t pVal) = 0;
    // All four back to 0.
    virtual HRESULT reset() = 0;
    virtual HRESULT get_id(Bstr* pVal) = 0;

    static const InterfaceInfo& interfaceInfo() {
        using I = IVideoSettings;
        static const InterfaceInfo info = describeInterface<I>(
            u"IVideoSettings", u"Picture settings of a skin",
            propget(1, u"brightness", &I::get_brightness),
            propput(1, u"brightness", &I::put_brightness, {u"pVal"}),
            propget(2, u"contrast", &I::get_contrast),
            propput(2, u"contrast", &I::put_contrast, {u"pVal"}), propget(3, u"hue", &I::get_hue),
            propput(3, u"hue", &I::put_hue, {u"pVal"}),
            propget(4, u"saturation", &I::get_saturation),
            propput(4, u"saturation", &I::put_saturation, {u"pVal"}),
            method(5, u"reset", &I::reset), propget(6, u"id", &I::get_id));
        return info;
    }

protected:
    ~IVideoSettings() = default;
};

} // namespace norv::platform::media
