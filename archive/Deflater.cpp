#include "archive/Deflater.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

namespace norv::archive {
namespace {

// Window and matching.
constexpr unsigned kWSize = 0x8000; // history kept for matches
constexpr unsigned kWMask = kWSize - 1;
constexpr unsigned kWindowSize = 2 * kWSize; // the sliding buffer
constexpr unsigned kHashBits = 15;
constexpr unsigned kHashSize = 1u << kHashBits;
constexpr unsigned kHashMask = kHashSize - 1;
constexpr unsigned kHashShift = 5; // three bytes shift the oldest out of the 15-bit hash
constexpr unsigned kMinMatch = 3;
constexpr unsigned kMaxMatch = 258;
constexpr unsigned kMinLookahead = kMaxMatch + kMinMatch + 1; // 262
constexpr unsigned kMaxDist = kWSize - kMinLookahead;         // 32506
constexpr unsigned kTooFar = 4096; // a match of three bytes farther than this is not worth it
constexpr unsigned kNil = 0;       // end of a hash chain (position 0 is never a candidate)

// Symbol buffers.
constexpr unsigned kLitBufSize = 0x8000;
constexpr unsigned kDistBufSize = 0x8000;

// Huffman coding.
constexpr int kMaxBits = 15;
constexpr int kMaxBlBits = 7;
constexpr int kLengthCodes = 29;
constexpr int kLiterals = 256;
constexpr int kEndBlock = 256;
constexpr int kLCodes = kLiterals + 1 + kLengthCodes; // 286
constexpr int kDCodes = 30;
constexpr int kBlCodes = 19;
constexpr int kHeapSize = 2 * kLCodes + 1;
constexpr int kRep3To6 = 16;
constexpr int kRepZero3To10 = 17;
constexpr int kRepZero11To138 = 18;
constexpr unsigned kStoredBlock = 0;
constexpr unsigned kStaticTrees = 1;
constexpr unsigned kDynamicTrees = 2;

constexpr std::array<int, kLengthCodes> kExtraLBits = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                                       2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr std::array<int, kDCodes> kExtraDBits = {0, 0, 0,  0,  1,  1,  2,  2,  3,  3,
                                                  4, 4, 5,  5,  6,  6,  7,  7,  8,  8,
                                                  9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
constexpr std::array<int, kBlCodes> kExtraBlBits = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                                    0, 0, 0, 0, 0, 0, 2, 3, 7};
// The order in which the code lengths of the code-length code are sent.
constexpr std::array<std::uint8_t, kBlCodes> kBlOrder = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                                         11, 4,  12, 3, 13, 2, 14, 1, 15};

struct LevelConfig {
    unsigned good; // reduce the chain search when the previous match is this long
    unsigned lazy; // no lazy search above this (levels 1-3: longest match inserted)
    unsigned nice; // stop searching when a match is this long
    unsigned chain;
};

constexpr std::array<LevelConfig, 10> kLevels = {{
    {0, 0, 0, 0},
    {4, 4, 8, 4},
    {4, 5, 16, 8},
    {4, 6, 32, 32},
    {4, 4, 16, 16},
    {8, 16, 32, 32},
    {8, 16, 128, 128},
    {8, 32, 128, 256},
    {32, 128, 258, 1024},
    {32, 258, 258, 4096},
}};

// A consistency check that failed; carries the check's text to compress().
struct ConsistencyError {
    const char* text;
};
struct ReadError {};
struct WriteError {};

inline void check(bool condition, const char* text) {
    if (!condition) [[unlikely]]
        throw ConsistencyError{text};
}

inline std::uint16_t load16(const std::uint8_t* p) {
    std::uint16_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

inline std::uint64_t load64(const std::uint8_t* p) {
    std::uint64_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

// Number of equal leading bytes of a and b, at most 256; compares eight bytes at a time.
inline unsigned commonPrefix256(const std::uint8_t* a, const std::uint8_t* b) {
    unsigned n = 0;
    do {
        const std::uint64_t x = load64(a + n) ^ load64(b + n);
        if (x != 0) {
            if constexpr (std::endian::native == std::endian::little)
                return n + static_cast<unsigned>(std::countr_zero(x)) / 8;
            else
                return n + static_cast<unsigned>(std::countl_zero(x)) / 8;
        }
        n += 8;
    } while (n < 256);
    return 256;
}

unsigned reverseBits(unsigned code, int length) {
    unsigned r = 0;
    do {
        r |= code & 1;
        code >>= 1;
        r <<= 1;
    } while (--length > 0);
    return r >> 1;
}

struct TreeNode {
    std::uint16_t freq = 0;
    std::uint16_t code = 0;
    std::uint16_t dad = 0;
    std::uint16_t len = 0;
};

struct TreeDesc {
    TreeNode* dynTree;
    const TreeNode* staticTree; // null for the code-length tree
    const int* extraBits;
    int extraBase; // first symbol with extra bits
    int elems;
    int maxLength;
    int maxCode = -1; // largest symbol with a non-zero frequency
};

} // namespace

class Deflater::Engine {
public:
    Engine() { initTables(); }

    Result run(int level, DeflateStream& stream, std::span<std::uint8_t> out, std::string& error);

    std::uint64_t bytesIn = 0;
    std::uint64_t bytesOut = 0;

private:
    void initTables();

    // Input and the sliding window.
    void startInput();
    void fillWindow();
    void slideWindow();
    void ensureLookahead();
    unsigned readInput(std::uint8_t* dst, unsigned size);
    void updateHash(unsigned c) { insHash_ = ((insHash_ << kHashShift) ^ c) & kHashMask; }
    // Enters the string at pos into its hash chain; returns the previous head of the chain.
    // prev2_ links every position two steps down its chain, so that a search can follow
    // the even and the odd members of a chain as two independent walks.
    unsigned insertString(unsigned pos) {
        updateHash(window_[pos + kMinMatch - 1]);
        const unsigned head = head_[insHash_];
        const unsigned second = head != kNil ? prev_[head & kWMask] : kNil;
        prev_[pos & kWMask] = static_cast<std::uint16_t>(head);
        prev2_[pos & kWMask] = static_cast<std::uint16_t>(second);
        head_[insHash_] = static_cast<std::uint16_t>(pos);
        return head;
    }
    unsigned longestMatch(unsigned curMatch, unsigned prevLength);
    void deflateFast();
    void deflateLazy();

    // Symbols and blocks.
    void initBlock();
    bool tally(unsigned dist, unsigned lc);
    void flushBlock(bool eof);
    void buildTree(TreeDesc& desc);
    void downHeap(const TreeNode* tree, int k);
    void genBitLengths(TreeDesc& desc);
    void genCodes(TreeNode* tree, int maxCode);
    void scanTree(TreeNode* tree, int maxCode);
    void sendTree(const TreeNode* tree, int maxCode);
    int buildBlTree();
    void sendAllTrees(int lcodes, int dcodes, int blcodes);
    void compressBlock(const TreeNode* ltree, const TreeNode* dtree);
    unsigned distCode(unsigned dist) const {
        return dist < 256 ? distCode_[dist] : distCode_[256 + (dist >> 7)];
    }

    // Bit output through the caller's buffer.
    void sendBits(std::uint32_t value, unsigned length) {
        bitBuffer_ |= static_cast<std::uint64_t>(value) << bitCount_;
        bitCount_ += length;
        if (bitCount_ >= 32) {
            put32(static_cast<std::uint32_t>(bitBuffer_));
            bitBuffer_ >>= 32;
            bitCount_ -= 32;
        }
    }
    void sendCode(unsigned symbol, const TreeNode* tree) {
        sendBits(tree[symbol].code, tree[symbol].len);
    }
    void put32(std::uint32_t v) {
        if (outPos_ + 4 > out_.size())
            flushOutput();
        out_[outPos_] = static_cast<std::uint8_t>(v);
        out_[outPos_ + 1] = static_cast<std::uint8_t>(v >> 8);
        out_[outPos_ + 2] = static_cast<std::uint8_t>(v >> 16);
        out_[outPos_ + 3] = static_cast<std::uint8_t>(v >> 24);
        outPos_ += 4;
    }
    void alignToByte();
    void copyStored(const std::uint8_t* data, std::size_t length);
    void flushOutput();
    std::uint64_t bitPosition() const { return (bytesOut + outPos_) * 8 + bitCount_; }

    // Sliding window, hash heads and chain links. Positions are window offsets below 64 KiB.
    // The window is an allocation of its own so that memory checkers see any read past it.
    std::unique_ptr<std::uint8_t[]> window_ = std::make_unique<std::uint8_t[]>(kWindowSize);
    std::array<std::uint16_t, kWSize> prev_{};
    std::array<std::uint16_t, kWSize> prev2_{};
    std::array<std::uint16_t, kHashSize> head_{};

    // Symbols of the current block: literals and match lengths, distances, and one flag bit
    // per symbol telling matches from literals.
    std::array<std::uint8_t, kLitBufSize> litBuf_{};
    std::array<std::uint16_t, kDistBufSize> distBuf_{};
    std::array<std::uint8_t, kLitBufSize / 8> flagBuf_{};

    std::array<TreeNode, kHeapSize> dynLTree_{};
    std::array<TreeNode, 2 * kDCodes + 1> dynDTree_{};
    std::array<TreeNode, 2 * kBlCodes + 1> blTree_{};
    std::array<TreeNode, kLCodes + 2> staticLTree_{};
    std::array<TreeNode, kDCodes> staticDTree_{};
    TreeDesc lDesc_{
        dynLTree_.data(), staticLTree_.data(), kExtraLBits.data(), kLiterals + 1, kLCodes,
        kMaxBits};
    TreeDesc dDesc_{dynDTree_.data(), staticDTree_.data(), kExtraDBits.data(), 0, kDCodes,
                    kMaxBits};
    TreeDesc blDesc_{blTree_.data(), nullptr, kExtraBlBits.data(), 0, kBlCodes, kMaxBlBits};

    std::array<std::uint8_t, 256> lengthCode_{}; // match length - 3 -> length code
    std::array<std::uint8_t, 512> distCode_{};   // see distCode()
    std::array<int, kLengthCodes> baseLength_{};
    std::array<int, kDCodes> baseDist_{};
    std::array<std::uint16_t, kMaxBits + 1> blCount_{};
    std::array<int, kHeapSize> heap_{};
    std::array<std::uint8_t, kHeapSize> depth_{};
    int heapLen_ = 0;
    int heapMax_ = 0;
    const char* tableError_ = nullptr;

    // Matching state.
    int level_ = 0;
    LevelConfig config_{};
    unsigned strStart_ = 0;   // start of the string to insert
    unsigned lookahead_ = 0;  // valid bytes from strStart_ on
    unsigned matchStart_ = 0; // start of the last match found
    unsigned insHash_ = 0;
    long blockStart_ = 0; // window offset of the block's first byte; negative once slid out
    bool endOfInput_ = false;

    // Block state.
    unsigned lastLit_ = 0;
    unsigned lastDist_ = 0;
    unsigned lastFlags_ = 0;
    std::uint8_t flags_ = 0;
    std::uint8_t flagBit_ = 1;
    std::uint64_t optLen_ = 0;    // bits of the block with dynamic trees (without the header)
    std::uint64_t staticLen_ = 0; // bits of the block with the fixed trees
    std::uint64_t expectedBits_ = 0;

    DeflateStream* stream_ = nullptr;
    std::span<std::uint8_t> out_;
    std::size_t outPos_ = 0;
    std::uint64_t bitBuffer_ = 0;
    unsigned bitCount_ = 0;
};

void Deflater::Engine::initTables() {
    // Length codes: every match length - 3 (0..255) to its code.
    int length = 0;
    int code = 0;
    for (code = 0; code < kLengthCodes - 1; ++code) {
        baseLength_[code] = length;
        for (int n = 0; n < (1 << kExtraLBits[code]); ++n)
            lengthCode_[length++] = static_cast<std::uint8_t>(code);
    }
    if (length != 256) {
        tableError_ = "ct_init: length != 256";
        return;
    }
    // Length 258 has a code of its own; it overrides the last entry of code 27.
    lengthCode_[length - 1] = static_cast<std::uint8_t>(code);

    // Distance codes: distances 1..256 directly, larger ones by their distance / 128.
    int dist = 0;
    for (code = 0; code < 16; ++code) {
        baseDist_[code] = dist;
        for (int n = 0; n < (1 << kExtraDBits[code]); ++n)
            distCode_[dist++] = static_cast<std::uint8_t>(code);
    }
    if (dist != 256) {
        tableError_ = "ct_init: dist != 256";
        return;
    }
    dist >>= 7;
    for (; code < kDCodes; ++code) {
        baseDist_[code] = dist << 7;
        for (int n = 0; n < (1 << (kExtraDBits[code] - 7)); ++n)
            distCode_[256 + dist++] = static_cast<std::uint8_t>(code);
    }
    if (dist != 256) {
        tableError_ = "ct_init: 256+dist != 512";
        return;
    }

    // The fixed literal/length code of RFC 1951 3.2.6 and the fixed 5-bit distance code.
    blCount_.fill(0);
    for (int n = 0; n <= 287; ++n) {
        const int bits = n <= 143 ? 8 : n <= 255 ? 9 : n <= 279 ? 7 : 8;
        staticLTree_[n].len = static_cast<std::uint16_t>(bits);
        ++blCount_[bits];
    }
    try {
        genCodes(staticLTree_.data(), kLCodes + 1);
    } catch (const ConsistencyError& e) {
        tableError_ = e.text;
        return;
    }
    for (int n = 0; n < kDCodes; ++n) {
        staticDTree_[n].len = 5;
        staticDTree_[n].code = static_cast<std::uint16_t>(reverseBits(n, 5));
    }
}

Deflater::Result Deflater::Engine::run(int level, DeflateStream& stream,
                                       std::span<std::uint8_t> out, std::string& error) {
    bytesIn = 0;
    bytesOut = 0;
    if (tableError_ != nullptr) {
        error = tableError_;
        return Result::internalError;
    }
    if (level < minLevel || level > maxLevel) {
        error = "bad pack level";
        return Result::internalError;
    }
    level_ = level;
    config_ = kLevels[level];
    stream_ = &stream;
    out_ = out;
    outPos_ = 0;
    bitBuffer_ = 0;
    bitCount_ = 0;
    expectedBits_ = 0;
    try {
        initBlock();
        startInput();
        if (level <= 3)
            deflateFast();
        else
            deflateLazy();
        flushOutput();
    } catch (const ConsistencyError& e) {
        error = e.text;
        return Result::internalError;
    } catch (const ReadError&) {
        return Result::readFailed;
    } catch (const WriteError&) {
        return Result::writeFailed;
    }
    return Result::ok;
}

unsigned Deflater::Engine::readInput(std::uint8_t* dst, unsigned size) {
    const std::ptrdiff_t n = stream_->read({dst, size});
    if (n < 0 || static_cast<std::size_t>(n) > size)
        throw ReadError{};
    bytesIn += static_cast<std::uint64_t>(n);
    return static_cast<unsigned>(n);
}

void Deflater::Engine::startInput() {
    // Stale bytes of an earlier input would only make the output depend on history.
    std::memset(window_.get(), 0, kWindowSize);
    head_.fill(kNil);
    strStart_ = 0;
    blockStart_ = 0;
    matchStart_ = 0;
    lookahead_ = readInput(window_.get(), kWindowSize);
    endOfInput_ = lookahead_ == 0;
    ensureLookahead();
    insHash_ = 0;
    for (unsigned j = 0; j < kMinMatch - 1; ++j)
        updateHash(window_[j]);
}

// Tops the look-ahead up to kMinLookahead bytes while input remains. The window also slides
// at the end of the input, so that the string being matched never starts above
// kWindowSize - kMinLookahead and every comparison stays inside the window.
void Deflater::Engine::ensureLookahead() {
    while (lookahead_ < kMinLookahead) {
        if (endOfInput_) {
            if (strStart_ >= kWSize + kMaxDist)
                slideWindow();
            return;
        }
        fillWindow();
    }
}

// Keeps the upper half as history and lowers every position by 32 KiB; positions that fall
// out of the window become the end of their chain.
void Deflater::Engine::slideWindow() {
    std::memcpy(window_.get(), window_.get() + kWSize, kWSize);
    matchStart_ -= kWSize;
    strStart_ -= kWSize;
    blockStart_ -= static_cast<long>(kWSize);
    for (auto& h : head_)
        h = static_cast<std::uint16_t>(h >= kWSize ? h - kWSize : kNil);
    for (auto& p : prev_)
        p = static_cast<std::uint16_t>(p >= kWSize ? p - kWSize : kNil);
    for (auto& p : prev2_)
        p = static_cast<std::uint16_t>(p >= kWSize ? p - kWSize : kNil);
}

void Deflater::Engine::fillWindow() {
    unsigned more = kWindowSize - lookahead_ - strStart_;
    if (strStart_ >= kWSize + kMaxDist) {
        slideWindow();
        more += kWSize;
    }
    check(more >= 2, "more < 2");
    const unsigned n = readInput(window_.get() + strStart_ + lookahead_, more);
    if (n == 0)
        endOfInput_ = true;
    else
        lookahead_ += n;
}

// Follows the hash chain from curMatch and returns the longest match length found there if
// longer than prevLength (else prevLength), with matchStart_ set to where it starts.
//
// The chain is visited in its order, candidate by candidate, exactly as a plain walk of
// prev_ would; but the walk follows the even members (through prev2_) and the odd members
// (through prev2_ from the second one) side by side, so that two chain loads are in flight
// at a time instead of one.
unsigned Deflater::Engine::longestMatch(unsigned curMatch, unsigned prevLength) {
    const unsigned strStart = strStart_;
    check(strStart <= kWindowSize - kMinLookahead, "insufficient lookahead");
    unsigned chain = config_.chain;
    if (prevLength >= config_.good)
        chain >>= 2;
    const unsigned nice = std::min(config_.nice, lookahead_);
    const unsigned limit = strStart > kMaxDist ? strStart - kMaxDist : kNil;
    const std::uint8_t* const window = window_.get();
    const std::uint16_t* const prev = prev_.data();
    const std::uint16_t* const prev2 = prev2_.data();
    const std::uint8_t* const scan = window + strStart;
    unsigned bestLen = prevLength;
    unsigned bestStart = matchStart_;
    const std::uint16_t scanStart = load16(scan);
    std::uint16_t scanEnd = load16(scan + bestLen - 1);

    // Checks one candidate; true when the search is over (the nice length is reached).
    const auto visit = [&](unsigned candidate) {
        const std::uint8_t* const match = window + candidate;
        // A longer match must agree on the two bytes that end the best one so far and on
        // the first two; the third is implied by the equal hash, but compared anyway.
        if (load16(match + bestLen - 1) != scanEnd || load16(match) != scanStart)
            return false;
        const unsigned len = 2 + commonPrefix256(scan + 2, match + 2);
        if (len <= bestLen)
            return false;
        check(candidate < strStart, "no future");
        check(strStart + len <= kWindowSize, "wild scan");
        bestStart = candidate;
        bestLen = len;
        if (len >= nice)
            return true;
        scanEnd = load16(scan + bestLen - 1);
        return false;
    };

    unsigned even = curMatch;
    unsigned odd = prev[even & kWMask];
    for (;;) {
        const unsigned nextEven = prev2[even & kWMask];
        const unsigned nextOdd = prev2[odd & kWMask];
        if (visit(even) || --chain == 0 || odd <= limit)
            break;
        if (visit(odd) || --chain == 0 || nextEven <= limit)
            break;
        even = nextEven;
        odd = nextOdd;
    }
    matchStart_ = bestStart;
    return bestLen;
}

// Levels 1 to 3: every match found is taken at once; the strings inside it are hashed only
// when it is short.
void Deflater::Engine::deflateFast() {
    while (lookahead_ != 0) {
        const unsigned hashHead = insertString(strStart_);
        unsigned matchLength = 0;
        if (hashHead != kNil && strStart_ - hashHead <= kMaxDist) {
            matchLength = longestMatch(hashHead, kMinMatch - 1);
            matchLength = std::min(matchLength, lookahead_);
        }
        bool flush;
        if (matchLength >= kMinMatch) {
            flush = tally(strStart_ - matchStart_, matchLength - kMinMatch);
            lookahead_ -= matchLength;
            if (matchLength <= config_.lazy && lookahead_ >= kMinMatch) {
                --matchLength; // the string at strStart_ is in the hash already
                do {
                    ++strStart_;
                    insertString(strStart_);
                } while (--matchLength != 0);
                ++strStart_;
            } else {
                strStart_ += matchLength;
                insHash_ = window_[strStart_];
                updateHash(window_[strStart_ + 1]);
            }
        } else {
            flush = tally(0, window_[strStart_]);
            --lookahead_;
            ++strStart_;
        }
        if (flush) {
            flushBlock(false);
            blockStart_ = strStart_;
        }
        ensureLookahead();
    }
    flushBlock(true);
}

// Levels 4 to 8: a match is kept back for one byte and emitted only when the match found at
// the next byte is not longer; otherwise its first byte becomes a literal.
void Deflater::Engine::deflateLazy() {
    unsigned matchLength = kMinMatch - 1;
    bool matchAvailable = false;
    while (lookahead_ != 0) {
        const unsigned hashHead = insertString(strStart_);
        unsigned prevLength = matchLength;
        const unsigned prevMatch = matchStart_;
        matchLength = kMinMatch - 1;
        if (hashHead != kNil && prevLength < config_.lazy && strStart_ - hashHead <= kMaxDist) {
            matchLength = longestMatch(hashHead, prevLength);
            matchLength = std::min(matchLength, lookahead_);
            if (matchLength == kMinMatch && strStart_ - matchStart_ > kTooFar)
                --matchLength;
        }
        if (prevLength >= kMinMatch && matchLength <= prevLength) {
            const bool flush = tally(strStart_ - 1 - prevMatch, prevLength - kMinMatch);
            // The match began one byte back; that byte and this one are hashed already.
            lookahead_ -= prevLength - 1;
            prevLength -= 2;
            do {
                ++strStart_;
                insertString(strStart_);
            } while (--prevLength != 0);
            matchAvailable = false;
            matchLength = kMinMatch - 1;
            ++strStart_;
            if (flush) {
                flushBlock(false);
                blockStart_ = strStart_;
            }
        } else if (matchAvailable) {
            // The match here is longer: the previous byte goes out as a literal.
            if (tally(0, window_[strStart_ - 1])) {
                flushBlock(false);
                blockStart_ = strStart_;
            }
            ++strStart_;
            --lookahead_;
        } else {
            matchAvailable = true;
            ++strStart_;
            --lookahead_;
        }
        ensureLookahead();
    }
    if (matchAvailable)
        tally(0, window_[strStart_ - 1]);
    flushBlock(true);
}

void Deflater::Engine::initBlock() {
    for (int n = 0; n < kLCodes; ++n)
        dynLTree_[n].freq = 0;
    for (int n = 0; n < kDCodes; ++n)
        dynDTree_[n].freq = 0;
    for (int n = 0; n < kBlCodes; ++n)
        blTree_[n].freq = 0;
    dynLTree_[kEndBlock].freq = 1;
    optLen_ = 0;
    staticLen_ = 0;
    lastLit_ = 0;
    lastDist_ = 0;
    lastFlags_ = 0;
    flags_ = 0;
    flagBit_ = 1;
}

// Records a literal (dist 0, lc the byte) or a match (dist, lc = length - 3). True when the
// block should end here.
bool Deflater::Engine::tally(unsigned dist, unsigned lc) {
    litBuf_[lastLit_++] = static_cast<std::uint8_t>(lc);
    if (dist == 0) {
        ++dynLTree_[lc].freq;
    } else {
        --dist;
        const unsigned dcode = distCode(dist);
        check(dist < kMaxDist && lc <= kMaxMatch - kMinMatch && dcode < kDCodes,
              "ct_tally: bad match");
        ++dynLTree_[lengthCode_[lc] + kLiterals + 1].freq;
        ++dynDTree_[dcode].freq;
        distBuf_[lastDist_++] = static_cast<std::uint16_t>(dist);
        flags_ |= flagBit_;
    }
    flagBit_ = static_cast<std::uint8_t>(flagBit_ << 1);
    if ((lastLit_ & 7) == 0) {
        flagBuf_[lastFlags_++] = flags_;
        flags_ = 0;
        flagBit_ = 1;
    }
    if (level_ > 2 && (lastLit_ & 0xFFF) == 0) {
        // End the block early when it is mostly literals and already compresses well: the
        // statistics are likely to change.
        std::uint64_t outLength = static_cast<std::uint64_t>(lastLit_) * 8;
        const std::uint64_t inLength = static_cast<std::uint64_t>(strStart_ - blockStart_);
        for (int dcode = 0; dcode < kDCodes; ++dcode)
            outLength += static_cast<std::uint64_t>(dynDTree_[dcode].freq) *
                         (5 + static_cast<unsigned>(kExtraDBits[dcode]));
        outLength >>= 3;
        if (lastDist_ < lastLit_ / 2 && outLength < inLength / 2)
            return true;
    }
    return lastLit_ == kLitBufSize - 1 || lastDist_ == kDistBufSize;
}

// Moves the node at heap index k down until both children are larger; ties are broken by
// the depth of the subtrees so that the code lengths stay short.
void Deflater::Engine::downHeap(const TreeNode* tree, int k) {
    const auto smaller = [&](int n, int m) {
        return tree[n].freq < tree[m].freq ||
               (tree[n].freq == tree[m].freq && depth_[n] <= depth_[m]);
    };
    const int v = heap_[k];
    int j = k << 1;
    while (j <= heapLen_) {
        if (j < heapLen_ && smaller(heap_[j + 1], heap_[j]))
            ++j;
        if (smaller(v, heap_[j]))
            break;
        heap_[k] = heap_[j];
        k = j;
        j <<= 1;
    }
    heap_[k] = v;
}

// Builds the Huffman tree of desc from the frequencies, sets the code lengths (limited to
// maxLength) and codes, and adds the block's cost with these codes to optLen_ and with the
// fixed codes to staticLen_.
void Deflater::Engine::buildTree(TreeDesc& desc) {
    TreeNode* tree = desc.dynTree;
    const TreeNode* stree = desc.staticTree;
    const int elems = desc.elems;
    int maxCode = -1;
    int node = elems;

    heapLen_ = 0;
    heapMax_ = kHeapSize;
    for (int n = 0; n < elems; ++n) {
        if (tree[n].freq != 0) {
            heap_[++heapLen_] = maxCode = n;
            depth_[n] = 0;
        } else {
            tree[n].len = 0;
        }
    }
    // A code needs two symbols at least; give the missing ones a frequency of one and take
    // their cost back out.
    while (heapLen_ < 2) {
        const int added = heap_[++heapLen_] = maxCode < 2 ? ++maxCode : 0;
        tree[added].freq = 1;
        depth_[added] = 0;
        --optLen_;
        if (stree != nullptr)
            staticLen_ -= stree[added].len;
    }
    desc.maxCode = maxCode;

    for (int n = heapLen_ / 2; n >= 1; --n)
        downHeap(tree, n);

    // Combine the two least frequent nodes until one is left; the sorted nodes go to the
    // top of the heap array for genBitLengths.
    do {
        const int n = heap_[1];
        heap_[1] = heap_[heapLen_--];
        downHeap(tree, 1);
        const int m = heap_[1];
        heap_[--heapMax_] = n;
        heap_[--heapMax_] = m;
        tree[node].freq = static_cast<std::uint16_t>(tree[n].freq + tree[m].freq);
        depth_[node] = static_cast<std::uint8_t>(std::max(depth_[n], depth_[m]) + 1);
        tree[n].dad = tree[m].dad = static_cast<std::uint16_t>(node);
        heap_[1] = node++;
        downHeap(tree, 1);
    } while (heapLen_ >= 2);
    heap_[--heapMax_] = heap_[1];

    genBitLengths(desc);
    genCodes(tree, maxCode);
}

void Deflater::Engine::genBitLengths(TreeDesc& desc) {
    TreeNode* tree = desc.dynTree;
    const TreeNode* stree = desc.staticTree;
    const int maxCode = desc.maxCode;
    const int maxLength = desc.maxLength;
    int overflow = 0;

    blCount_.fill(0);
    // Lengths from the root down; a length above the maximum is clamped and counted.
    tree[heap_[heapMax_]].len = 0;
    int h;
    for (h = heapMax_ + 1; h < kHeapSize; ++h) {
        const int n = heap_[h];
        int bits = tree[tree[n].dad].len + 1;
        if (bits > maxLength) {
            bits = maxLength;
            ++overflow;
        }
        tree[n].len = static_cast<std::uint16_t>(bits);
        if (n > maxCode)
            continue; // not a leaf
        ++blCount_[bits];
        const int xbits = n >= desc.extraBase ? desc.extraBits[n - desc.extraBase] : 0;
        const std::uint64_t f = tree[n].freq;
        optLen_ += f * static_cast<unsigned>(bits + xbits);
        if (stree != nullptr)
            staticLen_ += f * static_cast<unsigned>(stree[n].len + xbits);
    }
    if (overflow == 0)
        return;

    // Too long codes: move leaves up from the deepest shorter level until the counts
    // describe a complete code again, then give the lengths back to the least frequent.
    do {
        int bits = maxLength - 1;
        while (blCount_[bits] == 0)
            --bits;
        --blCount_[bits];
        blCount_[bits + 1] = static_cast<std::uint16_t>(blCount_[bits + 1] + 2);
        --blCount_[maxLength];
        overflow -= 2;
    } while (overflow > 0);

    for (int bits = maxLength; bits != 0; --bits) {
        int n = blCount_[bits];
        while (n != 0) {
            const int m = heap_[--h];
            if (m > maxCode)
                continue;
            if (tree[m].len != bits) {
                optLen_ += static_cast<std::uint64_t>((static_cast<long long>(bits) - tree[m].len) *
                                                      tree[m].freq);
                tree[m].len = static_cast<std::uint16_t>(bits);
            }
            --n;
        }
    }
}

// Canonical codes from the lengths in blCount_, stored bit-reversed for LSB-first output.
void Deflater::Engine::genCodes(TreeNode* tree, int maxCode) {
    std::array<unsigned, kMaxBits + 1> nextCode{};
    unsigned code = 0;
    for (int bits = 1; bits <= kMaxBits; ++bits) {
        code = (code + blCount_[bits - 1]) << 1;
        nextCode[bits] = code;
    }
    check(code + blCount_[kMaxBits] - 1 == (1u << kMaxBits) - 1, "inconsistent bit counts");
    for (int n = 0; n <= maxCode; ++n) {
        const int len = tree[n].len;
        if (len == 0)
            continue;
        tree[n].code = static_cast<std::uint16_t>(reverseBits(nextCode[len]++, len));
    }
}

// The longest and shortest runs of one code length that the code-length code encodes as a
// repeat, for a run that follows curLen with nextLen (curLen -1: the start of the tree).
static void codeLengthRunLimits(int curLen, int nextLen, int& maxCount, int& minCount) {
    if (nextLen == 0) {
        maxCount = 138;
        minCount = 3;
    } else if (curLen == nextLen) {
        maxCount = 6;
        minCount = 3;
    } else {
        maxCount = 7;
        minCount = 4;
    }
}

// Counts the code-length symbols (lengths and runs) needed to send tree.
void Deflater::Engine::scanTree(TreeNode* tree, int maxCode) {
    int prevLen = -1;
    int nextLen = tree[0].len;
    int count = 0;
    int maxCount = 0;
    int minCount = 0;
    codeLengthRunLimits(-1, nextLen, maxCount, minCount);
    tree[maxCode + 1].len = 0xFFFF; // guard
    for (int n = 0; n <= maxCode; ++n) {
        const int curLen = nextLen;
        nextLen = tree[n + 1].len;
        if (++count < maxCount && curLen == nextLen)
            continue;
        if (count < minCount) {
            blTree_[curLen].freq = static_cast<std::uint16_t>(blTree_[curLen].freq + count);
        } else if (curLen != 0) {
            if (curLen != prevLen)
                ++blTree_[curLen].freq;
            ++blTree_[kRep3To6].freq;
        } else if (count <= 10) {
            ++blTree_[kRepZero3To10].freq;
        } else {
            ++blTree_[kRepZero11To138].freq;
        }
        count = 0;
        prevLen = curLen;
        codeLengthRunLimits(curLen, nextLen, maxCount, minCount);
    }
}

// Sends the code lengths of tree with the code-length code (the guard is set by scanTree).
void Deflater::Engine::sendTree(const TreeNode* tree, int maxCode) {
    const TreeNode* bl = blTree_.data();
    int prevLen = -1;
    int nextLen = tree[0].len;
    int count = 0;
    int maxCount = 0;
    int minCount = 0;
    codeLengthRunLimits(-1, nextLen, maxCount, minCount);
    for (int n = 0; n <= maxCode; ++n) {
        const int curLen = nextLen;
        nextLen = tree[n + 1].len;
        if (++count < maxCount && curLen == nextLen)
            continue;
        if (count < minCount) {
            do {
                sendCode(static_cast<unsigned>(curLen), bl);
            } while (--count != 0);
        } else if (curLen != 0) {
            if (curLen != prevLen) {
                sendCode(static_cast<unsigned>(curLen), bl);
                --count;
            }
            sendCode(kRep3To6, bl);
            sendBits(static_cast<std::uint32_t>(count - 3), 2);
        } else if (count <= 10) {
            sendCode(kRepZero3To10, bl);
            sendBits(static_cast<std::uint32_t>(count - 3), 3);
        } else {
            sendCode(kRepZero11To138, bl);
            sendBits(static_cast<std::uint32_t>(count - 11), 7);
        }
        count = 0;
        prevLen = curLen;
        codeLengthRunLimits(curLen, nextLen, maxCount, minCount);
    }
}

// Builds the code-length code for both trees; returns the index in kBlOrder of the last
// length to send.
int Deflater::Engine::buildBlTree() {
    scanTree(dynLTree_.data(), lDesc_.maxCode);
    scanTree(dynDTree_.data(), dDesc_.maxCode);
    buildTree(blDesc_);
    int maxBlIndex;
    for (maxBlIndex = kBlCodes - 1; maxBlIndex >= 3; --maxBlIndex) {
        if (blTree_[kBlOrder[maxBlIndex]].len != 0)
            break;
    }
    // The header: HLIT, HDIST, HCLEN and three bits per code-length length.
    optLen_ += 3 * (static_cast<unsigned>(maxBlIndex) + 1) + 5 + 5 + 4;
    return maxBlIndex;
}

void Deflater::Engine::sendAllTrees(int lcodes, int dcodes, int blcodes) {
    check(lcodes >= 257 && dcodes >= 1 && blcodes >= 4, "not enough codes");
    check(lcodes <= kLCodes && dcodes <= kDCodes && blcodes <= kBlCodes, "too many codes");
    sendBits(static_cast<std::uint32_t>(lcodes - 257), 5);
    sendBits(static_cast<std::uint32_t>(dcodes - 1), 5);
    sendBits(static_cast<std::uint32_t>(blcodes - 4), 4);
    for (int rank = 0; rank < blcodes; ++rank)
        sendBits(blTree_[kBlOrder[rank]].len, 3);
    sendTree(dynLTree_.data(), lcodes - 1);
    sendTree(dynDTree_.data(), dcodes - 1);
}

void Deflater::Engine::compressBlock(const TreeNode* ltree, const TreeNode* dtree) {
    unsigned dx = 0;
    unsigned fx = 0;
    unsigned flag = 0;
    for (unsigned lx = 0; lx < lastLit_; ++lx) {
        if ((lx & 7) == 0)
            flag = flagBuf_[fx++];
        unsigned lc = litBuf_[lx];
        if ((flag & 1) == 0) {
            sendCode(lc, ltree);
        } else {
            unsigned code = lengthCode_[lc];
            sendCode(code + kLiterals + 1, ltree);
            int extra = kExtraLBits[code];
            if (extra != 0)
                sendBits(lc - static_cast<unsigned>(baseLength_[code]),
                         static_cast<unsigned>(extra));
            unsigned dist = distBuf_[dx++];
            code = distCode(dist);
            check(code < kDCodes, "bad d_code");
            sendCode(code, dtree);
            extra = kExtraDBits[code];
            if (extra != 0)
                sendBits(dist - static_cast<unsigned>(baseDist_[code]),
                         static_cast<unsigned>(extra));
        }
        flag >>= 1;
    }
    sendCode(kEndBlock, ltree);
}

// Ends the current block: decides its kind from the exact costs and writes it.
void Deflater::Engine::flushBlock(bool eof) {
    const std::uint8_t* stored = blockStart_ >= 0 ? window_.get() + blockStart_ : nullptr;
    const std::uint64_t storedLen = static_cast<std::uint64_t>(strStart_ - blockStart_);
    flagBuf_[lastFlags_] = flags_; // the flags of the last (up to seven) symbols

    buildTree(lDesc_);
    buildTree(dDesc_);
    const int maxBlIndex = buildBlTree();

    std::uint64_t optLenBytes = (optLen_ + 3 + 7) >> 3;
    const std::uint64_t staticLenBytes = (staticLen_ + 3 + 7) >> 3;
    if (staticLenBytes <= optLenBytes)
        optLenBytes = staticLenBytes;

    const unsigned last = eof ? 1 : 0;
    if (storedLen + 4 <= optLenBytes && stored != nullptr) {
        // Raw bytes are cheaper, and they are still in the window.
        sendBits((kStoredBlock << 1) + last, 3);
        expectedBits_ = ((expectedBits_ + 3 + 7) & ~std::uint64_t{7}) + (storedLen + 4) * 8;
        copyStored(stored, storedLen);
    } else if (staticLenBytes == optLenBytes) {
        sendBits((kStaticTrees << 1) + last, 3);
        compressBlock(staticLTree_.data(), staticDTree_.data());
        expectedBits_ += 3 + staticLen_;
    } else {
        sendBits((kDynamicTrees << 1) + last, 3);
        sendAllTrees(lDesc_.maxCode + 1, dDesc_.maxCode + 1, maxBlIndex + 1);
        compressBlock(dynLTree_.data(), dynDTree_.data());
        expectedBits_ += 3 + optLen_;
    }
    check(expectedBits_ == bitPosition(), "bad compressed size");
    initBlock();
    if (eof) {
        alignToByte();
        expectedBits_ = (expectedBits_ + 7) & ~std::uint64_t{7};
    }
}

void Deflater::Engine::alignToByte() {
    while (bitCount_ > 0) {
        if (outPos_ == out_.size())
            flushOutput();
        out_[outPos_++] = static_cast<std::uint8_t>(bitBuffer_);
        bitBuffer_ >>= 8;
        bitCount_ = bitCount_ > 8 ? bitCount_ - 8 : 0;
    }
    bitBuffer_ = 0;
}

// A stored block's body: byte alignment, LEN, NLEN and the raw bytes.
void Deflater::Engine::copyStored(const std::uint8_t* data, std::size_t length) {
    check(length <= 0xFFFF, "invalid length");
    alignToByte();
    sendBits(static_cast<std::uint32_t>(length | ((~length & 0xFFFF) << 16)), 32);
    while (length > 0) {
        if (outPos_ == out_.size())
            flushOutput();
        const std::size_t n = std::min(length, out_.size() - outPos_);
        std::memcpy(out_.data() + outPos_, data, n);
        outPos_ += n;
        data += n;
        length -= n;
    }
}

void Deflater::Engine::flushOutput() {
    if (outPos_ == 0)
        return;
    if (!stream_->write(out_.first(outPos_)))
        throw WriteError{};
    bytesOut += outPos_;
    outPos_ = 0;
}

namespace {

// Reads from a buffer and collects the output.
class BufferStream final : public DeflateStream {
public:
    explicit BufferStream(std::span<const std::uint8_t> input) : input_(input) {}

    std::ptrdiff_t read(std::span<std::uint8_t> buffer) override {
        const std::size_t n = std::min(buffer.size(), input_.size());
        std::copy_n(input_.begin(), n, buffer.begin());
        input_ = input_.subspan(n);
        return static_cast<std::ptrdiff_t>(n);
    }
    bool write(std::span<const std::uint8_t> data) override {
        output.insert(output.end(), data.begin(), data.end());
        return true;
    }

    std::vector<std::uint8_t> output;

private:
    std::span<const std::uint8_t> input_;
};

constexpr std::size_t kBufferOutputPiece = 16 * 1024;

} // namespace

Deflater::Deflater() : engine_(std::make_unique<Engine>()) {}

Deflater::~Deflater() = default;

Deflater::Result Deflater::compress(int level, DeflateStream& stream,
                                    std::span<std::uint8_t> outputBuffer) {
    error_.clear();
    if (outputBuffer.size() < 64) {
        error_ = "output buffer too small";
        return Result::internalError;
    }
    return engine_->run(level, stream, outputBuffer, error_);
}

std::optional<std::vector<std::uint8_t>> Deflater::compress(int level,
                                                            std::span<const std::uint8_t> input) {
    BufferStream stream(input);
    // Compressed data rarely grows by more than a few bytes per stored block.
    stream.output.reserve(input.size() / 2 + 64);
    std::array<std::uint8_t, kBufferOutputPiece> piece;
    if (compress(level, stream, piece) != Result::ok)
        return std::nullopt;
    return std::move(stream.output);
}

std::uint64_t Deflater::bytesIn() const {
    return engine_->bytesIn;
}

std::uint64_t Deflater::bytesOut() const {
    return engine_->bytesOut;
}

std::uint16_t Deflater::generalPurposeFlags(int level) {
    if (level >= 8)
        return 0x0002;
    if (level <= 2)
        return 0x0004;
    return 0;
}

} // namespace norv::archive
