#pragma once
// MPPlayerPlugin: the piece of a player (MPPlayer) between the player control and the
// page's object site, and the holder of the player's parts behind IMPPlayerServices.
//
// The player gives the control the plugin's client site instead of the page's: ordinary
// site calls are passed on to the page's site (OLE_E_BLANK when it has none), while the
// control's requests for its services (QueryService under SID_MediaPlayerServices, and
// only that service) are answered here:
//  - remote hosting: service type "Local", the scriptable object "wmpsrv" (the settings
//    part) and the custom skin of the settings part;
//  - graph creation: the control's pipeline at each medium, before and after it is built
//    (the page's own implementation, when its site offers one, is called first); after
//    the build the stream part taps what no other path taps (MPStream::attachGraph);
//  - the notice that the control is about to wait for its streaming threads: filter
//    calls in flight let go (MPStream::interruptFilters) before it blocks.
//
// While the plugin is started it has its video presenter on the control's video path,
// listens to the control's events (a play state of 1, 8 or 9, or a media error, shuts the
// recorder and the stream part down; while the control has a medium the plugin then waits,
// as a stream filter, for the next sample to start the recorder again: the control keeps
// its pipeline from one play to the next, and announces the state 9 of a new medium only
// once its taps are in place) and, through its activation hook, has the stream
// part wrap the audio transform of its own control (the activation carries the graph the
// plugin received, so with several players each taps only its own).
//
// The plugin is itself a stream filter: it inserts itself into both streams when a chain
// is tapped and, at the first sample, takes itself out and starts the recorder part.
//
// Everything but the stream filter and the video presenter's requests comes on the UI
// thread; no lock of the plugin is held while it calls the control, the page or a part.

#include <cstdint>
#include <mutex>

#include "media/pipeline/MPStream.h"
#include "media/pipeline/PipelineInterfaces.h"
#include "media/pipeline/PluginState.h"
#include "platform/com/ConnectionPoint.h"
#include "platform/com/DispatchObject.h"
#include "platform/media/PlayerHostInterfaces.h"
#include "platform/media/PlayerInterfaces.h"
#include "typelib/PlayerInterfaces.h"

namespace norv::media {

class MPPlayerPlugin final
    : public com::ComObject<MPPlayerPlugin, com::DispatchImpl<typelib::IMPPlayerServices>,
                            com::DispatchImpl<typelib::IMPPlugin>,
                            com::DispatchImpl<platform::media::IMediaPlayerEvents>,
                            com::DispatchImpl<typelib::IMPStreamFilter>,
                            platform::media::IOleClientSite, platform::media::IServiceProvider,
                            platform::media::IRemoteMediaServices, platform::media::IGraphCreation,
                            platform::media::IGraphBlockNotify, IVideoCallbackProvider> {
public:
    MPPlayerPlugin();
    ~MPPlayerPlugin() override;

    // IMPPlayerServices
    com::HRESULT audioSpectrumListener(com::IDispatch* pVal, std::int32_t TimeOut) override;
    com::HRESULT get_stream(typelib::IMPStream** pVal) override;
    com::HRESULT get_recorder(typelib::IMPRecorder** pVal) override;
    com::HRESULT get_settings(typelib::IMPSettings** pVal) override;

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

    // IMediaPlayerEvents
    com::HRESULT PlayStateChange(std::int32_t NewState) override;
    com::HRESULT MediaError(com::IDispatch* pMediaObject) override;

    // IMPStreamFilter
    com::HRESULT process(typelib::MPStreamType type, const com::Variant& timeStart,
                         const com::Variant& timeEnd, const com::Variant& dataBuff,
                         const com::Variant& dataSize) override;

    // IOleClientSite
    com::HRESULT SaveObject() override;
    com::HRESULT GetMoniker(std::uint32_t assign, std::uint32_t which,
                            com::IUnknown** moniker) override;
    com::HRESULT GetContainer(com::IUnknown** container) override;
    com::HRESULT ShowObject() override;
    com::HRESULT OnShowWindow(bool show) override;
    com::HRESULT RequestNewObjectLayout() override;

    // IServiceProvider
    com::HRESULT QueryService(const com::GUID& service, const com::IID& iid, void** out) override;

    // IRemoteMediaServices
    com::HRESULT GetServiceType(com::Bstr* type) override;
    com::HRESULT GetApplicationName(com::Bstr* name) override;
    com::HRESULT GetScriptableObject(com::Bstr* name, com::IDispatch** object) override;
    com::HRESULT GetCustomUIMode(com::Bstr* file) override;

    // IGraphCreation
    com::HRESULT GraphCreationPreRender(com::IUnknown* graph, com::IUnknown* reserved) override;
    com::HRESULT GraphCreationPostRender(com::IUnknown* graph) override;
    com::HRESULT GetGraphCreationFlags(std::uint32_t* flags) override;

    // IGraphBlockNotify
    com::HRESULT GraphWillBlock(com::IUnknown* graph) override;

    // IVideoCallbackProvider
    com::HRESULT GetFrameCallback(const typelib::AMMediaType& type,
                                  ISampleGrabberSinkCallback** out) override;

    // The stream part (for the program's own use).
    MPStream* stream() const { return stream_.get(); }

private:
    class Hook;

    // The activation hook's request: the audio transform of this plugin's own control.
    com::HRESULT activate(platform::media::IActivate* activation, const com::IID& iid, void** out);
    // A play state of 1, 8 or 9, or a media error.
    void playbackEnded();
    com::HRESULT insertSelf();
    void removeSelf();
    void releasePageSite();
    void unadvise();
    typelib::IMPStreamFilter* asFilter() { return this; }

    PluginState state_;
    mutable std::recursive_mutex lock_;

    // The page's site and the interfaces asked of it, released together.
    com::ComPtr<platform::media::IOleClientSite> pageSite_;
    com::ComPtr<platform::media::IServiceProvider> pageProvider_;
    com::ComPtr<platform::media::IGraphCreation> pageGraphCreation_;
    com::ComPtr<platform::media::IRemoteMediaServices> pageRemoteServices_;

    com::ComPtr<com::IConnectionPoint> eventPoint_;
    std::uint32_t eventCookie_ = 0;
    com::ComPtr<com::IUnknown> graph_; // the control's graph of the current medium

    const com::ComPtr<MPStream> stream_;
    const com::ComPtr<typelib::IMPPlugin> recorder_;
    const com::ComPtr<typelib::IMPPlugin> settings_;
    com::ComPtr<Hook> hook_;
};

} // namespace norv::media
