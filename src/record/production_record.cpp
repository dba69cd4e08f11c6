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

std::unique_ptr<ProductionRecord>
openProductionRecord(const std::string& location, std::string* error, const RecordOptions& options)
{
    if (endsWith(location, ".jsonl")) {
        if (error)
            *error = location +
                     " is a JSON-lines record of an earlier Tolvane; move it into a database "
                     "with: tolvane-cli record import " +
                     location + " --into units.db";
        return nullptr;
    }
    if (isPostgresLocation(location))
        return openPostgresRecord(location, error, options);
    return openSqliteRecord(location, error, options);
}

} // namespace tolvane::record
