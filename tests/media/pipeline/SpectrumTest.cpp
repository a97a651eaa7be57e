// The spectrum analyser: its transform, the sample layouts it reads, the bins each band
// receives, and the levels a listener reads through IMPMediaSample.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstring>
#include <numbers>
#include <random>
#include <vector>

#include "media/pipeline/MPMediaSample.h"
#include "media/pipeline/MPSpectrum.h"
#include "media/pipeline/WaveFormat.h"

namespace norv::media {
namespace {

constexpr int N = MPSpectrum::windowFrames;

std::vector<std::uint8_t> formatBlock(std::uint16_t tag, std::uint16_t channels, std::uint32_t rate,
                                      std::uint16_t bits, std::uint16_t validBits = 0,
                                      const com::GUID* subFormat = nullptr) {
    WaveFormat f;
    f.formatTag = tag;
    f.channels = channels;
    f.samplesPerSec = rate;
    f.blockAlign = static_cast<std::uint16_t>(channels * bits / 8);
    f.avgBytesPerSec = rate * f.blockAlign;
    f.bitsPerSample = bits;
    if (tag == kWaveFormatExtensible) {
        appendLE16(f.extra, validBits);
        appendLE32(f.extra, channels == 1 ? 0x4 : 0x3); // channel mask
        auto sub = subFormat->toBytes();
        f.extra.insert(f.extra.end(), sub.begin(), sub.end());
    }
    return f.toBytes();
}

// One sample value per frame and channel; `put` writes a sample's bytes.
template <class Put>
std::vector<std::uint8_t> interleave(int channels, int sampleBytes,
                                     const std::vector<std::vector<double>>& signal, Put put) {
    std::vector<std::uint8_t> out(static_cast<std::size_t>(N * channels * sampleBytes));
    for (int f = 0; f < N; ++f)
        for (int ch = 0; ch < channels; ++ch)
            put(out.data() + (f * channels + ch) * sampleBytes, signal[ch][f]);
    return out;
}

std::vector<double> sine(double frequency, double rate, double amplitude) {
    std::vector<double> s(N);
    for (int n = 0; n < N; ++n)
        s[n] = amplitude * std::sin(2 * std::numbers::pi * frequency * n / rate);
    return s;
}
std::vector<double> binCosine(int bin, double amplitude) {
    std::vector<double> s(N);
    for (int n = 0; n < N; ++n)
        s[n] = amplitude * std::cos(2 * std::numbers::pi * bin * n / N);
    return s;
}
std::vector<double> silence() {
    return std::vector<double>(N, 0.0);
}

void putS16(std::uint8_t* p, double v) {
    auto s = static_cast<std::int16_t>(std::lround(v));
    std::memcpy(p, &s, 2);
}
void putS24(std::uint8_t* p, std::int32_t word) {
    p[0] = static_cast<std::uint8_t>(word);
    p[1] = static_cast<std::uint8_t>(word >> 8);
    p[2] = static_cast<std::uint8_t>(word >> 16);
}
void putS32(std::uint8_t* p, std::int32_t word) {
    std::memcpy(p, &word, 4);
}
void putF32(std::uint8_t* p, float v) {
    std::memcpy(p, &v, 4);
}

std::vector<std::uint8_t> s16Mono(const std::vector<double>& s) {
    return interleave(1, 2, {s}, putS16);
}

std::vector<int> levels(const MPSpectrum& spectrum) {
    std::vector<int> out;
    for (int j = 0; j < MPSpectrum::bandCount; ++j)
        out.push_back(spectrum.level(j));
    return out;
}
int loudestBand(const MPSpectrum& spectrum) {
    auto l = levels(spectrum);
    return static_cast<int>(std::max_element(l.begin(), l.end()) - l.begin());
}
std::vector<int> bandsWithLevel(const MPSpectrum& spectrum) {
    std::vector<int> out;
    for (int j = 0; j < MPSpectrum::bandCount; ++j)
        if (spectrum.level(j) > 0)
            out.push_back(j);
    return out;
}

MPSpectrum analysed(const std::vector<std::uint8_t>& format,
                    const std::vector<std::uint8_t>& window) {
    MPSpectrum spectrum;
    spectrum.setFormat(format);
    EXPECT_TRUE(spectrum.analyse(window));
    return spectrum;
}

TEST(SpectrumTransform, MatchesADirectDiscreteFourierTransform) {
    std::mt19937 random(7);
    std::uniform_real_distribution<float> sample(-32768.0f, 32767.0f);
    std::array<std::complex<float>, N> data;
    std::vector<double> x(N);
    for (int n = 0; n < N; ++n) {
        x[n] = sample(random);
        data[n] = {static_cast<float>(x[n]), 0.0f};
    }
    MPSpectrum::fft(data);

    double largest = 0, worst = 0;
    for (int k = 0; k < N; ++k) {
        std::complex<double> direct = 0;
        for (int n = 0; n < N; ++n)
            direct += x[n] * std::polar(1.0, -2 * std::numbers::pi * k * n / N);
        largest = std::max(largest, std::abs(direct));
        worst = std::max(worst, std::abs(direct - std::complex<double>(data[k])));
    }
    EXPECT_LT(worst, largest * 1e-5);
}

// A cosine centred on bin 64 (5512.5 Hz at 44.1 kHz, in the 5700 Hz band, 29) of
// amplitude 200 in 16-bit units has |X| = 200 · 512 / 2, so its level is 50 in every
// layout that reads samples on the 16-bit scale.
TEST(SpectrumConversions, EveryLayoutReadsTheSameSignal) {
    const auto s = binCosine(64, 202);
    const auto pcmSub = kSubtypePcm;
    const auto floatSub = kSubtypeIeeeFloat;
    struct Case {
        const char* name;
        std::vector<std::uint8_t> format;
        std::vector<std::uint8_t> window;
    };
    const std::vector<Case> cases = {
        {"16-bit", formatBlock(kWaveFormatPcm, 1, 44100, 16), s16Mono(s)},
        {"24-bit, top 16 bits", formatBlock(kWaveFormatPcm, 1, 44100, 24),
         interleave(1, 3, {s},
                    [](std::uint8_t* p, double v) {
                        putS24(p, static_cast<std::int32_t>(std::lround(v)) * 256 + 0xAB);
                    })},
        {"24-bit, 16 valid", formatBlock(kWaveFormatExtensible, 1, 44100, 24, 16, &pcmSub),
         interleave(1, 3, {s},
                    [](std::uint8_t* p, double v) {
                        putS24(p, static_cast<std::int32_t>(std::lround(v)) * 256 + 0x7F);
                    })},
        {"32-bit integer", formatBlock(kWaveFormatPcm, 1, 44100, 32),
         interleave(1, 4, {s},
                    [](std::uint8_t* p, double v) {
                        putS32(p, static_cast<std::int32_t>(std::lround(v)) * 65536 + 0x1234);
                    })},
        {"32-bit integer, extensible",
         formatBlock(kWaveFormatExtensible, 1, 44100, 32, 32, &pcmSub),
         interleave(1, 4, {s},
                    [](std::uint8_t* p, double v) {
                        putS32(p, static_cast<std::int32_t>(std::lround(v)) * 65536);
                    })},
        {"32-bit float", formatBlock(kWaveFormatIeeeFloat, 1, 44100, 32),
         interleave(1, 4, {s},
                    [](std::uint8_t* p, double v) { putF32(p, static_cast<float>(v / 32767)); })},
        {"32-bit float, extensible",
         formatBlock(kWaveFormatExtensible, 1, 44100, 32, 32, &floatSub),
         interleave(1, 4, {s},
                    [](std::uint8_t* p, double v) { putF32(p, static_cast<float>(v / 32767)); })},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto spectrum = analysed(c.format, c.window);
        EXPECT_EQ(bandsWithLevel(spectrum), std::vector<int>{29});
        EXPECT_EQ(spectrum.level(29), 50);
    }
}

TEST(SpectrumConversions, WideSamplesAndBytesKeepTheirOwnScale) {
    const auto pcmSub = kSubtypePcm;
    // 8-bit samples are read as byte - 128: amplitude 100 reads as 100, level 25.
    auto u8 = interleave(1, 1, {binCosine(64, 101)}, [](std::uint8_t* p, double v) {
        *p = static_cast<std::uint8_t>(128 + std::lround(v));
    });
    EXPECT_EQ(analysed(formatBlock(kWaveFormatPcm, 1, 44100, 8), u8).level(29), 25);

    // 20 and 24 valid bits are read whole: amplitude 200 in those units reads level 50.
    auto in20 = interleave(1, 3, {binCosine(64, 202)}, [](std::uint8_t* p, double v) {
        putS24(p, static_cast<std::int32_t>(std::lround(v)) * 16);
    });
    EXPECT_EQ(
        analysed(formatBlock(kWaveFormatExtensible, 1, 44100, 24, 20, &pcmSub), in20).level(29),
        50);
    auto in24 = interleave(1, 3, {binCosine(64, 202)}, [](std::uint8_t* p, double v) {
        putS24(p, static_cast<std::int32_t>(std::lround(v)));
    });
    EXPECT_EQ(
        analysed(formatBlock(kWaveFormatExtensible, 1, 44100, 24, 24, &pcmSub), in24).level(29),
        50);
}

TEST(SpectrumConversions, UnknownLayoutsLeaveTheLevelsAsTheyWere) {
    MPSpectrum spectrum;
    spectrum.setFormat(formatBlock(kWaveFormatPcm, 1, 44100, 16));
    ASSERT_TRUE(spectrum.analyse(s16Mono(binCosine(64, 202))));
    const auto before = levels(spectrum);

    const auto pcmSub = kSubtypePcm;
    const com::GUID otherSub = *com::GUID::parse("{00000092-0000-0010-8000-00AA00389B71}");
    const std::vector<std::vector<std::uint8_t>> unknown = {
        formatBlock(kWaveFormatPcm, 1, 44100, 12),
        formatBlock(kWaveFormatExtensible, 1, 44100, 24, 18, &pcmSub),
        formatBlock(kWaveFormatExtensible, 1, 44100, 32, 32, &otherSub),
        formatBlock(kWaveFormatWmAudio2, 1, 44100, 32),
        formatBlock(kWaveFormatPcm, 0, 44100, 16),
    };
    const std::vector<std::uint8_t> loud(N * 4, 0x7F);
    for (const auto& format : unknown) {
        spectrum.setFormat(format);
        EXPECT_FALSE(spectrum.analyse(loud));
        EXPECT_EQ(levels(spectrum), before);
    }
}

TEST(SpectrumConversions, TwoChannelsAreAnalysedAndFurtherOnesStayOut) {
    const auto quiet = silence();
    const auto tone = binCosine(64, 202);

    auto second = analysed(formatBlock(kWaveFormatPcm, 2, 44100, 16),
                           interleave(2, 2, {quiet, tone}, putS16));
    EXPECT_EQ(second.level(29), 50);
    EXPECT_EQ(second.band(29).level[0], 0);

    auto third = analysed(formatBlock(kWaveFormatPcm, 3, 44100, 16),
                          interleave(3, 2, {quiet, quiet, tone}, putS16));
    EXPECT_EQ(bandsWithLevel(third), std::vector<int>{});

    // A mono format reads channel 0 only, whatever channel 1 held before.
    MPSpectrum spectrum;
    spectrum.setFormat(formatBlock(kWaveFormatPcm, 2, 44100, 16));
    spectrum.analyse(interleave(2, 2, {quiet, tone}, putS16));
    spectrum.setFormat(formatBlock(kWaveFormatPcm, 1, 44100, 16));
    spectrum.analyse(s16Mono(quiet));
    EXPECT_EQ(spectrum.level(29), 0);
}

TEST(SpectrumConversions, AShortWindowCountsItsMissingFramesAsSilence) {
    auto window = s16Mono(binCosine(64, 202));
    window.resize(window.size() / 2 + 1); // half the frames and a stray byte
    auto spectrum = analysed(formatBlock(kWaveFormatPcm, 1, 44100, 16), window);
    // Half the frames: half the magnitude.
    EXPECT_EQ(spectrum.level(29), 25);
}

// Bin k belongs to the first band whose upper bin lies above k: every bin below the
// Nyquist frequency lands in exactly one band, and the bands below 1200 Hz, which got no
// bin at all when each band change skipped one, now receive theirs.
TEST(SpectrumBandWalk, EveryBinCountsInTheBandItBelongsTo) {
    struct Rate {
        std::uint32_t rate;
        int firstBand;                         // the band of bin 0
        int bandedBins;                        // bins at and above this lie above 22050 Hz
        std::vector<std::pair<int, int>> bins; // (bin, band) for some bins
    };
    const std::vector<Rate> rates = {
        {44100, 3, 256, {{1, 5}, {11, 12}, {12, 12}, {13, 13}, {231, 43}, {232, 44}, {255, 44}}},
        {48000, 4, 235, {{1, 5}, {10, 12}, {11, 12}, {12, 13}, {234, 44}}},
    };
    for (const auto& r : rates) {
        SCOPED_TRACE(r.rate);
        std::vector<int> bandOf(N / 2, -1);
        for (int k = 0; k < N / 2; ++k) {
            auto spectrum = analysed(formatBlock(kWaveFormatPcm, 1, r.rate, 16),
                                     s16Mono(binCosine(k, k == 0 ? 101 : 202)));
            auto bands = bandsWithLevel(spectrum);
            if (k >= r.bandedBins) {
                EXPECT_EQ(bands, std::vector<int>{}) << "bin " << k;
                continue;
            }
            ASSERT_EQ(bands.size(), 1u) << "bin " << k;
            bandOf[k] = bands[0];
        }
        EXPECT_EQ(bandOf[0], r.firstBand);
        for (auto [bin, band] : r.bins)
            EXPECT_EQ(bandOf[bin], band) << "bin " << bin;
        bandOf.resize(r.bandedBins);
        EXPECT_TRUE(std::is_sorted(bandOf.begin(), bandOf.end()));
        // No band between the first and the last is skipped unless it has no bins of its
        // own (its upper bin equals the one before).
        MPSpectrum spectrum;
        spectrum.setFormat(formatBlock(kWaveFormatPcm, 1, r.rate, 16));
        for (int j = r.firstBand + 1; j < MPSpectrum::bandCount; ++j) {
            bool owns = spectrum.band(j).upperBin > spectrum.band(j - 1).upperBin;
            bool got = std::find(bandOf.begin(), bandOf.end(), j) != bandOf.end();
            EXPECT_EQ(owns, got) << "band " << j;
        }
    }
}

TEST(SpectrumLevels, ToneAndNoiseLevels) {
    for (std::uint32_t rate : {44100u, 48000u}) {
        SCOPED_TRACE(rate);
        const auto format = formatBlock(kWaveFormatPcm, 1, rate, 16);

        // Band 12 (1200 Hz) holds the bins around 1000 Hz at both rates: 11-12 at 44.1 kHz
        // (947 and 1034 Hz), 10-11 at 48 kHz (938 and 1031 Hz).
        auto tone = analysed(format, s16Mono(sine(1000, rate, 100)));
        EXPECT_EQ(loudestBand(tone), 12);
        EXPECT_GT(tone.level(12), tone.level(11));
        EXPECT_GT(tone.level(12), tone.level(13));

        // 100 Hz lies in bin 1: the 200 Hz band (5) now shows it.
        auto low = analysed(format, s16Mono(sine(100, rate, 100)));
        EXPECT_EQ(loudestBand(low), 5);
        EXPECT_GT(low.level(5), 0);

        // Full scale reads 99, not a value wrapped past 100.
        auto loud = analysed(format, s16Mono(sine(1000, rate, 32767)));
        EXPECT_EQ(loud.level(12), 99);
        for (int level : levels(loud))
            EXPECT_LE(level, 99);

        auto quiet = analysed(format, s16Mono(silence()));
        EXPECT_EQ(bandsWithLevel(quiet), std::vector<int>{});
    }
}

TEST(SpectrumLevels, FloatsThatAreNotNumbersReadAsSilenceOrFullScale) {
    const auto format = formatBlock(kWaveFormatIeeeFloat, 1, 44100, 32);
    auto nan =
        interleave(1, 4, {silence()}, [](std::uint8_t* p, double) { putF32(p, std::nanf("")); });
    auto spectrum = analysed(format, nan);
    EXPECT_EQ(bandsWithLevel(spectrum), std::vector<int>{});

    auto huge = interleave(1, 4, {binCosine(64, 1)}, [](std::uint8_t* p, double v) {
        putF32(p, static_cast<float>(v * 1e30));
    });
    EXPECT_EQ(analysed(format, huge).level(29), 99);
}

TEST(MediaSample, ReadsTheDeliveredWindow) {
    auto sample = com::makeObject<MPMediaSample>();
    const auto format = formatBlock(kWaveFormatPcm, 2, 48000, 16);
    sample->update(2.97, format, interleave(2, 2, {sine(1000, 48000, 100), silence()}, putS16));

    std::int32_t v = -1;
    EXPECT_EQ(sample->get_time(&v), com::S_OK);
    EXPECT_EQ(v, 2);
    sample->get_rate(&v);
    EXPECT_EQ(v, 48000);
    sample->get_bits(&v);
    EXPECT_EQ(v, 16);
    sample->get_channels(&v);
    EXPECT_EQ(v, 2);
    sample->get_fftLength(&v);
    EXPECT_EQ(v, 45);
    sample->get_fftSpectrum(12, &v);
    EXPECT_GT(v, 0);
    for (std::int32_t outside : {-1, 45, 1000}) {
        v = -1;
        EXPECT_EQ(sample->get_fftSpectrum(outside, &v), com::S_OK);
        EXPECT_EQ(v, 0);
    }

    EXPECT_EQ(sample->get_time(nullptr), com::E_POINTER);
    EXPECT_EQ(sample->get_fftSpectrum(0, nullptr), com::E_POINTER);

    // Positions that do not fit a whole number of seconds read 0.
    sample->update(std::nan(""), format, {});
    sample->get_time(&v);
    EXPECT_EQ(v, 0);
    sample->update(1e12, format, {});
    sample->get_time(&v);
    EXPECT_EQ(v, 0);
}

} // namespace
} // namespace norv::media
