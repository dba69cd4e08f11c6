#pragma once

#include "record/production_record.h"
#include "record/sql_driver.h"

namespace tolvane::record {

// The record's rules as SQL over one connection, written once for every database: which row holds
// a MAC address, and how a new row takes or lets go of one. The caller holds the transaction.
class UnitsTable {
public:
    explicit UnitsTable(SqlConnection& db);

    // Adds a unit's pending row, holding its MAC unless another row does. That row is answered,
    // and the pending row then goes in (without holding the MAC) only when allowReused.
    Result<std::optional<RecordEntry>> reserve(const RecordEntry& pending, bool allowReused);
    // Adds a unit's row: an outcome lets go of the MAC its unit's pending row held, and a MAC it
    // leaves free goes to the first row that still counts. Answers the row that kept the MAC
    // from this one, if any.
    Result<std::optional<RecordEntry>> add(const RecordEntry& row);
    // The rows the filter selects, oldest first.
    Result<std::vector<RecordEntry>> select(const RecordFilter& filter);

private:
    // The row that holds mac, if any.
    Result<std::optional<RecordEntry>> holder(const std::string& mac);
    // Inserts the row. When mayHold, it holds its MAC unless another row does, and that row is
    // answered; with onlyIfFree, a row whose MAC another row holds is not inserted at all.
    Result<std::optional<RecordEntry>> insert(const RecordEntry& row, bool mayHold,
                                              bool onlyIfFree);
    // False, inserting nothing, when another row took the MAC this row would hold.
    Result<bool> insertRow(const RecordEntry& row, bool holdsMac);
    Result<void> run(const std::string& statement, const std::vector<SqlValue>& parameters);

    SqlConnection& m_db;
    const std::string m_selectHolder;
    const std::string m_insert;
    const std::string m_releasePending;
    const std::string m_rehold;
    const std::string m_select;
};

} // namespace tolvane::record
