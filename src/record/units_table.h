#pragma once

#include "record/production_record.h"
#include "record/sql_driver.h"

#include <array>

namespace tolvane::record {

// Whether the units row called `row` still counts as holding its MAC address and serial number
// when no other row holds them: a unit that succeeded; a pending unit whose outcome has not come;
// an unconfirmed unit not released (nor ended otherwise since).
extern const std::string RowStillCounts;

// A row that keeps one of a unit's identities from it.
struct HeldIdentity {
    Identity identity;
    RecordEntry holder;
};

// The record's rules as SQL over one connection, written once for every database: which row holds
// a MAC address or a serial number, and how a new row takes or lets go of one. The caller holds
// the transaction.
class UnitsTable {
public:
    // Reads a record of schemaVersion (written only when it is this program's).
    UnitsTable(SqlConnection& db, int schemaVersion);

    // Adds a unit's pending row, holding its MAC and serial unless other rows do. The first of
    // them another row holds and that may not be sent again is answered with that row, and then
    // nothing is added.
    Result<std::optional<HeldIdentity>> reserve(const RecordEntry& pending, ReuseAllowed allowed);
    // Adds a unit's row. An outcome lets go of what its unit's pending row held, and (unless it is
    // unconfirmed itself) what its unconfirmed row held; what it leaves free goes to the first
    // row that still counts. Answers the rows that kept an identity from this one.
    Result<std::vector<HeldIdentity>> add(const RecordEntry& row);
    // The row that holds the identity, if any.
    Result<std::optional<RecordEntry>> holder(Identity identity, const SqlValue& value);
    // The rows the filter selects, oldest first.
    Result<std::vector<RecordEntry>> select(const RecordFilter& filter);
    // One line per MAC address (serial number) the filter selects.
    Result<std::vector<UnitLine>> units(const RecordFilter& filter);

private:
    // Inserts the row. When mayHold, it holds its MAC and serial unless other rows do, and those
    // rows are answered; with onlyIfFree, a row that would take an identity another row holds and
    // that is not allowed again is not inserted at all.
    Result<std::vector<HeldIdentity>> insert(const RecordEntry& row, bool mayHold,
                                             const ReuseAllowed* onlyIfFree);
    // The rows that hold the row's MAC and serial.
    Result<std::vector<HeldIdentity>> holders(const RecordEntry& row);
    // False, inserting nothing, when another row took an identity this row would hold.
    Result<bool> insertRow(const RecordEntry& row, bool holdsMac, bool holdsSerial);
    Result<void> run(const std::string& statement, const std::vector<SqlValue>& parameters);

    SqlConnection& m_db;
    const std::array<std::string, 2> m_selectHolder; // by Identity
    const std::array<std::string, 2> m_rehold;
    const std::string m_insert;
    const std::string m_letGo;
    const std::string m_select;
    const std::string m_units;
};

// The identity's value in row, as a statement's parameter; null when the row has none.
SqlValue identityValue(const RecordEntry& row, Identity identity);

} // namespace tolvane::record
