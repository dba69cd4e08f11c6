#pragma once

#include "record/sql_driver.h"

#include <string>

namespace tolvane::record {

// The version of the record's layout. 2 added where a row came from (bench, operator,
// tool_version) and serial numbers held as MAC addresses are (serial_in_use).
inline constexpr int SchemaVersion = 2;

// Checks the database at location is a record this program can use, creating the table in a new
// one and upgrading an older one in place (unless readOnly), each in one transaction. One program
// at a time looks and creates; nothing is written to a database that is not a record. Answers the
// schema version the record now has.
Result<int> prepareRecordSchema(SqlConnection& db, const std::string& location, bool readOnly);

// What statements that read rows select from: the table, or in a record of an older schema
// version read as it is, the table with the columns it lacks added as if they held nothing.
std::string unitsSource(int schemaVersion);

} // namespace tolvane::record
