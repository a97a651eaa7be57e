#pragma once
// The media player control's scripting surface: the player itself, its transport
// controls, its settings, the current media item and the events it raises.
//
// Script reaches these through the control's dispatch (names matched without regard to
// case). The events interface is a source interface: the control calls each connected
// sink's Invoke with the member's dispatch identifier, so a native sink implements it with
// plain overrides (DispatchObject) and a script sink answers it by dispatch alone.

#include <cstdint>

#include "platform/com/Dispatch.h"
#include "platform/com/TypeInfo.h"

namespace norv::platform::media {

using namespace norv::com;

// Play states (playState and PlayStateChange).
enum PlayState : std::int32_t {
    psUndefined = 0,
    psStopped = 1,
    psPaused = 2,
    psPlaying = 3,
    psMediaEnded = 8,
    psTransitioning = 9,
    psReady = 10,
};

// The media item being played (currentMedia).
struct IMediaItem : IDispatch {
    static constexpr IID iid = guid("{5979C9A0-BC24-419B-A8C5-5C67BFD8E130}");
    using Base = IDispatch;

    // Seconds; 0 while not known.
    virtual HRESULT get_duration(double* pVal) = 0;
    // "m:ss" (or "h:mm:ss"); empty while not known.
    virtual HRESULT get_durationString(Bstr* pVal) = 0;
    virtual HRESULT get_sourceURL(Bstr* pVal) = 0;
    // The last path segment of the address, without its extension.
    virtual HRESULT get_name(Bstr* pVal) = 0;
    // The text of the error that stopped this item; empty when none.
    virtual HRESULT get_errorDescription(Bstr* pVal) = 0;

    static const InterfaceInfo& interfaceInfo() {
        using I = IMediaItem;
        static const InterfaceInfo info = describeInterface<I>(
            u"IMediaItem", u"Media item", propget(1, u"duration", &I::get_duration),
            propget(2, u"durationString", &I::get_durationString),
            propget(3, u"sourceURL", &I::get_sourceURL), propget(4, u"name", &I::get_name),
            propget(5, u"errorDescription", &I::get_errorDescription));
        return info;
    }

protected:
    ~IMediaItem() = default;
};

struct IMediaControls : IDispatch {
    static constexpr IID iid = guid("{1E80535C-5D76-425D-BD20-AC857E1C591D}");
    using Base = IDispatch;

    virtual HRESULT play() = 0;
    virtual HRESULT pause() = 0;
    virtual HRESULT stop() = 0;
    // Seconds from the start of the medium.
    virtual HRESULT get_currentPosition(double* pVal) = 0;
    virtual HRESULT put_currentPosition(double pVal) = 0;

    static const InterfaceInfo& interfaceInfo() {
        using I = IMediaControls;
        static const InterfaceInfo info = describeInterface<I>(
            u"IMediaControls", u"Transport controls", method(1, u"play", &I::play),
            method(2, u"pause", &I::pause), method(3, u"stop", &I::stop),
            propget(4, u"currentPosition", &I::get_currentPosition),
            propput(4, u"currentPosition", &I::put_currentPosition, {u"pVal"}));
        return info;
    }

protected:
    ~IMediaControls() = default;
};

struct IMediaSettings : IDispatch {
    static constexpr IID iid = guid("{087F192B-EBE2-4B17-B8BC-B616F8B5EB4F}");
    using Base = IDispatch;

    // 0 to 100; values outside are clamped.
    virtual HRESULT get_volume(std::int32_t* pVal) = 0;
    virtual HRESULT put_volume(std::int32_t pVal) = 0;
    virtual HRESULT get_mute(VARIANT_BOOL* pVal) = 0;
    virtual HRESULT put_mute(VARIANT_BOOL pVal) = 0;
    // Whether setting URL starts playback (true by default).
    virtual HRESULT get_autoStart(VARIANT_BOOL* pVal) = 0;
    virtual HRESULT put_autoStart(VARIANT_BOOL pVal) = 0;

    static const InterfaceInfo& interfaceInfo() {
        using I = IMediaSettings;
        static const InterfaceInfo info = describeInterface<I>(
            u"IMediaSettings", u"Player settings", propget(1, u"volume", &I::get_volume),
            propput(1, u"volume", &I::put_volume, {u"pVal"}), propget(2, u"mute", &I::get_mute),
            propput(2, u"mute", &I::put_mute, {u"pVal"}),
            propget(3, u"autoStart", &I::get_autoStart),
            propput(3, u"autoStart", &I::put_autoStart, {u"pVal"}));
        return info;
    }

protected:
    ~IMediaSettings() = default;
};

// The control's own dispatch interface.
struct IMediaPlayer : IDispatch {
    static constexpr IID iid = guid("{FD4ADD8B-7052-466E-8843-0A1490ECF219}");
    using Base = IDispatch;

    // The medium: an http, https or file address, or a file path. Setting it opens the
    // medium (and plays it when settings.autoStart is true); the empty text closes it.
    virtual HRESULT get_URL(Bstr* pVal) = 0;
    virtual HRESULT put_URL(const Bstr& pVal) = 0;
    virtual HRESULT get_playState(PlayState* pVal) = 0;
    virtual HRESULT get_controls(IMediaControls** pVal) = 0;
    virtual HRESULT get_settings(IMediaSettings** pVal) = 0;
    virtual HRESULT get_currentMedia(IMediaItem** pVal) = 0;
    // "none", "invisible", "full", "mini" or "custom".
    virtual HRESULT get_uiMode(Bstr* pVal) = 0;
    virtual HRESULT put_uiMode(const Bstr& pVal) = 0;
    virtual HRESULT get_versionInfo(Bstr* pVal) = 0;
    // Stops playback and releases the medium.
    virtual HRESULT close() = 0;

    static const InterfaceInfo& interfaceInfo() {
        using I = IMediaPlayer;
        static const InterfaceInfo info = describeInterface<I>(
            u"IMediaPlayer", u"Media player", propget(1, u"URL", &I::get_URL),
            propput(1, u"URL", &I::put_URL, {u"pVal"}), propget(2, u"playState", &I::get_playState),
            propget(3, u"controls", &I::get_controls), propget(4, u"settings", &I::get_settings),
            propget(5, u"currentMedia", &I::get_currentMedia),
            propget(6, u"uiMode", &I::get_uiMode), propput(6, u"uiMode", &I::put_uiMode, {u"pVal"}),
            propget(7, u"versionInfo", &I::get_versionInfo), method(8, u"close", &I::close));
        return info;
    }

protected:
    ~IMediaPlayer() = default;
};

// The events of the control (its connection point's interface).
struct IMediaPlayerEvents : IDispatch {
    static constexpr IID iid = guid("{19A6627B-DA9E-47C1-BB23-00B5E668236A}");
    using Base = IDispatch;

    static constexpr DISPID dispidPlayStateChange = 1;
    static constexpr DISPID dispidMediaError = 2;

    virtual HRESULT PlayStateChange(std::int32_t NewState) = 0;
    // pMediaObject: the IMediaItem that failed.
    virtual HRESULT MediaError(IDispatch* pMediaObject) = 0;

    static const InterfaceInfo& interfaceInfo() {
        using I = IMediaPlayerEvents;
        static const InterfaceInfo info = describeInterface<I>(
            u"IMediaPlayerEvents", u"Media player events",
            method(dispidPlayStateChange, u"PlayStateChange", &I::PlayStateChange, {u"NewState"}),
            method(dispidMediaError, u"MediaError", &I::MediaError, {u"pMediaObject"}));
        return info;
    }

protected:
    ~IMediaPlayerEvents() = default;
};

} // namespace norv::platform::media
