#pragma once

#include "core/download/download_routines.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace tolvane {

// The identity the unit at `index` of a run gets from the first MAC address and serial number:
// both counted up by index, in the table's order.
UnitIdentity identityAt(std::size_t index, const std::string& firstMac, bool sendMac,
                        std::uint32_t firstSerial, bool sendSerial);

// A unit sent again exactly as it was: its own MAC address and serial number, not the next free.
UnitIdentity identityAgain(const std::optional<std::string>& mac,
                           const std::optional<std::uint32_t>& serial, bool sendMac,
                           bool sendSerial);

} // namespace tolvane
