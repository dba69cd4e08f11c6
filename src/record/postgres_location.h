#pragma once

#include <string>

namespace tolvane::record {

// Whether location names a PostgreSQL server: a URI ("postgresql://...", "postgres://...") or
// libpq's keywords ("host=/run/postgresql dbname=units").
bool isPostgresLocation(const std::string& location);

// The location as messages show it: without a password, should one be written in it.
std::string withoutPassword(const std::string& location);

} // namespace tolvane::record
