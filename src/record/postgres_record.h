#pragma once

#include "record/postgres_location.h"
#include "record/production_record.h"

namespace tolvane::record {

// The production record on a PostgreSQL server, through libpq: shared by every bench that reaches
// the server. The password comes from PGPASSWORD or ~/.pgpass, never from the command line.
Result<std::unique_ptr<ProductionRecord>> openPostgresRecord(const std::string& location,
                                                             const RecordOptions& options);

} // namespace tolvane::record
