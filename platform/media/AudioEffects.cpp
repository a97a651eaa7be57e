#include "platform/media/AudioEffects.h"

#include <algorithm>
#include <cmath>
#include <initializer_list>
#include <numbers>
#include <vector>

namespace norv::platform::media {

namespace {

// equalizer-nbands' band types.
constexpr int kPeak = 0;
constexpr int kLowShelf = 1;
constexpr double kBandFrequency[AudioEffects::kBands] = {31,   62,   125,  250,  500,
                                                         1000, 2000, 4000, 8000, 16000};
constexpr double kShelfDecibels = 12.0;
constexpr double kShelfCorner[AudioEffects::kMaxSpeakerSize + 1] = {150.0, 100.0, 60.0};
constexpr float kMaxWidening = 0.35f;
// The band the widener keeps centred.
constexpr float kCentredBand = 100.0f;
constexpr float kCentredWidth = 100.0f;

GstElement* make(const char* factory, const char* name = nullptr) {
    GstElement* e = gst_element_factory_make(factory, name);
    if (e == nullptr)
        g_warning("player: GStreamer's %s is not available; no audio effects", factory);
    return e;
}

// A bin of `elements` linked in order, with ghost pads "sink" and "src". Takes the
// (floating) elements; null when one is missing or they cannot be linked.
GstRef<GstElement> makeStage(const char* name, std::initializer_list<GstElement*> elements) {
    bool complete =
        std::none_of(elements.begin(), elements.end(), [](GstElement* e) { return e == nullptr; });
    if (!complete) {
        for (GstElement* e : elements)
            if (e)
                gst_object_unref(gst_object_ref_sink(e));
        return {};
    }
    auto bin = GstRef<GstElement>::sink(gst_bin_new(name));
    for (GstElement* e : elements)
        gst_bin_add(GST_BIN(bin.get()), e);
    GstElement* previous = nullptr;
    for (GstElement* e : elements) {
        if (previous && !gst_element_link(previous, e)) {
            g_warning("player: the audio effects cannot be linked");
            return {};
        }
        previous = e;
    }
    GstPad* sink = gst_element_get_static_pad(*elements.begin(), "sink");
    GstPad* src = gst_element_get_static_pad(previous, "src");
    gst_element_add_pad(bin.get(), gst_ghost_pad_new("sink", sink));
    gst_element_add_pad(bin.get(), gst_ghost_pad_new("src", src));
    gst_object_unref(sink);
    gst_object_unref(src);
    return bin;
}

// Clears what a stage kept from the last time it was in the path (an end of stream, a
// segment), so that it takes the stream it joins afresh.
void resetStage(GstElement* stage) {
    GstPad* sink = gst_element_get_static_pad(stage, "sink");
    gst_pad_send_event(sink, gst_event_new_flush_start());
    gst_pad_send_event(sink, gst_event_new_flush_stop(FALSE));
    gst_object_unref(sink);
}

void unlinkChain(const std::vector<GstElement*>& chain) {
    for (std::size_t i = 0; i + 1 < chain.size(); ++i)
        gst_element_unlink(chain[i], chain[i + 1]);
}

bool linkChain(const std::vector<GstElement*>& chain) {
    for (std::size_t i = 0; i + 1 < chain.size(); ++i)
        if (!gst_element_link(chain[i], chain[i + 1]))
            return false;
    return true;
}

} // namespace

bool AudioEffects::Settings::equalizerActive() const {
    return !bypass && std::any_of(gains.begin(), gains.end(), [](float g) { return g != 0.0f; });
}

bool AudioEffects::Settings::enhancerActive() const {
    return enhanced && (bassLevel > 0 || wideningLevel > 0);
}

std::shared_ptr<AudioEffects> AudioEffects::create(GstElement* sink) {
    std::shared_ptr<AudioEffects> effects(new AudioEffects());
    if (sink && !effects->build(sink)) {
        effects->bin_.reset();
        effects->in_.reset();
        effects->out_.reset();
    }
    effects->apply(effects->settings_);
    return effects;
}

AudioEffects::~AudioEffects() = default;

bool AudioEffects::build(GstElement* sink) {
    GstElement* equalizer = make("equalizer-nbands");
    if (equalizer)
        g_object_set(equalizer, "num-bands", kBands, nullptr);
    equalizerStage_ =
        makeStage("equalizer", {make("audioconvert"), equalizer, make("audioconvert")});
    GstElement* shelf = make("equalizer-nbands");
    if (shelf)
        g_object_set(shelf, "num-bands", 1, nullptr);
    GstElement* stereo = make("capsfilter");
    if (stereo) {
        GstCaps* caps = gst_caps_from_string("audio/x-raw,format=F32LE,channels=2");
        g_object_set(stereo, "caps", caps, nullptr);
        gst_caps_unref(caps);
    }
    enhancerStage_ = makeStage("enhancer", {make("audioconvert"), shelf, make("audioconvert"),
                                            stereo, make("audiokaraoke"), make("audioconvert")});
    if (!equalizerStage_ || !enhancerStage_)
        return false;
    auto child = [](GstElement* bin, const char* factory) {
        GstRef<GstElement> found;
        GValue item = G_VALUE_INIT;
        GstIterator* it = gst_bin_iterate_elements(GST_BIN(bin));
        while (!found && gst_iterator_next(it, &item) == GST_ITERATOR_OK) {
            auto* e = GST_ELEMENT(g_value_get_object(&item));
            GstElementFactory* f = gst_element_get_factory(e);
            if (f && g_strcmp0(GST_OBJECT_NAME(f), factory) == 0)
                found = GstRef<GstElement>::adopt(GST_ELEMENT(gst_object_ref(e)));
            g_value_reset(&item);
        }
        g_value_unset(&item);
        gst_iterator_free(it);
        return found;
    };
    equalizer_ = child(equalizerStage_.get(), "equalizer-nbands");
    for (int i = 0; i < kBands; ++i) {
        GObject* band = gst_child_proxy_get_child_by_index(GST_CHILD_PROXY(equalizer_.get()), i);
        if (!band)
            return false;
        // A peak an octave wide around the band's frequency (edges at f / sqrt 2, f * sqrt 2).
        g_object_set(band, "type", kPeak, "freq", kBandFrequency[i], "bandwidth",
                     kBandFrequency[i] * std::numbers::sqrt2 / 2, nullptr);
        bands_[i] = GstRef<GObject>::adopt(band);
    }
    shelf_ = child(enhancerStage_.get(), "equalizer-nbands");
    widener_ = child(enhancerStage_.get(), "audiokaraoke");
    g_object_set(widener_.get(), "mono-level", 1.0f, "filter-band", kCentredBand, "filter-width",
                 kCentredWidth, nullptr);

    in_ = GstRef<GstElement>::sink(make("identity", "effects-in"));
    out_ = GstRef<GstElement>::sink(make("audioconvert", "effects-out"));
    if (!in_ || !out_)
        return false;
    bin_ = GstRef<GstElement>::sink(gst_bin_new("audio-output"));
    GstBin* bin = GST_BIN(bin_.get());
    for (GstElement* e : {in_.get(), out_.get(), equalizerStage_.get(), enhancerStage_.get(), sink})
        gst_bin_add(bin, e); // the bin takes a reference of its own
    if (!gst_element_link_many(in_.get(), out_.get(), sink, nullptr)) {
        gst_bin_remove(bin, sink);
        return false;
    }
    GstPad* target = gst_element_get_static_pad(in_.get(), "sink");
    gst_element_add_pad(bin_.get(), gst_ghost_pad_new("sink", target));
    gst_object_unref(target);
    return true;
}

void AudioEffects::apply(const Settings& s) {
    for (int band = 0; band < kBands; ++band)
        if (bands_[band])
            g_object_set(bands_[band].get(), "gain", static_cast<double>(s.gains[band]), nullptr);
    if (shelf_) {
        GObject* band = gst_child_proxy_get_child_by_index(GST_CHILD_PROXY(shelf_.get()), 0);
        if (band) {
            double corner = kShelfCorner[s.speakerSize];
            g_object_set(band, "type", kLowShelf, "freq", corner, "bandwidth", corner, "gain",
                         kShelfDecibels * s.bassLevel / kMaxLevel, nullptr);
            g_object_unref(band);
        }
    }
    if (widener_)
        g_object_set(widener_.get(), "level",
                     kMaxWidening * static_cast<float>(s.wideningLevel) / kMaxLevel, nullptr);
}

void AudioEffects::changed() {
    Settings s;
    bool relinkNeeded = false;
    {
        std::lock_guard guard(lock_);
        s = settings_;
        if (bin_ && !relinkPending_ &&
            (s.equalizerActive() != equalizerLinked_ || s.enhancerActive() != enhancerLinked_)) {
            relinkPending_ = true;
            relinkNeeded = true;
        }
    }
    apply(s);
    if (!relinkNeeded)
        return;
    // Called at once when the pad is idle (here, on this thread), else by the streaming
    // thread after the buffer it is pushing.
    GstPad* src = gst_element_get_static_pad(in_.get(), "src");
    gst_pad_add_probe(
        src, GST_PAD_PROBE_TYPE_IDLE, idleProbe, new std::weak_ptr<AudioEffects>(weak_from_this()),
        [](gpointer data) { delete static_cast<std::weak_ptr<AudioEffects>*>(data); });
    gst_object_unref(src);
}

GstPadProbeReturn AudioEffects::idleProbe(GstPad*, GstPadProbeInfo*, gpointer data) {
    if (auto self = static_cast<std::weak_ptr<AudioEffects>*>(data)->lock())
        self->relink();
    return GST_PAD_PROBE_REMOVE;
}

void AudioEffects::relink() {
    std::lock_guard serial(relinkLock_);
    // Settings may change while the chain is rebuilt; go again until it matches them.
    while (true) {
        bool wantEqualizer, wantEnhancer, hadEqualizer, hadEnhancer;
        {
            std::lock_guard guard(lock_);
            relinkPending_ = false;
            wantEqualizer = settings_.equalizerActive();
            wantEnhancer = settings_.enhancerActive();
            hadEqualizer = equalizerLinked_;
            hadEnhancer = enhancerLinked_;
        }
        if (wantEqualizer == hadEqualizer && wantEnhancer == hadEnhancer)
            return;
        auto chain = [&](bool equalizer, bool enhancer) {
            std::vector<GstElement*> c{in_.get()};
            if (equalizer)
                c.push_back(equalizerStage_.get());
            if (enhancer)
                c.push_back(enhancerStage_.get());
            c.push_back(out_.get());
            return c;
        };
        unlinkChain(chain(hadEqualizer, hadEnhancer));
        if (wantEqualizer && !hadEqualizer)
            resetStage(equalizerStage_.get());
        if (wantEnhancer && !hadEnhancer)
            resetStage(enhancerStage_.get());
        std::vector<GstElement*> next = chain(wantEqualizer, wantEnhancer);
        bool linked = linkChain(next);
        if (!linked) {
            g_warning("player: the audio effects cannot be put in the audio path");
            unlinkChain(next);
            gst_element_link(in_.get(), out_.get());
            wantEqualizer = wantEnhancer = false;
        }
        std::lock_guard guard(lock_);
        equalizerLinked_ = wantEqualizer;
        enhancerLinked_ = wantEnhancer;
        if (!linked)
            return; // the audio plays without effects rather than trying again and again
    }
}

bool AudioEffects::bypass() const {
    std::lock_guard guard(lock_);
    return settings_.bypass;
}

void AudioEffects::setBypass(bool bypass) {
    {
        std::lock_guard guard(lock_);
        settings_.bypass = bypass;
    }
    changed();
}

float AudioEffects::gain(int band) const {
    std::lock_guard guard(lock_);
    return band >= 0 && band < kBands ? settings_.gains[band] : 0.0f;
}

void AudioEffects::setGain(int band, float decibels) {
    if (band < 0 || band >= kBands || std::isnan(decibels))
        return;
    {
        std::lock_guard guard(lock_);
        settings_.gains[band] = std::clamp(decibels, kMinGain, kMaxGain);
    }
    changed();
}

void AudioEffects::reset() {
    {
        std::lock_guard guard(lock_);
        settings_.gains.fill(0.0f);
    }
    changed();
}

bool AudioEffects::enhanced() const {
    std::lock_guard guard(lock_);
    return settings_.enhanced;
}

void AudioEffects::setEnhanced(bool enhanced) {
    {
        std::lock_guard guard(lock_);
        settings_.enhanced = enhanced;
    }
    changed();
}

int AudioEffects::speakerSize() const {
    std::lock_guard guard(lock_);
    return settings_.speakerSize;
}

void AudioEffects::setSpeakerSize(int size) {
    {
        std::lock_guard guard(lock_);
        settings_.speakerSize = std::clamp(size, 0, kMaxSpeakerSize);
    }
    changed();
}

int AudioEffects::bassLevel() const {
    std::lock_guard guard(lock_);
    return settings_.bassLevel;
}

void AudioEffects::setBassLevel(int level) {
    {
        std::lock_guard guard(lock_);
        settings_.bassLevel = std::clamp(level, 0, kMaxLevel);
    }
    changed();
}

int AudioEffects::wideningLevel() const {
    std::lock_guard guard(lock_);
    return settings_.wideningLevel;
}

void AudioEffects::setWideningLevel(int level) {
    {
        std::lock_guard guard(lock_);
        settings_.wideningLevel = std::clamp(level, 0, kMaxLevel);
    }
    changed();
}

} // namespace norv::platform::media
