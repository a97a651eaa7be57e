#pragma once
// MPStream: the stream part of a player (IMPStream, services.stream). It keeps an ordered
// list of stream filters for the audio stream and one for the video stream, one tap
// (MPStreamTap) per stream type in the player's chains, and the spectrum listener.
//
// Script: insertFilter(f, type) and removeFilter(f, type) take a bit set (1 audio, 2
// video); insertFilter gives S_FALSE when nothing new reached a tap (the filter was in
// the tap's list already, or no tap exists yet: the filter is kept and every tap made
// later gets it), S_OK when a tap took it, E_NOTIMPL for type 0; removeFilter with type
// 0 removes from both lists. getStreamType(1 or 2) gives the tap's negotiated media type
// (OLE_E_BLANK before a tap has one, E_NOTIMPL for another type).
//
// The player's plugin routes the player's chains here: the audio transform's activation
// (wrapAudioActivation), the video path's frame callback (videoCallback), the pipeline
// at each graph creation (attachGraph: a grabber for a stream type that no other path
// taps). A tap stays in use until the next one of its type replaces it or the plugin
// lets the taps go (detachTaps): stopping playback (shutdown) only empties the spectrum's
// queue, so filters and the spectrum go on when playback starts again.
//
// The spectrum listener (setSpectrumListener, from services.audioSpectrumListener) is
// registered in the global interface table and called from the audio tap's spectrum
// worker about every TimeOut milliseconds while audio plays; the call runs on the thread
// that set the listener (the UI thread), with the same MPMediaSample each time.
//
// Script calls come on the UI thread; the plugin's requests from the player may come on
// streaming threads. No lock of the part is held while a filter, a listener or the
// player's own code runs.

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "media/pipeline/MPMediaSample.h"
#include "media/pipeline/MPStreamTap.h"
#include "media/pipeline/PluginState.h"
#include "platform/com/DispatchObject.h"
#include "platform/media/PlayerHostInterfaces.h"
#include "typelib/PlayerInterfaces.h"

namespace norv::media {

class MPStream final : public com::ComObject<MPStream, com::DispatchImpl<typelib::IMPStream>,
                                             com::DispatchImpl<typelib::IMPPlugin>> {
public:
    // The shortest spectrum period a listener may ask for, in milliseconds.
    static constexpr std::int32_t minimumPeriod = 50;

    MPStream();
    ~MPStream() override;

    // IMPStream
    com::HRESULT insertFilter(typelib::IMPStreamFilter* pVal, std::int32_t type) override;
    com::HRESULT removeFilter(typelib::IMPStreamFilter* pVal, std::int32_t type) override;
    com::HRESULT getStreamType(typelib::MPStreamType type,
                               typelib::AMMediaType* pMediaType) override;

    // IMPPlugin
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

    // Taps the stream types of `graph`'s pipeline (an object answering IMediaGraph) that
    // no other path taps, with a grabber in front of their sinks. S_OK when a tap of
    // either type exists afterwards, else E_FAIL.
    com::HRESULT attachGraph(com::IUnknown* graph);
    // Takes the grabbers out (the pipeline is about to get a new medium).
    void releaseGraph();
    // Wraps the player's audio transform activation: S_FALSE when the activation is not
    // the audio transform's (left to others).
    com::HRESULT wrapAudioActivation(platform::media::IActivate* activation, const com::IID& iid,
                                     void** out);
    // The frame callback of the video path for frames of `type`.
    com::HRESULT videoCallback(const typelib::AMMediaType& type, const com::IID& iid, void** out);
    // pVal null removes the listener; a TimeOut below 50 with a listener is E_INVALIDARG.
    com::HRESULT setSpectrumListener(com::IDispatch* pVal, std::int32_t timeOut);

    // The player is about to wait for its streaming threads: filter calls let go.
    void interruptFilters();
    // Every tap stops calling filters and is released; the lists stay.
    void detachTaps();

    // How long a filter that may wait (IBoundedStreamFilter) is given for each sample.
    void setFilterDeadline(std::chrono::milliseconds deadline);
    // The tap of a stream type, if any.
    com::ComPtr<MPStreamTap> tap(typelib::MPStreamType type) const;

private:
    struct Listener;
    using FilterList = std::vector<FilterChain::Filter>;

    // Makes the tap of `type`, replacing the current one, which it hands back through
    // `replaced` for the caller to shut down after the lock is let go.
    com::ComPtr<MPStreamTap> createTap(typelib::MPStreamType type,
                                       com::ComPtr<MPStreamTap>& replaced);
    // Drops `tap` if it is still the tap of its type.
    void dropTap(const com::ComPtr<MPStreamTap>& tap);
    MPStreamTap::SpectrumCallback spectrumCallback() const;
    FilterList& listOf(typelib::MPStreamType type);
    com::ComPtr<MPStreamTap>& tapOf(typelib::MPStreamType type);

    mutable std::recursive_mutex lock_;
    FilterList audio_;
    FilterList video_;
    com::ComPtr<MPStreamTap> audioTap_;
    com::ComPtr<MPStreamTap> videoTap_;
    std::shared_ptr<Listener> listener_;
    com::ComPtr<com::IDispatch> listenerDispatch_;
    std::int32_t period_ = -1;
    std::chrono::milliseconds deadline_ = FilterChain::defaultDeadline;
    PluginState plugin_;
};

} // namespace norv::media
