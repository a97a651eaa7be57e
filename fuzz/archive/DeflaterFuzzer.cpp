// Compresses the fuzzer's bytes with the Deflater and inflates the result with zlib; any
// difference from the input, or a failed compression, is a crash.
//
// The first bytes choose the level, how the input is read (in pieces of up to n bytes, as
// from a pipe), the size of the output buffer, and how often the rest is repeated (each
// copy slightly changed), so that small fuzz inputs also reach the window slide and long
// matches at large distances.

#include "archive/Deflater.h"

#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

using norv::archive::Deflater;
using norv::archive::DeflateStream;

class Stream final : public DeflateStream {
public:
    Stream(const std::vector<std::uint8_t>& input, std::size_t piece)
        : input_(input), piece_(piece) {}
    std::ptrdiff_t read(std::span<std::uint8_t> buffer) override {
        const std::size_t n = std::min({buffer.size(), input_.size() - pos_, piece_});
        if (n > 0)
            std::memcpy(buffer.data(), input_.data() + pos_, n);
        pos_ += n;
        return static_cast<std::ptrdiff_t>(n);
    }
    bool write(std::span<const std::uint8_t> data) override {
        output.insert(output.end(), data.begin(), data.end());
        return true;
    }
    std::vector<std::uint8_t> output;

private:
    const std::vector<std::uint8_t>& input_;
    std::size_t piece_;
    std::size_t pos_ = 0;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 4)
        return 0;
    const int level = Deflater::minLevel + data[0] % Deflater::maxLevel;
    const std::size_t piece = data[1] < 128 ? SIZE_MAX : std::size_t{data[1]} * 37 + 1;
    const std::size_t outputSize = 64 + std::size_t{data[2]} * 64;
    const unsigned copies = 1 + data[3] % 64;
    const std::uint8_t* body = data + 4;
    const std::size_t bodySize = size - 4;

    std::vector<std::uint8_t> input;
    input.reserve(bodySize * copies);
    for (unsigned c = 0; c < copies; ++c) {
        input.insert(input.end(), body, body + bodySize);
        if (c > 0 && bodySize > 0)
            input[input.size() - 1 - (c * 131) % bodySize] ^= static_cast<std::uint8_t>(c);
    }

    static Deflater deflater; // reused, as a writer reuses it for every entry
    std::vector<std::uint8_t> buffer(outputSize);
    Stream stream(input, piece);
    if (deflater.compress(level, stream, buffer) != Deflater::Result::ok)
        std::abort();

    z_stream z{};
    if (inflateInit2(&z, -15) != Z_OK)
        std::abort();
    std::vector<std::uint8_t> inflated(input.size() + 1);
    z.next_in = stream.output.data();
    z.avail_in = static_cast<uInt>(stream.output.size());
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
