#include "media/pipeline/MPSpectrum.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>

#include "media/pipeline/WaveFormat.h"

namespace norv::media {

namespace {

constexpr int kBins = MPSpectrum::windowFrames / 2; // bins below the Nyquist frequency
constexpr int kLog2Frames = 9;
static_assert(1 << kLog2Frames == MPSpectrum::windowFrames);

// e^(-2πi·k/512) for k < 256, computed once in double precision.
const std::array<std::complex<float>, kBins>& twiddles() {
    static const auto table = [] {
        std::array<std::complex<float>, kBins> t{};
        for (int k = 0; k < kBins; ++k) {
            double angle = -2.0 * std::numbers::pi * k / MPSpectrum::windowFrames;
            t[k] = {static_cast<float>(std::cos(angle)), static_cast<float>(std::sin(angle))};
        }
        return t;
    }();
    return table;
}

unsigned reverseBits(unsigned value) {
    unsigned out = 0;
    for (int i = 0; i < kLog2Frames; ++i) {
        out = (out << 1) | (value & 1);
        value >>= 1;
    }
    return out;
}

std::int32_t binLevel(std::complex<float> x) {
    double magnitude = std::abs(std::complex<double>(x.real(), x.imag()));
    if (!(magnitude >= 0)) // NaN from a float sample that was not a number
        return 0;
    return static_cast<std::int32_t>(std::min(99.0, std::floor(magnitude) / 1024.0));
}

std::int16_t s16At(const std::uint8_t* p) {
    return static_cast<std::int16_t>(p[0] | (p[1] << 8));
}

} // namespace

MPSpectrum::MPSpectrum() {
    for (int j = 0; j < bandCount; ++j)
        bands_[j].frequency = frequencies[j];
}

void MPSpectrum::setFormat(std::span<const std::uint8_t> format) {
    const std::size_t n = std::min(format.size(), formatAreaSize);
    if (n == formatLength_ && std::equal(format.begin(), format.begin() + n, format_.begin()))
        return;
    format_.fill(0);
    std::copy_n(format.begin(), n, format_.begin());
    formatLength_ = n;
    const std::uint32_t rate = sampleRate();
    for (auto& b : bands_) {
        b.upperBin =
            rate == 0
                ? 0
                : static_cast<std::int32_t>(static_cast<std::uint32_t>(b.frequency) * 512u / rate);
    }
}

std::uint16_t MPSpectrum::formatTag() const {
    return readLE16(format_, 0);
}
std::uint16_t MPSpectrum::channels() const {
    return readLE16(format_, 2);
}
std::uint32_t MPSpectrum::sampleRate() const {
    return readLE32(format_, 4);
}
std::uint16_t MPSpectrum::bitsPerSample() const {
    return readLE16(format_, 14);
}

MPSpectrum::Layout MPSpectrum::layout() const {
    switch (bitsPerSample()) {
    case 8:
        return Layout::u8;
    case 16:
        return Layout::s16;
    case 24:
        switch (readLE16(format_, 18)) { // wValidBitsPerSample
        case 0:
        case 16:
            return Layout::s24in16;
        case 20:
            return Layout::s24in20;
        case 24:
            return Layout::s24;
        default:
            return Layout::unknown;
        }
    case 32: {
        bool isFloat;
        const std::uint16_t tag = formatTag();
        if (tag == kWaveFormatExtensible) {
            const auto sub = com::GUID::fromBytes(format_.data() + 24);
            if (sub == kSubtypePcm)
                isFloat = false;
            else if (sub == kSubtypeIeeeFloat)
                isFloat = true;
            else
                return Layout::unknown;
        } else if (tag == kWaveFormatPcm) {
            isFloat = false;
        } else if (tag == kWaveFormatIeeeFloat) {
            isFloat = true;
        } else {
            return Layout::unknown;
        }
        return isFloat ? Layout::f32 : Layout::s32top16;
    }
    default:
        return Layout::unknown;
    }
}

bool MPSpectrum::analyse(std::span<const std::uint8_t> window) {
    const Layout how = layout();
    const unsigned channelCount = channels();
    if (how == Layout::unknown || channelCount == 0)
        return false;
    const std::size_t sampleBytes = bitsPerSample() / 8;
    const std::size_t frameBytes = sampleBytes * channelCount;
    const std::size_t frames = std::min<std::size_t>(window.size() / frameBytes, windowFrames);
    const unsigned analysed = std::min(channelCount, 2u);

    for (unsigned ch = 0; ch < analysed; ++ch) {
        auto& x = work_[ch];
        for (std::size_t f = 0; f < frames; ++f) {
            const std::uint8_t* p = window.data() + f * frameBytes + ch * sampleBytes;
            float v = 0;
            switch (how) {
            case Layout::u8:
                v = static_cast<float>(static_cast<int>(p[0]) - 128);
                break;
            case Layout::s16:
                v = s16At(p);
                break;
            case Layout::s24in16:
                v = s16At(p + 1);
                break;
            case Layout::s24in20:
                v = static_cast<float>((s16At(p + 1) * 16) | (p[0] >> 4));
                break;
            case Layout::s24:
                v = static_cast<float>((s16At(p + 1) * 256) | p[0]);
                break;
            case Layout::s32top16:
                v = s16At(p + 2);
                break;
            case Layout::f32: {
                float sample;
                std::memcpy(&sample, p, sizeof sample);
                v = sample * 32767.0f;
                break;
            }
            case Layout::unknown:
                break;
            }
            x[f] = {v, 0};
        }
        for (std::size_t f = frames; f < windowFrames; ++f)
            x[f] = {0, 0};
        fft(x);
    }

    for (unsigned ch = 0; ch < 2; ++ch) {
        for (auto& b : bands_)
            b.level[ch] = 0;
        if (ch >= analysed)
            continue;
        int j = 0;
        for (int k = 0; k < kBins; ++k) {
            while (j < bandCount && k >= bands_[j].upperBin)
                ++j;
            if (j == bandCount)
                break;
            float level = static_cast<float>(binLevel(work_[ch][k]));
            bands_[j].level[ch] = std::max(bands_[j].level[ch], level);
        }
    }
    return true;
}

std::int32_t MPSpectrum::level(std::int32_t band) const {
    if (band < 0 || band >= bandCount)
        return 0;
    const SpectrumBand& b = bands_[band];
    float v = b.level[0];
    if (channels() >= 2)
        v = std::max(v, b.level[1]);
    return static_cast<std::int32_t>(v);
}

void MPSpectrum::fft(std::span<std::complex<float>, windowFrames> data) {
    for (unsigned i = 0; i < windowFrames; ++i) {
        unsigned r = reverseBits(i);
        if (r > i)
            std::swap(data[i], data[r]);
    }
    const auto& w = twiddles();
    for (int size = 2; size <= windowFrames; size *= 2) {
        const int half = size / 2;
        const int stride = windowFrames / size;
        for (int start = 0; start < windowFrames; start += size) {
            for (int k = 0; k < half; ++k) {
                std::complex<float> t = w[k * stride] * data[start + k + half];
                data[start + k + half] = data[start + k] - t;
                data[start + k] += t;
            }
        }
    }
}

} // namespace norv::media
