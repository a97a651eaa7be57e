#pragma once
// The interfaces between the player's parts and its stream taps that script does not see:
// the stream filter whose call may wait for someone else, the frame callback of the video
// path and the object that hands such callbacks out, and the media type identifiers.

#include <chrono>
#include <cstdint>
#include <stop_token>

#include "platform/com/Unknown.h"
#include "platform/com/Variant.h"
#include "typelib/PlayerInterfaces.h"

namespace norv::media {

// Major types of a media type record.
constexpr com::GUID kMediaTypeAudio = com::guid("{73647561-0000-0010-8000-00AA00389B71}");
constexpr com::GUID kMediaTypeVideo = com::guid("{73646976-0000-0010-8000-00AA00389B71}");
// Sub-types of the raw formats the taps hand to filters.
constexpr com::GUID kSubtypeAudioPcm = com::guid("{00000001-0000-0010-8000-00AA00389B71}");
constexpr com::GUID kSubtypeAudioFloat = com::guid("{00000003-0000-0010-8000-00AA00389B71}");
constexpr com::GUID kSubtypeVideoRgb32 = com::guid("{E436EB7E-524F-11CE-9F53-0020AF0BA770}");

// A stream filter whose call may wait for someone else: page script in the web process,
// say. The taps call it instead of IMPStreamFilter::process, with the time by which it
// must return and a token that is triggered when the player is about to wait for the
// streaming thread (a stop, a seek, a new medium), at which point it must return at once.
// A filter that gives up must not touch the sample's bytes afterwards: they belong to the
// pipeline again. An implementation whose earlier call has not come back yet should
// return at once rather than queue another.
struct IBoundedStreamFilter : com::IUnknown {
    static constexpr com::IID iid = com::guid("{0C6EDD2A-4FEB-4B93-97C5-EFAD10C4EB22}");
    using Base = com::IUnknown;

    virtual com::HRESULT processWithin(typelib::MPStreamType type, const com::Variant& timeStart,
                                       const com::Variant& timeEnd, const com::Variant& dataBuff,
                                       const com::Variant& dataSize,
                                       std::chrono::steady_clock::time_point deadline,
                                       std::stop_token interrupt) = 0;

protected:
    ~IBoundedStreamFilter() = default;
};

// Receives the frames of the player's video path.
struct ISampleGrabberSinkCallback : com::IUnknown {
    static constexpr com::IID iid = com::guid("{8C7B80BF-EE42-4B59-B1DF-55668E1BDCA8}");
    using Base = com::IUnknown;

    // One frame: its bytes in place (valid during the call only), time and duration in
    // 100-nanosecond units of stream time.
    virtual com::HRESULT OnProcessSample(const com::GUID& majorType, std::uint32_t flags,
                                         std::int64_t time, std::int64_t duration,
                                         std::uint8_t* data, std::uint32_t size) = 0;
    // The format ends: no frame follows through this callback.
    virtual com::HRESULT OnShutdown() = 0;

protected:
    ~ISampleGrabberSinkCallback() = default;
};

// Told, by the element a tap's samples come through, when the pipeline is about to wait
// for the streaming thread (filter calls in flight must let go: FilterChain::interrupt)
// and when data may flow again. Answered by the frame callbacks of the video path.
struct ITapFlow : com::IUnknown {
    static constexpr com::IID iid = com::guid("{EC19434C-9928-4572-8726-970C07ED8132}");
    using Base = com::IUnknown;

    virtual void interruptFlow() = 0;
    virtual void resumeFlow() = 0;

protected:
    ~ITapFlow() = default;
};

// Gives the video presenter a frame callback for each new frame format.
struct IVideoCallbackProvider : com::IUnknown {
    static constexpr com::IID iid = com::guid("{AEA863C8-C3B2-41A6-8EF8-058E9498463C}");
    using Base = com::IUnknown;

    // Runs on the streaming thread that brings the first frame of the format.
    virtual com::HRESULT GetFrameCallback(const typelib::AMMediaType& type,
                                          ISampleGrabberSinkCallback** out) = 0;

protected:
    ~IVideoCallbackProvider() = default;
};

} // namespace norv::media
