#pragma once

#include "core/base/failure.h"
#include "record/production_record.h"
#include "record/unit_record.h"

#include <cstdint>
#include <optional>
#include <string>

namespace tolvane::service {

// The production record's side of one unit: every call the service makes on the record, in one
// place, with its failures as Failure.
class UnitRow {
public:
    // fields: what every row of the unit carries (target, type, file, digest, serial).
    UnitRow(record::ProductionRecord& record, record::RecordEntry fields);

    // Reserves the unit's MAC address and serial number with a pending row.
    record::Reservation reserve(const std::optional<std::string>& mac,
                                std::optional<std::uint32_t> serial, record::ReuseAllowed allowed);
    // Writes how the unit ended.
    Result<void> finish(const char* result, const std::string& message, double seconds,
                        const std::optional<std::string>& version);

    // "MAC address ... is already used by unit ...: ok on ... at ... in LOCATION", for a
    // reservation refused as used.
    std::string usedText(const record::Reservation& refused) const;
    const std::string& location() const { return m_record.location(); }

private:
    record::ProductionRecord& m_record;
    record::UnitRecord m_unit;
};

} // namespace tolvane::service
