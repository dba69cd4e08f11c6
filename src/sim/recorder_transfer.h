#pragma once

#include "sim/simulator.h"

#include <cstddef>
#include <functional>
#include <string>

namespace tolvane::sim {

// The number a payload kept on disk is named after, and where the next free one comes from when
// a file has that name already.
struct PayloadNumbering {
    std::size_t number = 0;
    std::function<std::size_t()> next;
};

// Speaks the recorder's side of one transfer on the connected socket fd, which it owns, going
// wrong where options.fault says. Returns what it saw once the connection is closed; a readable
// wakeFd ends every wait.
ReceivedTransfer serveTransfer(int fd, int wakeFd, const SimulatorOptions& options,
                               const PayloadNumbering& numbering);

} // namespace tolvane::sim
