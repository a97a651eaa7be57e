#include "media/pipeline/MPMediaSample.h"

#include <cmath>
#include <limits>

namespace norv::media {

void MPMediaSample::update(double position, std::span<const std::uint8_t> format,
                           std::span<const std::uint8_t> window) {
    std::lock_guard lock(lock_);
    spectrum_.setFormat(format);
    // Whole seconds, truncated; a position that does not fit reads as 0.
    constexpr double limit = std::numeric_limits<std::int32_t>::max();
    time_ = std::isfinite(position) && std::abs(position) <= limit
                ? static_cast<std::int32_t>(std::trunc(position))
                : 0;
    spectrum_.analyse(window);
}

template <class F>
com::HRESULT MPMediaSample::read(std::int32_t* out, F&& value) {
    if (out == nullptr)
        return com::E_POINTER;
    std::lock_guard lock(lock_);
    *out = value();
    return com::S_OK;
}

com::HRESULT MPMediaSample::get_time(std::int32_t* pVal) {
    return read(pVal, [&] { return time_; });
}
com::HRESULT MPMediaSample::get_rate(std::int32_t* pVal) {
    return read(pVal, [&] { return static_cast<std::int32_t>(spectrum_.sampleRate()); });
}
com::HRESULT MPMediaSample::get_bits(std::int32_t* pVal) {
    return read(pVal, [&] { return static_cast<std::int32_t>(spectrum_.bitsPerSample()); });
}
com::HRESULT MPMediaSample::get_channels(std::int32_t* pVal) {
    return read(pVal, [&] { return static_cast<std::int32_t>(spectrum_.channels()); });
}
com::HRESULT MPMediaSample::get_fftLength(std::int32_t* pVal) {
    return read(pVal, [] { return MPSpectrum::bandCount; });
}
com::HRESULT MPMediaSample::get_fftSpectrum(std::int32_t freq, std::int32_t* pVal) {
    return read(pVal, [&] { return spectrum_.level(freq); });
}

} // namespace norv::media
