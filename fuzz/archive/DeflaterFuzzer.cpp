// Compresses the fuzzer's bytes with the Deflater and inflates the result with zlib; any
// difference from the input, or a failed compression, is a crash.
//
// The first bytes choose the level and how often the rest is repeated (each copy slightly
// changed), so that small fuzz inputs also reach the window slide and long matches at large
// distances.

#include "archive/Deflater.h"

#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <vector>

using norv::archive::Deflater;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2)
        return 0;
    const int level = Deflater::minLevel + data[0] % Deflater::maxLevel;
    const unsigned copies = 1 + data[1] % 64;
    const std::uint8_t* body = data + 2;
    const std::size_t bodySize = size - 2;

    std::vector<std::uint8_t> input;
    input.reserve(bodySize * copies);
    for (unsigned c = 0; c < copies; ++c) {
        input.insert(input.end(), body, body + bodySize);
        if (c > 0 && bodySize > 0)
            input[input.size() - 1 - (c * 131) % bodySize] ^= static_cast<std::uint8_t>(c);
    }

    static Deflater deflater; // reused, as a writer reuses it for every entry
    const auto compressed = deflater.compress(level, input);
    if (!compressed)
        std::abort();

    z_stream z{};
    if (inflateInit2(&z, -15) != Z_OK)
        std::abort();
    std::vector<std::uint8_t> inflated(input.size() + 1);
    z.next_in = const_cast<Bytef*>(compressed->data());
    z.avail_in = static_cast<uInt>(compressed->size());
    z.next_out = inflated.data();
    z.avail_out = static_cast<uInt>(inflated.size());
    const int rc = inflate(&z, Z_FINISH);
    const bool same = rc == Z_STREAM_END && z.avail_in == 0 && z.total_out == input.size() &&
                      std::equal(input.begin(), input.end(), inflated.begin());
    inflateEnd(&z);
    if (!same)
        std::abort();
    return 0;
}
