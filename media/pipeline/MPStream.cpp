#include "media/pipeline/MPStream.h"

#include <algorithm>
#include <utility>

#include "media/pipeline/ScriptStreamFilter.h"
#include "platform/com/GlobalInterfaceTable.h"
#include "platform/web/ScriptBridge.h"
#include "typelib/NorvViewTypes.h"

namespace norv::media {

using namespace com;
using platform::media::IActivate;
using platform::media::IMediaGraph;
using typelib::AMMediaType;
using typelib::IMPStreamFilter;
using typelib::MPStreamType;

// The listener as the spectrum worker reaches it: the table cookie it is registered
// under, the proxy fetched on the worker, and the sample handed to it.
struct MPStream::Listener {
    std::mutex lock;
    std::uint32_t cookie = 0;
    ComPtr<IDispatch> proxy;
    const ComPtr<MPMediaSample> sample = makeObject<MPMediaSample>();
};

MPStream::MPStream() : listener_(std::make_shared<Listener>()) {
    // The page's own filters reach the lists as script objects of the bridge.
    ScriptStreamFilter::enable();
    // getStreamType's media type reaches page script as an object with the record's fields.
    web::ScriptBridge::describeRecord(typelib::amMediaTypeRecordInfo());
}

MPStream::~MPStream() {
    std::uint32_t cookie;
    {
        std::lock_guard lock(listener_->lock);
        cookie = std::exchange(listener_->cookie, 0);
        listener_->proxy.reset();
    }
    // Revoking first lets a spectrum call waiting for this thread return at once.
    if (cookie != 0)
        revokeInterfaceFromGlobal(cookie);
    detachTaps();
}

MPStream::FilterList& MPStream::listOf(MPStreamType type) {
    return type == typelib::mpsVideo ? video_ : audio_;
}

ComPtr<MPStreamTap>& MPStream::tapOf(MPStreamType type) {
    return type == typelib::mpsVideo ? videoTap_ : audioTap_;
}

// IMPStream -----------------------------------------------------------------------------------

namespace {
bool holds(const std::vector<FilterChain::Filter>& list, IMPStreamFilter* filter) {
    return std::any_of(list.begin(), list.end(),
                       [&](const FilterChain::Filter& f) { return f.filter.get() == filter; });
}
} // namespace

HRESULT MPStream::insertFilter(IMPStreamFilter* pVal, std::int32_t type) {
    if (pVal == nullptr)
        return E_POINTER;
    if ((type & (typelib::mpsAudio | typelib::mpsVideo)) == 0)
        return E_NOTIMPL;
    const FilterChain::Filter filter = FilterChain::Filter::of(pVal); // no lock held
    HRESULT result = E_NOTIMPL;
    for (MPStreamType t : {typelib::mpsAudio, typelib::mpsVideo}) {
        if ((type & t) == 0)
            continue;
        result = S_FALSE;
        std::lock_guard lock(lock_);
        FilterList& list = listOf(t);
        if (!holds(list, pVal))
            list.push_back(filter);
        // Under the part's lock, so that a tap made meanwhile cannot miss the filter.
        if (const ComPtr<MPStreamTap>& tap = tapOf(t))
            result = tap->insertFilter(filter) ? S_OK : S_FALSE;
    }
    return result;
}

HRESULT MPStream::removeFilter(IMPStreamFilter* pVal, std::int32_t type) {
    if (type == 0)
        type = typelib::mpsAudio | typelib::mpsVideo;
    HRESULT result = S_FALSE;
    std::vector<FilterChain::Filter> removed; // released after the lock is let go
    std::lock_guard lock(lock_);
    for (MPStreamType t : {typelib::mpsAudio, typelib::mpsVideo}) {
        if ((type & t) == 0)
            continue;
        FilterList& list = listOf(t);
        auto it = std::find_if(list.begin(), list.end(), [&](const FilterChain::Filter& f) {
            return f.filter.get() == pVal;
        });
        if (it == list.end())
            continue;
        removed.push_back(std::move(*it));
        list.erase(it);
        const ComPtr<MPStreamTap>& tap = tapOf(t);
        result = tap && tap->removeFilter(pVal) ? S_OK : S_FALSE;
    }
    return result;
}

HRESULT MPStream::getStreamType(MPStreamType type, AMMediaType* pMediaType) {
    if (pMediaType == nullptr)
        return E_POINTER;
    if (type != typelib::mpsAudio && type != typelib::mpsVideo)
        return E_NOTIMPL;
    ComPtr<MPStreamTap> t = tap(type);
    if (!t)
        return OLE_E_BLANK;
    return t->mediaType(*pMediaType);
}

// IMPPlugin -----------------------------------------------------------------------------------

HRESULT MPStream::startup() {
    plugin_.setStarted(true);
    for (MPStreamType t : {typelib::mpsAudio, typelib::mpsVideo})
        if (auto tp = tap(t))
            tp->startup();
    return S_OK;
}

HRESULT MPStream::shutdown() {
    plugin_.setStarted(false);
    // The taps stay in the player's chains: what was queued for the spectrum goes, so
    // that nothing from before is delivered when playback starts again.
    for (MPStreamType t : {typelib::mpsAudio, typelib::mpsVideo})
        if (auto tp = tap(t))
            tp->clearSpectrum();
    return S_OK;
}

HRESULT MPStream::get_id(Variant* pVal) {
    return plugin_.getId(pVal);
}
HRESULT MPStream::get_started(VARIANT_BOOL* pVal) {
    return plugin_.getStarted(pVal);
}
HRESULT MPStream::get_init(Variant* pVal) {
    return plugin_.getInit(pVal);
}
HRESULT MPStream::put_init(const Variant& pVal) {
    plugin_.putInit(pVal);
    return S_OK;
}
HRESULT MPStream::get_settings(Variant* pVal) {
    return plugin_.getSettings(pVal);
}
HRESULT MPStream::put_settings(const Variant& pVal) {
    plugin_.putSettings(pVal);
    return S_OK;
}
HRESULT MPStream::get_services(IDispatch** pVal) {
    return plugin_.getServices(pVal);
}
HRESULT MPStream::put_services(IDispatch* pVal) {
    plugin_.putServices(pVal);
    return S_OK;
}

// Taps ----------------------------------------------------------------------------------------

ComPtr<MPStreamTap> MPStream::tap(MPStreamType type) const {
    std::lock_guard lock(lock_);
    return type == typelib::mpsVideo ? videoTap_ : audioTap_;
}

ComPtr<MPStreamTap> MPStream::createTap(MPStreamType type, ComPtr<MPStreamTap>& replaced) {
    auto made = makeObject<MPStreamTap>(type);
    made->setFilterDeadline(deadline_);
    if (type == typelib::mpsAudio)
        made->configureSpectrum(period_, spectrumCallback());
    made->setFilters(listOf(type));
    replaced = std::exchange(tapOf(type), made);
    if (type == typelib::mpsAudio) {
        // The proxy belonged to the worker of the tap that goes.
        std::lock_guard lock(listener_->lock);
        listener_->proxy.reset();
    }
    return made;
}

void MPStream::dropTap(const ComPtr<MPStreamTap>& tap) {
    ComPtr<MPStreamTap> dropped;
    {
        std::lock_guard lock(lock_);
        ComPtr<MPStreamTap>& slot = tapOf(tap->streamType());
        if (slot == tap)
            dropped = std::move(slot);
    }
    if (dropped)
        dropped->shutdown();
}

void MPStream::detachTaps() {
    ComPtr<MPStreamTap> audio, video;
    {
        std::lock_guard lock(lock_);
        audio = std::move(audioTap_);
        video = std::move(videoTap_);
    }
    for (auto* t : {&audio, &video})
        if (*t)
            (*t)->shutdown();
}

void MPStream::interruptFilters() {
    for (MPStreamType t : {typelib::mpsAudio, typelib::mpsVideo})
        if (auto tp = tap(t))
            tp->interruptFilters();
}

void MPStream::setFilterDeadline(std::chrono::milliseconds deadline) {
    std::lock_guard lock(lock_);
    deadline_ = deadline;
    for (auto* t : {&audioTap_, &videoTap_})
        if (*t)
            (*t)->setFilterDeadline(deadline);
}

HRESULT MPStream::attachGraph(IUnknown* graph) {
    if (graph == nullptr)
        return E_POINTER;
    ComPtr<IMediaGraph> media;
    HRESULT hr = graph->QueryInterface(IMediaGraph::iid, media.putVoid());
    if (failed(hr))
        return hr;
    GstElement* raw = nullptr;
    hr = media->GetPipeline(&raw);
    if (failed(hr) || raw == nullptr)
        return failed(hr) ? hr : E_POINTER;
    auto pipeline = platform::media::GstRef<GstElement>::adopt(raw);

    bool any = false;
    for (MPStreamType t : {typelib::mpsAudio, typelib::mpsVideo}) {
        ComPtr<MPStreamTap> current = tap(t);
        // A tap that came in through the audio transform or the video frames stays.
        if (current && !current->attached()) {
            any = true;
            continue;
        }
        ComPtr<MPStreamTap> made, replaced;
        {
            std::lock_guard lock(lock_);
            made = createTap(t, replaced);
        }
        if (replaced)
            replaced->shutdown();
        if (succeeded(made->attach(pipeline.get())))
            any = true;
        else
            dropTap(made);
    }
    return any ? S_OK : E_FAIL;
}

void MPStream::releaseGraph() {
    for (MPStreamType t : {typelib::mpsAudio, typelib::mpsVideo})
        if (auto tp = tap(t); tp && tp->attached())
            dropTap(tp);
}

HRESULT MPStream::wrapAudioActivation(IActivate* activation, const IID& iid, void** out) {
    if (out == nullptr)
        return E_POINTER;
    *out = nullptr;
    if (activation == nullptr)
        return E_POINTER;
    Variant category;
    HRESULT hr = activation->GetItem(platform::media::ATTR_TransformCategory, &category);
    if (failed(hr))
        return hr;
    if (category.vt() != VT_BSTR ||
        GUID::parse(category.bstr().toUtf8()) != platform::media::CATEGORY_AudioTransform)
        return S_FALSE;
    if (auto current = tap(typelib::mpsAudio); current && current->attached())
        return S_FALSE;

    ComPtr<MPStreamTap> made, replaced;
    {
        std::lock_guard lock(lock_);
        made = createTap(typelib::mpsAudio, replaced);
    }
    if (replaced)
        replaced->shutdown();
    ComPtr<IUnknown> inner;
    hr = activation->ActivateObject(iid, inner.putVoid());
    if (succeeded(hr) && inner)
        hr = made->put_init(Variant::fromUnknown(inner.get()));
    else if (succeeded(hr))
        hr = E_POINTER;
    if (succeeded(hr))
        hr = made->QueryInterface(iid, out);
    if (failed(hr))
        dropTap(made);
    return hr;
}

HRESULT MPStream::videoCallback(const AMMediaType& type, const IID& iid, void** out) {
    if (out == nullptr)
        return E_POINTER;
    *out = nullptr;
    if (type.majortype != kMediaTypeVideo)
        return hresultFromWin32(ERROR_NOT_SUPPORTED);
    if (iid != ISampleGrabberSinkCallback::iid)
        return E_NOINTERFACE;
    ComPtr<MPStreamTap> target = tap(typelib::mpsVideo);
    if (!target || !target->attached()) {
        ComPtr<MPStreamTap> replaced;
        {
            std::lock_guard lock(lock_);
            target = createTap(typelib::mpsVideo, replaced);
        }
        if (replaced)
            replaced->shutdown();
    }
    HRESULT hr = target->frameCallback(type, iid, out);
    if (failed(hr))
        dropTap(target);
    return hr;
}

// Spectrum ------------------------------------------------------------------------------------

HRESULT MPStream::setSpectrumListener(IDispatch* pVal, std::int32_t timeOut) {
    if (pVal != nullptr && timeOut < minimumPeriod)
        return E_INVALIDARG;
    bool changed;
    {
        std::lock_guard lock(lock_);
        changed = pVal != listenerDispatch_.get();
    }
    // Registered without the part's lock: the table asks the listener for its interfaces.
    std::uint32_t cookie = 0;
    if (changed && pVal) {
        HRESULT hr = registerInterfaceInGlobal(pVal, IDispatch::iid, &cookie);
        if (failed(hr))
            return hr;
    }
    std::uint32_t unused = 0;
    ComPtr<IDispatch> oldListener, oldProxy;
    ComPtr<MPStreamTap> audio;
    std::int32_t period;
    {
        std::lock_guard lock(lock_);
        if (changed && pVal != listenerDispatch_.get()) {
            std::lock_guard l(listener_->lock);
            unused = std::exchange(listener_->cookie, cookie);
            oldProxy = std::move(listener_->proxy);
            oldListener = std::exchange(listenerDispatch_, ComPtr<IDispatch>(pVal));
        } else {
            unused = cookie; // another call set the same listener meanwhile
        }
        period_ = pVal ? timeOut : -1;
        period = period_;
        audio = audioTap_;
    }
    if (unused != 0)
        revokeInterfaceFromGlobal(unused);
    if (audio)
        return audio->configureSpectrum(period, spectrumCallback());
    return S_OK;
}

MPStreamTap::SpectrumCallback MPStream::spectrumCallback() const {
    return [listener = listener_](double position, std::span<const std::uint8_t> window,
                                  std::span<const std::uint8_t> format) -> HRESULT {
        std::uint32_t cookie;
        ComPtr<IDispatch> proxy;
        {
            std::lock_guard lock(listener->lock);
            cookie = listener->cookie;
            proxy = listener->proxy;
        }
        if (cookie == 0)
            return S_FALSE;
        if (!proxy) {
            HRESULT hr = getInterfaceFromGlobal(cookie, proxy);
            if (failed(hr))
                return hr;
            std::lock_guard lock(listener->lock);
            if (listener->cookie == cookie)
                listener->proxy = proxy;
        }
        listener->sample->update(position, format, window);
        Variant args[1] = {Variant::fromDispatch(listener->sample.get())};
        DispParams params{std::span<Variant>(args), {}};
        return proxy->Invoke(DISPID_VALUE, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, params,
                             nullptr, nullptr, nullptr);
    };
}

} // namespace norv::media
