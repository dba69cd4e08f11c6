#pragma once

#include "core/base/failure.h"

#include <cstdint>
#include <iostream>
#include <span>
#include <string>

namespace tolvane {

// Results of readImageVersion that are not version numbers. A version number always has its low
// byte 0, so it can never be -1 or -2; 0 (version 0.0.0) is indistinguishable from an unreadable
// file.
inline constexpr std::int32_t VersionFileUnreadable = 0;
inline constexpr std::int32_t VersionImageInvalid = -1;
inline constexpr std::int32_t VersionOutOfMemory = -2;

// Reads the "$version: X.Y.Z" tag from the gzip member inside a firmware image and returns
// ((X * 256 + Y) * 256 + Z) * 256 in wrapping 32-bit arithmetic. A failure names its message:
// InvalidData for a file that cannot be read (with errno), NoImageFile for one that holds no
// readable version, OutOfMemoryReadingImage. Decoder diagnostics are written to `diagnostics`.
Result<std::int32_t> readVersion(const std::string& path, bool applicationOnly,
                                 std::ostream& diagnostics = std::cout);
// The same over an image already in memory; failures name it `name`.
Result<std::int32_t> readVersion(std::span<const std::uint8_t> image, bool applicationOnly,
                                 std::ostream& diagnostics, const std::string& name = "image");

// The same as one number, as the download routines take it: a version, or one of the results
// above.
std::int32_t readImageVersion(const std::string& path, bool applicationOnly,
                              std::ostream& diagnostics = std::cout);

// An application-only image of version 3.7.x is announced to the recorder as 3.5.x.
std::int32_t announcedApplicationVersion(std::int32_t version);

// "3.5.1" for 0x03050100.
std::string formatVersion(std::int32_t version);

} // namespace tolvane
