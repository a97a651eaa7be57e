#include "media/pipeline/MPStreamTap.h"

#include <cstdio>
#include <utility>

#include "media/pipeline/MPTapElement.h"
#include "media/pipeline/RawFormat.h"

namespace norv::media {

using namespace com;
using platform::media::GstRef;
using platform::media::IAudioTransform;
using typelib::AMMediaType;
using typelib::IMPStreamFilter;
using typelib::MPStreamType;

namespace {

constexpr double kNanoseconds = 1e9;
constexpr double kHundredNanoseconds = 1e7;

// The top-level bin `element` belongs to, with a reference.
GstRef<GstElement> topLevel(GstElement* element) {
    auto* top = GST_OBJECT(gst_object_ref(element));
    while (GstObject* parent = gst_object_get_parent(top)) {
        gst_object_unref(top);
        top = parent;
    }
    return GstRef<GstElement>::adopt(GST_ELEMENT(top));
}

GstRef<GstElement> makeElement(const char* factory) {
    return GstRef<GstElement>::sink(gst_element_factory_make(factory, nullptr));
}

bool running(GstElement* element) {
    GstState current = GST_STATE_NULL, pending = GST_STATE_VOID_PENDING;
    gst_element_get_state(element, &current, &pending, 0);
    return current > GST_STATE_READY || pending > GST_STATE_READY;
}

} // namespace

// ---------------------------------------------------------------------------------------
// The tap's state that the streaming threads reach: shared with its elements, which may
// outlive the tap object inside a pipeline.

class MPStreamTap::Core final : public MPTapElement::Client {
public:
    explicit Core(MPStreamType kind) : kind_(kind) { g_weak_ref_init(&element_, nullptr); }
    ~Core() override {
        feed.reset();
        g_weak_ref_clear(&element_);
    }

    static std::shared_ptr<Core> make(MPStreamType kind) {
        auto core = std::make_shared<Core>(kind);
        if (kind == typelib::mpsAudio) {
            core->feed = std::make_unique<MPSpectrumFeed>(
                [weak = std::weak_ptr<Core>(core)](double& seconds) -> HRESULT {
                    auto c = weak.lock();
                    return c ? c->position(seconds) : E_FAIL;
                });
        }
        return core;
    }

    void tapCaps(GstCaps* caps) override { setFormat(RawFormat::fromCaps(caps)); }

    void tapBuffer(GstBuffer* buffer, const GstSegment& segment) override {
        std::optional<RawFormat> f = format();
        if (!f || !GST_BUFFER_PTS_IS_VALID(buffer))
            return;
        GstMapInfo map;
        if (!gst_buffer_map(buffer, &map, GST_MAP_READWRITE))
            return;
        const GstClockTime pts = GST_BUFFER_PTS(buffer);
        GstClockTime at = gst_segment_to_stream_time(&segment, GST_FORMAT_TIME, pts);
        if (!GST_CLOCK_TIME_IS_VALID(at))
            at = pts;
        const GstClockTime duration = GST_BUFFER_DURATION_IS_VALID(buffer)
                                          ? GST_BUFFER_DURATION(buffer)
                                          : f->durationOf(map.size);
        const double start = static_cast<double>(at) / kNanoseconds;
        const double end = static_cast<double>(at + duration) / kNanoseconds;
        const auto size = static_cast<std::uint32_t>(map.size);
        filters.dispatch(f->type, start, end, map.data, size, false);
        if (feed)
            static_cast<void>(feed->push(start, end, std::span(map.data, map.size)));
        gst_buffer_unmap(buffer, &map);
    }

    void tapInterrupt() override { filters.interrupt(); }
    void tapResume() override { filters.resume(); }

    // A frame of the video path (times in 100-ns units).
    void frame(std::int64_t time, std::int64_t duration, std::uint8_t* data, std::uint32_t size) {
        std::optional<RawFormat> f = format();
        if (!f)
            return;
        const double start = static_cast<double>(time) / kHundredNanoseconds;
        const double end = static_cast<double>(time + duration) / kHundredNanoseconds;
        filters.dispatch(f->type, start, end, data, size, true);
    }

    void setFormat(std::optional<RawFormat> f) {
        std::uint32_t window = 0;
        {
            std::lock_guard lock(lock_);
            if (shutDown_)
                return;
            format_ = std::move(f);
            if (format_ && format_->type == typelib::mpsAudio)
                window = spectrumFrames * format_->bytesPerFrame;
        }
        if (feed)
            feed->setWindowSize(window);
    }

    std::optional<RawFormat> format() const {
        std::lock_guard lock(lock_);
        return format_;
    }

    void setElement(GstElement* element) { g_weak_ref_set(&element_, element); }

    // The playback position of the pipeline the tap element is in: what is heard now.
    HRESULT position(double& seconds) {
        auto* element = static_cast<GstElement*>(g_weak_ref_get(&element_));
        if (element == nullptr)
            return OLE_E_BLANK;
        GstRef<GstElement> top = topLevel(element);
        gst_object_unref(element);
        gint64 at = 0;
        if (!gst_element_query_position(top.get(), GST_FORMAT_TIME, &at) || at < 0)
            return E_FAIL;
        seconds = static_cast<double>(at) / kNanoseconds;
        return S_OK;
    }

    // No filter is called and nothing is kept for the spectrum from now on; a filter call
    // still waiting lets go (nothing waits for a tap that is gone).
    void shutdown() {
        {
            std::lock_guard lock(lock_);
            shutDown_ = true;
            format_.reset();
        }
        filters.clear();
        filters.interrupt();
        if (feed) {
            feed->configure(-1, nullptr);
            feed->clear();
        }
    }

    FilterChain filters;
    std::unique_ptr<MPSpectrumFeed> feed; // audio only

private:
    const MPStreamType kind_;
    mutable std::mutex lock_;
    std::optional<RawFormat> format_;
    bool shutDown_ = false;
    GWeakRef element_;
};

// ---------------------------------------------------------------------------------------
// The frame callback of the video path: a separate object that holds the tap.

class MPStreamTap::FrameCallback final
    : public ComObject<FrameCallback, ISampleGrabberSinkCallback, ITapFlow> {
public:
    explicit FrameCallback(MPStreamTap* tap) : tap_(tap) {}

    HRESULT OnProcessSample(const GUID& /*majorType*/, std::uint32_t /*flags*/, std::int64_t time,
                            std::int64_t duration, std::uint8_t* data,
                            std::uint32_t size) override {
        if (data == nullptr)
            return E_POINTER;
        tap_->core_->frame(time, duration, data, size);
        return S_OK;
    }
    HRESULT OnShutdown() override {
        tap_->core_->setFormat(std::nullopt);
        return S_OK;
    }
    void interruptFlow() override { tap_->core_->filters.interrupt(); }
    void resumeFlow() override { tap_->core_->filters.resume(); }

private:
    ComPtr<MPStreamTap> tap_;
};

// ---------------------------------------------------------------------------------------
// The grabber: a tap element between a sink and the element in front of it.

namespace {

// Shared by the tap and the pad probes that link and unlink the grabber.
struct GrabberLink {
    std::mutex lock;
    bool wanted = true;  // the grabber should be in the chain
    bool linked = false; // it is
    GstRef<GstElement> bin;
    GstRef<GstElement> parent; // the sink's bin
    GstRef<GstPad> src;        // the upstream element's source pad
    GstRef<GstPad> sinkPad;    // the sink's pad
    GMainContext* context = nullptr;

    ~GrabberLink() {
        if (context)
            g_main_context_unref(context);
    }

    // Puts the grabber between src and sinkPad; under `lock`, with no data passing.
    void link() {
        if (!wanted || linked)
            return;
        GstPad* binSink = gst_element_get_static_pad(bin.get(), "sink");
        GstPad* binSrc = gst_element_get_static_pad(bin.get(), "src");
        gst_pad_unlink(src.get(), sinkPad.get());
        if (GST_OBJECT_PARENT(bin.get()) == nullptr)
            gst_bin_add(GST_BIN(parent.get()), GST_ELEMENT(gst_object_ref(bin.get())));
        linked = gst_pad_link(src.get(), binSink) == GST_PAD_LINK_OK &&
                 gst_pad_link(binSrc, sinkPad.get()) == GST_PAD_LINK_OK;
        if (linked) {
            gst_element_sync_state_with_parent(bin.get());
        } else {
            g_warning("stream tap: the grabber cannot be linked in front of the sink");
            gst_pad_unlink(src.get(), binSink);
            gst_pad_unlink(binSrc, sinkPad.get());
            gst_pad_link(src.get(), sinkPad.get());
            removeBinLater();
        }
        gst_object_unref(binSink);
        gst_object_unref(binSrc);
    }

    // Takes the grabber out and links src to sinkPad again; under `lock`.
    void unlink() {
        wanted = false;
        if (!linked)
            return;
        GstPad* binSink = gst_element_get_static_pad(bin.get(), "sink");
        GstPad* binSrc = gst_element_get_static_pad(bin.get(), "src");
        gst_pad_unlink(src.get(), binSink);
        gst_pad_unlink(binSrc, sinkPad.get());
        gst_pad_link(src.get(), sinkPad.get());
        gst_object_unref(binSink);
        gst_object_unref(binSrc);
        linked = false;
        removeBinLater();
    }

    // The bin leaves the pipeline on the main context: a streaming thread must not stop it.
    void removeBinLater() {
        if (GST_OBJECT_PARENT(bin.get()) == nullptr)
            return;
        struct Removal {
            GstElement* parent;
            GstElement* bin;
        };
        auto* removal = new Removal{GST_ELEMENT(gst_object_ref(parent.get())),
                                    GST_ELEMENT(gst_object_ref(bin.get()))};
        GSource* idle = g_idle_source_new();
        g_source_set_callback(
            idle,
            [](gpointer data) -> gboolean {
                auto* r = static_cast<Removal*>(data);
                if (GST_OBJECT_PARENT(r->bin) == GST_OBJECT(r->parent)) {
                    gst_element_set_state(r->bin, GST_STATE_NULL);
                    gst_bin_remove(GST_BIN(r->parent), r->bin);
                }
                return G_SOURCE_REMOVE;
            },
            removal,
            [](gpointer data) {
                auto* r = static_cast<Removal*>(data);
                gst_object_unref(r->parent);
                gst_object_unref(r->bin);
                delete r;
            });
        g_source_attach(idle, context);
        g_source_unref(idle);
    }
};

using LinkPtr = std::shared_ptr<GrabberLink>;

// Runs `action` on the link between two buffers: at once when the pipeline is not
// running, else from an idle probe on the upstream pad.
void whenIdle(const LinkPtr& link, void (GrabberLink::*action)()) {
    struct Job {
        LinkPtr link;
        void (GrabberLink::*action)();
    };
    if (!running(link->parent.get())) {
        std::lock_guard lock(link->lock);
        ((*link).*action)();
        return;
    }
    gst_pad_add_probe(
        link->src.get(), GST_PAD_PROBE_TYPE_IDLE,
        [](GstPad*, GstPadProbeInfo*, gpointer data) {
            auto* job = static_cast<Job*>(data);
            std::lock_guard lock(job->link->lock);
            ((*job->link).*job->action)();
            return GST_PAD_PROBE_REMOVE;
        },
        new Job{link, action}, [](gpointer data) { delete static_cast<Job*>(data); });
}

} // namespace

struct MPStreamTap::Grabber {
    LinkPtr link;
};

// ---------------------------------------------------------------------------------------

MPStreamTap::MPStreamTap(MPStreamType type) : type_(type), core_(Core::make(type)) {}

MPStreamTap::~MPStreamTap() {
    detach();
    core_->shutdown();
    if (auto element = tapElement())
        MPTapElement::setClient(element.get(), nullptr);
}

HRESULT MPStreamTap::QueryInterface(const IID& iid, void** out) {
    if (out == nullptr)
        return E_POINTER;
    *out = nullptr;
    if (iid == IUnknown::iid || iid == IDispatch::iid || iid == typelib::IMPPlugin::iid)
        return ComObject::QueryInterface(iid, out);
    if (iid == ISampleGrabberSinkCallback::iid || iid == ITapFlow::iid)
        return makeObject<FrameCallback>(this)->QueryInterface(iid, out);
    if (attached())
        return E_NOINTERFACE;
    ComPtr<IAudioTransform> inner;
    {
        std::lock_guard lock(lock_);
        inner = inner_;
    }
    if (!inner)
        return E_NOINTERFACE;
    if (iid == IAudioTransform::iid)
        return ComObject::QueryInterface(iid, out);
    return inner->QueryInterface(iid, out);
}

// IMPPlugin --------------------------------------------------------------------------------

HRESULT MPStreamTap::startup() {
    plugin_.setStarted(true);
    return S_OK;
}

HRESULT MPStreamTap::shutdown() {
    detach();
    core_->shutdown();
    plugin_.setStarted(false);
    return S_OK;
}

HRESULT MPStreamTap::get_id(Variant* pVal) {
    return plugin_.getId(pVal);
}
HRESULT MPStreamTap::get_started(VARIANT_BOOL* pVal) {
    return plugin_.getStarted(pVal);
}
HRESULT MPStreamTap::get_init(Variant* pVal) {
    return plugin_.getInit(pVal);
}

HRESULT MPStreamTap::put_init(const Variant& pVal) {
    ComPtr<IAudioTransform> inner;
    if (pVal.vt() == VT_UNKNOWN || pVal.vt() == VT_DISPATCH) {
        if (IUnknown* unk = pVal.unknown())
            unk->QueryInterface(IAudioTransform::iid, inner.putVoid());
    }
    plugin_.putInit(pVal);
    ComPtr<IAudioTransform> old;
    GstRef<GstElement> oldElement;
    std::lock_guard lock(lock_);
    old = std::exchange(inner_, inner);
    oldElement = std::exchange(element_, GstRef<GstElement>());
    return S_OK;
}

HRESULT MPStreamTap::get_settings(Variant* pVal) {
    return plugin_.getSettings(pVal);
}
HRESULT MPStreamTap::put_settings(const Variant& pVal) {
    plugin_.putSettings(pVal);
    return S_OK;
}
HRESULT MPStreamTap::get_services(IDispatch** pVal) {
    return plugin_.getServices(pVal);
}
HRESULT MPStreamTap::put_services(IDispatch* pVal) {
    plugin_.putServices(pVal);
    return S_OK;
}

// IAudioTransform -------------------------------------------------------------------------

HRESULT MPStreamTap::GetElement(GstElement** element) {
    if (element == nullptr)
        return E_POINTER;
    *element = nullptr;
    ComPtr<IAudioTransform> inner;
    {
        std::lock_guard lock(lock_);
        if (element_) {
            *element = GST_ELEMENT(gst_object_ref(element_.get()));
            return S_OK;
        }
        inner = inner_;
    }
    if (!inner)
        return OLE_E_BLANK;
    GstElement* raw = nullptr;
    HRESULT hr = inner->GetElement(&raw);
    if (failed(hr))
        return hr;
    if (raw == nullptr)
        return E_POINTER;
    auto innerElement =
        g_object_is_floating(raw) ? GstRef<GstElement>::sink(raw) : GstRef<GstElement>::adopt(raw);

    char name[64];
    std::snprintf(name, sizeof name, "stream-tap-%p", static_cast<void*>(this));
    auto bin = GstRef<GstElement>::sink(gst_bin_new(name));
    auto convert = makeElement("audioconvert");
    auto tap = GstRef<GstElement>::sink(MPTapElement::create(type_, core_));
    if (!bin || !convert || !tap)
        return E_FAIL;
    gst_bin_add_many(GST_BIN(bin.get()), GST_ELEMENT(gst_object_ref(convert.get())),
                     GST_ELEMENT(gst_object_ref(tap.get())),
                     GST_ELEMENT(gst_object_ref(innerElement.get())), nullptr);
    if (!gst_element_link_many(convert.get(), tap.get(), innerElement.get(), nullptr))
        return E_FAIL;
    GstPad* sink = gst_element_get_static_pad(convert.get(), "sink");
    GstPad* src = gst_element_get_static_pad(innerElement.get(), "src");
    gst_element_add_pad(bin.get(), gst_ghost_pad_new("sink", sink));
    gst_element_add_pad(bin.get(), gst_ghost_pad_new("src", src));
    gst_object_unref(sink);
    gst_object_unref(src);
    core_->setElement(tap.get());

    std::lock_guard lock(lock_);
    if (!element_)
        element_ = std::move(bin);
    *element = GST_ELEMENT(gst_object_ref(element_.get()));
    return S_OK;
}

// The stream part's operations --------------------------------------------------------------

bool MPStreamTap::insertFilter(const FilterChain::Filter& filter) {
    return core_->filters.insert(filter);
}

bool MPStreamTap::removeFilter(IMPStreamFilter* filter) {
    return core_->filters.remove(filter);
}

void MPStreamTap::setFilters(std::span<const FilterChain::Filter> filters) {
    core_->filters.assign(filters);
}

void MPStreamTap::setFilterDeadline(std::chrono::milliseconds deadline) {
    core_->filters.setDeadline(deadline);
}

void MPStreamTap::interruptFilters() {
    core_->filters.interrupt();
}

void MPStreamTap::resumeFilters() {
    core_->filters.resume();
}

HRESULT MPStreamTap::mediaType(AMMediaType& out) const {
    std::optional<RawFormat> f = core_->format();
    if (!f || f->mediaType.format.empty())
        return OLE_E_BLANK;
    out = f->mediaType;
    return S_OK;
}

bool MPStreamTap::typed() const {
    return core_->format().has_value();
}

HRESULT MPStreamTap::configureSpectrum(std::int32_t periodMs, SpectrumCallback callback) {
    if (!core_->feed)
        return S_FALSE;
    MPSpectrumFeed::Callback feedCallback;
    if (callback) {
        feedCallback = [weak = std::weak_ptr<Core>(core_), callback = std::move(callback)](
                           double position, std::span<const std::uint8_t> window) -> HRESULT {
            auto core = weak.lock();
            if (!core)
                return S_FALSE;
            std::optional<RawFormat> f = core->format();
            if (!f)
                return OLE_E_BLANK;
            return callback(position, window, f->mediaType.format);
        };
    }
    return core_->feed->configure(periodMs, std::move(feedCallback));
}

void MPStreamTap::clearSpectrum() {
    if (core_->feed)
        core_->feed->clear();
}

HRESULT MPStreamTap::frameCallback(const AMMediaType& type, const IID& iid, void** out) {
    if (out == nullptr)
        return E_POINTER;
    *out = nullptr;
    if (typed())
        return E_FAIL;
    RawFormat f;
    f.type = type.majortype == kMediaTypeAudio ? typelib::mpsAudio : typelib::mpsVideo;
    f.mediaType = type;
    f.bytesPerFrame = type.lSampleSize;
    core_->setFormat(std::move(f));
    return QueryInterface(iid, out);
}

// The grabber --------------------------------------------------------------------------------

HRESULT MPStreamTap::attach(GstElement* pipeline) {
    if (pipeline == nullptr || !GST_IS_BIN(pipeline))
        return E_INVALIDARG;
    detach();
    const char* wanted = type_ == typelib::mpsVideo ? "video/x-raw" : "audio/x-raw";

    // The renderer of this stream type: the deepest sink (an element, or a bin standing
    // for one) whose pad has a negotiated format of that type and is linked to an element
    // in front of it.
    GstRef<GstElement> sink;
    GstRef<GstPad> sinkPad, src;
    int sinkDepth = -1;
    GstIterator* it = gst_bin_iterate_recurse(GST_BIN(pipeline));
    GValue item = G_VALUE_INIT;
    bool done = false;
    while (!done) {
        switch (gst_iterator_next(it, &item)) {
        case GST_ITERATOR_OK: {
            auto* e = GST_ELEMENT(g_value_get_object(&item));
            GstPad* pad = GST_OBJECT_FLAG_IS_SET(e, GST_ELEMENT_FLAG_SINK)
                              ? gst_element_get_static_pad(e, "sink")
                              : nullptr;
            GstCaps* caps = pad ? gst_pad_get_current_caps(pad) : nullptr;
            GstPad* peer = caps ? gst_pad_get_peer(pad) : nullptr;
            GstElement* upstream = peer ? gst_pad_get_parent_element(peer) : nullptr;
            int depth = 0;
            for (GstObject* o = GST_OBJECT_PARENT(e); o != nullptr; o = GST_OBJECT_PARENT(o))
                ++depth;
            if (upstream && gst_structure_has_name(gst_caps_get_structure(caps, 0), wanted) &&
                depth > sinkDepth) {
                sinkDepth = depth;
                sink = GstRef<GstElement>::adopt(GST_ELEMENT(gst_object_ref(e)));
                sinkPad = GstRef<GstPad>::adopt(GST_PAD(gst_object_ref(pad)));
                src = GstRef<GstPad>::adopt(GST_PAD(gst_object_ref(peer)));
            }
            if (upstream)
                gst_object_unref(upstream);
            if (peer)
                gst_object_unref(peer);
            if (caps)
                gst_caps_unref(caps);
            if (pad)
                gst_object_unref(pad);
            g_value_reset(&item);
            break;
        }
        case GST_ITERATOR_RESYNC:
            gst_iterator_resync(it);
            break;
        default:
            done = true;
            break;
        }
    }
    g_value_unset(&item);
    gst_iterator_free(it);
    if (!sink)
        return NTE_NOT_FOUND;
    auto* parent = GST_ELEMENT(gst_object_get_parent(GST_OBJECT(sink.get())));
    if (parent == nullptr)
        return VFW_E_NOT_CONNECTED;

    char name[64];
    std::snprintf(name, sizeof name, "SampleGrabber %p", static_cast<void*>(this));
    const char* convert = type_ == typelib::mpsVideo ? "videoconvert" : "audioconvert";
    auto bin = GstRef<GstElement>::sink(gst_bin_new(name));
    auto in = makeElement(convert);
    auto out = makeElement(convert);
    auto tap = GstRef<GstElement>::sink(MPTapElement::create(type_, core_));
    if (!in || !out) {
        gst_object_unref(parent);
        return E_FAIL;
    }
    gst_bin_add_many(GST_BIN(bin.get()), GST_ELEMENT(gst_object_ref(in.get())),
                     GST_ELEMENT(gst_object_ref(tap.get())), GST_ELEMENT(gst_object_ref(out.get())),
                     nullptr);
    gst_element_link_many(in.get(), tap.get(), out.get(), nullptr);
    GstPad* binSink = gst_element_get_static_pad(in.get(), "sink");
    GstPad* binSrc = gst_element_get_static_pad(out.get(), "src");
    gst_element_add_pad(bin.get(), gst_ghost_pad_new("sink", binSink));
    gst_element_add_pad(bin.get(), gst_ghost_pad_new("src", binSrc));
    gst_object_unref(binSink);
    gst_object_unref(binSrc);
    core_->setElement(tap.get());

    auto link = std::make_shared<GrabberLink>();
    link->bin = std::move(bin);
    link->parent = GstRef<GstElement>::adopt(parent);
    link->src = std::move(src);
    link->sinkPad = std::move(sinkPad);
    link->context = g_main_context_ref_thread_default();
    {
        std::lock_guard lock(lock_);
        grabber_ = std::make_unique<Grabber>(Grabber{link});
    }
    whenIdle(link, &GrabberLink::link);
    return S_OK;
}

void MPStreamTap::detach() {
    std::unique_ptr<Grabber> grabber;
    {
        std::lock_guard lock(lock_);
        grabber = std::move(grabber_);
    }
    if (!grabber)
        return;
    {
        std::lock_guard lock(grabber->link->lock);
        grabber->link->wanted = false;
        if (!grabber->link->linked)
            return;
    }
    whenIdle(grabber->link, &GrabberLink::unlink);
}

bool MPStreamTap::attached() const {
    std::lock_guard lock(lock_);
    return grabber_ != nullptr;
}

GstRef<GstElement> MPStreamTap::tapElement() const {
    GstRef<GstElement> bin;
    {
        std::lock_guard lock(lock_);
        if (grabber_)
            bin = GstRef<GstElement>::adopt(GST_ELEMENT(gst_object_ref(grabber_->link->bin.get())));
        else if (element_)
            bin = GstRef<GstElement>::adopt(GST_ELEMENT(gst_object_ref(element_.get())));
    }
    if (!bin)
        return {};
    GstRef<GstElement> found;
    GstIterator* it = gst_bin_iterate_elements(GST_BIN(bin.get()));
    GValue item = G_VALUE_INIT;
    while (!found && gst_iterator_next(it, &item) == GST_ITERATOR_OK) {
        auto* e = GST_ELEMENT(g_value_get_object(&item));
        if (MPTapElement::isTap(e))
            found = GstRef<GstElement>::adopt(GST_ELEMENT(gst_object_ref(e)));
        g_value_reset(&item);
    }
    g_value_unset(&item);
    gst_iterator_free(it);
    return found;
}

} // namespace norv::media
