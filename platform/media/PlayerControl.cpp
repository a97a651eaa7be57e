#include "platform/media/PlayerControl.h"

#include <gst/audio/streamvolume.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <stdexcept>

#include "platform/com/ClassTable.h"
#include "platform/media/AudioEffects.h"
#include "platform/media/AudioOutput.h"
#include "platform/media/CustomSkin.h"
#include "platform/media/TransportBar.h"

namespace norv::platform::media {

namespace {

// The play states' names, for the log.
const char* playStateName(PlayState state) {
    switch (state) {
    case psStopped:
        return "stopped";
    case psPaused:
        return "paused";
    case psPlaying:
        return "playing";
    case psMediaEnded:
        return "media ended";
    case psTransitioning:
        return "transitioning";
    case psReady:
        return "ready";
    default:
        return "undefined";
    }
}

// The pipeline as the graph-creation hooks receive it.
class MediaGraph final : public ComObject<MediaGraph, IMediaGraph> {
public:
    explicit MediaGraph(GstElement* pipeline)
        : pipeline_(GstRef<GstElement>::adopt(GST_ELEMENT(gst_object_ref(pipeline)))) {}
    HRESULT GetPipeline(GstElement** out) override {
        if (out == nullptr)
            return E_POINTER;
        *out = GST_ELEMENT(gst_object_ref(pipeline_.get()));
        return S_OK;
    }

private:
    GstRef<GstElement> pipeline_;
};

class ControlsObject final : public DispatchObject<ControlsObject, IMediaControls> {
public:
    explicit ControlsObject(PlayerControl* control) : control_(control) {}
    HRESULT play() override { return control_->play(); }
    HRESULT pause() override { return control_->pause(); }
    HRESULT stop() override { return control_->stop(); }
    HRESULT get_currentPosition(double* out) override {
        if (out == nullptr)
            return E_POINTER;
        *out = control_->position();
        return S_OK;
    }
    HRESULT put_currentPosition(double seconds) override { return control_->setPosition(seconds); }

private:
    ComPtr<PlayerControl> control_;
};

class SettingsObject final : public DispatchObject<SettingsObject, IMediaSettings> {
public:
    explicit SettingsObject(PlayerControl* control) : control_(control) {}
    HRESULT get_volume(std::int32_t* out) override {
        if (out == nullptr)
            return E_POINTER;
        *out = control_->volume();
        return S_OK;
    }
    HRESULT put_volume(std::int32_t volume) override {
        control_->setVolume(volume);
        return S_OK;
    }
    HRESULT get_mute(VARIANT_BOOL* out) override {
        if (out == nullptr)
            return E_POINTER;
        *out = control_->mute() ? VARIANT_TRUE : VARIANT_FALSE;
        return S_OK;
    }
    HRESULT put_mute(VARIANT_BOOL mute) override {
        control_->setMute(mute != VARIANT_FALSE);
        return S_OK;
    }
    HRESULT get_autoStart(VARIANT_BOOL* out) override {
        if (out == nullptr)
            return E_POINTER;
        *out = control_->autoStart() ? VARIANT_TRUE : VARIANT_FALSE;
        return S_OK;
    }
    HRESULT put_autoStart(VARIANT_BOOL autoStart) override {
        control_->setAutoStart(autoStart != VARIANT_FALSE);
        return S_OK;
    }

private:
    ComPtr<PlayerControl> control_;
};

std::u16string clockText(double seconds) {
    long s = std::lround(std::floor(seconds));
    char text[32];
    if (s >= 3600)
        std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", s / 3600, (s / 60) % 60, s % 60);
    else
        std::snprintf(text, sizeof text, "%ld:%02ld", s / 60, s % 60);
    return utf8ToUtf16(text);
}

class MediaItem final : public DispatchObject<MediaItem, IMediaItem> {
public:
    MediaItem(PlayerControl* control, std::uint64_t generation, Bstr url)
        : control_(control), generation_(generation), url_(std::move(url)) {}
    HRESULT get_duration(double* out) override {
        if (out == nullptr)
            return E_POINTER;
        *out = control_->mediaDuration(generation_);
        return S_OK;
    }
    HRESULT get_durationString(Bstr* out) override {
        if (out == nullptr)
            return E_POINTER;
        double d = control_->mediaDuration(generation_);
        *out = d > 0 ? Bstr(clockText(d)) : Bstr::empty();
        return S_OK;
    }
    HRESULT get_sourceURL(Bstr* out) override {
        if (out == nullptr)
            return E_POINTER;
        *out = url_.isNull() ? Bstr::empty() : url_;
        return S_OK;
    }
    HRESULT get_name(Bstr* out) override {
        if (out == nullptr)
            return E_POINTER;
        std::u16string_view text = url_.view();
        text = text.substr(0, text.find_first_of(u"?#"));
        std::size_t slash = text.find_last_of(u"/\\");
        if (slash != std::u16string_view::npos)
            text = text.substr(slash + 1);
        std::size_t dot = text.rfind(u'.');
        if (dot != std::u16string_view::npos && dot > 0)
            text = text.substr(0, dot);
        *out = Bstr(text);
        return S_OK;
    }
    HRESULT get_errorDescription(Bstr* out) override {
        if (out == nullptr)
            return E_POINTER;
        *out = Bstr(control_->mediaError(generation_));
        return S_OK;
    }

private:
    ComPtr<PlayerControl> control_;
    std::uint64_t generation_;
    Bstr url_;
};

bool gtkDisplayAvailable() {
    return gdk_display_get_default() != nullptr;
}

// The address playbin opens for what script gave: addresses with a scheme as they are,
// file paths (absolute, or relative to the current folder) as file addresses.
std::string toUri(const Bstr& url) {
    std::string text = url.toUtf8();
    if (gst_uri_is_valid(text.c_str()))
        return text;
    gchar* uri = gst_filename_to_uri(text.c_str(), nullptr);
    std::string result = uri ? uri : "";
    g_free(uri);
    return result;
}

// The element linked to `pad`'s peer, with a reference, or null.
GstRef<GstElement> peerElement(GstPad* pad) {
    GstPad* peer = gst_pad_get_peer(pad);
    if (peer == nullptr)
        return {};
    GstElement* parent = gst_pad_get_parent_element(peer);
    gst_object_unref(peer);
    return GstRef<GstElement>::adopt(parent);
}

struct PresenterSwap {
    GstElement* bin;
    GstElement* in;
    GstElement* out;
    GstElement* element; // null to remove the presenter
    GMainContext* context;
};

void freeSwap(gpointer data) {
    auto* swap = static_cast<PresenterSwap*>(data);
    gst_object_unref(swap->bin);
    gst_object_unref(swap->in);
    gst_object_unref(swap->out);
    if (swap->element)
        gst_object_unref(swap->element);
    g_main_context_unref(swap->context);
    delete swap;
}

struct Removal {
    GstElement* bin;
    GstElement* element;
};

gboolean removeElement(gpointer data) {
    auto* removal = static_cast<Removal*>(data);
    gst_element_set_state(removal->element, GST_STATE_NULL);
    gst_bin_remove(GST_BIN(removal->bin), removal->element);
    return G_SOURCE_REMOVE;
}

void freeRemoval(gpointer data) {
    auto* removal = static_cast<Removal*>(data);
    gst_object_unref(removal->bin);
    gst_object_unref(removal->element);
    delete removal;
}

// Links the presenter between the two converters in place of whatever is there now. Runs
// on the UI thread when the video path is not running, else from an idle probe on the
// first converter's source pad (between two frames). The element taken out is shut down
// and removed on the UI thread.
void swapPresenter(PresenterSwap& swap) {
    GstPad* src = gst_element_get_static_pad(swap.in, "src");
    GstRef<GstElement> current = peerElement(src);
    if (current && current.get() != swap.out) {
        gst_element_unlink(swap.in, current.get());
        gst_element_unlink(current.get(), swap.out);
        auto* removal = new Removal{GST_ELEMENT(gst_object_ref(swap.bin)),
                                    GST_ELEMENT(gst_object_ref(current.get()))};
        GSource* idle = g_idle_source_new();
        g_source_set_callback(idle, removeElement, removal, freeRemoval);
        g_source_attach(idle, swap.context);
        g_source_unref(idle);
    } else if (current) {
        gst_element_unlink(swap.in, swap.out);
    }
    bool linked = false;
    if (swap.element) {
        if (GST_OBJECT_PARENT(swap.element) == nullptr)
            gst_bin_add(GST_BIN(swap.bin), GST_ELEMENT(gst_object_ref(swap.element)));
        linked =
            gst_element_link(swap.in, swap.element) && gst_element_link(swap.element, swap.out);
        if (linked) {
            gst_element_sync_state_with_parent(swap.element);
            // Let the converter in front choose a format the presenter takes.
            GstPad* sink = gst_element_get_static_pad(swap.element, "sink");
            if (sink) {
                gst_pad_push_event(sink, gst_event_new_reconfigure());
                gst_object_unref(sink);
            }
        } else {
            g_warning("player: the video presenter's element cannot be linked");
            gst_element_unlink(swap.in, swap.element);
            gst_element_unlink(swap.element, swap.out);
        }
    }
    if (!linked)
        gst_element_link(swap.in, swap.out);
    gst_object_unref(src);
}

GstPadProbeReturn swapProbe(GstPad*, GstPadProbeInfo*, gpointer data) {
    swapPresenter(*static_cast<PresenterSwap*>(data));
    return GST_PAD_PROBE_REMOVE;
}

} // namespace

PlayerControl::PlayerControl()
    : context_(g_main_context_ref_thread_default()),
      events_(makeObject<ConnectionPoint>(IMediaPlayerEvents::iid,
                                          static_cast<IConnectionPointContainer*>(this))) {
    playbin_ = GstRef<GstElement>::sink(gst_element_factory_make("playbin", nullptr));
    if (!playbin_)
        throw std::runtime_error("GStreamer's playbin is not available");
    graph_ = makeObject<MediaGraph>(playbin_.get());

    GstRef<GstElement> audio = createAudioOutput(&audioOutputName_);
    // Which of the outputs plays the sound: what tells a user without a sound server why
    // nothing is heard.
    g_debug("player: sound goes to %s", audioOutputName_ ? audioOutputName_ : "no output");
    audioEffects_ = AudioEffects::create(audio.get());
    if (GstElement* output = audioEffects_->element() ? audioEffects_->element() : audio.get())
        g_object_set(playbin_.get(), "audio-sink", output, nullptr);
    buildVideoPath();
    buildWidget();
    setVolume(volume_);
    setMute(mute_);

    GstBus* bus = gst_element_get_bus(playbin_.get());
    busWatch_ = gst_bus_create_watch(bus);
    // A bus watch calls a GstBusFunc through the GSourceFunc slot.
    g_source_set_callback(busWatch_,
                          reinterpret_cast<GSourceFunc>(reinterpret_cast<void (*)()>(busCallback)),
                          this, nullptr);
    g_source_attach(busWatch_, context_);
    gst_object_unref(bus);
}

PlayerControl::~PlayerControl() {
    closeMedium();
    if (busWatch_) {
        g_source_destroy(busWatch_);
        g_source_unref(busWatch_);
    }
    if (positionTimer_) {
        g_source_destroy(positionTimer_);
        g_source_unref(positionTimer_);
    }
    events_->detachContainer();
    events_->unadviseAll();
    bar_.reset();
    if (root_) {
        gtk_widget_destroy(root_);
        g_object_unref(root_);
    }
    g_main_context_unref(context_);
}

void PlayerControl::buildVideoPath() {
    videoBin_ = GstRef<GstElement>::sink(gst_bin_new("video-output"));
    presenterIn_ =
        GstRef<GstElement>::sink(gst_element_factory_make("videoconvert", "presenter-in"));
    presenterOut_ =
        GstRef<GstElement>::sink(gst_element_factory_make("videoconvert", "presenter-out"));
    if (gtkDisplayAvailable())
        videoSink_ = GstRef<GstElement>::sink(gst_element_factory_make("gtksink", "video-sink"));
    if (!videoSink_) {
        videoSink_ =
            GstRef<GstElement>::sink(gst_element_factory_make("fakevideosink", "video-sink"));
        if (videoSink_)
            g_object_set(videoSink_.get(), "sync", TRUE, nullptr);
    }
    if (!presenterIn_ || !presenterOut_ || !videoSink_)
        throw std::runtime_error("GStreamer's video elements are not available");
    gst_bin_add_many(GST_BIN(videoBin_.get()), GST_ELEMENT(gst_object_ref(presenterIn_.get())),
                     GST_ELEMENT(gst_object_ref(presenterOut_.get())),
                     GST_ELEMENT(gst_object_ref(videoSink_.get())), nullptr);
    // The picture settings of a skin's VIDEOSETTINGS; at its defaults it passes frames
    // through untouched.
    videoBalance_ =
        GstRef<GstElement>::sink(gst_element_factory_make("videobalance", "video-balance"));
    if (videoBalance_) {
        gst_bin_add(GST_BIN(videoBin_.get()), videoBalance_.get());
        gst_element_link_many(presenterIn_.get(), presenterOut_.get(), videoBalance_.get(),
                              videoSink_.get(), nullptr);
    } else {
        gst_element_link_many(presenterIn_.get(), presenterOut_.get(), videoSink_.get(), nullptr);
    }
    GstPad* target = gst_element_get_static_pad(presenterIn_.get(), "sink");
    gst_element_add_pad(videoBin_.get(), gst_ghost_pad_new("sink", target));
    gst_object_unref(target);
    g_object_set(playbin_.get(), "video-sink", videoBin_.get(), nullptr);
}

void PlayerControl::buildWidget() {
    if (!gtkDisplayAvailable() ||
        g_strcmp0(G_OBJECT_TYPE_NAME(videoSink_.get()), "GstGtkSink") != 0)
        return;
    // The sink's widget must be taken before the sink starts, or it opens a window of its
    // own.
    g_object_get(videoSink_.get(), "widget", &videoWidget_, nullptr);
    root_ = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
    g_object_ref_sink(root_);
    gtk_widget_set_name(root_, "media-player");
    if (videoWidget_) {
        gtk_box_pack_start(GTK_BOX(root_), videoWidget_, TRUE, TRUE, 0);
        gtk_widget_show(videoWidget_);
        g_object_unref(videoWidget_); // the box holds it
    }
    TransportBar::Callbacks callbacks;
    callbacks.playPause = [this] {
        if (state_ == psPlaying)
            pause();
        else
            play();
    };
    callbacks.seek = [this](double seconds) {
        setPosition(seconds);
    };
    callbacks.volume = [this](int volume) {
        setVolume(volume);
    };
    bar_ = std::make_unique<TransportBar>(std::move(callbacks));
    gtk_box_pack_end(GTK_BOX(root_), bar_->widget(), FALSE, FALSE, 0);
    // The host may show everything it holds: the mode decides what is visible here.
    gtk_widget_set_no_show_all(root_, TRUE);
    gtk_widget_set_no_show_all(bar_->widget(), TRUE);
    applyUiMode();
    bar_->setVolume(volume_);

    positionTimer_ = g_timeout_source_new(250);
    g_source_set_callback(positionTimer_, positionTick, this, nullptr);
    g_source_attach(positionTimer_, context_);
}

void PlayerControl::applyUiMode() {
    if (!root_)
        return;
    bool custom = uiMode_ == u"custom";
    // A custom skin decides the user interface; without one the control's own stays.
    bool bar = uiMode_ == u"full" || uiMode_ == u"mini" || (custom && customSkin_.isEmpty());
    gtk_widget_set_visible(root_, uiMode_ != u"invisible");
    gtk_widget_set_visible(bar_->widget(), bar);
    bar_->setFull(uiMode_ != u"mini");
}

void PlayerControl::updateBar() {
    if (!bar_)
        return;
    bar_->setPlaying(state_ == psPlaying ||
                     (state_ == psTransitioning && target_ == Target::Playing));
    bar_->setPosition(position(), duration_);
}

gboolean PlayerControl::positionTick(gpointer self) {
    auto* control = static_cast<PlayerControl*>(self);
    if (control->bar_ && gtk_widget_get_visible(control->bar_->widget()))
        control->updateBar();
    return G_SOURCE_CONTINUE;
}

// ---------------------------------------------------------------------------------------
// Media

HRESULT PlayerControl::openMedium() {
    std::string uri = toUri(url_);
    ++generation_;
    error_.clear();
    duration_ = 0;
    lastPosition_ = 0;
    prerolled_ = false;
    if (uri.empty()) {
        error_ = u"The address is not valid.";
        target_ = Target::None;
        fire(IMediaPlayerEvents::dispidMediaError, Variant::fromDispatch(makeItem().get()));
        setState(psReady);
        return S_OK;
    }
    g_object_set(playbin_.get(), "uri", uri.c_str(), nullptr);
    preRender();
    createAudioTransform();
    opened_ = true;
    target_ = autoStart_ ? Target::Playing : Target::Ready;
    gst_element_set_state(playbin_.get(), GST_STATE_PAUSED);
    setState(psTransitioning);
    return S_OK;
}

void PlayerControl::closeMedium() {
    if (opened_) {
        notifyWillBlock();
        opened_ = false;
        // Going to NULL also flushes the bus, so nothing of this medium arrives later.
        gst_element_set_state(playbin_.get(), GST_STATE_NULL);
    }
    if (activate_) {
        activate_->ShutdownObject();
        activate_.reset();
    }
    target_ = Target::None;
    pendingSeek_.reset();
}

void PlayerControl::notifyWillBlock() {
    if (!graphCreation_)
        return;
    if (auto notify = ComPtr<IGraphCreation>(graphCreation_).as<IGraphBlockNotify>())
        notify->GraphWillBlock(graph_.get());
}

void PlayerControl::preRender() {
    if (!graphCreation_)
        return;
    ComPtr<IGraphCreation> hook = graphCreation_;
    std::uint32_t flags = 0;
    hook->GetGraphCreationFlags(&flags);
    hook->GraphCreationPreRender(graph_.get(), nullptr);
}

void PlayerControl::postRender() {
    if (!graphCreation_)
        return;
    ComPtr<IGraphCreation> hook = graphCreation_;
    hook->GraphCreationPostRender(graph_.get());
}

void PlayerControl::createAudioTransform() {
    ComPtr<IActivate> activate;
    ComPtr<IAudioTransform> transform;
    GstRef<GstElement> element;
    HRESULT hr =
        norv::com::createInstance(CLSID_MediaActivate, nullptr, CLSCTX_INPROC_SERVER, activate);
    if (succeeded(hr)) {
        activate->SetItem(ATTR_TransformCategory,
                          Variant::fromBstr(Bstr::fromUtf8(CATEGORY_AudioTransform.toString())));
        activate->SetUnknown(ATTR_TransformGraph, graph_.get());
        hr = activate->ActivateObject(IAudioTransform::iid, transform.putVoid());
    }
    if (succeeded(hr) && transform) {
        GstElement* raw = nullptr;
        hr = transform->GetElement(&raw);
        if (succeeded(hr) && raw)
            element = g_object_is_floating(raw) ? GstRef<GstElement>::sink(raw)
                                                : GstRef<GstElement>::adopt(raw);
    }
    if (!element)
        g_warning("player: no audio transform (0x%08X); audio plays without one",
                  static_cast<unsigned>(hr));
    // The pipeline is in NULL here, where its audio filter may change.
    g_object_set(playbin_.get(), "audio-filter", element.get(), nullptr);
    activate_ = element ? activate : nullptr;
    if (!element && activate)
        activate->ShutdownObject();
}

void PlayerControl::queryDuration() {
    gint64 d = 0;
    if (gst_element_query_duration(playbin_.get(), GST_FORMAT_TIME, &d) && d > 0)
        duration_ = static_cast<double>(d) / GST_SECOND;
}

void PlayerControl::seekTo(double seconds) {
    notifyWillBlock();
    auto at = static_cast<gint64>(std::llround(seconds * GST_SECOND));
    lastPosition_ = seconds;
    gst_element_seek_simple(playbin_.get(), GST_FORMAT_TIME,
                            static_cast<GstSeekFlags>(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_ACCURATE),
                            at);
}

ComPtr<IMediaItem> PlayerControl::makeItem() {
    return makeObject<MediaItem>(this, generation_, url_);
}

double PlayerControl::mediaDuration(std::uint64_t generation) const {
    return generation == generation_ ? duration_ : 0;
}

std::u16string PlayerControl::mediaError(std::uint64_t generation) const {
    return generation == generation_ ? error_ : std::u16string();
}

// ---------------------------------------------------------------------------------------
// States and events

void PlayerControl::setState(PlayState state) {
    if (state == state_)
        return;
    state_ = state;
    g_debug("player: %s", playStateName(state));
    updateBar();
    fire(IMediaPlayerEvents::dispidPlayStateChange, Variant::fromI4(state));
}

void PlayerControl::fire(DISPID id, Variant arg) {
    pendingEvents_.push_back({id, std::move(arg)});
    if (firing_)
        return;
    firing_ = true;
    ComPtr<PlayerControl> keep(this);
    while (!pendingEvents_.empty()) {
        Event event = std::move(pendingEvents_.front());
        pendingEvents_.pop_front();
        std::vector<ConnectData> sinks;
        events_->EnumConnections(&sinks);
        for (ConnectData& connection : sinks) {
            ComPtr<IDispatch> sink;
            if (failed(connection.sink->QueryInterface(IMediaPlayerEvents::iid, sink.putVoid())))
                continue;
            Variant args[1] = {event.arg};
            DispParams params{std::span<Variant>(args), {}};
            sink->Invoke(event.id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, params, nullptr,
                         nullptr, nullptr);
        }
    }
    firing_ = false;
}

gboolean PlayerControl::busCallback(GstBus*, GstMessage* message, gpointer self) {
    auto* control = static_cast<PlayerControl*>(self);
    ComPtr<PlayerControl> keep(control);
    control->onBusMessage(message);
    return G_SOURCE_CONTINUE;
}

void PlayerControl::onBusMessage(GstMessage* message) {
    if (!opened_)
        return;
    GstObject* pipeline = GST_OBJECT(playbin_.get());
    switch (GST_MESSAGE_TYPE(message)) {
    case GST_MESSAGE_ASYNC_DONE:
        if (GST_MESSAGE_SRC(message) == pipeline)
            onAsyncDone();
        break;
    case GST_MESSAGE_STATE_CHANGED: {
        if (GST_MESSAGE_SRC(message) != pipeline)
            break;
        GstState oldState, newState, pending;
        gst_message_parse_state_changed(message, &oldState, &newState, &pending);
        if (newState == GST_STATE_PLAYING && target_ == Target::Playing)
            setState(psPlaying);
        else if (newState == GST_STATE_PAUSED && pending == GST_STATE_VOID_PENDING &&
                 target_ == Target::Paused && prerolled_)
            setState(psPaused);
        break;
    }
    case GST_MESSAGE_DURATION_CHANGED:
        queryDuration();
        break;
    case GST_MESSAGE_EOS:
        if (target_ == Target::Playing) {
            target_ = Target::Ended;
            queryDuration();
            lastPosition_ = duration_;
            setState(psMediaEnded);
        }
        break;
    case GST_MESSAGE_ERROR:
        onError(message);
        break;
    default:
        break;
    }
}

void PlayerControl::onAsyncDone() {
    if (!prerolled_) {
        prerolled_ = true;
        queryDuration();
        postRender();
        if (!opened_)
            return; // a hook closed the medium
        if (pendingSeek_) {
            double at = *pendingSeek_;
            pendingSeek_.reset();
            seekTo(at);
        }
    }
    switch (target_) {
    case Target::Playing: {
        GstState current = GST_STATE_NULL;
        gst_element_get_state(playbin_.get(), &current, nullptr, 0);
        if (current == GST_STATE_PLAYING)
            setState(psPlaying);
        else
            gst_element_set_state(playbin_.get(), GST_STATE_PLAYING);
        break;
    }
    case Target::Ready:
        setState(psReady);
        break;
    case Target::Paused:
        setState(psPaused);
        break;
    default:
        break;
    }
}

void PlayerControl::onError(GstMessage* message) {
    GError* error = nullptr;
    gchar* debug = nullptr;
    gst_message_parse_error(message, &error, &debug);
    std::string text = error && error->message ? error->message : "The medium cannot be played.";
    // The page gets the error as an event; a user running the program sees why.
    g_warning("player: %s (%s)", text.c_str(), debug ? debug : "");
    if (error)
        g_error_free(error);
    g_free(debug);
    closeMedium();
    error_ = utf8ToUtf16(text);
    fire(IMediaPlayerEvents::dispidMediaError, Variant::fromDispatch(makeItem().get()));
    setState(psReady);
}

// ---------------------------------------------------------------------------------------
// Transport

HRESULT PlayerControl::play() {
    if (url_.isEmpty())
        return S_OK;
    if (!opened_) {
        bool autoStart = autoStart_;
        autoStart_ = true;
        openMedium();
        autoStart_ = autoStart;
        return S_OK;
    }
    switch (state_) {
    case psPlaying:
        break;
    case psMediaEnded:
        target_ = Target::Playing;
        setState(psTransitioning);
        seekTo(0);
        gst_element_set_state(playbin_.get(), GST_STATE_PLAYING);
        break;
    case psTransitioning:
        target_ = Target::Playing;
        break;
    default:
        target_ = Target::Playing;
        gst_element_set_state(playbin_.get(), GST_STATE_PLAYING);
        break;
    }
    return S_OK;
}

HRESULT PlayerControl::pause() {
    if (!opened_)
        return S_OK;
    switch (state_) {
    case psPlaying:
        target_ = Target::Paused;
        gst_element_set_state(playbin_.get(), GST_STATE_PAUSED);
        break;
    case psTransitioning:
        target_ = Target::Paused;
        if (prerolled_)
            gst_element_set_state(playbin_.get(), GST_STATE_PAUSED);
        break;
    case psReady:
        target_ = Target::Paused;
        setState(psPaused);
        break;
    default:
        break;
    }
    return S_OK;
}

HRESULT PlayerControl::stop() {
    if (!opened_ || state_ == psStopped)
        return S_OK;
    target_ = Target::Stopped;
    gst_element_set_state(playbin_.get(), GST_STATE_PAUSED);
    if (prerolled_)
        seekTo(0);
    else
        pendingSeek_ = 0.0;
    lastPosition_ = 0;
    setState(psStopped);
    return S_OK;
}

double PlayerControl::position() {
    if (!opened_ || !prerolled_)
        return pendingSeek_.value_or(opened_ ? 0.0 : lastPosition_);
    if (state_ == psStopped)
        return lastPosition_;
    gint64 at = 0;
    if (state_ != psMediaEnded && gst_element_query_position(playbin_.get(), GST_FORMAT_TIME, &at))
        lastPosition_ = static_cast<double>(at) / GST_SECOND;
    return lastPosition_;
}

HRESULT PlayerControl::setPosition(double seconds) {
    if (!std::isfinite(seconds))
        return E_INVALIDARG;
    seconds = std::max(seconds, 0.0);
    if (!opened_)
        return S_OK;
    if (duration_ > 0)
        seconds = std::min(seconds, duration_);
    if (!prerolled_) {
        pendingSeek_ = seconds;
        return S_OK;
    }
    if (state_ == psMediaEnded) {
        // Moving the position of an ended medium does not start it again.
        target_ = Target::Paused;
        gst_element_set_state(playbin_.get(), GST_STATE_PAUSED);
    }
    seekTo(seconds);
    return S_OK;
}

void PlayerControl::setVolume(std::int32_t volume) {
    volume_ = std::clamp(volume, 0, 100);
    gst_stream_volume_set_volume(GST_STREAM_VOLUME(playbin_.get()), GST_STREAM_VOLUME_FORMAT_CUBIC,
                                 volume_ / 100.0);
    if (bar_)
        bar_->setVolume(volume_);
}

void PlayerControl::setMute(bool mute) {
    mute_ = mute;
    gst_stream_volume_set_mute(GST_STREAM_VOLUME(playbin_.get()), mute ? TRUE : FALSE);
}

// ---------------------------------------------------------------------------------------
// IMediaPlayer

HRESULT PlayerControl::get_URL(Bstr* out) {
    if (out == nullptr)
        return E_POINTER;
    *out = url_.isNull() ? Bstr::empty() : url_;
    return S_OK;
}

HRESULT PlayerControl::put_URL(const Bstr& url) {
    closeMedium();
    url_ = url;
    if (url_.isEmpty()) {
        ++generation_;
        error_.clear();
        duration_ = 0;
        lastPosition_ = 0;
        prerolled_ = false;
        if (state_ != psUndefined)
            setState(psStopped);
        return S_OK;
    }
    return openMedium();
}

HRESULT PlayerControl::get_playState(PlayState* out) {
    if (out == nullptr)
        return E_POINTER;
    *out = state_;
    return S_OK;
}

HRESULT PlayerControl::get_controls(IMediaControls** out) {
    if (out == nullptr)
        return E_POINTER;
    *out = makeObject<ControlsObject>(this).detach();
    return S_OK;
}

HRESULT PlayerControl::get_settings(IMediaSettings** out) {
    if (out == nullptr)
        return E_POINTER;
    *out = makeObject<SettingsObject>(this).detach();
    return S_OK;
}

HRESULT PlayerControl::get_currentMedia(IMediaItem** out) {
    if (out == nullptr)
        return E_POINTER;
    *out = makeItem().detach();
    return S_OK;
}

HRESULT PlayerControl::get_uiMode(Bstr* out) {
    if (out == nullptr)
        return E_POINTER;
    *out = Bstr(uiMode_);
    return S_OK;
}

HRESULT PlayerControl::put_uiMode(const Bstr& mode) {
    std::u16string lower(mode.view());
    for (char16_t& c : lower)
        if (c >= u'A' && c <= u'Z')
            c = static_cast<char16_t>(c - u'A' + u'a');
    static constexpr std::u16string_view modes[] = {u"none", u"invisible", u"full", u"mini",
                                                    u"custom"};
    if (std::find(std::begin(modes), std::end(modes), lower) == std::end(modes))
        return E_INVALIDARG;
    Bstr file;
    std::unique_ptr<CustomSkin> skin;
    if (lower == u"custom" && remoteServices_) {
        ComPtr<IRemoteMediaServices> services = remoteServices_;
        if (succeeded(services->GetCustomUIMode(&file)) && !file.isEmpty()) {
            // A skin that cannot be loaded fails the switch; the mode and the medium stay.
            ComPtr<IDispatch> scriptable = scriptableObject_;
            HRESULT hr = CustomSkin::load(file, scriptableName_, scriptable.get(),
                                          {audioEffects_, videoBalance_.get()}, skin);
            if (failed(hr))
                return hr;
        } else {
            file = Bstr();
        }
    }
    uiMode_ = lower;
    customSkin_ = file;
    skin_ = std::move(skin);
    applyUiMode();
    return S_OK;
}

HRESULT PlayerControl::get_versionInfo(Bstr* out) {
    if (out == nullptr)
        return E_POINTER;
    guint major, minor, micro, nano;
    gst_version(&major, &minor, &micro, &nano);
    char text[64];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", major, minor, micro, nano);
    *out = Bstr::fromUtf8(text);
    return S_OK;
}

HRESULT PlayerControl::close() {
    bool hadMedium = opened_;
    closeMedium();
    if (hadMedium && state_ != psUndefined)
        setState(psStopped);
    return S_OK;
}

// ---------------------------------------------------------------------------------------
// IOleObject

HRESULT PlayerControl::SetClientSite(IOleClientSite* site) {
    site_ = site;
    remoteServices_.reset();
    graphCreation_.reset();
    serviceType_ = Bstr();
    applicationName_ = Bstr();
    scriptableName_ = Bstr();
    scriptableObject_.reset();
    if (site) {
        ComPtr<IServiceProvider> provider;
        if (succeeded(site->QueryInterface(IServiceProvider::iid, provider.putVoid()))) {
            ComPtr<IRemoteMediaServices> services;
            if (succeeded(provider->QueryService(SID_MediaPlayerServices, IRemoteMediaServices::iid,
                                                 services.putVoid())) &&
                services) {
                services->GetServiceType(&serviceType_);
                services->GetApplicationName(&applicationName_);
                Bstr name;
                ComPtr<IDispatch> object;
                if (succeeded(services->GetScriptableObject(&name, object.put()))) {
                    scriptableName_ = name;
                    scriptableObject_ = object;
                }
                remoteServices_ = services;
            }
            ComPtr<IGraphCreation> graphCreation;
            if (succeeded(provider->QueryService(SID_MediaPlayerServices, IGraphCreation::iid,
                                                 graphCreation.putVoid())))
                graphCreation_ = graphCreation;
        }
    }
    if (uiMode_ == u"custom")
        put_uiMode(Bstr(uiMode_));
    return S_OK;
}

HRESULT PlayerControl::GetClientSite(IOleClientSite** site) {
    if (site == nullptr)
        return E_POINTER;
    return site_.copyTo(site);
}

HRESULT PlayerControl::SetHostNames(const Bstr&, const Bstr&) {
    return S_OK;
}

HRESULT PlayerControl::Close(std::uint32_t) {
    return close();
}

HRESULT PlayerControl::GetMoniker(std::uint32_t, std::uint32_t, IUnknown** moniker) {
    if (moniker == nullptr)
        return E_POINTER;
    *moniker = nullptr;
    return E_NOTIMPL;
}

HRESULT PlayerControl::GetClipboardData(std::uint32_t, IUnknown** dataObject) {
    if (dataObject == nullptr)
        return E_POINTER;
    *dataObject = nullptr;
    return E_NOTIMPL;
}

HRESULT PlayerControl::EnumVerbs(IUnknown** enumerator) {
    if (enumerator == nullptr)
        return E_POINTER;
    *enumerator = nullptr;
    return E_NOTIMPL;
}

HRESULT PlayerControl::GetUserClassID(CLSID* clsid) {
    if (clsid == nullptr)
        return E_POINTER;
    *clsid = CLSID_MediaPlayer;
    return S_OK;
}

HRESULT PlayerControl::GetUserType(std::uint32_t, Bstr* userType) {
    if (userType == nullptr)
        return E_POINTER;
    *userType = Bstr(u"Media Player");
    return S_OK;
}

HRESULT PlayerControl::SetExtent(std::uint32_t, const ExtentSize& size) {
    extent_ = size;
    return S_OK;
}

HRESULT PlayerControl::GetExtent(std::uint32_t, ExtentSize* size) {
    if (size == nullptr)
        return E_POINTER;
    *size = extent_;
    return S_OK;
}

HRESULT PlayerControl::Advise(IUnknown*, std::uint32_t* connection) {
    if (connection == nullptr)
        return E_POINTER;
    *connection = 0;
    return E_NOTIMPL;
}

HRESULT PlayerControl::EnumAdvise(IUnknown** enumerator) {
    if (enumerator == nullptr)
        return E_POINTER;
    *enumerator = nullptr;
    return E_NOTIMPL;
}

HRESULT PlayerControl::GetMiscStatus(std::uint32_t, std::uint32_t* status) {
    if (status == nullptr)
        return E_POINTER;
    *status = 0;
    return S_OK;
}

// ---------------------------------------------------------------------------------------
// IConnectionPointContainer

HRESULT PlayerControl::EnumConnectionPoints(std::vector<ComPtr<IConnectionPoint>>* out) {
    if (out == nullptr)
        return E_POINTER;
    out->clear();
    out->push_back(events_);
    return S_OK;
}

HRESULT PlayerControl::FindConnectionPoint(const IID& iid, IConnectionPoint** out) {
    if (out == nullptr)
        return E_POINTER;
    *out = nullptr;
    if (iid != IMediaPlayerEvents::iid)
        return CONNECT_E_NOCONNECTION;
    return ComPtr<IConnectionPoint>(events_).copyTo(out);
}

// ---------------------------------------------------------------------------------------
// IVideoRenderConfig and IPlayerView

HRESULT PlayerControl::put_presenter(IVideoPresenter* presenter) {
    GstRef<GstElement> element;
    if (presenter) {
        GstElement* raw = nullptr;
        HRESULT hr = presenter->CreateElement(&raw);
        if (failed(hr))
            return hr;
        if (raw == nullptr)
            return E_POINTER;
        element = g_object_is_floating(raw) ? GstRef<GstElement>::sink(raw)
                                            : GstRef<GstElement>::adopt(raw);
    }
    presenter_ = presenter;
    relinkPresenter(std::move(element));
    return S_OK;
}

HRESULT PlayerControl::get_presenter(IVideoPresenter** presenter) {
    if (presenter == nullptr)
        return E_POINTER;
    return presenter_.copyTo(presenter);
}

void PlayerControl::relinkPresenter(GstRef<GstElement> element) {
    auto* swap = new PresenterSwap{GST_ELEMENT(gst_object_ref(videoBin_.get())),
                                   GST_ELEMENT(gst_object_ref(presenterIn_.get())),
                                   GST_ELEMENT(gst_object_ref(presenterOut_.get())),
                                   element ? GST_ELEMENT(gst_object_ref(element.get())) : nullptr,
                                   g_main_context_ref(context_)};
    presenterElement_ = std::move(element);
    GstState current = GST_STATE_NULL, pending = GST_STATE_VOID_PENDING;
    gst_element_get_state(videoBin_.get(), &current, &pending, 0);
    if (current <= GST_STATE_READY && pending <= GST_STATE_READY) {
        swapPresenter(*swap);
        freeSwap(swap);
        return;
    }
    GstPad* src = gst_element_get_static_pad(presenterIn_.get(), "src");
    gst_pad_add_probe(src, GST_PAD_PROBE_TYPE_IDLE, swapProbe, swap, freeSwap);
    gst_object_unref(src);
}

HRESULT PlayerControl::GetWidget(GtkWidget** widget) {
    if (widget == nullptr)
        return E_POINTER;
    *widget = root_;
    return root_ ? S_OK : S_FALSE;
}

} // namespace norv::platform::media
