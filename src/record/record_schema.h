#pragma once

#include "record/sql_driver.h"

#include <string>

namespace tolvane::record {

// The version of the record's layout; a later program that changes it upgrades older records.
inline constexpr int SchemaVersion = 1;

// Checks the database at location is a record this program can use, creating the table in a new
// one (unless readOnly). One program at a time looks and creates; nothing is written to a
// database that is not a record.
Result<void> prepareRecordSchema(SqlConnection& db, const std::string& location, bool readOnly);

} // namespace tolvane::record
