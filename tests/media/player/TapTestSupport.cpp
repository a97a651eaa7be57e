#include "tests/media/player/TapTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <stdexcept>

#include "media/player/MPPlayer.h"

namespace norv::test {

void SinkProbe::attach(GstElement* sink) {
    GstPad* pad = gst_element_get_static_pad(sink, "sink");
    ASSERT_TRUE(pad);
    gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_BUFFER, onBuffer, this, nullptr);
    gst_object_unref(pad);
}

GstPadProbeReturn SinkProbe::onBuffer(GstPad* pad, GstPadProbeInfo* info, gpointer data) {
    auto* self = static_cast<SinkProbe*>(data);
    GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(info);
    GstCaps* caps = gst_pad_get_current_caps(pad);
    if (caps == nullptr || !GST_BUFFER_PTS_IS_VALID(buffer)) {
        if (caps)
            gst_caps_unref(caps);
        return GST_PAD_PROBE_OK;
    }
    const GstStructure* s = gst_caps_get_structure(caps, 0);
    Seen seen{static_cast<double>(GST_BUFFER_PTS(buffer)) / GST_SECOND, true, {}};
    GstMapInfo map;
    if (gst_buffer_map(buffer, &map, GST_MAP_READ)) {
        if (gst_structure_has_name(s, "audio/x-raw")) {
            seen.silent = std::all_of(map.data, map.data + map.size, [](auto b) { return b == 0; });
        } else {
            int width = 0, height = 0;
            gst_structure_get_int(s, "width", &width);
            gst_structure_get_int(s, "height", &height);
            EXPECT_STREQ(gst_structure_get_string(s, "format"), "BGRx");
            std::size_t at = (static_cast<std::size_t>(height / 2) * width + width / 2) * 4;
            if (at + 3 <= map.size)
                std::copy_n(map.data + at, 3, seen.bgr);
        }
        gst_buffer_unmap(buffer, &map);
    }
    gst_caps_unref(caps);
    std::lock_guard lock(self->lock_);
    self->seen_.push_back(seen);
    return GST_PAD_PROBE_OK;
}

std::vector<SinkProbe::Seen> SinkProbe::seen() const {
    std::lock_guard lock(lock_);
    return seen_;
}

GstElement* audioSinkOf(GstElement* pipeline) {
    GstElement* sink = nullptr;
    g_object_get(pipeline, "audio-sink", &sink, nullptr);
    if (sink)
        g_object_unref(sink); // the pipeline keeps it
    // The control's audio sink is a bin when its effects sit in front of the output: what
    // is heard is what reaches the sink innermost in it.
    while (sink && GST_IS_BIN(sink)) {
        GstIterator* it = gst_bin_iterate_sinks(GST_BIN(sink));
        GValue item = G_VALUE_INIT;
        GstElement* inner = nullptr;
        if (gst_iterator_next(it, &item) == GST_ITERATOR_OK) {
            inner = GST_ELEMENT(g_value_get_object(&item)); // the bin keeps it
            g_value_unset(&item);
        }
        gst_iterator_free(it);
        if (!inner)
            break;
        sink = inner;
    }
    return sink;
}

GstElement* videoSinkOf(GstElement* pipeline) {
    GstElement* bin = nullptr;
    g_object_get(pipeline, "video-sink", &bin, nullptr);
    if (bin == nullptr)
        return nullptr;
    GstElement* sink = gst_bin_get_by_name(GST_BIN(bin), "video-sink");
    g_object_unref(bin);
    if (sink)
        g_object_unref(sink);
    return sink;
}

SitedPlayer::SitedPlayer() {
    control.site(site.get());
}

SitedPlayer::~SitedPlayer() {
    if (auto object = control.player.as<IOleObject>())
        object->SetClientSite(nullptr);
}

ComPtr<IMPPlayerServices> SitedPlayer::services() const {
    ComPtr<IMPPlayerServices> s;
    auto player = control.player.as<IMPPlayer>();
    if (!player || failed(player->get_services(s.put())))
        throw std::runtime_error("the player has no services");
    return s;
}

ComPtr<IMPStream> SitedPlayer::stream() const {
    ComPtr<IMPStream> s;
    services()->get_stream(s.put());
    return s;
}

media::MPStream& SitedPlayer::streamPart() const {
    return *static_cast<media::MPStream*>(stream().get());
}

void makeColourClip(const std::filesystem::path& path, std::uint32_t rgb, double seconds) {
    char colour[16];
    std::snprintf(colour, sizeof colour, "0xFF%06X", rgb & 0xFFFFFF);
    int frames = static_cast<int>(seconds * 30);
    makeMedium(path, "videotestsrc pattern=solid-color foreground-color=" + std::string(colour) +
                         " num-buffers=" + std::to_string(frames) +
                         " ! video/x-raw,width=320,height=240,framerate=30/1 ! vp8enc deadline=1 "
                         "! mux. audiotestsrc num-buffers=" +
                         std::to_string(static_cast<int>(seconds * 100)) +
                         " samplesperbuffer=441 ! audio/x-raw,rate=44100 ! audioconvert ! "
                         "vorbisenc ! mux. webmmux name=mux");
}

} // namespace norv::test
