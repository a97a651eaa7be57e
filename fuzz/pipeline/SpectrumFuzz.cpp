// Analyses the fuzzer's bytes as a format block and a window of samples: any sample
// layout, short or odd windows and float samples that are not numbers must give band
// levels within 0-99 and never read outside the bytes given. The format block is also
// parsed as a WAVEFORMATEX, which must write back to the bytes it was read from.

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "media/pipeline/MPSpectrum.h"
#include "media/pipeline/WaveFormat.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1)
        return 0;
    const std::size_t formatSize = std::min<std::size_t>(data[0] % 48, size - 1);
    const std::span<const std::uint8_t> format(data + 1, formatSize);
    const std::span<const std::uint8_t> window(data + 1 + formatSize, size - 1 - formatSize);

    norv::media::MPSpectrum spectrum;
    spectrum.setFormat(format);
    spectrum.analyse(window);
    spectrum.analyse(window.first(window.size() / 2));
    for (int band = -1; band <= norv::media::MPSpectrum::bandCount; ++band) {
        const int level = spectrum.level(band);
        if (level < 0 || level > 99)
            std::abort();
    }

    if (auto parsed = norv::media::WaveFormat::fromBytes(format)) {
        auto bytes = parsed->toBytes();
        if (bytes.size() > format.size() || !std::equal(bytes.begin(), bytes.end(), format.begin()))
            std::abort();
    }
    return 0;
}
