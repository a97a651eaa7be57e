#include "platform/com/Guid.h"

#include <cstdio>

namespace norv::com {

std::string GUID::toString() const {
    char buffer[40];
    std::snprintf(buffer, sizeof buffer, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  static_cast<unsigned>(Data1), static_cast<unsigned>(Data2),
                  static_cast<unsigned>(Data3), Data4[0], Data4[1], Data4[2], Data4[3], Data4[4],
                  Data4[5], Data4[6], Data4[7]);
    return buffer;
}

std::array<std::uint8_t, 16> GUID::toBytes() const {
    std::array<std::uint8_t, 16> b{};
    for (int i = 0; i < 4; ++i)
        b[i] = static_cast<std::uint8_t>(Data1 >> (8 * i));
    for (int i = 0; i < 2; ++i) {
        b[4 + i] = static_cast<std::uint8_t>(Data2 >> (8 * i));
        b[6 + i] = static_cast<std::uint8_t>(Data3 >> (8 * i));
    }
    for (int i = 0; i < 8; ++i)
        b[8 + i] = Data4[i];
    return b;
}

GUID GUID::fromBytes(const std::uint8_t* b) {
    GUID g;
    g.Data1 = static_cast<std::uint32_t>(b[0]) | (static_cast<std::uint32_t>(b[1]) << 8) |
              (static_cast<std::uint32_t>(b[2]) << 16) | (static_cast<std::uint32_t>(b[3]) << 24);
    g.Data2 = static_cast<std::uint16_t>(b[4] | (b[5] << 8));
    g.Data3 = static_cast<std::uint16_t>(b[6] | (b[7] << 8));
    for (int i = 0; i < 8; ++i)
        g.Data4[i] = b[8 + i];
    return g;
}

} // namespace norv::com
