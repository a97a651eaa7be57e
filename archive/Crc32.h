#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace norv::archive {

// The ZIP / ISO 3309 CRC-32: reflected polynomial 0xEDB88320, initial value and final
// value complemented. Fed piecewise while a file is read.
class Crc32 {
public:
    void update(std::span<const std::uint8_t> data);
    std::uint32_t value() const { return ~state_; }
    void reset() { state_ = 0xFFFFFFFFu; }

    static std::uint32_t of(std::span<const std::uint8_t> data) {
        Crc32 crc;
        crc.update(data);
        return crc.value();
    }

private:
    std::uint32_t state_ = 0xFFFFFFFFu;
};

} // namespace norv::archive
