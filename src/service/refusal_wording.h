#pragma once

#include "service/unit_outcome.h"

#include <string>

namespace tolvane::service {

// The words every batch front end uses for a MAC address or serial number it did not send: the
// record's detail, then what was held back and how to send it anyway.
std::string refusalText(const Refusal& refusal);
// The same words without the command line's options, for a front end that has none.
std::string plainRefusalText(const Refusal& refusal);

} // namespace tolvane::service
