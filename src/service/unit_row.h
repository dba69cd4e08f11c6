#pragma once

#include "core/base/failure.h"
#include "record/production_record.h"
#include "record/unit_record.h"

#include <optional>
#include <string>

namespace tolvane::service {

// The production record's side of one unit: every call the service makes on the record, in one
// place, with its failures as Failure.
class UnitRow {
public:
    // fields: what every row of the unit carries (target, type, file, digest, serial).
    UnitRow(record::ProductionRecord& record, record::RecordEntry fields);

    // Reserves mac for this unit with a pending row: nothing when it was free, the row that holds
    // it when another unit has it.
    Result<std::optional<record::RecordEntry>> reserve(const std::string& mac, bool allowReused);
    // Writes how the unit ended.
    Result<void> finish(const char* result, const std::string& message, double seconds,
                        const std::optional<std::string>& version);

    // "MAC address ... is already used by unit ...: ok on ... at ... in LOCATION"
    std::string macUsedText(const std::string& mac, const record::RecordEntry& holder) const;

private:
    record::ProductionRecord& m_record;
    record::UnitRecord m_unit;
};

} // namespace tolvane::service
