#pragma once
// AudioEffects: the control's equaliser and audio effects, in front of its audio sink.
//
// The control plays into a bin: effects-in (identity) -> [equaliser] -> [enhancer] ->
// effects-out (audioconvert) -> the sink. Each stage is a bin of its own that is linked in
// only while it changes the sound, and taken out otherwise, so that a player with
// everything off plays exactly as without effects:
//  - the equaliser while it is not bypassed and a band has a gain other than 0 dB: ten
//    peak bands an octave wide centred on 31, 62, 125, 250, 500 Hz, 1, 2, 4, 8 and 16 kHz
//    (equalizer-nbands, plug-ins good; equalizer-10bands centres its bands elsewhere and
//    makes its outer two shelves);
//  - the enhancer while the effects are on and the bass or the widening level is above 0:
//    a low shelf (equalizer-nbands with one low-shelf band, plug-ins good) whose corner
//    follows the speaker size (small 150 Hz, medium 100 Hz, large 60 Hz) and whose gain
//    is truBassLevel / 100 * 12 dB, then stereo widening by audiokaraoke (plug-ins good)
//    with level wowLevel / 100 * 0.35: each channel less that share of the other, its
//    band around 100 Hz kept centred so that the bass stays where it was. The enhancer
//    plays stereo (mono is spread to both channels, more channels mixed down).
// A stage goes in or out from an idle probe on effects-in's source pad, between two
// buffers, so playback has no gap; while the pipeline is paused the change waits for the
// next buffer. Settings themselves take effect at once.
//
// Settings and their ranges (values outside are clamped): gains -12 to +12 dB for the ten
// bands; speaker size 0 to 2; bass and widening levels 0 to 100. Defaults: not bypassed, every gain
// 0 dB, effects off, medium speakers, both levels 50.
//
// Made and set on the control's thread; shared by the control and the skin elements that
// reach it (std::shared_ptr), so a skin element outlives neither the settings nor, in
// effect, anything but its own pipeline.

#include <array>
#include <memory>
#include <mutex>

#include "platform/media/GstRef.h"

namespace norv::platform::media {

class AudioEffects : public std::enable_shared_from_this<AudioEffects> {
public:
    static constexpr int kBands = 10;
    static constexpr float kMinGain = -12.0f;
    static constexpr float kMaxGain = 12.0f;
    static constexpr int kMaxSpeakerSize = 2;
    static constexpr int kMaxLevel = 100;

    // The effects in front of `sink` (a reference is taken). Without a sink, or when
    // GStreamer lacks an element, there is no bin (element() is null and the caller plays
    // into the sink itself): the settings are kept and change nothing.
    static std::shared_ptr<AudioEffects> create(GstElement* sink);
    ~AudioEffects();
    AudioEffects(const AudioEffects&) = delete;
    AudioEffects& operator=(const AudioEffects&) = delete;

    // The bin the control plays into (null when there is none).
    GstElement* element() const { return bin_.get(); }

    bool bypass() const;
    void setBypass(bool bypass);
    // band: 0 to kBands - 1.
    float gain(int band) const;
    void setGain(int band, float decibels);
    // Every gain back to 0 dB.
    void reset();
    bool enhanced() const;
    void setEnhanced(bool enhanced);
    int speakerSize() const;
    void setSpeakerSize(int size);
    int bassLevel() const;
    void setBassLevel(int level);
    int wideningLevel() const;
    void setWideningLevel(int level);

private:
    struct Settings {
        bool bypass = false;
        std::array<float, kBands> gains{};
        bool enhanced = false;
        int speakerSize = 1;
        int bassLevel = 50;
        int wideningLevel = 50;

        bool equalizerActive() const;
        bool enhancerActive() const;
    };

    AudioEffects() = default;
    bool build(GstElement* sink);
    void apply(const Settings& s);
    void changed();
    void relink();
    static GstPadProbeReturn idleProbe(GstPad* pad, GstPadProbeInfo* info, gpointer data);

    mutable std::mutex lock_; // settings_ and the link state
    Settings settings_;
    bool relinkPending_ = false;
    bool equalizerLinked_ = false;
    bool enhancerLinked_ = false;
    std::mutex relinkLock_; // one relink at a time

    GstRef<GstElement> bin_;
    GstRef<GstElement> in_;
    GstRef<GstElement> out_;
    GstRef<GstElement> equalizerStage_;
    GstRef<GstElement> equalizer_;
    std::array<GstRef<GObject>, kBands> bands_;
    GstRef<GstElement> enhancerStage_;
    GstRef<GstElement> shelf_;
    GstRef<GstElement> widener_;
};

} // namespace norv::platform::media
