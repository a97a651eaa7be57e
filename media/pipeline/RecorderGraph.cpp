#include "media/pipeline/RecorderGraph.h"

#include <gst/app/gstappsrc.h>
#include <gst/audio/audio.h>

#include <string_view>

#include "media/pipeline/MPWaveDest.h"
#include "media/pipeline/WaveFormat.h"
#include "platform/com/Bstr.h"

namespace norv::media {

using platform::media::GstRef;
using namespace std::chrono_literals;

namespace {

// How often the feeding thread looks whether the file is still there.
constexpr auto kFileCheckInterval = 1s;
// The longest the feeding thread waits at a time, so that it sees a request to end.
constexpr auto kFeedSlice = 100ms;

// The GStreamer name of a raw sample layout; nullptr for one the graph does not take.
const char* rawFormat(bool isFloat, std::uint16_t containerBits, std::uint16_t validBits) {
    if (isFloat)
        return containerBits == 32 ? "F32LE" : containerBits == 64 ? "F64LE" : nullptr;
    switch (containerBits) {
    case 8:
        return "U8";
    case 16:
        return "S16LE";
    case 24:
        return "S24LE";
    case 32:
        return validBits == 24 ? "S24_32LE" : "S32LE";
    default:
        return nullptr;
    }
}

RecordingFailure failureOfMessage(GstMessage* message) {
    GError* error = nullptr;
    gchar* debug = nullptr;
    gst_message_parse_error(message, &error, &debug);
    RecordingFailure f;
    if (error != nullptr && error->domain == GST_RESOURCE_ERROR) {
        switch (error->code) {
        case GST_RESOURCE_ERROR_NO_SPACE_LEFT:
            f.hr = com::hresultFromWin32(com::ERROR_DISK_FULL);
            break;
        case GST_RESOURCE_ERROR_NOT_FOUND:
            f.hr = com::hresultFromWin32(com::ERROR_FILE_NOT_FOUND);
            break;
        case GST_RESOURCE_ERROR_OPEN_WRITE:
        case GST_RESOURCE_ERROR_OPEN_READ_WRITE:
        case GST_RESOURCE_ERROR_NOT_AUTHORIZED:
            f.hr = com::E_ACCESSDENIED;
            break;
        case GST_RESOURCE_ERROR_WRITE:
        case GST_RESOURCE_ERROR_SEEK:
        case GST_RESOURCE_ERROR_SYNC:
            f.hr = com::hresultFromWin32(com::ERROR_WRITE_FAULT);
            break;
        default:
            break;
        }
    }
    std::string text = "The recording stopped: ";
    text += error != nullptr ? error->message : "the recording's pipeline failed.";
    // The reason the system gave (the last line of the details).
    if (debug != nullptr && *debug != '\0') {
        std::string_view details(debug);
        if (const auto nl = details.rfind('\n'); nl != std::string_view::npos)
            details.remove_prefix(nl + 1);
        text += " (";
        text += details;
        text += ")";
    }
    f.message = com::utf8ToUtf16(text);
    if (error != nullptr)
        g_error_free(error);
    g_free(debug);
    return f;
}

GstElement* makeElement(const char* factory, const char* name) {
    return gst_element_factory_make(factory, name);
}

} // namespace

std::unique_ptr<RecorderGraph> RecorderGraph::create(com::HRESULT& result) {
    result = com::S_OK;
    if (!gst_is_initialized())
        gst_init(nullptr, nullptr);
    if (!registerWaveDest()) {
        result = com::E_FAIL;
        return nullptr;
    }
    std::unique_ptr<RecorderGraph> g(new RecorderGraph());
    g->pipeline_ = GstRef<GstElement>::sink(gst_pipeline_new("Recorder"));
    g->appsrc_ = makeElement("appsrc", "WMP Audio Stream");
    g->convert_ = makeElement("audioconvert", nullptr);
    g->resample_ = makeElement("audioresample", nullptr);
    g->encoder_ = makeElement("avenc_wmav2", "WMAudio Encoder DMO");
    g->waveDest_ = makeElement(kWaveDestFactory, "WAV Dest");
    g->fileWriter_ = makeElement("filesink", "File writer");
    GstElement* elements[] = {g->appsrc_,  g->convert_,  g->resample_,
                              g->encoder_, g->waveDest_, g->fileWriter_};
    bool complete = g->pipeline_.get() != nullptr;
    for (GstElement* e : elements) {
        if (e == nullptr)
            complete = false;
    }
    if (!complete) {
        for (GstElement* e : elements) {
            if (e != nullptr)
                gst_object_unref(gst_object_ref_sink(e));
        }
        result = com::REGDB_E_CLASSNOTREG;
        return nullptr;
    }
    for (GstElement* e : elements)
        gst_bin_add(GST_BIN(g->pipeline_.get()), e);

    // The feeding thread waits while the appsrc holds a second of audio; the appsrc asks
    // for more once half of it is gone.
    g_object_set(g->appsrc_, "format", GST_FORMAT_TIME, "is-live", FALSE, "block", FALSE,
                 "stream-type", GST_APP_STREAM_TYPE_STREAM, "min-percent", 50u, nullptr);
    GstAppSrcCallbacks callbacks{};
    callbacks.need_data = [](GstAppSrc*, guint, gpointer self) {
        auto* graph = static_cast<RecorderGraph*>(self);
        std::lock_guard lock(graph->lock_);
        graph->changed_.notify_all();
    };
    gst_app_src_set_callbacks(GST_APP_SRC(g->appsrc_), &callbacks, g.get(), nullptr);

    GstRef<GstBus> bus = GstRef<GstBus>::adopt(gst_element_get_bus(g->pipeline_.get()));
    gst_bus_set_sync_handler(bus.get(), onBusMessage, g.get(), nullptr);
    return g;
}

RecorderGraph::~RecorderGraph() {
    if (active_)
        finish();
    if (pipeline_) {
        GstRef<GstBus> bus = GstRef<GstBus>::adopt(gst_element_get_bus(pipeline_.get()));
        gst_bus_set_sync_handler(bus.get(), nullptr, nullptr, nullptr);
        gst_element_set_state(pipeline_.get(), GST_STATE_NULL);
    }
}

GstRef<GstCaps> RecorderGraph::capsOfMediaType(const typelib::AMMediaType& type) {
    if (type.formattype != kFormatWaveFormatEx)
        return nullptr;
    const auto wf = WaveFormat::fromBytes(type.format);
    if (!wf || wf->channels == 0 || wf->samplesPerSec == 0 || wf->bitsPerSample == 0)
        return nullptr;
    bool isFloat = wf->formatTag == kWaveFormatIeeeFloat;
    std::uint16_t validBits = wf->bitsPerSample;
    std::uint64_t mask = 0;
    if (wf->formatTag == kWaveFormatExtensible) {
        if (wf->extra.size() < 22)
            return nullptr;
        validBits = readLE16(wf->extra, 0);
        const com::GUID sub = com::GUID::fromBytes(wf->extra.data() + 6);
        if (sub != kSubtypePcm && sub != kSubtypeIeeeFloat)
            return nullptr;
        isFloat = sub == kSubtypeIeeeFloat;
    } else if (wf->formatTag != kWaveFormatPcm && !isFloat) {
        return nullptr;
    }
    const char* format = rawFormat(isFloat, wf->bitsPerSample, validBits);
    if (format == nullptr || wf->blockAlign != wf->channels * (wf->bitsPerSample / 8))
        return nullptr;
    // Channels beyond stereo get the usual positions, so that the converter can mix them.
    if (wf->channels > 2)
        mask = gst_audio_channel_get_fallback_mask(wf->channels);
    if (wf->channels > 2 && mask == 0)
        return nullptr;
    GstCaps* caps =
        gst_caps_new_simple("audio/x-raw", "format", G_TYPE_STRING, format, "layout", G_TYPE_STRING,
                            "interleaved", "rate", G_TYPE_INT, static_cast<gint>(wf->samplesPerSec),
                            "channels", G_TYPE_INT, static_cast<gint>(wf->channels), nullptr);
    if (mask != 0)
        gst_caps_set_simple(caps, "channel-mask", GST_TYPE_BITMASK, mask, nullptr);
    return GstRef<GstCaps>::adopt(caps);
}

void RecorderGraph::setLocation(const std::string& path) {
    location_ = path;
    g_object_set(fileWriter_, "location", path.c_str(), nullptr);
}

std::string RecorderGraph::location() const {
    return location_;
}

std::optional<RecordingFailure> RecorderGraph::start(const typelib::AMMediaType& type,
                                                     const FileIdentity& file) {
    if (active_)
        return RecordingFailure{com::VFW_E_WRONG_STATE, u"The recording runs already."};
    GstRef<GstCaps> caps = capsOfMediaType(type);
    const auto wf = WaveFormat::fromBytes(type.format);
    if (!caps || !wf)
        return RecordingFailure{com::VFW_E_INVALIDMEDIATYPE, u"The stream's audio format cannot "
                                                             u"be recorded."};
    if (!gst_element_link_many(appsrc_, convert_, resample_, encoder_, waveDest_, fileWriter_,
                               nullptr)) {
        gst_element_unlink_many(appsrc_, convert_, resample_, encoder_, waveDest_, fileWriter_,
                                nullptr);
        return RecordingFailure{com::E_FAIL, u"The recording's pipeline cannot be linked."};
    }
    g_object_set(appsrc_, "caps", caps.get(), "max-bytes",
                 static_cast<guint64>(std::max<std::uint32_t>(wf->avgBytesPerSec, 4096)), nullptr);
    g_object_set(fileWriter_, "location", location_.c_str(), nullptr);
    {
        std::lock_guard lock(lock_);
        finishing_ = false;
        fed_ = false;
        eos_ = false;
        aborting_ = false;
        failure_.reset();
    }
    file_ = file;
    framesPushed_ = 0;
    partial_.clear();
    source_.setConnected(true);
    active_ = true;
    if (gst_element_set_state(pipeline_.get(), GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
        std::optional<RecordingFailure> why;
        {
            std::lock_guard lock(lock_);
            why = std::move(failure_);
        }
        teardown();
        if (!why)
            why = RecordingFailure{com::E_FAIL, u"The recording's pipeline cannot start."};
        return why;
    }
    feeder_ = std::thread(
        [this, rate = wf->samplesPerSec, frame = wf->blockAlign] { feed(rate, frame); });
    source_.setRunning(true);
    return std::nullopt;
}

void RecorderGraph::setPaused(bool paused) {
    if (!active_)
        return;
    source_.setRunning(!paused && !failed());
}

bool RecorderGraph::failed() const {
    std::lock_guard lock(lock_);
    return failure_.has_value();
}

void RecorderGraph::fail(RecordingFailure failure) {
    {
        std::lock_guard lock(lock_);
        if (failure_)
            return;
        failure_ = std::move(failure);
        changed_.notify_all();
    }
    source_.setRunning(false);
}

GstBusSyncReply RecorderGraph::onBusMessage(GstBus*, GstMessage* message, gpointer self) {
    auto* graph = static_cast<RecorderGraph*>(self);
    switch (GST_MESSAGE_TYPE(message)) {
    case GST_MESSAGE_ERROR:
        graph->fail(failureOfMessage(message));
        break;
    case GST_MESSAGE_EOS: {
        std::lock_guard lock(graph->lock_);
        graph->eos_ = true;
        graph->changed_.notify_all();
        break;
    }
    default:
        break;
    }
    return GST_BUS_DROP;
}

void RecorderGraph::feed(std::uint32_t rate, std::uint32_t frameBytes) {
    auto lastCheck = std::chrono::steady_clock::now();
    bool endStream = true;
    for (;;) {
        {
            std::lock_guard lock(lock_);
            if (failure_ || aborting_) {
                endStream = false;
                break;
            }
            // Once finishing, the source takes no more packets: what is queued is the rest.
            if (finishing_ && source_.queuedPackets() == 0)
                break;
        }
        std::optional<SamplePacket> packet = source_.takePacket(kFeedSlice);
        if (const auto now = std::chrono::steady_clock::now();
            now - lastCheck >= kFileCheckInterval) {
            lastCheck = now;
            if (!RecordingFile::stillAt(location_, file_)) {
                fail({com::hresultFromWin32(com::ERROR_FILE_NOT_FOUND),
                      u"The recording stopped: its file \"" + com::utf8ToUtf16(location_) +
                          u"\" was removed."});
                continue;
            }
        }
        if (!packet)
            continue;
        // Wait while the pipeline has a second of audio it has not taken yet.
        const guint64 most = gst_app_src_get_max_bytes(GST_APP_SRC(appsrc_));
        std::unique_lock lock(lock_);
        while (!failure_ && !aborting_ &&
               gst_app_src_get_current_level_bytes(GST_APP_SRC(appsrc_)) >= most)
            changed_.wait_for(lock, kFeedSlice);
        if (failure_ || aborting_) {
            endStream = false;
            break;
        }
        lock.unlock();
        if (!pushPacket(std::move(*packet), rate, frameBytes)) {
            endStream = false;
            break;
        }
    }
    if (endStream)
        gst_app_src_end_of_stream(GST_APP_SRC(appsrc_));
    std::lock_guard lock(lock_);
    fed_ = true;
    changed_.notify_all();
}

bool RecorderGraph::pushPacket(SamplePacket&& packet, std::uint32_t rate,
                               std::uint32_t frameBytes) {
    std::vector<std::uint8_t> data = std::move(packet.data);
    // A frame cut between packets is put together again.
    if (!partial_.empty()) {
        partial_.insert(partial_.end(), data.begin(), data.end());
        data.swap(partial_);
        partial_.clear();
    }
    const std::size_t whole = data.size() - data.size() % frameBytes;
    if (whole < data.size()) {
        partial_.assign(data.begin() + static_cast<std::ptrdiff_t>(whole), data.end());
        data.resize(whole);
    }
    if (data.empty())
        return true;
    GstBuffer* buffer = gst_buffer_new_memdup(data.data(), data.size());
    const std::uint64_t frames = whole / frameBytes;
    const GstClockTime pts = gst_util_uint64_scale(framesPushed_, GST_SECOND, rate);
    framesPushed_ += frames;
    GST_BUFFER_PTS(buffer) = pts;
    GST_BUFFER_DURATION(buffer) = gst_util_uint64_scale(framesPushed_, GST_SECOND, rate) - pts;
    return gst_app_src_push_buffer(GST_APP_SRC(appsrc_), buffer) == GST_FLOW_OK;
}

std::optional<RecordingFailure> RecorderGraph::finish(std::chrono::milliseconds bound) {
    if (!active_)
        return std::nullopt;
    source_.setRunning(false);
    std::optional<RecordingFailure> why;
    {
        std::unique_lock lock(lock_);
        finishing_ = true;
        changed_.notify_all();
        const bool ended =
            changed_.wait_for(lock, bound, [&] { return failure_.has_value() || (fed_ && eos_); });
        why = std::move(failure_);
        failure_.reset();
        if (!ended && !why)
            why = RecordingFailure{com::hresultFromWin32(com::ERROR_TIMEOUT),
                                   u"The recording did not finish writing in time; the end of "
                                   u"its file may be missing."};
    }
    teardown();
    return why;
}

void RecorderGraph::teardown() {
    {
        std::lock_guard lock(lock_);
        aborting_ = true;
        changed_.notify_all();
    }
    source_.setRunning(false);
    source_.clear(); // wakes the feeding thread
    if (feeder_.joinable())
        feeder_.join();
    gst_element_set_state(pipeline_.get(), GST_STATE_NULL);
    gst_element_unlink_many(appsrc_, convert_, resample_, encoder_, waveDest_, fileWriter_,
                            nullptr);
    source_.setConnected(false);
    source_.clear();
    {
        std::lock_guard lock(lock_);
        failure_.reset();
    }
    active_ = false;
}

} // namespace norv::media
