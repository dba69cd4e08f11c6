#pragma once

#include "core/image/mac_address.h"

#include <cstdint>
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

// The serial numbers the units of one run take in turn, as MacCounter gives addresses.
class SerialCounter {
public:
    explicit SerialCounter(std::uint32_t first) : m_next(first) {}

    std::uint32_t take();

private:
    std::mutex m_mutex;
    std::uint32_t m_next;
};

} // namespace tolvane::service
