#include "record/production_record.h"

#include "record/postgres_record.h"
#include "record/sqlite_record.h"

namespace tolvane::record {

namespace {

bool endsWith(const std::string& text, const std::string& suffix)
{
    return text.size() >= suffix.size() &&
           text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

} // namespace

Result<std::unique_ptr<ProductionRecord>> openProductionRecord(const std::string& location,
                                                               const RecordOptions& options)
{
    if (endsWith(location, ".jsonl"))
        return Failure(0, location +
                              " is a JSON-lines record of an earlier Tolvane; move it into a "
                              "database with: tolvane-cli record import " +
                              location + " --into units.db");
    if (isPostgresLocation(location))
        return openPostgresRecord(location, options);
    return openSqliteRecord(location, options);
}

} // namespace tolvane::record
