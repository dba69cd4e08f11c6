#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace tolvane::service {

// Length of the valid UTF-8 sequence starting at text[i] (1 for ASCII), or 0 when the bytes there
// are not valid UTF-8 (cut, overlong, surrogate or beyond U+10FFFF).
std::size_t utf8SequenceLength(std::string_view text, std::size_t i);

// Text taken from a file, made safe to print on a terminal: control bytes (below 0x20 and 0x7F),
// C1 control characters and bytes that are not valid UTF-8 are written as \xNN, so a name in a
// file cannot move the cursor, retitle the window or clear the screen.
std::string printableText(std::string_view text);

} // namespace tolvane::service
