// How a record server's database is told to be a record: the server has no application id, so a
// table of its own marks the database as a record and holds the schema version.

#include "record/postgres_connection.h"

namespace tolvane::record {

namespace {

// $1 marks and a plain BEGIN: two programs may both read a MAC as free, and the unique index lets
// only one of them hold it; the other's insert does nothing, and it looks again.
const SqlDialect PostgresDialect{
    // One program at a time looks at and creates the table.
    .schemaLock = "SELECT pg_advisory_xact_lock(7463656)",
    .columnTypes = {"BIGSERIAL PRIMARY KEY", "BIGINT", "DOUBLE PRECISION"},
    .emptyDatabaseText = " holds no Tolvane production record",
    // Compiling the report's statement to machine code takes longer than running it.
    .groupingSettings = "SET LOCAL jit = off",
};

} // namespace

const SqlDialect& PostgresConnection::dialect() const
{
    return PostgresDialect;
}

Result<StoredLayout> PostgresConnection::inspectLayout()
{
    const auto found = query("SELECT to_regclass('tolvane_record') IS NOT NULL, "
                             "to_regclass('units') IS NOT NULL");
    if (!found || found->size() != 1)
        return failure();
    StoredLayout layout;
    layout.marked = sqlText(found->front()[0]) == "t";
    layout.empty = sqlText(found->front()[1]) != "t";
    if (!layout.marked)
        return layout;
    const auto version = query("SELECT max(schema_version) FROM tolvane_record");
    if (!version)
        return version.failure();
    layout.schemaVersion = std::stoi(sqlText(version->front()[0]).value_or("0"));
    return layout;
}

std::string PostgresConnection::markScript(int schemaVersion) const
{
    // The same for a new record and an upgraded one.
    return "CREATE TABLE IF NOT EXISTS tolvane_record (schema_version INTEGER NOT NULL);\n"
           "DELETE FROM tolvane_record;\n"
           "INSERT INTO tolvane_record VALUES (" +
           std::to_string(schemaVersion) + ")";
}

} // namespace tolvane::record
