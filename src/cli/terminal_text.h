#pragma once

// Shared with the targets file reader in the service.
#include "service/terminal_text.h"

namespace tolvane::cli {

using service::printableText;
using service::utf8SequenceLength;

} // namespace tolvane::cli
