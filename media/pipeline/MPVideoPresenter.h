#pragma once
// MPVideoPresenter: the presenter the player's plugin installs on the control's video path
// (IVideoRenderConfig::put_presenter). Its element is a video tap element, linked by the
// control in front of its video sink, so every decoded frame passes it in BGRx (see
// RawFormat) on its way to the screen.
//
// For each new frame format the presenter asks its callback provider (the plugin) for a
// frame callback, dropping the one it had (OnShutdown); each frame then goes to the
// current callback in place, with its stream time and duration in 100-ns units, before it
// moves on to the sink: what the callback's filters wrote is what is shown. A flush or a
// stop of the video path is passed on to the callback (ITapFlow) so that filter calls in
// flight let go in time. No lock is held while the provider or the callback runs.

#include <memory>

#include "media/pipeline/PipelineInterfaces.h"
#include "platform/com/ComObject.h"
#include "platform/media/PlayerHostInterfaces.h"

namespace norv::media {

class MPVideoPresenter final
    : public com::ComObject<MPVideoPresenter, platform::media::IVideoPresenter> {
public:
    explicit MPVideoPresenter(IVideoCallbackProvider* provider);
    ~MPVideoPresenter() override;

    // IVideoPresenter: a new video tap element each call.
    com::HRESULT CreateElement(GstElement** element) override;

private:
    class Core;
    std::shared_ptr<Core> core_;
};

} // namespace norv::media
