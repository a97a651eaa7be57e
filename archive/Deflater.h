#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace norv::archive {

// Where a Deflater takes its input from and where its output goes.
class DeflateStream {
public:
    // Reads up to buffer.size() bytes into buffer: the count read, 0 at the end of the
    // input, or -1 when reading failed.
    virtual std::ptrdiff_t read(std::span<std::uint8_t> buffer) = 0;
    // Takes the next piece of compressed output; false when it could not be stored.
    virtual bool write(std::span<const std::uint8_t> data) = 0;

protected:
    ~DeflateStream() = default;
};

// A raw RFC 1951 compressor in the classic hash-chain form: 32 KiB of history in a 64 KiB
// sliding window, a 15-bit rolling hash over three bytes, greedy matching at levels 1 to 3
// and lazy evaluation from level 4, 32768-entry symbol buffers, and for every block the
// cheapest of a stored, a fixed-code and a dynamic-code block.
//
// All state (window, hash tables, symbol buffers) is allocated once, by the constructor,
// and reused by every compress() call.
class Deflater {
public:
    enum class Result {
        ok,
        readFailed,    // the stream's read reported an error
        writeFailed,   // the stream's write refused output
        internalError, // a consistency check failed; errorText() says which
    };

    static constexpr int minLevel = 1;
    static constexpr int maxLevel = 8;

    Deflater();
    ~Deflater();
    Deflater(const Deflater&) = delete;
    Deflater& operator=(const Deflater&) = delete;

    // Compresses everything stream.read() delivers into one raw deflate stream ending with
    // a final block on a byte boundary. Output is collected in outputBuffer and handed to
    // stream.write() whenever the buffer is full and at the end. outputBuffer needs room
    // for at least 64 bytes.
    Result compress(int level, DeflateStream& stream, std::span<std::uint8_t> outputBuffer);

    // Compresses all of `input` into one raw deflate stream: the bytes the stream form gives
    // for the same input. nullopt (with errorText()) when the level is outside
    // minLevel..maxLevel or a consistency check fails.
    std::optional<std::vector<std::uint8_t>> compress(int level,
                                                      std::span<const std::uint8_t> input);

    // The text of the failed consistency check after Result::internalError ("bad pack
    // level" for a level outside minLevel..maxLevel); empty otherwise.
    const std::string& errorText() const { return error_; }

    // Bytes consumed and produced by the last compress() call.
    std::uint64_t bytesIn() const;
    std::uint64_t bytesOut() const;

    // The ZIP general-purpose flag bits that describe the level: 0x0002 for the maximum
    // levels (8 and above), 0x0004 for the fast ones (2 and below), 0 otherwise.
    static std::uint16_t generalPurposeFlags(int level);

private:
    class Engine;
    std::unique_ptr<Engine> engine_;
    std::string error_;
};

} // namespace norv::archive
