#include "tests/media/pipeline/RecordingCheck.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <regex>

#include "tests/support/Process.h"

namespace norv::test {

namespace {

constexpr double kRate = 44100;

// The power of one frequency over a stretch of samples (Goertzel).
double power(const std::vector<float>& s, std::size_t from, std::size_t to, double freq) {
    const double w = 2 * M_PI * freq / kRate;
    const double coeff = 2 * std::cos(w);
    double q1 = 0, q2 = 0;
    for (std::size_t i = from; i < to; ++i) {
        const double q0 = coeff * q1 - q2 + s[i];
        q2 = q1;
        q1 = q0;
    }
    return q1 * q1 + q2 * q2 - coeff * q1 * q2;
}

std::pair<std::size_t, std::size_t> stretch(const std::vector<float>& s, double from, double to) {
    const auto a = std::min(s.size(), static_cast<std::size_t>(from * kRate));
    const auto b = std::min(s.size(), static_cast<std::size_t>(to * kRate));
    return {a, std::max(a, b)};
}

} // namespace

Probe probe(const std::filesystem::path& file) {
    auto [code, out] = runCommand({"ffprobe", "-v", "error", "-show_entries",
                                   "stream=codec_name:format=format_name,duration", "-of",
                                   "default=noprint_wrappers=1", file.string()});
    Probe p;
    std::smatch m;
    if (code != 0)
        return p;
    if (std::regex_search(out, m, std::regex("format_name=(\\S+)")))
        p.format = m[1];
    if (std::regex_search(out, m, std::regex("codec_name=(\\S+)")))
        p.codec = m[1];
    if (std::regex_search(out, m, std::regex("duration=([0-9.]+)")))
        p.duration = std::stod(m[1]);
    return p;
}

std::vector<float> decode(const std::filesystem::path& file) {
    const std::filesystem::path raw = file.string() + ".f32";
    auto [code, out] = runCommand({"ffmpeg", "-v", "error", "-y", "-i", file.string(), "-f",
                                   "f32le", "-ac", "1", "-ar", "44100", raw.string()});
    std::vector<float> samples;
    if (code != 0)
        return samples;
    std::ifstream in(raw, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), {});
    samples.resize(bytes.size() / sizeof(float));
    std::copy_n(bytes.data(), samples.size() * sizeof(float),
                reinterpret_cast<char*>(samples.data()));
    std::filesystem::remove(raw);
    return samples;
}

double dominantFrequency(const std::vector<float>& samples, double from, double to) {
    const auto [a, b] = stretch(samples, from, to);
    // A coarse scan, then a fine one around its best.
    auto scan = [&](double low, double high, double step) {
        double best = low, bestPower = -1;
        for (double f = low; f <= high; f += step) {
            const double p = power(samples, a, b, f);
            if (p > bestPower) {
                bestPower = p;
                best = f;
            }
        }
        return best;
    };
    const double coarse = scan(50, 8000, 10);
    return scan(coarse - 10, coarse + 10, 0.5);
}

double relativePower(const std::vector<float>& samples, double from, double to, double freq) {
    const auto [a, b] = stretch(samples, from, to);
    const double peak = power(samples, a, b, dominantFrequency(samples, from, to));
    return peak > 0 ? power(samples, a, b, freq) / peak : 0;
}

float peakLevel(const std::vector<float>& samples) {
    float peak = 0;
    for (float v : samples)
        peak = std::max(peak, std::fabs(v));
    return peak;
}

} // namespace norv::test
