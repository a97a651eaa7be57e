#pragma once
// MPSpectrum: the analyser behind IMPMediaSample. It keeps the current audio format (the
// format block as received, at most 40 bytes) and, for one window of 512 interleaved
// frames, the level of each of 45 frequency bands in channels 0 and 1.
//
// A window is converted to floats by the sample layout of the format, transformed by a
// 512-point FFT per channel, and each FFT bin below the Nyquist frequency raises the level
// of the band it belongs to: bin k belongs to the first band whose upper bin (frequency ×
// 512 div sample rate) is above k. A bin's level is its magnitude |X[k]| div 1024,
// clamped to 0-99.

#include <array>
#include <complex>
#include <cstdint>
#include <span>

namespace norv::media {

struct SpectrumBand {
    std::int32_t frequency = 0; // Hz
    float gain = 0;             // kept for the record's layout; not used for the output
    float level[2] = {0, 0};    // channel 0 and channel 1, each 0-99
    std::int32_t upperBin = 0;  // the first FFT bin above the band
};

class MPSpectrum {
public:
    static constexpr int bandCount = 45;
    static constexpr int windowFrames = 512;
    static constexpr std::size_t formatAreaSize = 40;
    static constexpr std::array<std::int32_t, bandCount> frequencies = {
        20,    40,    65,    90,    120,   200,   280,   350,   450,  600,  800,  1000,
        1200,  1400,  1600,  1800,  2000,  2200,  2400,  2600,  2800, 3100, 3300, 3500,
        3800,  4200,  4600,  4800,  5300,  5700,  6300,  7000,  7600, 8800, 9200, 10100,
        10700, 12200, 13000, 15800, 16800, 18000, 19000, 20000, 22050};

    MPSpectrum();

    // Takes a new format block (WAVEFORMATEX or WAVEFORMATEXTENSIBLE; only its first 40
    // bytes are kept). The same bytes again change nothing; new ones recompute the bands'
    // upper bins.
    void setFormat(std::span<const std::uint8_t> format);

    std::uint16_t formatTag() const;
    std::uint16_t channels() const;
    std::uint32_t sampleRate() const;
    std::uint16_t bitsPerSample() const;

    // Analyses one window of interleaved frames in the current format. Frames missing from
    // a short window count as silence; bytes past 512 frames are not read. A sample layout
    // the analyser does not know leaves the levels as they were; false then.
    bool analyse(std::span<const std::uint8_t> window);

    // The level of band `band`: the larger of channel 0 and 1 (channel 0 alone for mono),
    // 0-99; 0 for a band number outside 0-44.
    std::int32_t level(std::int32_t band) const;

    const SpectrumBand& band(int index) const { return bands_[index]; }

    // The 512-point forward transform of `data` in place (length 512).
    static void fft(std::span<std::complex<float>, windowFrames> data);

private:
    enum class Layout { unknown, u8, s16, s24in16, s24in20, s24, s32top16, f32 };
    Layout layout() const;

    std::array<std::uint8_t, formatAreaSize> format_{};
    std::size_t formatLength_ = 0;
    std::array<SpectrumBand, bandCount> bands_{};
    std::array<std::complex<float>, windowFrames> work_[2];
};

} // namespace norv::media
