#include "record/row_import.h"

namespace tolvane::record {

std::optional<ImportReport> importRowsWith(const std::vector<RecordEntry>& rows,
                                           const ImportSteps& steps)
{
    ImportReport report;
    for (const auto& row : rows) {
        const bool pending = row.result == ResultPending;
        if (!pending && !steps.releasePending(row.unit))
            return std::nullopt;
        bool holds = false;
        if (row.mac && (pending || row.result == ResultOk)) {
            bool failed = false;
            const auto holder = steps.holder(*row.mac, failed);
            if (failed)
                return std::nullopt;
            holds = !holder;
            if (holder)
                report.duplicates.push_back("MAC " + *row.mac + " of unit " + row.unit + " (" +
                                            isoUtcTime(row.time) + ", " + row.target +
                                            ") is already held by unit " + holder->unit + " (" +
                                            isoUtcTime(holder->time) + ", " + holder->target + ")");
        }
        if (!steps.insert(row, holds) || (row.mac && !pending && !holds && !steps.rehold(*row.mac)))
            return std::nullopt;
        ++report.rows;
    }
    return report;
}

} // namespace tolvane::record
