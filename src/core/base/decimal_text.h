#pragma once

#include "core/base/failure.h"

#include <cstddef>
#include <cstdint>
#include <limits>
#include <string_view>

namespace tolvane {

inline constexpr std::size_t AnyDigitCount = std::numeric_limits<std::size_t>::max();

// A number written in decimal digits only (leading zeros allowed), at most `maximum` and in at
// most maxDigits digits. The failure is EINVAL when the text is empty or holds anything but
// digits, ERANGE when it is digits only but too many of them or too large a number.
Result<std::uint64_t> parseDecimal(std::string_view text, std::uint64_t maximum,
                                   std::size_t maxDigits = AnyDigitCount);

// Whether a '+' may stand where a '-' may.
enum class PlusSign { Refused, Allowed };

// A 32-bit integer: an optional sign, then digits as parseDecimal reads them (maxDigits counts
// the digits, not the sign). Failures as parseDecimal's.
Result<std::int32_t> parseDecimalInt32(std::string_view text, PlusSign plus,
                                       std::size_t maxDigits = AnyDigitCount);

} // namespace tolvane
