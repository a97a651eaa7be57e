#pragma once
// What a recording holds, read back by ffmpeg's tools (independent of the program's own
// reader and writer): ffprobe's codec and duration, and the decoded samples with their
// dominant frequency.

#include <filesystem>
#include <string>
#include <vector>

namespace norv::test {

struct Probe {
    std::string format; // ffprobe's container name ("wav")
    std::string codec;
    double duration = -1; // seconds; -1 when ffprobe cannot read the file
};
Probe probe(const std::filesystem::path& file);

// The file decoded to mono 32-bit float samples at 44.1 kHz (empty when ffmpeg fails).
std::vector<float> decode(const std::filesystem::path& file);

// The frequency (50 Hz to 8 kHz, to half a hertz) with the most energy in the samples from
// `from` to `to` seconds, and the relative energy at a given frequency there (its power
// over the power at the dominant one).
double dominantFrequency(const std::vector<float>& samples, double from, double to);
double relativePower(const std::vector<float>& samples, double from, double to, double freq);

float peakLevel(const std::vector<float>& samples);

} // namespace norv::test
