#include "media/pipeline/MPVideoPresenter.h"

#include <mutex>
#include <optional>

#include "media/pipeline/MPTapElement.h"
#include "media/pipeline/RawFormat.h"

namespace norv::media {

using namespace com;
using typelib::AMMediaType;

class MPVideoPresenter::Core final : public MPTapElement::Client {
public:
    explicit Core(IVideoCallbackProvider* provider) : provider_(provider) {}

    void tapCaps(GstCaps* caps) override {
        std::optional<RawFormat> f = RawFormat::fromCaps(caps);
        std::lock_guard lock(lock_);
        format_ = f;
        if (f)
            pending_ = f->mediaType;
    }

    void tapBuffer(GstBuffer* buffer, const GstSegment& segment) override {
        std::optional<AMMediaType> pending;
        ComPtr<ISampleGrabberSinkCallback> old, callback;
        ComPtr<IVideoCallbackProvider> provider;
        std::uint64_t frameDuration = 0;
        {
            std::lock_guard lock(lock_);
            if (shutDown_)
                return;
            pending = std::exchange(pending_, std::nullopt);
            if (pending)
                old = std::move(callback_);
            callback = callback_;
            provider = provider_;
            frameDuration = format_ ? format_->frameDuration : 0;
        }
        if (pending) {
            if (old)
                old->OnShutdown();
            old.reset();
            if (provider && succeeded(provider->GetFrameCallback(*pending, callback.put()))) {
                std::lock_guard lock(lock_);
                if (!shutDown_)
                    callback_ = callback;
            }
        }
        if (!callback || !GST_BUFFER_PTS_IS_VALID(buffer))
            return;
        GstMapInfo map;
        if (!gst_buffer_map(buffer, &map, GST_MAP_READWRITE))
            return;
        GstClockTime at =
            gst_segment_to_stream_time(&segment, GST_FORMAT_TIME, GST_BUFFER_PTS(buffer));
        if (!GST_CLOCK_TIME_IS_VALID(at))
            at = GST_BUFFER_PTS(buffer);
        const GstClockTime duration =
            GST_BUFFER_DURATION_IS_VALID(buffer) ? GST_BUFFER_DURATION(buffer) : frameDuration;
        callback->OnProcessSample(kMediaTypeVideo, 0, static_cast<std::int64_t>(at / 100),
                                  static_cast<std::int64_t>(duration / 100), map.data,
                                  static_cast<std::uint32_t>(map.size));
        gst_buffer_unmap(buffer, &map);
    }

    void tapInterrupt() override {
        if (auto flow = currentFlow())
            flow->interruptFlow();
    }
    void tapResume() override {
        if (auto flow = currentFlow())
            flow->resumeFlow();
    }

    // The presenter goes: the callback is told, and nothing is asked or called again.
    void shutdown() {
        ComPtr<ISampleGrabberSinkCallback> callback;
        ComPtr<IVideoCallbackProvider> provider;
        {
            std::lock_guard lock(lock_);
            shutDown_ = true;
            callback = std::move(callback_);
            provider = std::move(provider_);
        }
        if (callback)
            callback->OnShutdown();
    }

private:
    ComPtr<ITapFlow> currentFlow() {
        ComPtr<ISampleGrabberSinkCallback> callback;
        {
            std::lock_guard lock(lock_);
            callback = callback_;
        }
        return callback ? callback.as<ITapFlow>() : ComPtr<ITapFlow>();
    }

    std::mutex lock_;
    ComPtr<IVideoCallbackProvider> provider_;
    ComPtr<ISampleGrabberSinkCallback> callback_;
    std::optional<AMMediaType> pending_;
    std::optional<RawFormat> format_;
    bool shutDown_ = false;
};

MPVideoPresenter::MPVideoPresenter(IVideoCallbackProvider* provider)
    : core_(std::make_shared<Core>(provider)) {}

MPVideoPresenter::~MPVideoPresenter() {
    core_->shutdown();
}

HRESULT MPVideoPresenter::CreateElement(GstElement** element) {
    if (element == nullptr)
        return E_POINTER;
    *element = MPTapElement::create(typelib::mpsVideo, core_);
    return *element ? S_OK : E_FAIL;
}

} // namespace norv::media
