#include "record/units_table.h"

namespace tolvane::record {

namespace {

// The columns of a row, in the order every statement reads and writes them.
const std::string Columns =
    "time, target, type, file, sha256, version, mac, serial, unit, result, message, duration_s";

const std::string SelectHolder =
    "SELECT " + Columns + " FROM units WHERE mac = $1 AND mac_in_use = 1";
// A row that would hold a MAC another row holds goes in as nothing at all.
const std::string Insert = "INSERT INTO units (" + Columns +
                           ", mac_in_use) VALUES ($1, $2, $3, $4, $5, $6, $7, $8, $9, $10, $11, "
                           "$12, $13) ON CONFLICT (mac) WHERE mac_in_use = 1 DO NOTHING "
                           "RETURNING id";
const std::string ReleasePending =
    "UPDATE units SET mac_in_use = 0 WHERE unit = $1 AND result = 'pending'";
// Hands a MAC that nobody holds to the first row that still counts: an "ok" row, or a "pending"
// row whose unit has no outcome yet.
const std::string Rehold = R"(
    UPDATE units SET mac_in_use = 1 WHERE id = (
        SELECT id FROM units AS row WHERE row.mac = $1 AND (row.result = 'ok' OR
            (row.result = 'pending' AND NOT EXISTS (SELECT 1 FROM units AS later
                WHERE later.unit = row.unit AND later.result != 'pending')))
        ORDER BY id LIMIT 1)
    AND NOT EXISTS (SELECT 1 FROM units WHERE mac = $1 AND mac_in_use = 1))";
const std::string Select = "SELECT " + Columns +
                           " FROM units WHERE (CAST($1 AS TEXT) IS NULL OR mac = $1) AND "
                           "(CAST($2 AS TEXT) IS NULL OR time >= $2) ORDER BY id";

// Whether a row with this result holds its MAC (when no other row does): a unit that succeeded,
// or one whose outcome has not come yet.
bool holdsMacWith(const std::string& result)
{
    return result == ResultOk || result == ResultPending;
}

SqlValue optionalText(const std::optional<std::string>& text)
{
    return text ? SqlValue(*text) : SqlValue();
}

std::vector<SqlValue> rowParameters(const RecordEntry& entry, bool holdsMac)
{
    return {isoUtcTime(entry.time),
            entry.target,
            entry.type,
            optionalText(entry.file),
            optionalText(entry.sha256),
            optionalText(entry.version),
            optionalText(entry.mac),
            entry.serial ? SqlValue(std::int64_t{*entry.serial}) : SqlValue(),
            entry.unit,
            entry.result,
            entry.message,
            entry.durationSeconds,
            std::int64_t{holdsMac ? 1 : 0}};
}

RecordEntry readRow(const SqlRow& row)
{
    RecordEntry entry;
    entry.time = parseIsoUtcTime(sqlText(row[0]).value_or(""))
                     .value_or(std::chrono::system_clock::time_point{});
    entry.target = sqlText(row[1]).value_or("");
    entry.type = sqlText(row[2]).value_or("");
    entry.file = sqlText(row[3]);
    entry.sha256 = sqlText(row[4]);
    entry.version = sqlText(row[5]);
    entry.mac = sqlText(row[6]);
    if (const auto serial = sqlInteger(row[7]))
        entry.serial = static_cast<std::uint32_t>(*serial);
    entry.unit = sqlText(row[8]).value_or("");
    entry.result = sqlText(row[9]).value_or("");
    entry.message = sqlText(row[10]).value_or("");
    entry.durationSeconds = sqlReal(row[11]);
    return entry;
}

} // namespace

UnitsTable::UnitsTable(SqlConnection& db)
    : m_db(db), m_selectHolder(withParameterMarks(SelectHolder, db.dialect())),
      m_insert(withParameterMarks(Insert, db.dialect())),
      m_releasePending(withParameterMarks(ReleasePending, db.dialect())),
      m_rehold(withParameterMarks(Rehold, db.dialect())),
      m_select(withParameterMarks(Select, db.dialect()))
{
}

Result<std::optional<RecordEntry>> UnitsTable::holder(const std::string& mac)
{
    const auto rows = m_db.query(m_selectHolder, {mac});
    if (!rows)
        return rows.failure();
    if (rows->empty())
        return std::optional<RecordEntry>();
    return std::optional(readRow(rows->front()));
}

Result<std::optional<RecordEntry>> UnitsTable::insert(const RecordEntry& row, bool mayHold,
                                                      bool onlyIfFree)
{
    for (;;) {
        std::optional<RecordEntry> other;
        if (mayHold && row.mac) {
            auto found = holder(*row.mac);
            if (!found)
                return found;
            other = std::move(*found);
        }
        if (other && onlyIfFree)
            return other;
        const auto inserted = insertRow(row, mayHold && row.mac && !other);
        if (!inserted)
            return inserted.failure();
        if (*inserted)
            return other;
        // Another program's row took the MAC between the look and the insert: look again.
    }
}

Result<std::optional<RecordEntry>> UnitsTable::reserve(const RecordEntry& pending, bool allowReused)
{
    // A MAC sent again on purpose stays counted once, by the unit that held it first.
    return insert(pending, true, !allowReused);
}

Result<std::optional<RecordEntry>> UnitsTable::add(const RecordEntry& row)
{
    const bool pending = row.result == ResultPending;
    // The unit's outcome has come: its pending row lets go of the MAC.
    if (!pending) {
        if (auto released = run(m_releasePending, {row.unit}); !released)
            return released.failure();
    }
    const bool mayHold = holdsMacWith(row.result);
    auto other = insert(row, mayHold, false);
    if (!other)
        return other;
    // A MAC this outcome does not hold may now be held by nobody.
    const bool holds = mayHold && !*other;
    if (row.mac && !pending && !holds) {
        if (auto reheld = run(m_rehold, {*row.mac}); !reheld)
            return reheld.failure();
    }
    return other;
}

Result<std::vector<RecordEntry>> UnitsTable::select(const RecordFilter& filter)
{
    const auto rows =
        m_db.query(m_select, {optionalText(filter.mac),
                              filter.since ? SqlValue(isoUtcTime(*filter.since)) : SqlValue()});
    if (!rows)
        return rows.failure();
    std::vector<RecordEntry> entries;
    entries.reserve(rows->size());
    for (const auto& row : *rows)
        entries.push_back(readRow(row));
    return entries;
}

Result<bool> UnitsTable::insertRow(const RecordEntry& row, bool holdsMac)
{
    const auto returned = m_db.query(m_insert, rowParameters(row, holdsMac));
    if (!returned)
        return returned.failure();
    return !returned->empty();
}

Result<void> UnitsTable::run(const std::string& statement, const std::vector<SqlValue>& parameters)
{
    if (auto done = m_db.query(statement, parameters); !done)
        return done.failure();
    return {};
}

} // namespace tolvane::record
