#pragma once

#include "core/base/failure.h"
#include "core/image/version_number.h"

#include <cstdint>
#include <iostream>
#include <span>
#include <string>

namespace tolvane {

// Results of readImageVersion that are not version numbers. A version number always has its low
// byte 0, so it can never be -1 or -2; 0 (version 0.0.0) is indistinguishable from an unreadable
// file there, which readVersion tells apart.
inline constexpr std::int32_t VersionFileUnreadable = 0;
inline constexpr std::int32_t VersionImageInvalid = -1;
inline constexpr std::int32_t VersionOutOfMemory = -2;

// Reads the "$version: X.Y.Z" tag from the gzip member inside a firmware image (image_layout.h) and
// returns packVersion(X, Y, Z); 0.0.0 is a version like any other. A failure names its message:
// InvalidData for a file that cannot be read (with errno), NoImageFile for one that holds no
// readable version, OutOfMemoryReadingImage. Decoder diagnostics are written to `diagnostics`.
Result<std::int32_t> readVersion(const std::string& path, bool applicationOnly,
                                 std::ostream& diagnostics = std::cout);
// The same over an image already in memory; failures name it `name`.
Result<std::int32_t> readVersion(std::span<const std::uint8_t> image, bool applicationOnly,
                                 std::ostream& diagnostics, const std::string& name = "image");

// A result of readVersion as one number, as the download routines take it: the version, or the
// result above for its failure.
std::int32_t versionNumberOf(const Result<std::int32_t>& version);
// readVersion's result as one number.
std::int32_t readImageVersion(const std::string& path, bool applicationOnly,
                              std::ostream& diagnostics = std::cout);

} // namespace tolvane
