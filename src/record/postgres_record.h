#pragma once

#include "record/production_record.h"

namespace tolvane::record {

// Whether location names a PostgreSQL server: a URI ("postgresql://...", "postgres://...") or
// libpq's keywords ("host=/run/postgresql dbname=units").
bool isPostgresLocation(const std::string& location);

// The production record on a PostgreSQL server, through libpq: shared by every bench that reaches
// the server. The password comes from PGPASSWORD or ~/.pgpass, never from the command line.
std::unique_ptr<ProductionRecord>
openPostgresRecord(const std::string& location, std::string* error, const RecordOptions& options);

} // namespace tolvane::record
