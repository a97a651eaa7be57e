#include "media/player/MPPlayerPlugin.h"

#include <utility>

#include "media/pipeline/MPActivateFactory.h"
#include "media/pipeline/MPVideoPresenter.h"
#include "media/player/PlayerParts.h"

namespace norv::media {

using namespace com;
using namespace platform::media;
using typelib::IMPPlugin;
using typelib::IMPStreamFilter;

namespace {
constexpr std::int32_t bothStreams = typelib::mpsAudio | typelib::mpsVideo;
} // namespace

// The plugin's entry in the activation hook list. It does not hold the plugin (the list
// would keep it alive); the plugin disconnects it before it goes.
class MPPlayerPlugin::Hook final : public ComObject<Hook, IActivationHook> {
public:
    explicit Hook(MPPlayerPlugin* plugin) : plugin_(plugin) {}

    HRESULT activate(IActivate* activation, const IID& iid, void** out) override {
        std::lock_guard lock(lock_);
        if (plugin_ == nullptr)
            return S_FALSE;
        return plugin_->activate(activation, iid, out);
    }
    void disconnect() {
        std::lock_guard lock(lock_);
        plugin_ = nullptr;
    }

private:
    std::mutex lock_;
    MPPlayerPlugin* plugin_;
};

MPPlayerPlugin::MPPlayerPlugin()
    : stream_(makeObject<MPStream>()), recorder_(createRecorderPart()),
      settings_(createSettingsPart()), hook_(makeObject<Hook>(this)) {
    MPActivateFactory::registerHook(hook_.get());
}

MPPlayerPlugin::~MPPlayerPlugin() {
    hook_->disconnect();
    MPActivateFactory::unregisterHook(hook_.get());
    unadvise();
    stream_->detachTaps();
}

// IMPPlayerServices ----------------------------------------------------------------------------

HRESULT MPPlayerPlugin::audioSpectrumListener(IDispatch* pVal, std::int32_t TimeOut) {
    return stream_->setSpectrumListener(pVal, TimeOut);
}

HRESULT MPPlayerPlugin::get_stream(typelib::IMPStream** pVal) {
    if (pVal == nullptr)
        return E_POINTER;
    return queryInterface(static_cast<typelib::IMPStream*>(stream_.get()), pVal);
}

HRESULT MPPlayerPlugin::get_recorder(typelib::IMPRecorder** pVal) {
    if (pVal == nullptr)
        return E_POINTER;
    return queryInterface(recorder_.get(), pVal);
}

HRESULT MPPlayerPlugin::get_settings(typelib::IMPSettings** pVal) {
    if (pVal == nullptr)
        return E_POINTER;
    return queryInterface(settings_.get(), pVal);
}

// IMPPlugin ------------------------------------------------------------------------------------

HRESULT MPPlayerPlugin::startup() {
    state_.setStarted(true);
    // The settings part has the control load the skin (its failure is the result), but
    // video filters do not depend on the equaliser: the presenter goes in either way.
    const HRESULT hr = settings_->startup();
    // The video presenter; without it the video path is simply not tapped.
    if (ComPtr<IDispatch> player = state_.services()) {
        if (auto config = player.as<IVideoRenderConfig>()) {
            auto presenter =
                makeObject<MPVideoPresenter>(static_cast<IVideoCallbackProvider*>(this));
            if (failed(config->put_presenter(presenter.get())))
                g_message("player: the video presenter cannot be installed");
        }
    }
    return failed(hr) ? hr : S_OK;
}

HRESULT MPPlayerPlugin::shutdown() {
    {
        std::lock_guard lock(lock_);
        graph_.reset();
    }
    releasePageSite();
    // The plugin's own entry in the filter lists would keep it alive through its parts.
    removeSelf();
    stream_->shutdown();
    stream_->detachTaps();
    recorder_->shutdown();
    settings_->shutdown();
    state_.setStarted(false);
    return S_OK;
}

HRESULT MPPlayerPlugin::get_id(Variant* pVal) {
    return state_.getId(pVal);
}
HRESULT MPPlayerPlugin::get_started(VARIANT_BOOL* pVal) {
    return state_.getStarted(pVal);
}
HRESULT MPPlayerPlugin::get_init(Variant* pVal) {
    return state_.getInit(pVal);
}

HRESULT MPPlayerPlugin::put_init(const Variant& pVal) {
    state_.putInit(pVal);
    ComPtr<IOleClientSite> site;
    if (!pVal.isEmpty()) {
        Variant unknown;
        HRESULT hr = changeType(unknown, pVal, VT_UNKNOWN);
        if (succeeded(hr))
            hr = unknown.unknown()
                     ? unknown.unknown()->QueryInterface(IOleClientSite::iid, site.putVoid())
                     : E_NOINTERFACE;
        if (failed(hr)) {
            state_.putInit(Variant());
            releasePageSite();
            return hr;
        }
    }
    ComPtr<IOleClientSite> oldSite;
    ComPtr<IServiceProvider> oldProvider;
    ComPtr<IGraphCreation> oldGraph;
    ComPtr<IRemoteMediaServices> oldRemote;
    std::lock_guard lock(lock_);
    oldSite = std::exchange(pageSite_, site);
    if (!site) {
        oldProvider = std::move(pageProvider_);
        oldGraph = std::move(pageGraphCreation_);
        oldRemote = std::move(pageRemoteServices_);
    } else if (!pageProvider_ || !sameObject(pageProvider_.get(), site.get())) {
        oldProvider = std::move(pageProvider_);
        oldGraph = std::move(pageGraphCreation_);
        oldRemote = std::move(pageRemoteServices_);
        site->QueryInterface(IServiceProvider::iid, pageProvider_.putVoid());
    }
    return S_OK;
}

HRESULT MPPlayerPlugin::get_settings(Variant* pVal) {
    return state_.getSettings(pVal);
}
HRESULT MPPlayerPlugin::put_settings(const Variant& pVal) {
    state_.putSettings(pVal);
    return S_OK;
}
HRESULT MPPlayerPlugin::get_services(IDispatch** pVal) {
    return state_.getServices(pVal);
}

HRESULT MPPlayerPlugin::put_services(IDispatch* pVal) {
    state_.putServices(pVal);
    unadvise();
    if (pVal) {
        ComPtr<IConnectionPointContainer> container;
        ComPtr<IConnectionPoint> point;
        std::uint32_t cookie = 0;
        HRESULT hr = pVal->QueryInterface(IConnectionPointContainer::iid, container.putVoid());
        if (succeeded(hr))
            hr = container->FindConnectionPoint(IMediaPlayerEvents::iid, point.put());
        if (succeeded(hr))
            hr = point->Advise(unknown(), &cookie);
        if (failed(hr)) {
            state_.putServices(nullptr);
            return hr;
        }
        std::lock_guard lock(lock_);
        eventPoint_ = point;
        eventCookie_ = cookie;
    }
    stream_->put_services(pVal);
    recorder_->put_services(pVal);
    return settings_->put_services(pVal);
}

void MPPlayerPlugin::unadvise() {
    ComPtr<IConnectionPoint> point;
    std::uint32_t cookie;
    {
        std::lock_guard lock(lock_);
        point = std::move(eventPoint_);
        cookie = std::exchange(eventCookie_, 0);
    }
    if (point && cookie != 0)
        point->Unadvise(cookie);
}

// Events and the plugin as a filter -------------------------------------------------------------

HRESULT MPPlayerPlugin::PlayStateChange(std::int32_t NewState) {
    if (NewState == psStopped || NewState == psMediaEnded || NewState == psTransitioning)
        playbackEnded();
    return S_OK;
}

HRESULT MPPlayerPlugin::MediaError(IDispatch*) {
    playbackEnded();
    return S_OK;
}

void MPPlayerPlugin::playbackEnded() {
    removeSelf();
    recorder_->shutdown();
    stream_->shutdown();
    // The control goes on with the pipeline it has (the medium it is opening, a play after
    // a stop or after the end): the next sample starts the recorder again, so that a record
    // asked for meanwhile is carried out from that sample on.
    bool open = false;
    {
        std::lock_guard lock(lock_);
        open = graph_ != nullptr;
    }
    if (open)
        insertSelf();
}

HRESULT MPPlayerPlugin::insertSelf() {
    return stream_->insertFilter(asFilter(), bothStreams);
}

void MPPlayerPlugin::removeSelf() {
    stream_->removeFilter(asFilter(), bothStreams);
}

HRESULT MPPlayerPlugin::process(typelib::MPStreamType, const Variant&, const Variant&,
                                const Variant&, const Variant&) {
    removeSelf();
    return recorder_->startup();
}

HRESULT MPPlayerPlugin::activate(IActivate* activation, const IID& iid, void** out) {
    if (activation == nullptr)
        return E_POINTER;
    // Only the activations of this plugin's own control: they carry its graph.
    ComPtr<IUnknown> graph, mine;
    activation->GetUnknown(ATTR_TransformGraph, IUnknown::iid, graph.putVoid());
    {
        std::lock_guard lock(lock_);
        mine = graph_;
    }
    if (!graph || !mine || !sameObject(graph.get(), mine.get()))
        return S_FALSE;
    HRESULT hr = stream_->startup();
    if (failed(hr))
        return hr;
    hr = stream_->wrapAudioActivation(activation, iid, out);
    if (failed(hr))
        return hr;
    return insertSelf();
}

// IOleClientSite -----------------------------------------------------------------------------

namespace {
template <class F>
HRESULT onSite(const ComPtr<IOleClientSite>& site, F&& call) {
    return site ? call(site.get()) : OLE_E_BLANK;
}
} // namespace

HRESULT MPPlayerPlugin::SaveObject() {
    std::unique_lock lock(lock_);
    ComPtr<IOleClientSite> site = pageSite_;
    lock.unlock();
    return onSite(site, [](IOleClientSite* s) { return s->SaveObject(); });
}

HRESULT MPPlayerPlugin::GetMoniker(std::uint32_t assign, std::uint32_t which, IUnknown** moniker) {
    std::unique_lock lock(lock_);
    ComPtr<IOleClientSite> site = pageSite_;
    lock.unlock();
    return onSite(site, [&](IOleClientSite* s) { return s->GetMoniker(assign, which, moniker); });
}

HRESULT MPPlayerPlugin::GetContainer(IUnknown** container) {
    if (container == nullptr)
        return E_POINTER;
    *container = nullptr;
    std::unique_lock lock(lock_);
    ComPtr<IOleClientSite> site = pageSite_;
    lock.unlock();
    return site ? site->GetContainer(container) : E_NOINTERFACE;
}

HRESULT MPPlayerPlugin::ShowObject() {
    std::unique_lock lock(lock_);
    ComPtr<IOleClientSite> site = pageSite_;
    lock.unlock();
    return onSite(site, [](IOleClientSite* s) { return s->ShowObject(); });
}

HRESULT MPPlayerPlugin::OnShowWindow(bool show) {
    std::unique_lock lock(lock_);
    ComPtr<IOleClientSite> site = pageSite_;
    lock.unlock();
    return onSite(site, [&](IOleClientSite* s) { return s->OnShowWindow(show); });
}

HRESULT MPPlayerPlugin::RequestNewObjectLayout() {
    std::unique_lock lock(lock_);
    ComPtr<IOleClientSite> site = pageSite_;
    lock.unlock();
    return onSite(site, [](IOleClientSite* s) { return s->RequestNewObjectLayout(); });
}

void MPPlayerPlugin::releasePageSite() {
    ComPtr<IOleClientSite> site;
    ComPtr<IServiceProvider> provider;
    ComPtr<IGraphCreation> graph;
    ComPtr<IRemoteMediaServices> remote;
    std::lock_guard lock(lock_);
    site = std::move(pageSite_);
    provider = std::move(pageProvider_);
    graph = std::move(pageGraphCreation_);
    remote = std::move(pageRemoteServices_);
}

// IServiceProvider -----------------------------------------------------------------------------

HRESULT MPPlayerPlugin::QueryService(const GUID& service, const IID& iid, void** out) {
    if (out == nullptr)
        return E_POINTER;
    *out = nullptr;
    if (service != SID_MediaPlayerServices)
        return E_NOINTERFACE;
    if (iid == IGraphCreation::iid || iid == IRemoteMediaServices::iid) {
        ComPtr<IServiceProvider> provider;
        {
            std::lock_guard lock(lock_);
            provider = pageProvider_;
        }
        ComPtr<IUnknown> page;
        if (provider)
            provider->QueryService(SID_MediaPlayerServices, iid, page.putVoid());
        std::lock_guard lock(lock_);
        if (iid == IGraphCreation::iid)
            pageGraphCreation_ = page ? page.as<IGraphCreation>() : nullptr;
        else
            pageRemoteServices_ = page ? page.as<IRemoteMediaServices>() : nullptr;
    }
    return QueryInterface(iid, out);
}

// IRemoteMediaServices ---------------------------------------------------------------------------

HRESULT MPPlayerPlugin::GetServiceType(Bstr* type) {
    if (type == nullptr)
        return E_POINTER;
    *type = Bstr(u"Local");
    return S_OK;
}

HRESULT MPPlayerPlugin::GetApplicationName(Bstr* name) {
    if (name == nullptr)
        return E_POINTER;
    return E_NOTIMPL;
}

HRESULT MPPlayerPlugin::GetScriptableObject(Bstr* name, IDispatch** object) {
    if (name == nullptr || object == nullptr)
        return E_POINTER;
    *object = nullptr;
    *name = Bstr(u"wmpsrv");
    return settings_->QueryInterface(typelib::IMPSettings::iid, reinterpret_cast<void**>(object));
}

HRESULT MPPlayerPlugin::GetCustomUIMode(Bstr* file) {
    if (file == nullptr)
        return E_POINTER;
    return customSkinFile(file);
}

// IGraphCreation
// ------------------------------------------------------------------------------------

HRESULT MPPlayerPlugin::GraphCreationPreRender(IUnknown* graph, IUnknown* /*reserved*/) {
    if (graph == nullptr)
        return E_POINTER;
    ComPtr<IGraphCreation> page;
    {
        std::lock_guard lock(lock_);
        page = pageGraphCreation_;
    }
    if (page)
        page->GraphCreationPreRender(graph, nullptr);
    {
        std::lock_guard lock(lock_);
        graph_ = ComPtr<IUnknown>(graph).as<IMediaGraph>();
    }
    // The grabbers of the last medium go while the pipeline is empty.
    stream_->releaseGraph();
    return S_OK;
}

HRESULT MPPlayerPlugin::GraphCreationPostRender(IUnknown* graph) {
    if (graph == nullptr)
        return S_OK;
    auto media = ComPtr<IUnknown>(graph).as<IMediaGraph>();
    if (!media)
        return S_OK;
    ComPtr<IGraphCreation> page;
    {
        std::lock_guard lock(lock_);
        page = pageGraphCreation_;
    }
    if (page)
        page->GraphCreationPostRender(graph);
    {
        std::lock_guard lock(lock_);
        graph_ = media;
    }
    if (succeeded(stream_->startup()) && succeeded(stream_->attachGraph(graph)))
        insertSelf();
    return S_OK;
}

HRESULT MPPlayerPlugin::GetGraphCreationFlags(std::uint32_t* flags) {
    if (flags == nullptr)
        return E_POINTER;
    ComPtr<IGraphCreation> page;
    {
        std::lock_guard lock(lock_);
        page = pageGraphCreation_;
    }
    if (page)
        return page->GetGraphCreationFlags(flags);
    *flags = 0;
    return S_OK;
}

HRESULT MPPlayerPlugin::GraphWillBlock(IUnknown* graph) {
    stream_->interruptFilters();
    ComPtr<IGraphCreation> page;
    {
        std::lock_guard lock(lock_);
        page = pageGraphCreation_;
    }
    if (auto notify = page ? page.as<IGraphBlockNotify>() : ComPtr<IGraphBlockNotify>())
        notify->GraphWillBlock(graph);
    return S_OK;
}

// IVideoCallbackProvider
// ---------------------------------------------------------------------------

HRESULT MPPlayerPlugin::GetFrameCallback(const typelib::AMMediaType& type,
                                         ISampleGrabberSinkCallback** out) {
    if (out == nullptr)
        return E_POINTER;
    *out = nullptr;
    HRESULT hr = stream_->startup();
    if (succeeded(hr))
        hr = stream_->videoCallback(type, ISampleGrabberSinkCallback::iid,
                                    reinterpret_cast<void**>(out));
    if (failed(hr))
        return hr;
    insertSelf();
    return S_OK;
}

} // namespace norv::media
