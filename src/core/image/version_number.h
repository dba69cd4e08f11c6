#pragma once

#include <cstdint>
#include <string>

namespace tolvane {

// A firmware version X.Y.Z as the recorder takes it: ((X * 256 + Y) * 256 + Z) * 256 in wrapping
// 32-bit arithmetic, so its low byte is always 0.
constexpr std::int32_t packVersion(std::uint32_t major, std::uint32_t minor, std::uint32_t patch)
{
    return static_cast<std::int32_t>(((major * 256u + minor) * 256u + patch) * 256u);
}

// An application-only image of version 3.7.x is announced to the recorder as 3.5.x.
inline std::int32_t announcedApplicationVersion(std::int32_t version)
{
    const auto bits = static_cast<std::uint32_t>(version);
    if ((bits >> 16) != 0x0307u)
        return version;
    return static_cast<std::int32_t>((bits & 0xFF00FFFFu) + 0x00050000u);
}

// "3.5.1" for 0x03050100.
inline std::string formatVersion(std::int32_t version)
{
    const auto bits = static_cast<std::uint32_t>(version);
    return std::to_string(bits >> 24) + "." + std::to_string((bits >> 16) & 0xFFu) + "." +
           std::to_string((bits >> 8) & 0xFFu);
}

} // namespace tolvane
