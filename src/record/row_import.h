#pragma once

#include "record/units_table.h"

namespace tolvane::record {

// Adds the rows in their order, inside the caller's transaction: a row whose MAC another unit
// holds goes in without holding it and is reported. On a failure the caller abandons the
// transaction.
Result<ImportReport> importRowsInto(UnitsTable& units, const std::vector<RecordEntry>& rows);

} // namespace tolvane::record
