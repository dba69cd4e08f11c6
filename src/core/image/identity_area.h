#pragma once

#include "core/base/byte_order.h"
#include "core/image/mac_address.h"

#include <cstddef>
#include <cstdint>

namespace tolvane {

// Where an integrated image keeps the unit's identity: the MAC address as its two 24-bit halves,
// little-endian words at 0xFF80 and 0xFF84, then the serial number as a big-endian word at 0xFF88.
inline constexpr std::size_t IdentityAreaOffset = 0xFF80;
inline constexpr std::size_t IdentityAreaSize = 12;
// An integrated image must reach at least this far.
inline constexpr std::uint64_t IdentityAreaEnd = IdentityAreaOffset + IdentityAreaSize;

struct IdentityBytes {
    MacPair mac;
    std::uint32_t serialNumber = 0;
};

// area: the IdentityAreaSize bytes at IdentityAreaOffset.
inline IdentityBytes readIdentityArea(const std::uint8_t* area)
{
    return {{loadLe32(area), loadLe32(area + 4)}, loadBe32(area + 8)};
}

inline void writeIdentityMac(std::uint8_t* area, MacPair mac)
{
    storeLe32(area, mac.upper);
    storeLe32(area + 4, mac.lower);
}

inline void writeIdentitySerial(std::uint8_t* area, std::uint32_t serialNumber)
{
    storeBe32(area + 8, serialNumber);
}

} // namespace tolvane
