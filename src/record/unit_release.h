#pragma once

#include "record/units_table.h"

namespace tolvane::record {

// Frees the MAC address (serial number) of request as ProductionRecord::release says, inside the
// caller's transaction; location names the record in messages.
Result<RecordEntry> releaseInto(UnitsTable& units, const RecordEntry& request,
                                const std::string& location);

} // namespace tolvane::record
