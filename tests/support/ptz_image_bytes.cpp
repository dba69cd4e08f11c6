#include "support/ptz_image_bytes.h"

namespace tolvane::test {

std::uint32_t littleEndianWordSum(const std::vector<std::uint8_t>& bytes)
{
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i + 4 <= bytes.size(); i += 4) {
        sum += std::uint32_t{bytes[i]} | (std::uint32_t{bytes[i + 1]} << 8) |
               (std::uint32_t{bytes[i + 2]} << 16) | (std::uint32_t{bytes[i + 3]} << 24);
    }
    return sum;
}

std::vector<std::uint8_t> validPtzImageBytes()
{
    std::vector<std::uint8_t> bytes(PtzImageSize);
    for (std::size_t i = 4; i < bytes.size(); ++i)
        bytes[i] = static_cast<std::uint8_t>(i * 13 + 5);
    const std::uint32_t check = 0u - littleEndianWordSum(bytes);
    for (std::size_t b = 0; b < 4; ++b)
        bytes[b] = static_cast<std::uint8_t>(check >> (8 * b));
    return bytes;
}

} // namespace tolvane::test
