#include "record/units_table.h"

#include "record/record_schema.h"
#include "record/unit_lines.h"

#include <algorithm>
#include <utility>

namespace tolvane::record {

const std::string RowStillCounts = R"((row.result = 'ok'
    OR (row.result = 'pending' AND NOT EXISTS (SELECT 1 FROM units AS later
        WHERE later.unit = row.unit AND later.result != 'pending'))
    OR (row.result = 'unconfirmed' AND NOT EXISTS (SELECT 1 FROM units AS later
        WHERE later.unit = row.unit AND later.result NOT IN ('pending', 'unconfirmed')))))";

namespace {

// The columns of a row, in the order every statement reads and writes them.
const std::string Columns = "time, target, type, file, sha256, version, mac, serial, unit, result, "
                            "message, duration_s, bench, operator, tool_version";
constexpr int ColumnCount = 15;

// Each identity's column and the column that marks the one row holding it, by Identity.
const struct {
    const char* value;
    const char* inUse;
} IdentityColumns[] = {{"mac", "mac_in_use"}, {"serial", "serial_in_use"}};
constexpr Identity Identities[] = {Identity::Mac, Identity::Serial};

// The statement with VALUE and IN_USE naming the identity's columns.
std::string forIdentity(std::string statement, Identity identity)
{
    const auto& columns = IdentityColumns[static_cast<int>(identity)];
    for (const auto& [word, column] :
         {std::pair{"VALUE", columns.value}, {"IN_USE", columns.inUse}})
        for (auto at = statement.find(word); at != std::string::npos; at = statement.find(word))
            statement.replace(at, std::string(word).size(), column);
    return statement;
}

std::string selectHolder(Identity identity)
{
    return forIdentity("SELECT " + Columns + " FROM units WHERE VALUE = $1 AND IN_USE = 1",
                       identity);
}

// Hands an identity that nobody holds to the first row that still counts.
std::string rehold(Identity identity)
{
    return forIdentity("UPDATE units SET IN_USE = 1 WHERE id = (SELECT id FROM units AS row "
                       "WHERE row.VALUE = $1 AND " +
                           RowStillCounts +
                           " ORDER BY id LIMIT 1) AND NOT EXISTS (SELECT 1 FROM units "
                           "WHERE VALUE = $1 AND IN_USE = 1)",
                       identity);
}

// A row that would hold an identity another row holds goes in as nothing at all.
std::string insertStatement()
{
    std::string values;
    for (int i = 1; i <= ColumnCount + 2; ++i)
        values += (i > 1 ? ", $" : "$") + std::to_string(i);
    return "INSERT INTO units (" + Columns + ", mac_in_use, serial_in_use) VALUES (" + values +
           ") ON CONFLICT DO NOTHING RETURNING id";
}

// A unit's outcome ($2) ends what its pending row held, and what its unconfirmed row held unless
// the outcome is unconfirmed again.
const std::string LetGo =
    "UPDATE units SET mac_in_use = 0, serial_in_use = 0 WHERE unit = $1 AND "
    "(result = 'pending' OR (result = 'unconfirmed' AND $2 != 'unconfirmed'))";

std::string selectStatement(const std::string& source)
{
    return "SELECT " + Columns + " FROM " + source +
           " WHERE (CAST($1 AS TEXT) IS NULL OR mac = $1) AND "
           "(CAST($2 AS TEXT) IS NULL OR time >= $2) ORDER BY id";
}

// Whether a row with this result holds its identities (when no other row does).
bool holdsWith(const std::string& result)
{
    return result == ResultOk || result == ResultPending || result == ResultUnconfirmed;
}

SqlValue optionalText(const std::optional<std::string>& text)
{
    return text ? SqlValue(*text) : SqlValue();
}

std::vector<SqlValue> rowParameters(const RecordEntry& entry, bool holdsMac, bool holdsSerial)
{
    return {isoUtcTime(entry.time),
            entry.target,
            entry.type,
            optionalText(entry.file),
            optionalText(entry.sha256),
            optionalText(entry.version),
            optionalText(entry.mac),
            identityValue(entry, Identity::Serial),
            entry.unit,
            entry.result,
            entry.message,
            entry.durationSeconds,
            optionalText(entry.bench),
            optionalText(entry.operatorName),
            optionalText(entry.toolVersion),
            std::int64_t{holdsMac ? 1 : 0},
            std::int64_t{holdsSerial ? 1 : 0}};
}

// The text columns of a row by their place in it, the ones that may be NULL apart.
constexpr std::pair<std::size_t, std::string RecordEntry::*> TextColumns[] = {
    {1, &RecordEntry::target}, {2, &RecordEntry::type},     {8, &RecordEntry::unit},
    {9, &RecordEntry::result}, {10, &RecordEntry::message},
};
constexpr std::pair<std::size_t, std::optional<std::string> RecordEntry::*> OptionalTextColumns[] =
    {
        {3, &RecordEntry::file},         {4, &RecordEntry::sha256},
        {5, &RecordEntry::version},      {6, &RecordEntry::mac},
        {12, &RecordEntry::bench},       {13, &RecordEntry::operatorName},
        {14, &RecordEntry::toolVersion},
};

RecordEntry readRow(const SqlRow& row)
{
    RecordEntry entry;
    entry.time = parseIsoUtcTime(sqlText(row[0]).value_or(""))
                     .value_or(std::chrono::system_clock::time_point{});
    for (const auto& [column, field] : TextColumns)
        entry.*field = sqlText(row[column]).value_or("");
    for (const auto& [column, field] : OptionalTextColumns)
        entry.*field = sqlText(row[column]);
    if (const auto serial = sqlInteger(row[7]))
        entry.serial = static_cast<std::uint32_t>(*serial);
    entry.durationSeconds = sqlReal(row[11]);
    return entry;
}

// What a read statement answers for the filter ($1 its MAC, $2 its time), each row read by readOne.
template <typename Read>
auto readFiltered(SqlConnection& db, const std::string& statement, const RecordFilter& filter,
                  Read readOne) -> Result<std::vector<decltype(readOne(SqlRow{}))>>
{
    const auto rows =
        db.query(statement, {optionalText(filter.mac),
                             filter.since ? SqlValue(isoUtcTime(*filter.since)) : SqlValue()});
    if (!rows)
        return rows.failure();
    std::vector<decltype(readOne(SqlRow{}))> read;
    read.reserve(rows->size());
    for (const auto& row : *rows)
        read.push_back(readOne(row));
    return read;
}

bool heldIn(const std::vector<HeldIdentity>& others, Identity identity)
{
    return std::any_of(others.begin(), others.end(), [identity](const HeldIdentity& other) {
        return other.identity == identity;
    });
}

bool allowedAgain(const ReuseAllowed& allowed, Identity identity)
{
    return identity == Identity::Mac ? allowed.mac : allowed.serial;
}

} // namespace

SqlValue identityValue(const RecordEntry& row, Identity identity)
{
    if (identity == Identity::Mac)
        return optionalText(row.mac);
    return row.serial ? SqlValue(std::int64_t{*row.serial}) : SqlValue();
}

UnitsTable::UnitsTable(SqlConnection& db, int schemaVersion)
    : m_db(db), m_selectHolder{withParameterMarks(selectHolder(Identity::Mac), db.dialect()),
                               withParameterMarks(selectHolder(Identity::Serial), db.dialect())},
      m_rehold{withParameterMarks(rehold(Identity::Mac), db.dialect()),
               withParameterMarks(rehold(Identity::Serial), db.dialect())},
      m_insert(withParameterMarks(insertStatement(), db.dialect())),
      m_letGo(withParameterMarks(LetGo, db.dialect())),
      m_select(withParameterMarks(selectStatement(unitsSource(schemaVersion)), db.dialect())),
      m_units(withParameterMarks(unitLinesStatement(unitsSource(schemaVersion)), db.dialect()))
{
}

Result<std::optional<RecordEntry>> UnitsTable::holder(Identity identity, const SqlValue& value)
{
    const auto rows = m_db.query(m_selectHolder[static_cast<int>(identity)], {value});
    if (!rows)
        return rows.failure();
    if (rows->empty())
        return std::optional<RecordEntry>();
    return std::optional(readRow(rows->front()));
}

Result<std::vector<HeldIdentity>> UnitsTable::holders(const RecordEntry& row)
{
    std::vector<HeldIdentity> found;
    for (const Identity identity : Identities) {
        const SqlValue value = identityValue(row, identity);
        if (std::holds_alternative<std::monostate>(value))
            continue;
        auto held = holder(identity, value);
        if (!held)
            return held.failure();
        if (*held)
            found.push_back({identity, std::move(**held)});
    }
    return found;
}

Result<std::vector<HeldIdentity>> UnitsTable::insert(const RecordEntry& row, bool mayHold,
                                                     const ReuseAllowed* onlyIfFree)
{
    for (;;) {
        auto others = mayHold ? holders(row) : std::vector<HeldIdentity>{};
        if (!others)
            return others;
        for (const auto& other : *others) {
            if (onlyIfFree && !allowedAgain(*onlyIfFree, other.identity))
                return std::vector{other};
        }
        const auto inserted =
            insertRow(row, mayHold && row.mac && !heldIn(*others, Identity::Mac),
                      mayHold && row.serial && !heldIn(*others, Identity::Serial));
        if (!inserted)
            return inserted.failure();
        if (*inserted)
            return others;
        // Another program's row took an identity between the look and the insert: look again.
    }
}

Result<std::optional<HeldIdentity>> UnitsTable::reserve(const RecordEntry& pending,
                                                        ReuseAllowed allowed)
{
    // An identity sent again on purpose stays counted once, by the unit that held it first.
    auto others = insert(pending, true, &allowed);
    if (!others)
        return others.failure();
    for (auto& other : *others) {
        if (!allowedAgain(allowed, other.identity))
            return std::optional(std::move(other));
    }
    return std::optional<HeldIdentity>();
}

Result<std::vector<HeldIdentity>> UnitsTable::add(const RecordEntry& row)
{
    const bool pending = row.result == ResultPending;
    // The unit's outcome has come: its earlier rows let go of what they held.
    if (!pending) {
        if (auto released = run(m_letGo, {row.unit, row.result}); !released)
            return released.failure();
    }
    const bool mayHold = holdsWith(row.result);
    auto others = insert(row, mayHold, nullptr);
    if (!others || pending)
        return others;
    // What this row does not hold may now be held by nobody.
    for (const Identity identity : Identities) {
        const SqlValue value = identityValue(row, identity);
        const bool held = mayHold && !heldIn(*others, identity);
        if (std::holds_alternative<std::monostate>(value) || held)
            continue;
        if (auto reheld = run(m_rehold[static_cast<int>(identity)], {value}); !reheld)
            return reheld.failure();
    }
    return others;
}

Result<std::vector<RecordEntry>> UnitsTable::select(const RecordFilter& filter)
{
    return readFiltered(m_db, m_select, filter, readRow);
}

Result<std::vector<UnitLine>> UnitsTable::units(const RecordFilter& filter)
{
    return readFiltered(m_db, m_units, filter, readUnitLine);
}

Result<bool> UnitsTable::insertRow(const RecordEntry& row, bool holdsMac, bool holdsSerial)
{
    const auto returned = m_db.query(m_insert, rowParameters(row, holdsMac, holdsSerial));
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
