#pragma once

#include "core/base/failure.h"
#include "core/download/download_routines.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tolvane {

inline constexpr std::uint16_t DefaultPort = 5000;

// How an address is read. Strict: four decimal numbers 0-255 without leading zeros and nothing
// around them, so equal addresses have equal text (the command line, where an address is a key).
// Lenient: blanks around and leading zeros are allowed, as the main window's field takes them; the
// answer is the plain form all the same ("192.168.000.001" gives "192.168.0.1").
enum class AddressForm { Strict, Lenient };

// The plain dotted-quad form of an IPv4 address, or a failure whose text says what is wrong, as
// the command line shows it.
Result<std::string> parseIpv4Address(std::string_view text, AddressForm form);
// The address of one recorder: as above, and neither 0.0.0.0 (no host) nor from 224.0.0.0 up
// (multicast, reserved and broadcast).
Result<std::string> parseRecorderAddress(std::string_view text, AddressForm form);

// "HOST[:PORT]": a recorder address in the strict form and a port 1-65535 without leading zeros,
// DefaultPort when none is given.
Result<DownloadTarget> parseTarget(std::string_view text);
// "HOST:PORT".
std::string targetText(const DownloadTarget& target);

// An unsigned decimal integer of at most maxValue: digits only, blanks allowed around them.
std::optional<std::uint32_t> parseUnsignedDecimal(std::string_view text, std::uint32_t maxValue);

} // namespace tolvane
