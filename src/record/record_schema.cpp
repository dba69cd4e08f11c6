#include "record/record_schema.h"

#include "record/sql_transaction.h"

#include <string_view>
#include <utility>

namespace tolvane::record {

namespace {

std::string unitsSchema(const SqlDialect& dialect)
{
    // One row per unit and outcome. mac_in_use marks the one row that holds a MAC address: an
    // "ok" row, or a "pending" row whose unit has no outcome yet. The unique index makes the
    // database itself refuse a second holder.
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

// Looks at the database under the transaction, creating the record in an empty one.
Result<void> checkOrCreate(SqlConnection& db, const std::string& location, bool readOnly)
{
    const SqlDialect& dialect = db.dialect();
    if (*dialect.schemaLock) {
        if (auto locked = db.execute(dialect.schemaLock); !locked)
            return locked;
    }
    const auto layout = db.inspectLayout();
    if (!layout)
        return layout.failure();
    if (auto usable = checkLayout(*layout, location, readOnly, dialect); !usable)
        return usable;
    if (layout->marked)
        return {};
    return db.execute(unitsSchema(dialect) + db.markScript(SchemaVersion));
}

} // namespace

Result<void> prepareRecordSchema(SqlConnection& db, const std::string& location, bool readOnly)
{
    // Under the write lock, so two programs opening a new record never both create it; taking the
    // lock also proves the record can be written before anything is sent.
    auto transaction = SqlTransaction::begin(db, readOnly ? "BEGIN" : db.dialect().beginWrite);
    if (!transaction)
        return transaction.failure();
    if (auto checked = checkOrCreate(db, location, readOnly); !checked)
        return checked;
    if (readOnly)
        return transaction->rollback();
    if (auto committed = transaction->commit(); !committed)
        return committed;
    if (*db.dialect().afterWritableOpen)
        return db.execute(db.dialect().afterWritableOpen);
    return {};
}

} // namespace tolvane::record
