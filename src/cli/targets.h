#pragma once

#include "core/download/download_routines.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tolvane::cli {

inline constexpr std::uint16_t DefaultPort = 5000;

// "HOST[:PORT]" with HOST a dotted-quad IPv4 address (four decimal numbers 0-255 written without
// leading zeros, so equal addresses have equal text) and PORT 1-65535. 0.0.0.0 and addresses from
// 224.0.0.0 up (multicast, reserved, broadcast) name no recorder and are refused. On failure
// returns nullopt with the reason in *why.
std::optional<DownloadTarget> parseTarget(std::string_view text, std::string* why = nullptr);
// The text a target is shown by: "HOST:PORT".
std::string targetText(const DownloadTarget& target);

// Reads one address a line; blank lines and text from '#' on are skipped. On failure returns
// nullopt with the reason (the line number for a bad address) in *error.
std::optional<std::vector<DownloadTarget>> readTargetsFile(const std::string& path,
                                                           std::string* error);

} // namespace tolvane::cli
