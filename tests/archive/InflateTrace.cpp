#include "tests/archive/InflateTrace.h"

#include <algorithm>
#include <array>
#include <stdexcept>

namespace norv::archive::test {
namespace {

constexpr int kMaxBits = 15;

struct Bad : std::runtime_error {
    using std::runtime_error::runtime_error;
};

class BitReader {
public:
    explicit BitReader(std::span<const std::uint8_t> in) : in_(in) {}
    unsigned bits(int n) {
        std::uint32_t v = buffer_;
        while (count_ < n) {
            if (pos_ >= in_.size())
                throw Bad("input ends inside a block");
            v |= static_cast<std::uint32_t>(in_[pos_++]) << count_;
            count_ += 8;
        }
        buffer_ = v >> n;
        count_ -= n;
        return v & ((1u << n) - 1);
    }
    void alignToByte() {
        buffer_ = 0;
        count_ = 0;
    }
    std::uint8_t byte() {
        if (pos_ >= in_.size())
            throw Bad("input ends inside a stored block");
        return in_[pos_++];
    }
    bool atEnd() const { return pos_ == in_.size(); }

private:
    std::span<const std::uint8_t> in_;
    std::size_t pos_ = 0;
    std::uint32_t buffer_ = 0;
    int count_ = 0;
};

// A canonical Huffman code: the number of codes of each length and the symbols in order.
struct Huffman {
    std::array<std::uint16_t, kMaxBits + 1> count{};
    std::array<std::uint16_t, 288> symbol{};
};

// Builds h from code lengths; false for an over-subscribed code.
bool build(Huffman& h, const std::uint8_t* lengths, int n) {
    h.count.fill(0);
    for (int s = 0; s < n; ++s)
        ++h.count[lengths[s]];
    int left = 1;
    for (int len = 1; len <= kMaxBits; ++len) {
        left = (left << 1) - h.count[len];
        if (left < 0)
            return false;
    }
    std::array<std::uint16_t, kMaxBits + 1> offset{};
    for (int len = 1; len < kMaxBits; ++len)
        offset[len + 1] = static_cast<std::uint16_t>(offset[len] + h.count[len]);
    for (int s = 0; s < n; ++s)
        if (lengths[s] != 0)
            h.symbol[offset[lengths[s]]++] = static_cast<std::uint16_t>(s);
    return true;
}

int decode(BitReader& in, const Huffman& h) {
    int code = 0;
    int first = 0;
    int index = 0;
    for (int len = 1; len <= kMaxBits; ++len) {
        code |= static_cast<int>(in.bits(1));
        const int count = h.count[len];
        if (code - count < first)
            return h.symbol[index + (code - first)];
        index += count;
        first = (first + count) << 1;
        code <<= 1;
    }
    throw Bad("invalid code");
}

constexpr std::array<std::uint16_t, 29> kLengthBase = {3,  4,  5,  6,   7,   8,   9,   10,  11, 13,
                                                       15, 17, 19, 23,  27,  31,  35,  43,  51, 59,
                                                       67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr std::array<std::uint8_t, 29> kLengthExtra = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                                       2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr std::array<std::uint16_t, 30> kDistBase = {
    1,   2,   3,   4,   5,   7,    9,    13,   17,   25,   33,   49,   65,    97,    129,
    193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
constexpr std::array<std::uint8_t, 30> kDistExtra = {0, 0, 0,  0,  1,  1,  2,  2,  3,  3,
                                                     4, 4, 5,  5,  6,  6,  7,  7,  8,  8,
                                                     9, 9, 10, 10, 11, 11, 12, 12, 13, 13};

void codes(BitReader& in, InflateTrace& t, const Huffman& lit, const Huffman& dist) {
    for (;;) {
        int symbol = decode(in, lit);
        if (symbol < 256) {
            t.data.push_back(static_cast<std::uint8_t>(symbol));
            continue;
        }
        if (symbol == 256)
            return;
        symbol -= 257;
        if (symbol >= 29)
            throw Bad("invalid length symbol");
        const unsigned length = kLengthBase[symbol] + in.bits(kLengthExtra[symbol]);
        const int d = decode(in, dist);
        if (d >= 30)
            throw Bad("invalid distance symbol");
        const unsigned distance = kDistBase[d] + in.bits(kDistExtra[d]);
        if (distance > t.data.size())
            throw Bad("distance too far back");
        for (unsigned i = 0; i < length; ++i)
            t.data.push_back(t.data[t.data.size() - distance]);
        t.maxLength = std::max(t.maxLength, length);
        t.maxDistance = std::max(t.maxDistance, distance);
        ++t.matches;
    }
}

void fixedBlock(BitReader& in, InflateTrace& t) {
    std::array<std::uint8_t, 288> lengths{};
    for (int s = 0; s < 288; ++s)
        lengths[s] = s < 144 ? 8 : s < 256 ? 9 : s < 280 ? 7 : 8;
    Huffman lit;
    Huffman dist;
    build(lit, lengths.data(), 288);
    lengths.fill(5);
    build(dist, lengths.data(), 30);
    codes(in, t, lit, dist);
}

void dynamicBlock(BitReader& in, InflateTrace& t) {
    static constexpr std::array<std::uint8_t, 19> kOrder = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                                            11, 4,  12, 3, 13, 2, 14, 1, 15};
    const unsigned nlen = in.bits(5) + 257;
    const unsigned ndist = in.bits(5) + 1;
    const unsigned ncode = in.bits(4) + 4;
    if (nlen > 286 || ndist > 30)
        throw Bad("bad counts");
    std::array<std::uint8_t, 320> lengths{};
    for (unsigned i = 0; i < ncode; ++i)
        lengths[kOrder[i]] = static_cast<std::uint8_t>(in.bits(3));
    Huffman lencode;
    if (!build(lencode, lengths.data(), 19))
        throw Bad("bad code-length code");
    lengths.fill(0);
    unsigned index = 0;
    while (index < nlen + ndist) {
        const int symbol = decode(in, lencode);
        if (symbol < 16) {
            lengths[index++] = static_cast<std::uint8_t>(symbol);
            continue;
        }
        std::uint8_t len = 0;
        unsigned repeat;
        if (symbol == 16) {
            if (index == 0)
                throw Bad("repeat without a length");
            len = lengths[index - 1];
            repeat = 3 + in.bits(2);
        } else if (symbol == 17) {
            repeat = 3 + in.bits(3);
        } else {
            repeat = 11 + in.bits(7);
        }
        if (index + repeat > nlen + ndist)
            throw Bad("too many lengths");
        while (repeat-- != 0)
            lengths[index++] = len;
    }
    if (lengths[256] == 0)
        throw Bad("no end-of-block code");
    Huffman lit;
    Huffman dist;
    if (!build(lit, lengths.data(), static_cast<int>(nlen)) ||
        !build(dist, lengths.data() + nlen, static_cast<int>(ndist)))
        throw Bad("over-subscribed code");
    codes(in, t, lit, dist);
}

} // namespace

InflateTrace traceInflate(std::span<const std::uint8_t> stream) {
    InflateTrace t;
    BitReader in(stream);
    try {
        bool last;
        do {
            last = in.bits(1) != 0;
            const int type = static_cast<int>(in.bits(2));
            t.blockTypes.push_back(type);
            if (type == 0) {
                in.alignToByte();
                const auto u16 = [&in] {
                    const unsigned lo = in.byte();
                    return lo | static_cast<unsigned>(in.byte()) << 8;
                };
                const unsigned len = u16();
                const unsigned nlen = u16();
                if (len != (~nlen & 0xFFFF))
                    throw Bad("stored length check");
                for (unsigned i = 0; i < len; ++i)
                    t.data.push_back(in.byte());
            } else if (type == 1) {
                fixedBlock(in, t);
            } else if (type == 2) {
                dynamicBlock(in, t);
            } else {
                throw Bad("invalid block type");
            }
        } while (!last);
        if (!in.atEnd())
            throw Bad("bytes after the final block");
        t.ok = true;
    } catch (const Bad& e) {
        t.error = e.what();
    }
    return t;
}

} // namespace norv::archive::test
