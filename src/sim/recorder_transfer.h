#pragma once

#include "sim/simulator.h"

#include <functional>
#include <string>

namespace tolvane::sim {

// Answers where a received payload was kept, or "".
using SavePayload = std::function<std::string(const ReceivedTransfer&)>;

// Speaks the recorder's side of one transfer on the connected socket fd, which it owns, going
// wrong where options.fault says. Returns what it saw once the connection is closed; a readable
// wakeFd ends every wait.
ReceivedTransfer serveTransfer(int fd, int wakeFd, const SimulatorOptions& options,
                               const SavePayload& save);

} // namespace tolvane::sim
