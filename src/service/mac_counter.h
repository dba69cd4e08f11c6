#pragma once

#include "core/image/mac_address.h"

#include <mutex>
#include <string>

namespace tolvane::service {

// The MAC addresses the units of one run take in turn, in the order they reserve them, each
// address once: a unit whose address another bench holds takes the next one.
class MacCounter {
public:
    explicit MacCounter(const std::string& first) : m_next(splitMacAddress(first)) {}

    std::string take();
    // The address the next unit would take.
    std::string next() const;

private:
    mutable std::mutex m_mutex;
    MacPair m_next;
};

} // namespace tolvane::service
