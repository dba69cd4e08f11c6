#include "record/record_schema.h"

#include "record/sql_transaction.h"
#include "record/units_table.h"

#include <string_view>
#include <utility>

namespace tolvane::record {

namespace {

// Version 1: one row per unit and outcome. mac_in_use marks the one row that holds a MAC address;
// the unique index makes the database itself refuse a second holder.
std::string firstSchema(const SqlDialect& dialect)
{
    std::string schema = R"(
CREATE TABLE units (
    id ID_COLUMN,
    time TEXT NOT NULL,
    target TEXT NOT NULL,
    type TEXT NOT NULL,
    file TEXT,
    sha256 TEXT,
    version TEXT,
    mac TEXT,
    serial INTEGER_COLUMN,
    unit TEXT NOT NULL,
    result TEXT NOT NULL,
    message TEXT NOT NULL,
    duration_s REAL_COLUMN NOT NULL,
    mac_in_use INTEGER NOT NULL DEFAULT 0 CHECK (mac_in_use IN (0, 1))
);
CREATE UNIQUE INDEX units_used_mac ON units (mac) WHERE mac_in_use = 1;
CREATE INDEX units_mac ON units (mac);
CREATE INDEX units_unit ON units (unit);
CREATE INDEX units_time ON units (time);
)";
    const auto& types = dialect.columnTypes;
    for (const auto& [name, type] : {std::pair{"ID_COLUMN", types.id},
                                     {"INTEGER_COLUMN", types.integer},
                                     {"REAL_COLUMN", types.real}})
        schema.replace(schema.find(name), std::string_view(name).size(), type);
    return schema;
}

// The columns version 2 added, and what a record of version 1 reads as holding in them.
const struct {
    const char* name;
    const char* definition;
    const char* absent;
} SecondColumns[] = {
    {"bench", "TEXT", "NULL"},
    {"operator", "TEXT", "NULL"},
    {"tool_version", "TEXT", "NULL"},
    {"serial_in_use", "INTEGER NOT NULL DEFAULT 0 CHECK (serial_in_use IN (0, 1))", "0"},
};

// Version 2: where each row came from, and serial numbers held as MAC addresses are. The serials
// of a version-1 record are held by the first row that counts, as its MACs are.
std::string secondSchema()
{
    std::string schema;
    for (const auto& column : SecondColumns)
        schema += std::string("ALTER TABLE units ADD COLUMN ") + column.name + " " +
                  column.definition + ";\n";
    return schema + "UPDATE units SET serial_in_use = 1 WHERE id IN (SELECT min(id) FROM units " +
           "AS row WHERE row.serial IS NOT NULL AND " + RowStillCounts +
           " GROUP BY row.serial);\n" +
           "CREATE UNIQUE INDEX units_used_serial ON units (serial) WHERE serial_in_use = 1;\n"
           "CREATE INDEX units_serial ON units (serial);\n";
}

// The statements that bring a record of version `from` (0: none yet) to this program's.
std::string upgradeScript(int from, const SqlDialect& dialect)
{
    std::string script;
    if (from < 1)
        script += firstSchema(dialect);
    if (from < 2)
        script += secondSchema();
    return script;
}

// Refuses a database that is not a record, or a record of a newer program.
Result<void> checkLayout(const StoredLayout& layout, const std::string& location, bool readOnly,
                         const SqlDialect& dialect)
{
    if (!layout.marked && (!layout.empty || readOnly))
        return Failure(0, location + (layout.empty ? dialect.emptyDatabaseText
                                                   : " is not a Tolvane production record"));
    if (layout.marked && layout.schemaVersion > SchemaVersion)
        return Failure(0, location + " holds a production record of schema version " +
                              std::to_string(layout.schemaVersion) +
                              ", written by a newer Tolvane; this one reads up to " +
                              std::to_string(SchemaVersion));
    return {};
}

// Looks at the database under the transaction, creating the record in an empty one and
// upgrading an older one unless readOnly; the version the record then has.
Result<int> checkOrCreate(SqlConnection& db, const std::string& location, bool readOnly)
{
    const SqlDialect& dialect = db.dialect();
    if (*dialect.schemaLock) {
        if (auto locked = db.execute(dialect.schemaLock); !locked)
            return locked.failure();
    }
    const auto layout = db.inspectLayout();
    if (!layout)
        return layout.failure();
    if (auto usable = checkLayout(*layout, location, readOnly, dialect); !usable)
        return usable.failure();
    const int stored = layout->marked ? layout->schemaVersion : 0;
    if (stored == SchemaVersion || readOnly)
        return stored;
    if (auto upgraded = db.execute(upgradeScript(stored, dialect) + db.markScript(SchemaVersion));
        !upgraded)
        return upgraded.failure();
    return SchemaVersion;
}

} // namespace

Result<int> prepareRecordSchema(SqlConnection& db, const std::string& location, bool readOnly)
{
    // Under the write lock, so two programs opening a new record never both create it; taking the
    // lock also proves the record can be written before anything is sent.
    auto transaction = SqlTransaction::begin(db, readOnly ? "BEGIN" : db.dialect().beginWrite);
    if (!transaction)
        return transaction.failure();
    const auto version = checkOrCreate(db, location, readOnly);
    if (!version)
        return version;
    if (readOnly) {
        if (auto ended = transaction->rollback(); !ended)
            return ended.failure();
        return version;
    }
    if (auto committed = transaction->commit(); !committed)
        return committed.failure();
    if (*db.dialect().afterWritableOpen) {
        if (auto done = db.execute(db.dialect().afterWritableOpen); !done)
            return done.failure();
    }
    return version;
}

std::string unitsSource(int schemaVersion)
{
    if (schemaVersion >= SchemaVersion)
        return "units";
    std::string columns;
    for (const auto& column : SecondColumns)
        columns += std::string(", ") + column.absent + " AS " + column.name;
    return "(SELECT *" + columns + " FROM units) AS units";
}

} // namespace tolvane::record
