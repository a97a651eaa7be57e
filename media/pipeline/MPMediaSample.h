#pragma once
// MPMediaSample: the object a spectrum listener receives (IMPMediaSample). The stream part
// keeps one and refreshes it before each call with the delivered window: its playback
// time, the current audio format and the band levels of the window.

#include <mutex>
#include <span>

#include "media/pipeline/MPSpectrum.h"
#include "platform/com/DispatchObject.h"
#include "typelib/PlayerInterfaces.h"

namespace norv::media {

class MPMediaSample final : public com::DispatchObject<MPMediaSample, typelib::IMPMediaSample> {
public:
    // Takes the window delivered at playback position `position` (seconds) in the audio
    // format `format` (the format block of the tap's media type) and analyses it.
    void update(double position, std::span<const std::uint8_t> format,
                std::span<const std::uint8_t> window);

    // IMPMediaSample
    com::HRESULT get_time(std::int32_t* pVal) override;
    com::HRESULT get_rate(std::int32_t* pVal) override;
    com::HRESULT get_bits(std::int32_t* pVal) override;
    com::HRESULT get_channels(std::int32_t* pVal) override;
    com::HRESULT get_fftLength(std::int32_t* pVal) override;
    com::HRESULT get_fftSpectrum(std::int32_t freq, std::int32_t* pVal) override;

private:
    template <class F>
    com::HRESULT read(std::int32_t* out, F&& value);

    std::mutex lock_;
    MPSpectrum spectrum_;
    std::int32_t time_ = 0;
};

} // namespace norv::media
