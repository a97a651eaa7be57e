#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace norv::archive::test {

// What a raw deflate stream holds, decoded by a small inflater of the tests' own: the data,
// the kind of every block (0 stored, 1 fixed codes, 2 dynamic codes) and the longest match
// and farthest distance used. ok is false, with error set, for a stream that is not valid
// or that does not end with its final block on a byte boundary at the end of the input.
struct InflateTrace {
    bool ok = false;
    std::string error;
    std::vector<std::uint8_t> data;
    std::vector<int> blockTypes;
    unsigned maxLength = 0;
    unsigned maxDistance = 0;
    std::size_t matches = 0;
};

InflateTrace traceInflate(std::span<const std::uint8_t> stream);

} // namespace norv::archive::test
