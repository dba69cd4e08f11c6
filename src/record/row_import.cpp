#include "record/row_import.h"

namespace tolvane::record {

Result<ImportReport> importRowsInto(UnitsTable& units, const std::vector<RecordEntry>& rows)
{
    ImportReport report;
    for (const auto& row : rows) {
        const auto holders = units.add(row);
        if (!holders)
            return holders.failure();
        for (const auto& [identity, holder] : *holders) {
            // Earlier records gave one serial number to many units: it stays with the first.
            if (identity == Identity::Mac)
                report.duplicates.push_back("MAC " + *row.mac + " of unit " + row.unit + " (" +
                                            isoUtcTime(row.time) + ", " + row.target +
                                            ") is already held by unit " + holder.unit + " (" +
                                            isoUtcTime(holder.time) + ", " + holder.target + ")");
        }
        ++report.rows;
    }
    return report;
}

} // namespace tolvane::record
