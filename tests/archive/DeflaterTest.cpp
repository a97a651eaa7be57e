#include "archive/Deflater.h"
#include "tests/archive/InflateTrace.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace norv::archive {
namespace {

using test::traceInflate;
using Bytes = std::vector<std::uint8_t>;

// A stream whose reads and writes the test controls: the input in reads of at most
// maxRead bytes (as from a pipe), a read that fails from an offset on, a sink that refuses
// output past a size. Plain compression goes through Deflater::compress(level, input).
class ScriptedStream final : public DeflateStream {
public:
    explicit ScriptedStream(const Bytes& input, std::size_t maxRead = SIZE_MAX)
        : input_(input), maxRead_(maxRead) {}

    std::ptrdiff_t read(std::span<std::uint8_t> buffer) override {
        if (failReadAt_ != SIZE_MAX && pos_ >= failReadAt_)
            return -1;
        const std::size_t n = std::min({buffer.size(), input_.size() - pos_, maxRead_});
        if (n > 0)
            std::memcpy(buffer.data(), input_.data() + pos_, n);
        pos_ += n;
        return static_cast<std::ptrdiff_t>(n);
    }
    bool write(std::span<const std::uint8_t> data) override {
        ++writes;
        if (output.size() + data.size() > failWriteAbove_)
            return false;
        output.insert(output.end(), data.begin(), data.end());
        return true;
    }

    Bytes output;
    int writes = 0;
    std::size_t failReadAt_ = SIZE_MAX;
    std::size_t failWriteAbove_ = SIZE_MAX;

private:
    const Bytes& input_;
    std::size_t maxRead_;
    std::size_t pos_ = 0;
};

Bytes compress(Deflater& deflater, const Bytes& input, int level) {
    auto out = deflater.compress(level, input);
    EXPECT_TRUE(out) << deflater.errorText();
    if (!out)
        return {};
    EXPECT_EQ(deflater.bytesIn(), input.size());
    EXPECT_EQ(deflater.bytesOut(), out->size());
    return *out;
}

// The stream form, reading the input in pieces of at most maxRead bytes.
Bytes compressInPieces(Deflater& deflater, const Bytes& input, int level, std::size_t maxRead) {
    Bytes buffer(16 * 1024);
    ScriptedStream stream(input, maxRead);
    EXPECT_EQ(deflater.compress(level, stream, buffer), Deflater::Result::ok)
        << deflater.errorText();
    return stream.output;
}

// zlib's raw inflate, the reference decoder.
bool zlibInflatesTo(const Bytes& compressed, const Bytes& expected) {
    z_stream z{};
    if (inflateInit2(&z, -15) != Z_OK)
        return false;
    Bytes out(expected.size() + 16);
    z.next_in = const_cast<Bytef*>(compressed.data());
    z.avail_in = static_cast<uInt>(compressed.size());
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    const int rc = inflate(&z, Z_FINISH);
    const bool ok = rc == Z_STREAM_END && z.total_out == expected.size() &&
                    std::equal(expected.begin(), expected.end(), out.begin()) && z.avail_in == 0;
    inflateEnd(&z);
    return ok;
}

Bytes randomBytes(std::size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    Bytes b(n);
    for (auto& x : b)
        x = static_cast<std::uint8_t>(rng());
    return b;
}

// Text-like data: words from a small vocabulary with some numbers, compressible but with
// matches of every length and distance.
Bytes textBytes(std::size_t n, unsigned seed) {
    static const char* const kWords[] = {"window",  "the",      "player", "skin",    "archive",
                                         "deflate", "of",       "match",  "length",  "and",
                                         "a",       "distance", "block",  "huffman", "tree",
                                         "literal", "<THEME>",  "\n",     "    ",    "equalizer"};
    std::mt19937 rng(seed);
    Bytes b;
    b.reserve(n + 16);
    while (b.size() < n) {
        const std::string w =
            rng() % 7 == 0 ? std::to_string(rng() % 100000) : kWords[rng() % std::size(kWords)];
        b.insert(b.end(), w.begin(), w.end());
        b.push_back(' ');
    }
    b.resize(n);
    return b;
}

void expectValid(const Bytes& compressed, const Bytes& input) {
    EXPECT_TRUE(zlibInflatesTo(compressed, input));
    const auto trace = traceInflate(compressed);
    ASSERT_TRUE(trace.ok) << trace.error;
    EXPECT_EQ(trace.data, input);
    EXPECT_LE(trace.maxLength, 258u);
    EXPECT_LE(trace.maxDistance, 32506u);
}

TEST(Deflater, EmptyInputIsOneEmptyFinalBlock) {
    Deflater deflater;
    const Bytes out = compress(deflater, {}, 8);
    // A final block with the fixed codes holding only the end-of-block code.
    EXPECT_EQ(out, (Bytes{0x03, 0x00}));
    expectValid(out, {});
}

TEST(Deflater, EveryLevelRoundTripsAcrossTheWindowSlide) {
    // Inputs that end exactly at the slide point, just after it, and cross it several
    // times; read whole, and in short pieces as from a pipe.
    const std::size_t sizes[] = {1, 2, 3, 65536 - 262, 65536 - 261, 65536 + 1, 300000};
    Bytes mixed = textBytes(300000, 1);
    const Bytes noise = randomBytes(40000, 2);
    std::copy(noise.begin(), noise.end(), mixed.begin() + 120000);
    Deflater deflater;
    for (int level = Deflater::minLevel; level <= Deflater::maxLevel; ++level) {
        for (const std::size_t size : sizes) {
            const Bytes input(mixed.begin(), mixed.begin() + static_cast<long>(size));
            SCOPED_TRACE("level " + std::to_string(level) + ", " + std::to_string(size) + " bytes");
            const Bytes whole = compress(deflater, input, level);
            expectValid(whole, input);
            // The stream does not depend on how the input arrives.
            EXPECT_EQ(compressInPieces(deflater, input, level, 1000), whole);
        }
    }
}

TEST(Deflater, HigherLevelsCompressBetter) {
    const Bytes input = textBytes(200000, 3);
    Deflater deflater;
    const std::size_t fast = compress(deflater, input, 1).size();
    const std::size_t best = compress(deflater, input, 8).size();
    EXPECT_LT(best, fast);
    EXPECT_LT(best, input.size() / 2);
}

TEST(Deflater, IncompressibleDataGoesIntoStoredBlocks) {
    const Bytes input = randomBytes(200000, 4);
    Deflater deflater;
    const Bytes out = compress(deflater, input, 8);
    const auto trace = traceInflate(out);
    ASSERT_TRUE(trace.ok) << trace.error;
    EXPECT_EQ(trace.data, input);
    ASSERT_FALSE(trace.blockTypes.empty());
    EXPECT_TRUE(std::all_of(trace.blockTypes.begin(), trace.blockTypes.end(),
                            [](int t) { return t == 0; }));
    // Five bytes of header per stored block and nothing else.
    EXPECT_LE(out.size(), input.size() + 5 * trace.blockTypes.size());
}

TEST(Deflater, ShortInputUsesFixedCodesAndLongTextDynamicCodes) {
    const std::string skin = "<THEME><VIEW onload=\"wmpsrv.audio =eq; wmpsrv.video =vs;\">"
                             "<VIDEOSETTINGS id=\"vs\"/><EQUALIZERSETTINGS id=\"eq\"/></VIEW>"
                             "</THEME>";
    ASSERT_EQ(skin.size(), 125u);
    Deflater deflater;
    const Bytes small(skin.begin(), skin.end());
    const auto smallTrace = traceInflate(compress(deflater, small, 8));
    ASSERT_TRUE(smallTrace.ok);
    EXPECT_EQ(smallTrace.data, small);
    EXPECT_EQ(smallTrace.blockTypes, std::vector<int>{1});

    const Bytes text = textBytes(100000, 5);
    const auto textTrace = traceInflate(compress(deflater, text, 8));
    ASSERT_TRUE(textTrace.ok);
    EXPECT_EQ(textTrace.data, text);
    EXPECT_EQ(textTrace.blockTypes.front(), 2);
}

TEST(Deflater, LongRunsUseMaximumMatchesWithinTheDistanceLimit) {
    Deflater deflater;
    const Bytes zeros(1 << 20, 0);
    for (int level = Deflater::minLevel; level <= Deflater::maxLevel; ++level) {
        const Bytes out = compress(deflater, zeros, level);
        const auto trace = traceInflate(out);
        ASSERT_TRUE(trace.ok) << trace.error;
        EXPECT_EQ(trace.data, zeros);
        EXPECT_EQ(trace.maxLength, 258u) << "level " << level;
        EXPECT_LT(out.size(), zeros.size() / 200) << "level " << level;
    }

    // A random block repeated at a distance of 32000 is found again at that distance...
    const Bytes block = randomBytes(32000, 6);
    Bytes near;
    for (int i = 0; i < 4; ++i)
        near.insert(near.end(), block.begin(), block.end());
    const Bytes nearOut = compress(deflater, near, 8);
    auto trace = traceInflate(nearOut);
    ASSERT_TRUE(trace.ok) << trace.error;
    EXPECT_EQ(trace.data, near);
    EXPECT_EQ(trace.maxDistance, 32000u);
    EXPECT_EQ(trace.maxLength, 258u);
    EXPECT_LT(nearOut.size(), 34000u);

    // ...but not at 32600, beyond the 32506 bytes the window keeps for matching.
    const Bytes far = randomBytes(32600, 7);
    Bytes farInput;
    for (int i = 0; i < 3; ++i)
        farInput.insert(farInput.end(), far.begin(), far.end());
    const Bytes farOut = compress(deflater, farInput, 8);
    trace = traceInflate(farOut);
    ASSERT_TRUE(trace.ok) << trace.error;
    EXPECT_EQ(trace.data, farInput);
    EXPECT_LE(trace.maxDistance, 32506u);
    EXPECT_GT(farOut.size(), farInput.size());
}

TEST(Deflater, ReusedStateGivesTheSameStream) {
    const Bytes a = textBytes(150000, 8);
    const Bytes b = randomBytes(70000, 9);
    Deflater deflater;
    const Bytes first = compress(deflater, a, 8);
    compress(deflater, b, 3);
    EXPECT_EQ(compress(deflater, a, 8), first);
    Deflater fresh;
    EXPECT_EQ(compress(fresh, a, 8), first);
}

TEST(Deflater, RejectsBadLevelsAndReportsStreamFailures) {
    Deflater deflater;
    Bytes buffer(16 * 1024);
    const Bytes input = textBytes(100000, 10);
    for (const int level : {0, 9, -1}) {
        ScriptedStream stream(input);
        EXPECT_EQ(deflater.compress(level, stream, buffer), Deflater::Result::internalError);
        EXPECT_EQ(deflater.errorText(), "bad pack level");
        EXPECT_EQ(stream.writes, 0);
        EXPECT_FALSE(deflater.compress(level, input));
        EXPECT_EQ(deflater.errorText(), "bad pack level");
    }

    ScriptedStream unreadable(input);
    unreadable.failReadAt_ = 70000;
    EXPECT_EQ(deflater.compress(8, unreadable, buffer), Deflater::Result::readFailed);

    ScriptedStream unwritable(input);
    unwritable.failWriteAbove_ = 10;
    EXPECT_EQ(deflater.compress(8, unwritable, buffer), Deflater::Result::writeFailed);
    EXPECT_EQ(unwritable.writes, 1); // stops at the first refused write
    EXPECT_TRUE(deflater.errorText().empty());

    // Output goes out in buffer-sized pieces, which make the same stream.
    const Bytes noise = randomBytes(100000, 11);
    ScriptedStream pieces(noise);
    Bytes small(64);
    EXPECT_EQ(deflater.compress(8, pieces, small), Deflater::Result::ok);
    EXPECT_GT(pieces.writes, 1000);
    EXPECT_EQ(pieces.output, compress(deflater, noise, 8));
}

TEST(Deflater, GeneralPurposeFlagsFollowTheLevel) {
    EXPECT_EQ(Deflater::generalPurposeFlags(1), 0x0004);
    EXPECT_EQ(Deflater::generalPurposeFlags(2), 0x0004);
    for (int level = 3; level <= 7; ++level)
        EXPECT_EQ(Deflater::generalPurposeFlags(level), 0) << level;
    EXPECT_EQ(Deflater::generalPurposeFlags(8), 0x0002);
}

} // namespace
} // namespace norv::archive
