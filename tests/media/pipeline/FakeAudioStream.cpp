#include "tests/media/pipeline/FakeAudioStream.h"

#include <gst/app/gstappsink.h>

#include <algorithm>
#include <cmath>
#include <string>

#include "media/pipeline/WaveFormat.h"

namespace norv::test {

using com::HRESULT;

com::HRESULT FakeAudioStream::insertFilter(typelib::IMPStreamFilter* pVal, std::int32_t type) {
    if ((type & typelib::mpsAudio) == 0)
        return com::E_NOTIMPL;
    std::lock_guard lock(lock_);
    for (const auto& f : filters_) {
        if (f.get() == pVal)
            return com::S_FALSE;
    }
    filters_.emplace_back(pVal);
    return com::S_OK;
}

com::HRESULT FakeAudioStream::removeFilter(typelib::IMPStreamFilter* pVal, std::int32_t type) {
    if (type != 0 && (type & typelib::mpsAudio) == 0)
        return com::S_FALSE;
    com::ComPtr<typelib::IMPStreamFilter> removed; // released after the lock
    std::lock_guard lock(lock_);
    auto found = std::find_if(filters_.begin(), filters_.end(),
                              [&](const auto& f) { return f.get() == pVal; });
    if (found == filters_.end())
        return com::S_FALSE;
    removed = std::move(*found);
    filters_.erase(found);
    return com::S_OK;
}

com::HRESULT FakeAudioStream::getStreamType(typelib::MPStreamType type,
                                            typelib::AMMediaType* pMediaType) {
    if (pMediaType == nullptr)
        return com::E_POINTER;
    if (type != typelib::mpsAudio)
        return com::E_NOTIMPL;
    if (!typed_)
        return com::OLE_E_BLANK;
    media::WaveFormat f;
    f.formatTag = media::kWaveFormatIeeeFloat;
    f.channels = 2;
    f.samplesPerSec = rate;
    f.avgBytesPerSec = rate * frameBytes;
    f.blockAlign = frameBytes;
    f.bitsPerSample = 32;
    typelib::AMMediaType t;
    t.majortype = *com::GUID::parse("{73647561-0000-0010-8000-00AA00389B71}");
    t.subtype = media::kSubtypeIeeeFloat;
    t.formattype = media::kFormatWaveFormatEx;
    t.format = f.toBytes();
    *pMediaType = std::move(t);
    return com::S_OK;
}

com::HRESULT FakeAudioStream::get_stream(typelib::IMPStream** pVal) {
    if (pVal == nullptr)
        return com::E_POINTER;
    *pVal = this;
    AddRef();
    return com::S_OK;
}

FakeAudioStream::~FakeAudioStream() {
    stopPlaying();
}

bool FakeAudioStream::holds(typelib::IMPStreamFilter* filter) {
    std::lock_guard lock(lock_);
    return std::any_of(filters_.begin(), filters_.end(),
                       [&](const auto& f) { return f.get() == filter; });
}

std::uint64_t FakeAudioStream::acceptedBytes(typelib::IMPStreamFilter* filter) {
    std::lock_guard lock(lock_);
    return accepted_[filter];
}

com::HRESULT FakeAudioStream::lastResult(typelib::IMPStreamFilter* filter) {
    std::lock_guard lock(lock_);
    auto found = results_.find(filter);
    return found == results_.end() ? com::E_UNEXPECTED : found->second;
}

void FakeAudioStream::play(double frequency, double seconds, bool live,
                           const std::function<void(double)>& afterBuffer) {
    stopPlaying();
    stopping_ = false;
    std::thread player([&] { run(frequency, seconds, live, afterBuffer); });
    player.join();
}

void FakeAudioStream::startPlaying(double frequency, bool live) {
    stopPlaying();
    stopping_ = false;
    player_ = std::thread([this, frequency, live] { run(frequency, -1, live, {}); });
}

void FakeAudioStream::stopPlaying() {
    stopping_ = true;
    if (player_.joinable())
        player_.join();
}

void FakeAudioStream::run(double frequency, double seconds, bool live,
                          const std::function<void(double)>& afterBuffer) {
    constexpr int samplesPerBuffer = 441;
    const long buffers = seconds < 0 ? -1 : std::lround(seconds * rate / samplesPerBuffer);
    const std::string launch =
        "audiotestsrc freq=" + std::to_string(frequency) +
        " samplesperbuffer=" + std::to_string(samplesPerBuffer) +
        " num-buffers=" + std::to_string(buffers) + (live ? " is-live=true" : "") +
        " ! audio/x-raw,format=F32LE,layout=interleaved,rate=" + std::to_string(rate) +
        ",channels=2 ! appsink name=out sync=false max-buffers=16";
    GError* error = nullptr;
    GstElement* pipeline = gst_parse_launch(launch.c_str(), &error);
    if (pipeline == nullptr) {
        g_clear_error(&error);
        return;
    }
    GstElement* sink = gst_bin_get_by_name(GST_BIN(pipeline), "out");
    gst_element_set_state(pipeline, GST_STATE_PLAYING);
    double played = 0;
    std::vector<std::uint8_t> bytes;
    while (!stopping_) {
        GstSample* sample = gst_app_sink_try_pull_sample(GST_APP_SINK(sink), 10 * GST_SECOND);
        if (sample == nullptr)
            break; // the end of the tone (or a stalled source)
        GstBuffer* buffer = gst_sample_get_buffer(sample);
        GstMapInfo map;
        if (buffer != nullptr && gst_buffer_map(buffer, &map, GST_MAP_READ)) {
            bytes.assign(map.data, map.data + map.size);
            gst_buffer_unmap(buffer, &map);
        }
        gst_sample_unref(sample);
        const double length = double(bytes.size() / frameBytes) / rate;
        dispatch(bytes, clock_, clock_ + length);
        clock_ += length;
        played += length;
        if (afterBuffer)
            afterBuffer(played);
    }
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(sink);
    gst_object_unref(pipeline);
}

void FakeAudioStream::dispatch(std::vector<std::uint8_t>& bytes, double start, double end) {
    std::vector<com::ComPtr<typelib::IMPStreamFilter>> filters;
    {
        std::lock_guard lock(lock_);
        filters = filters_;
    }
    for (const auto& f : filters) {
        const HRESULT hr =
            f->process(typelib::mpsAudio, com::Variant::fromR8(start), com::Variant::fromR8(end),
                       com::Variant::fromByteRef(bytes.data()),
                       com::Variant::fromI4(static_cast<std::int32_t>(bytes.size())));
        std::lock_guard lock(lock_);
        results_[f.get()] = hr;
        if (hr == com::S_OK)
            accepted_[f.get()] += bytes.size();
    }
}

} // namespace norv::test
