#pragma once
// MPStreamTap: the program's place in one of the player's chains, for one stream type.
// Every sample it sees goes to its filters in list order (FilterChain) and then, for
// audio, to its spectrum feed (MPSpectrumFeed). It gets into the chain one of three ways:
//
//  - the audio transform: the tap wraps the transform the player activates for its audio
//    path (IAudioTransform, given as the inner object through `init`); its element is
//    [audioconvert ! tap ! inner element], so the tap sees each buffer before the inner
//    transform does;
//  - the video path's frames: the tap hands out a frame callback
//    (ISampleGrabberSinkCallback, a separate small object holding the tap) that the
//    video presenter calls for each frame;
//  - the grabber: attach() links a tap element in front of the pipeline's sink of the
//    tap's stream type while it runs, between two buffers (an idle pad probe), and
//    detach() takes it out the same way.
//
// Filters see the raw formats of RawFormat; times are seconds of stream time, the bytes
// are in place (VT_UI1 | VT_BYREF) with their count (VT_I4; VT_UI4 on the frame callback).
// The tap's current media type is the one negotiated last.
//
// A tap that is shut down (IMPPlugin::shutdown, when the stream part lets it go) calls no
// filter again, even though its element may still be in a pipeline.

#include <gst/gst.h>

#include <chrono>
#include <memory>
#include <mutex>
#include <optional>
#include <span>

#include "media/pipeline/FilterChain.h"
#include "media/pipeline/MPSpectrumFeed.h"
#include "media/pipeline/PipelineInterfaces.h"
#include "media/pipeline/PluginState.h"
#include "platform/com/DispatchObject.h"
#include "platform/media/GstRef.h"
#include "platform/media/PlayerHostInterfaces.h"
#include "typelib/PlayerInterfaces.h"

namespace norv::media {

class MPStreamTap final : public com::ComObject<MPStreamTap, com::DispatchImpl<typelib::IMPPlugin>,
                                                platform::media::IAudioTransform> {
public:
    // The window the spectrum analyses: 512 frames.
    static constexpr std::uint32_t spectrumFrames = 512;

    // Receives the window being heard at `position` with the tap's audio format block.
    using SpectrumCallback =
        std::function<com::HRESULT(double position, std::span<const std::uint8_t> window,
                                   std::span<const std::uint8_t> format)>;

    explicit MPStreamTap(typelib::MPStreamType type);
    ~MPStreamTap() override;

    // IAudioTransform only while an inner transform is wrapped; the frame callback from
    // a separate object; E_NOINTERFACE for anything else while attached as a grabber;
    // otherwise what the inner object answers.
    com::HRESULT QueryInterface(const com::IID& iid, void** out) override;

    // IMPPlugin. `init` with an object: the inner transform to wrap.
    com::HRESULT startup() override;
    com::HRESULT shutdown() override;
    com::HRESULT get_id(com::Variant* pVal) override;
    com::HRESULT get_started(com::VARIANT_BOOL* pVal) override;
    com::HRESULT get_init(com::Variant* pVal) override;
    com::HRESULT put_init(const com::Variant& pVal) override;
    com::HRESULT get_settings(com::Variant* pVal) override;
    com::HRESULT put_settings(const com::Variant& pVal) override;
    com::HRESULT get_services(com::IDispatch** pVal) override;
    com::HRESULT put_services(com::IDispatch* pVal) override;

    // IAudioTransform: [audioconvert ! tap ! inner element], the same element each time.
    com::HRESULT GetElement(GstElement** element) override;

    typelib::MPStreamType streamType() const { return type_; }

    // The tap's own copy of its stream's filter list.
    bool insertFilter(const FilterChain::Filter& filter);
    bool removeFilter(typelib::IMPStreamFilter* filter);
    void setFilters(std::span<const FilterChain::Filter> filters);
    void setFilterDeadline(std::chrono::milliseconds deadline);
    // Filter calls in flight let go, bounded ones are skipped until resumeFilters().
    void interruptFilters();
    void resumeFilters();

    // The current media type: OLE_E_BLANK while none was negotiated.
    com::HRESULT mediaType(typelib::AMMediaType& out) const;
    bool typed() const;

    // Audio: the spectrum feed's period and callback (an empty callback: none).
    com::HRESULT configureSpectrum(std::int32_t periodMs, SpectrumCallback callback);
    // Drops the audio kept for the spectrum.
    void clearSpectrum();

    // The frame callback of the video path, typed with `type` (E_FAIL when the tap is
    // typed already).
    com::HRESULT frameCallback(const typelib::AMMediaType& type, const com::IID& iid, void** out);

    // The grabber: links a tap element in front of `pipeline`'s sink of this stream type
    // (NTE_NOT_FOUND when it has none with a negotiated format of that type).
    com::HRESULT attach(GstElement* pipeline);
    // Takes the grabber out again (nothing when not attached).
    void detach();
    bool attached() const;

    // The tap element the samples pass (null before there is one).
    platform::media::GstRef<GstElement> tapElement() const;

private:
    class Core;
    class FrameCallback;
    struct Grabber;

    const typelib::MPStreamType type_;
    std::shared_ptr<Core> core_;
    PluginState plugin_;

    mutable std::mutex lock_;
    com::ComPtr<platform::media::IAudioTransform> inner_;
    platform::media::GstRef<GstElement> element_; // the wrapped transform's bin
    std::unique_ptr<Grabber> grabber_;
};

} // namespace norv::media
