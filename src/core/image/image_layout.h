#pragma once

#include <cstddef>
#include <cstdint>

namespace tolvane {

// Where a firmware image keeps its version: a header whose first word is the length of a gzip
// member (little-endian), then the member, whose text holds "$version: X.Y.Z". An integrated image
// has them at these offsets, an application-only image ApplicationOnlyShift bytes earlier.
inline constexpr std::uint64_t VersionHeaderOffset = 0x1CF80;
inline constexpr std::uint64_t VersionMemberOffset = 0x1D000;
inline constexpr std::uint64_t ApplicationOnlyShift = 0x10000;
inline constexpr std::size_t VersionHeaderSize = 60;
// A member whose text is longer does not hold a readable version.
inline constexpr std::size_t LargestVersionText = 4 * 1024 * 1024;

} // namespace tolvane
