#pragma once
// The media player's script-visible interfaces: player, services, stream, filters,
// recorder, plug-in life cycle, settings, equaliser, effects and media samples.

#include "typelib/NorvViewTypes.h"

namespace norv::typelib {

// A receiver of stream samples. The stream taps call process through the interface
// itself: type is the tap's stream type, timeStart / timeEnd are VT_R8 seconds, dataBuff
// is VT_UI1 | VT_BYREF (the sample's bytes in place), dataSize VT_I4 or VT_UI4.
struct IMPStreamFilter : IDispatch {
    static constexpr IID iid = guid("{9B9BBC5E-2599-4387-8BD0-00CEE6C68D50}");
    using Base = IDispatch;

    virtual HRESULT process(MPStreamType type, const Variant& timeStart, const Variant& timeEnd,
                            const Variant& dataBuff, const Variant& dataSize) = 0;

    static const InterfaceInfo& interfaceInfo() {
        using I = IMPStreamFilter;
        static const InterfaceInfo info = describeInterface<I>(
            u"IMPStreamFilter", u"IMPStreamFilter Interface",
            method(1, u"process", &I::process,
                   {u"type", u"timeStart", u"timeEnd", u"dataBuff", u"dataSize"}));
        return info;
    }

protected:
    ~IMPStreamFilter() = default;
};

struct IMPStream : IDispatch {
    static constexpr IID iid = guid("{BFA73D1A-1F9B-4F3E-8773-A429C8E50826}");
    using Base = IDispatch;

    // type: bit set, 1 audio, 2 video.
    virtual HRESULT insertFilter(IMPStreamFilter* pVal, std::int32_t type) = 0;
    virtual HRESULT removeFilter(IMPStreamFilter* pVal, std::int32_t type) = 0;
    virtual HRESULT getStreamType(MPStreamType type, AMMediaType* pMediaType) = 0;

    static const InterfaceInfo& interfaceInfo() {
        using I = IMPStream;
        static const InterfaceInfo info = describeInterface<I>(
            u"IMPStream", u"IMPStream Interface",
            method(5, u"insertFilter", &I::insertFilter, {u"pVal", u"type"}),
            method(6, u"removeFilter", &I::removeFilter, {u"pVal", u"type"}),
            method(7, u"getStreamType", &I::getStreamType, {u"type", u"pMediaType"}));
        return info;
    }

protected:
    ~IMPStream() = default;
};

// The life cycle every part of the player offers.
struct IMPPlugin : IDispatch {
    static constexpr IID iid = guid("{74B463F8-F724-4EF1-B9D1-5AB21B1785E0}");
    using Base = IDispatch;

    virtual HRESULT startup() = 0;
    virtual HRESULT shutdown() = 0;
    virtual HRESULT get_id(Variant* pVal) = 0;
    virtual HRESULT get_started(VARIANT_BOOL* pVal) = 0;
    virtual HRESULT get_init(Variant* pVal) = 0;
    virtual HRESULT put_init(const Variant& pVal) = 0;
    virtual HRESULT get_settings(Variant* pVal) = 0;
    virtual HRESULT put_settings(const Variant& pVal) = 0;
    virtual HRESULT get_services(IDispatch** pVal) = 0;
    virtual HRESULT put_services(IDispatch* pVal) = 0;

    static const InterfaceInfo& interfaceInfo() {
        using I = IMPPlugin;
        static const InterfaceInfo info = describeInterface<I>(
            u"IMPPlugin", u"IMPPlugin Interface", method(1, u"startup", &I::startup),
            method(2, u"shutdown", &I::shutdown), propget(3, u"id", &I::get_id),
            propget(4, u"started", &I::get_started), propget(5, u"init", &I::get_init),
            propput(5, u"init", &I::put_init, {u"pVal"}), propget(6, u"settings", &I::get_settings),
            propput(6, u"settings", &I::put_settings, {u"pVal"}),
            propget(7, u"services", &I::get_services),
            propput(7, u"services", &I::put_services, {u"pVal"}));
        return info;
    }

protected:
    ~IMPPlugin() = default;
};

struct IMPRecorder : IMPPlugin {
    static constexpr IID iid = guid("{8095FBDD-CF69-4792-88AB-FFDD6D617781}");
    using Base = IMPPlugin;

    virtual HRESULT get_file(Bstr* pVal) = 0;
    virtual HRESULT put_file(const Bstr& pVal) = 0;
    virtual HRESULT get_duration(double* pVal) = 0;
    virtual HRESULT get_paused(VARIANT_BOOL* pVal) = 0;
    virtual HRESULT get_stoped(VARIANT_BOOL* pVal) = 0;
    virtual HRESULT get_recording(VARIANT_BOOL* pVal) = 0;
    virtual HRESULT stop() = 0;
    virtual HRESULT pause() = 0;
    virtual HRESULT record() = 0;

    static const InterfaceInfo& interfaceInfo() {
        using I = IMPRecorder;
        static const InterfaceInfo info = describeInterface<I>(
            u"IMPRecorder", u"IMPRecorder Interface", propget(8, u"file", &I::get_file),
            propput(8, u"file", &I::put_file, {u"pVal"}), propget(9, u"duration", &I::get_duration),
            propget(10, u"paused", &I::get_paused), propget(11, u"stoped", &I::get_stoped),
            propget(12, u"recording", &I::get_recording), method(13, u"stop", &I::stop),
            method(14, u"pause", &I::pause), method(15, u"record", &I::record));
        return info;
    }

protected:
    ~IMPRecorder() = default;
};

struct IMPEqualizer : IDispatch {
    static constexpr IID iid = guid("{B976EFF0-32E0-4091-B8F2-E953838051C4}");
    using Base = IDispatch;

    virtual HRESULT get_bypass(VARIANT_BOOL* pVal) = 0;
    virtual HRESULT put_bypass(VARIANT_BOOL pVal) = 0;
    virtual HRESULT get_bands(std::int32_t* pVal) = 0;
    virtual HRESULT get_gainLevels(std::int32_t iIndex, float* pVal) = 0;
    virtual HRESULT put_gainLevels(std::int32_t iIndex, float pVal) = 0;
    virtual HRESULT get_freqValues(std::int32_t iIndex, std::int32_t* pVal) = 0;
    virtual HRESULT reset() = 0;

    static const InterfaceInfo& interfaceInfo() {
        using I = IMPEqualizer;
        static const InterfaceInfo info = describeInterface<I>(
            u"IMPEqualizer", u"IMPEqualizer Interface", propget(100, u"bypass", &I::get_bypass),
            propput(100, u"bypass", &I::put_bypass, {u"pVal"}),
            propget(101, u"bands", &I::get_bands),
            propget(102, u"gainLevels", &I::get_gainLevels, {u"iIndex"}),
            propput(102, u"gainLevels", &I::put_gainLevels, {u"iIndex", u"pVal"}),
            propget(103, u"freqValues", &I::get_freqValues, {u"iIndex"}),
            method(104, u"reset", &I::reset));
        return info;
    }

protected:
    ~IMPEqualizer() = default;
};

struct IMPAudioEffects : IDispatch {
    static constexpr IID iid = guid("{8C428666-708F-4364-A46D-EFEB4E960408}");
    using Base = IDispatch;

    virtual HRESULT get_enable(VARIANT_BOOL* pVal) = 0;
    virtual HRESULT put_enable(VARIANT_BOOL pVal) = 0;
    virtual HRESULT get_speakerSize(std::int32_t* pVal) = 0;
    virtual HRESULT put_speakerSize(std::int32_t pVal) = 0;
    virtual HRESULT get_truBassLevel(std::int32_t* pVal) = 0;
    virtual HRESULT put_truBassLevel(std::int32_t pVal) = 0;
    virtual HRESULT get_wowLevel(std::int32_t* pVal) = 0;
    virtual HRESULT put_wowLevel(std::int32_t pVal) = 0;

    static const InterfaceInfo& interfaceInfo() {
        using I = IMPAudioEffects;
        static const InterfaceInfo info =
            describeInterface<I>(u"IMPAudioEffects", u"IMPAudioEffects Interface",
                                 propget(200, u"enable", &I::get_enable),
                                 propput(200, u"enable", &I::put_enable, {u"pVal"}),
                                 propget(201, u"speakerSize", &I::get_speakerSize),
                                 propput(201, u"speakerSize", &I::put_speakerSize, {u"pVal"}),
                                 propget(202, u"truBassLevel", &I::get_truBassLevel),
                                 propput(202, u"truBassLevel", &I::put_truBassLevel, {u"pVal"}),
                                 propget(203, u"wowLevel", &I::get_wowLevel),
                                 propput(203, u"wowLevel", &I::put_wowLevel, {u"pVal"}));
        return info;
    }

protected:
    ~IMPAudioEffects() = default;
};

struct IMPAudioSettings : IDispatch {
    static constexpr IID iid = guid("{825051A7-3C08-412F-B81E-B71182D5BB24}");
    using Base = IDispatch;

    virtual HRESULT get_equalizer(IMPEqualizer** pVal) = 0;
    virtual HRESULT get_effects(IMPAudioEffects** pVal) = 0;

    static const InterfaceInfo& interfaceInfo() {
        using I = IMPAudioSettings;
        static const InterfaceInfo info =
            describeInterface<I>(u"IMPAudioSettings", u"IMPAudioSettings Interface",
                                 propget(300, u"equalizer", &I::get_equalizer),
                                 propget(301, u"effects", &I::get_effects));
        return info;
    }

protected:
    ~IMPAudioSettings() = default;
};

struct IMPVideoSettings : IDispatch {
    static constexpr IID iid = guid("{54A9CE95-9C90-44BD-BDD3-656DC7A1B587}");
    using Base = IDispatch;

    virtual HRESULT get_brightness(std::int32_t* pVal) = 0;
    virtual HRESULT put_brightness(std::int32_t pVal) = 0;
    virtual HRESULT get_contrast(std::int32_t* pVal) = 0;
    virtual HRESULT put_contrast(std::int32_t pVal) = 0;
    virtual HRESULT get_hue(std::int32_t* pVal) = 0;
    virtual HRESULT put_hue(std::int32_t pVal) = 0;
    virtual HRESULT get_saturation(std::int32_t* pVal) = 0;
    virtual HRESULT put_saturation(std::int32_t pVal) = 0;
    virtual HRESULT reset() = 0;

    static const InterfaceInfo& interfaceInfo() {
        using I = IMPVideoSettings;
        static const InterfaceInfo info = describeInterface<I>(
            u"IMPVideoSettings", u"IMPVideoSettings Interface",
            propget(400, u"brightness", &I::get_brightness),
            propput(400, u"brightness", &I::put_brightness, {u"pVal"}),
            propget(401, u"contrast", &I::get_contrast),
            propput(401, u"contrast", &I::put_contrast, {u"pVal"}),
            propget(402, u"hue", &I::get_hue), propput(402, u"hue", &I::put_hue, {u"pVal"}),
            propget(403, u"saturation", &I::get_saturation),
            propput(403, u"saturation", &I::put_saturation, {u"pVal"}),
            method(404, u"reset", &I::reset));
        return info;
    }

protected:
    ~IMPVideoSettings() = default;
};

struct IMPSettings : IDispatch {
    static constexpr IID iid = guid("{4ADF96F2-AB65-4DEC-A4C7-14954C4150D8}");
    using Base = IDispatch;

    // The put side receives the skin's EQUALIZERSETTINGS / VIDEOSETTINGS objects.
    virtual HRESULT get_audio(IMPAudioSettings** pVal) = 0;
    virtual HRESULT put_audio(IDispatch* pVal) = 0;
    virtual HRESULT get_video(IMPVideoSettings** pVal) = 0;
    virtual HRESULT put_video(IDispatch* pVal) = 0;

    static const InterfaceInfo& interfaceInfo() {
        using I = IMPSettings;
        static const InterfaceInfo info = describeInterface<I>(
            u"IMPSettings", u"IMPSettings Interface", propget(1, u"audio", &I::get_audio),
            propput(1, u"audio", &I::put_audio, {u"pVal"}), propget(2, u"video", &I::get_video),
            propput(2, u"video", &I::put_video, {u"pVal"}));
        return info;
    }

protected:
    ~IMPSettings() = default;
};

struct IMPMediaSample : IDispatch {
    static constexpr IID iid = guid("{5994808B-5388-4A91-AF7A-C9F43565F903}");
    using Base = IDispatch;

    virtual HRESULT get_time(std::int32_t* pVal) = 0;
    virtual HRESULT get_rate(std::int32_t* pVal) = 0;
    virtual HRESULT get_bits(std::int32_t* pVal) = 0;
    virtual HRESULT get_channels(std::int32_t* pVal) = 0;
    virtual HRESULT get_fftLength(std::int32_t* pVal) = 0;
    virtual HRESULT get_fftSpectrum(std::int32_t freq, std::int32_t* pVal) = 0;

    static const InterfaceInfo& interfaceInfo() {
        using I = IMPMediaSample;
        static const InterfaceInfo info = describeInterface<I>(
            u"IMPMediaSample", u"IMPMediaSample Interface", propget(1, u"time", &I::get_time),
            propget(2, u"rate", &I::get_rate), propget(3, u"bits", &I::get_bits),
            propget(8, u"channels", &I::get_channels), propget(9, u"fftLength", &I::get_fftLength),
            propget(10, u"fftSpectrum", &I::get_fftSpectrum, {u"freq"}));
        return info;
    }

protected:
    ~IMPMediaSample() = default;
};

struct IMPPlayerServices : IDispatch {
    static constexpr IID iid = guid("{2E3E0C5D-42E5-4EF0-A7A3-F43E9CFF6609}");
    using Base = IDispatch;

    // pVal null removes the listener; TimeOut is the period in milliseconds.
    virtual HRESULT audioSpectrumListener(IDispatch* pVal, std::int32_t TimeOut) = 0;
    virtual HRESULT get_stream(IMPStream** pVal) = 0;
    virtual HRESULT get_recorder(IMPRecorder** pVal) = 0;
    virtual HRESULT get_settings(IMPSettings** pVal) = 0;

    static const InterfaceInfo& interfaceInfo() {
        using I = IMPPlayerServices;
        static const InterfaceInfo info = describeInterface<I>(
            u"IMPPlayerServices", u"IMPPlayerServices Interface",
            method(1, u"audioSpectrumListener", &I::audioSpectrumListener, {u"pVal", u"TimeOut"}),
            propget(2, u"stream", &I::get_stream), propget(3, u"recorder", &I::get_recorder),
            propget(4, u"settings", &I::get_settings));
        return info;
    }

protected:
    ~IMPPlayerServices() = default;
};

struct IMPPlayer : IDispatch {
    static constexpr IID iid = guid("{159B7311-624E-4F2A-974E-FF6DFC80094C}");
    using Base = IDispatch;

    virtual HRESULT get_services(IMPPlayerServices** pVal) = 0;

    static const InterfaceInfo& interfaceInfo() {
        using I = IMPPlayer;
        static const InterfaceInfo info = describeInterface<I>(
            u"IMPPlayer", u"IMPPlayer Interface", propget(100, u"services", &I::get_services));
        return info;
    }

protected:
    ~IMPPlayer() = default;
};

} // namespace norv::typelib
