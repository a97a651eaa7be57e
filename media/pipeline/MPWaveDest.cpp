#include "media/pipeline/MPWaveDest.h"

#include <atomic>
#include <cstdint>
#include <new>
#include <optional>
#include <vector>

#include "media/pipeline/WaveFormat.h"

namespace norv::media {

namespace {

constexpr std::uint64_t kLargestFile = 0xFFFFFFFFull;
constexpr guint kDefaultHeaderInterval = 1000; // milliseconds

struct WaveDestState {
    // The input's format block (F bytes) while a format is known.
    std::vector<std::uint8_t> format;
    std::uint32_t headerSize = 0;           // H = F + 28
    std::atomic<std::uint32_t> dataSize{0}; // D: bytes of sample data written
    bool started = false;                   // the first header is out
    bool full = false;                      // the 32-bit limit was reached
    gint64 lastHeaderUs = 0;
    std::atomic<guint> headerInterval{kDefaultHeaderInterval};
};

struct MPWaveDest {
    GstElement parent;
    GstPad* sinkpad;
    GstPad* srcpad;
    WaveDestState state; // constructed in instance_init, destroyed in finalize
};

struct MPWaveDestClass {
    GstElementClass parent_class;
};

enum { PROP_0, PROP_HEADER_INTERVAL, PROP_DATA_SIZE };

GstStaticPadTemplate sinkTemplate = GST_STATIC_PAD_TEMPLATE(
    "sink", GST_PAD_SINK, GST_PAD_ALWAYS,
    GST_STATIC_CAPS("audio/x-wma, wmaversion = (int) [ 1, 2 ], channels = (int) [ 1, 2 ], "
                    "rate = (int) [ 1, MAX ], block_align = (int) [ 1, 65535 ], "
                    "bitrate = (int) [ 0, MAX ]; "
                    "audio/x-raw, format = (string) { U8, S16LE, S24LE, S32LE, F32LE }, "
                    "layout = (string) interleaved, channels = (int) [ 1, 2 ], "
                    "rate = (int) [ 1, MAX ]"));

GstStaticPadTemplate srcTemplate =
    GST_STATIC_PAD_TEMPLATE("src", GST_PAD_SRC, GST_PAD_ALWAYS, GST_STATIC_CAPS("audio/x-wav"));

GstElementClass* parentClass = nullptr;

MPWaveDest* self(gpointer p) {
    return reinterpret_cast<MPWaveDest*>(p);
}

// The WAVEFORMATEX block of a fixed input type; nullopt for one it cannot describe.
std::optional<std::vector<std::uint8_t>> formatOfCaps(GstCaps* caps) {
    if (caps == nullptr || gst_caps_get_size(caps) != 1)
        return std::nullopt;
    const GstStructure* s = gst_caps_get_structure(caps, 0);
    gint channels = 0, rate = 0;
    if (!gst_structure_get_int(s, "channels", &channels) ||
        !gst_structure_get_int(s, "rate", &rate) || channels < 1 || channels > 2 || rate < 1)
        return std::nullopt;
    WaveFormat f;
    f.channels = static_cast<std::uint16_t>(channels);
    f.samplesPerSec = static_cast<std::uint32_t>(rate);
    if (gst_structure_has_name(s, "audio/x-wma")) {
        gint version = 0, blockAlign = 0, bitrate = 0;
        if (!gst_structure_get_int(s, "wmaversion", &version) || (version != 1 && version != 2) ||
            !gst_structure_get_int(s, "block_align", &blockAlign) || blockAlign < 1 ||
            blockAlign > 0xFFFF)
            return std::nullopt;
        gst_structure_get_int(s, "bitrate", &bitrate);
        f.formatTag = version == 1 ? kWaveFormatWmAudio1 : kWaveFormatWmAudio2;
        f.blockAlign = static_cast<std::uint16_t>(blockAlign);
        f.avgBytesPerSec = static_cast<std::uint32_t>(bitrate < 0 ? 0 : bitrate) / 8;
        f.bitsPerSample = 16;
        if (const GValue* v = gst_structure_get_value(s, "codec_data");
            v != nullptr && GST_VALUE_HOLDS_BUFFER(v)) {
            GstBuffer* codecData = gst_value_get_buffer(v);
            GstMapInfo map;
            if (codecData == nullptr || !gst_buffer_map(codecData, &map, GST_MAP_READ))
                return std::nullopt;
            bool fits = map.size <= 0xFFFF - WaveFormat::baseSize;
            if (fits)
                f.extra.assign(map.data, map.data + map.size);
            gst_buffer_unmap(codecData, &map);
            if (!fits)
                return std::nullopt;
        }
        return f.toBytes();
    }
    if (gst_structure_has_name(s, "audio/x-raw")) {
        const gchar* name = gst_structure_get_string(s, "format");
        if (name == nullptr)
            return std::nullopt;
        struct Layout {
            const char* name;
            std::uint16_t tag;
            std::uint16_t bits;
        };
        static constexpr Layout layouts[] = {{"U8", kWaveFormatPcm, 8},
                                             {"S16LE", kWaveFormatPcm, 16},
                                             {"S24LE", kWaveFormatPcm, 24},
                                             {"S32LE", kWaveFormatPcm, 32},
                                             {"F32LE", kWaveFormatIeeeFloat, 32}};
        for (const Layout& l : layouts) {
            if (g_strcmp0(name, l.name) != 0)
                continue;
            f.formatTag = l.tag;
            f.bitsPerSample = l.bits;
            f.blockAlign = static_cast<std::uint16_t>(channels * l.bits / 8);
            f.avgBytesPerSec = f.samplesPerSec * f.blockAlign;
            return f.toBytes();
        }
    }
    return std::nullopt;
}

bool pushSegment(MPWaveDest* d, std::uint64_t position) {
    GstSegment segment;
    gst_segment_init(&segment, GST_FORMAT_BYTES);
    segment.start = position;
    segment.position = position;
    segment.time = 0;
    return gst_pad_push_event(d->srcpad, gst_event_new_segment(&segment));
}

// Writes the header for the data written so far at the start of the file. `resume` moves
// the sink back to the end of the data afterwards; `sync` asks the sink to have it on disk.
GstFlowReturn writeHeader(MPWaveDest* d, bool resume, bool sync) {
    WaveDestState& st = d->state;
    const std::uint32_t dataSize = st.dataSize.load();
    if (!pushSegment(d, 0))
        return GST_PAD_IS_FLUSHING(d->srcpad) ? GST_FLOW_FLUSHING : GST_FLOW_ERROR;
    auto header = riffWaveHeader(st.format, dataSize);
    GstBuffer* buffer = gst_buffer_new_memdup(header.data(), header.size());
    GST_BUFFER_OFFSET(buffer) = 0;
    GST_BUFFER_OFFSET_END(buffer) = header.size();
    if (sync)
        GST_BUFFER_FLAG_SET(buffer, GST_BUFFER_FLAG_SYNC_AFTER);
    if (GstFlowReturn ret = gst_pad_push(d->srcpad, buffer); ret != GST_FLOW_OK)
        return ret;
    st.lastHeaderUs = g_get_monotonic_time();
    if (resume && dataSize > 0 && !pushSegment(d, std::uint64_t{st.headerSize} + dataSize))
        return GST_PAD_IS_FLUSHING(d->srcpad) ? GST_FLOW_FLUSHING : GST_FLOW_ERROR;
    return GST_FLOW_OK;
}

// A header that could not be written is an error of the recording; a sink that is being
// shut down (flushing) is not.
GstFlowReturn headerFailed(MPWaveDest* d, GstFlowReturn ret, const char* when) {
    if (ret == GST_FLOW_FLUSHING)
        return ret;
    GST_ELEMENT_ERROR(d, RESOURCE, WRITE, ("Could not write the header of the WAV file."),
                      ("the header %s was refused: %s", when, gst_flow_get_name(ret)));
    return GST_FLOW_ERROR;
}

void resetRun(WaveDestState& st) {
    st.dataSize = 0;
    st.started = false;
    st.full = false;
}

GstFlowReturn chain(GstPad* /*pad*/, GstObject* parent, GstBuffer* buffer) {
    MPWaveDest* d = self(parent);
    WaveDestState& st = d->state;
    if (st.format.empty()) {
        gst_buffer_unref(buffer);
        GST_ELEMENT_ERROR(d, CORE, NEGOTIATION, (nullptr), ("no format before the first buffer"));
        return GST_FLOW_NOT_NEGOTIATED;
    }
    if (st.full) {
        gst_buffer_unref(buffer);
        return GST_FLOW_ERROR;
    }
    if (!st.started) {
        if (GstFlowReturn ret = writeHeader(d, false, false); ret != GST_FLOW_OK) {
            gst_buffer_unref(buffer);
            return headerFailed(d, ret, "at the start");
        }
        st.started = true;
    }

    const std::uint64_t length = gst_buffer_get_size(buffer);
    const std::uint64_t position = std::uint64_t{st.headerSize} + st.dataSize.load();
    if (position + length > kLargestFile) {
        gst_buffer_unref(buffer);
        st.full = true;
        writeHeader(d, false, true);
        GST_ELEMENT_ERROR(
            d, RESOURCE, NO_SPACE_LEFT,
            ("The recording has reached the largest size of a WAV file (4 GiB)."),
            ("%" G_GUINT64_FORMAT " bytes would end past the 32-bit limit", position + length));
        return GST_FLOW_ERROR;
    }
    buffer = gst_buffer_make_writable(buffer);
    GST_BUFFER_OFFSET(buffer) = position;
    GST_BUFFER_OFFSET_END(buffer) = position + length;
    st.dataSize += static_cast<std::uint32_t>(length);

    GstFlowReturn ret = gst_pad_push(d->srcpad, buffer);
    const guint interval = st.headerInterval.load();
    if (ret == GST_FLOW_OK && interval > 0 &&
        g_get_monotonic_time() - st.lastHeaderUs >= gint64{interval} * 1000) {
        if (GstFlowReturn header = writeHeader(d, true, true); header != GST_FLOW_OK)
            ret = headerFailed(d, header, "update");
    }
    return ret;
}

gboolean sinkEvent(GstPad* pad, GstObject* parent, GstEvent* event) {
    MPWaveDest* d = self(parent);
    WaveDestState& st = d->state;
    switch (GST_EVENT_TYPE(event)) {
    case GST_EVENT_CAPS: {
        GstCaps* caps = nullptr;
        gst_event_parse_caps(event, &caps);
        auto format = formatOfCaps(caps);
        gst_event_unref(event);
        if (!format)
            return FALSE;
        if (*format == st.format)
            return TRUE;
        if (st.dataSize.load() > 0) // a format change within the data is refused
            return FALSE;
        const bool first = st.format.empty();
        st.format = std::move(*format);
        st.headerSize = static_cast<std::uint32_t>(st.format.size()) + 28;
        st.started = false;
        if (first) {
            GstCaps* out = gst_caps_new_empty_simple("audio/x-wav");
            gboolean ok = gst_pad_push_event(d->srcpad, gst_event_new_caps(out));
            gst_caps_unref(out);
            return ok;
        }
        return TRUE;
    }
    case GST_EVENT_SEGMENT:
        // The output has byte segments of its own.
        gst_event_unref(event);
        return TRUE;
    case GST_EVENT_EOS: {
        if (!st.format.empty() && !st.full) {
            if (GstFlowReturn ret = writeHeader(d, false, true); ret != GST_FLOW_OK)
                headerFailed(d, ret, "at the end");
        }
        return gst_pad_event_default(pad, parent, event);
    }
    case GST_EVENT_FLUSH_STOP:
        // The sink starts its file again.
        resetRun(st);
        return gst_pad_event_default(pad, parent, event);
    default:
        return gst_pad_event_default(pad, parent, event);
    }
}

gboolean sinkQuery(GstPad* pad, GstObject* parent, GstQuery* query) {
    MPWaveDest* d = self(parent);
    if (GST_QUERY_TYPE(query) == GST_QUERY_CAPS) {
        GstCaps* filter = nullptr;
        gst_query_parse_caps(query, &filter);
        // Once data are written only the current format is taken.
        GstCaps* caps = d->state.dataSize.load() > 0 ? gst_pad_get_current_caps(pad) : nullptr;
        if (caps == nullptr)
            caps = gst_pad_get_pad_template_caps(pad);
        if (filter != nullptr) {
            GstCaps* both = gst_caps_intersect_full(filter, caps, GST_CAPS_INTERSECT_FIRST);
            gst_caps_unref(caps);
            caps = both;
        }
        gst_query_set_caps_result(query, caps);
        gst_caps_unref(caps);
        return TRUE;
    }
    return gst_pad_query_default(pad, parent, query);
}

GstStateChangeReturn changeState(GstElement* element, GstStateChange transition) {
    MPWaveDest* d = self(element);
    if (transition == GST_STATE_CHANGE_READY_TO_PAUSED)
        resetRun(d->state);
    GstStateChangeReturn ret = parentClass->change_state(element, transition);
    if (transition == GST_STATE_CHANGE_PAUSED_TO_READY) {
        resetRun(d->state);
        d->state.format.clear();
        d->state.headerSize = 0;
    }
    return ret;
}

void setProperty(GObject* object, guint id, const GValue* value, GParamSpec* pspec) {
    MPWaveDest* d = self(object);
    if (id == PROP_HEADER_INTERVAL)
        d->state.headerInterval = g_value_get_uint(value);
    else
        G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
}

void getProperty(GObject* object, guint id, GValue* value, GParamSpec* pspec) {
    MPWaveDest* d = self(object);
    if (id == PROP_HEADER_INTERVAL)
        g_value_set_uint(value, d->state.headerInterval.load());
    else if (id == PROP_DATA_SIZE)
        g_value_set_uint(value, d->state.dataSize.load());
    else
        G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
}

void finalize(GObject* object) {
    self(object)->state.~WaveDestState();
    G_OBJECT_CLASS(parentClass)->finalize(object);
}

void classInit(gpointer klass, gpointer /*data*/) {
    parentClass = GST_ELEMENT_CLASS(g_type_class_peek_parent(klass));
    GObjectClass* objectClass = G_OBJECT_CLASS(klass);
    objectClass->set_property = setProperty;
    objectClass->get_property = getProperty;
    objectClass->finalize = finalize;
    g_object_class_install_property(
        objectClass, PROP_HEADER_INTERVAL,
        g_param_spec_uint("header-interval", "Header interval",
                          "Milliseconds between updates of the header while data flow "
                          "(0: only at the end)",
                          0, G_MAXUINT, kDefaultHeaderInterval,
                          static_cast<GParamFlags>(G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS)));
    g_object_class_install_property(
        objectClass, PROP_DATA_SIZE,
        g_param_spec_uint("data-size", "Data size", "Bytes of sample data written in this run", 0,
                          G_MAXUINT, 0,
                          static_cast<GParamFlags>(G_PARAM_READABLE | G_PARAM_STATIC_STRINGS)));

    GstElementClass* elementClass = GST_ELEMENT_CLASS(klass);
    elementClass->change_state = changeState;
    gst_element_class_add_static_pad_template(elementClass, &sinkTemplate);
    gst_element_class_add_static_pad_template(elementClass, &srcTemplate);
    gst_element_class_set_static_metadata(elementClass, "WAV Dest", "Codec/Muxer/Audio",
                                          "Writes the audio stream as a RIFF/WAVE file",
                                          "Norv View");
}

void instanceInit(GTypeInstance* instance, gpointer /*klass*/) {
    MPWaveDest* d = self(instance);
    new (&d->state) WaveDestState();
    d->sinkpad = gst_pad_new_from_static_template(&sinkTemplate, "sink");
    gst_pad_set_chain_function(d->sinkpad, chain);
    gst_pad_set_event_function(d->sinkpad, sinkEvent);
    gst_pad_set_query_function(d->sinkpad, sinkQuery);
    gst_element_add_pad(GST_ELEMENT(d), d->sinkpad);
    d->srcpad = gst_pad_new_from_static_template(&srcTemplate, "src");
    gst_pad_use_fixed_caps(d->srcpad);
    gst_element_add_pad(GST_ELEMENT(d), d->srcpad);
}

} // namespace

GType waveDestGetType() {
    static const GType type = [] {
        GTypeInfo info{};
        info.class_size = sizeof(MPWaveDestClass);
        info.class_init = classInit;
        info.instance_size = sizeof(MPWaveDest);
        info.instance_init = instanceInit;
        return g_type_register_static(GST_TYPE_ELEMENT, "NorvMPWaveDest", &info, GTypeFlags{});
    }();
    return type;
}

bool registerWaveDest() {
    static const bool registered =
        gst_element_register(nullptr, kWaveDestFactory, GST_RANK_NONE, waveDestGetType());
    return registered;
}

} // namespace norv::media
