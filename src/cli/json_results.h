#pragma once

#include "service/unit_outcome.h"

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace tolvane::cli {

// The identity the next unit should get, as --auto-increase tells it.
struct NextIdentity {
    std::optional<std::string> mac;
    std::optional<std::uint32_t> serial;
};

// A run's results for a script: one JSON object a line on out as each unit ends, then the summary
// of the whole run. Units end on their own threads; lines are written whole, one at a time.
class JsonResults {
public:
    // targets: one per unit ("HOST:PORT").
    JsonResults(std::ostream& out, std::vector<std::string> targets);

    void unitFinished(std::size_t unit, const service::UnitOutcome& outcome);
    // {"summary": {...}}: the count of each result and the next unit's identity.
    void summary(const std::vector<service::UnitOutcome>& outcomes, const NextIdentity& next);

private:
    void writeLine(const std::string& line);

    std::ostream& m_out;
    std::vector<std::string> m_targets;
    std::mutex m_mutex;
};

} // namespace tolvane::cli
