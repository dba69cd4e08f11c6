#pragma once

#include "record/production_record.h"

#include <functional>

namespace tolvane::record {

// The steps an import takes inside one transaction, as each database does them; each answers
// false (or sets failed) when the database refused, and the import then stops.
struct ImportSteps {
    // Lets go of the MAC a unit's pending row holds, as the unit's outcome has come.
    std::function<bool(const std::string& unit)> releasePending;
    std::function<std::optional<RecordEntry>(const std::string& mac, bool& failed)> holder;
    std::function<bool(const RecordEntry& row, bool holdsMac)> insert;
    // Hands a MAC that nobody holds to the first row that still counts.
    std::function<bool(const std::string& mac)> rehold;
};

// Adds the rows in their order: a row whose MAC another unit holds goes in without holding it and
// is reported. Nothing when a step failed; the caller then abandons the transaction.
std::optional<ImportReport> importRowsWith(const std::vector<RecordEntry>& rows,
                                           const ImportSteps& steps);

} // namespace tolvane::record
