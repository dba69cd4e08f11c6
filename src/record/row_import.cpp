#include "record/row_import.h"

namespace tolvane::record {

Result<ImportReport> importRowsInto(UnitsTable& units, const std::vector<RecordEntry>& rows)
{
    ImportReport report;
    for (const auto& row : rows) {
        const auto holder = units.add(row);
        if (!holder)
            return holder.failure();
        if (*holder)
            report.duplicates.push_back(
                "MAC " + *row.mac + " of unit " + row.unit + " (" + isoUtcTime(row.time) + ", " +
                row.target + ") is already held by unit " + (*holder)->unit + " (" +
                isoUtcTime((*holder)->time) + ", " + (*holder)->target + ")");
        ++report.rows;
    }
    return report;
}

} // namespace tolvane::record
