#include "record/sql_record.h"

#include "record/record_schema.h"
#include "record/row_import.h"
#include "record/sql_transaction.h"
#include "record/units_table.h"

#include <mutex>

namespace tolvane::record {

namespace {

Reservation failedReservation(Failure failure)
{
    return {Reservation::Status::Failed, std::nullopt, std::move(failure)};
}

class SqlRecord : public ProductionRecord {
public:
    SqlRecord(std::string location, std::unique_ptr<SqlConnection> db)
        : m_location(std::move(location)), m_db(std::move(db)), m_units(*m_db)
    {
    }

    const std::string& location() const override { return m_location; }

    Reservation reserveMac(const RecordEntry& pending, bool allowReused) override
    {
        std::lock_guard lock(m_mutex);
        auto transaction = beginWrite();
        if (!transaction)
            return failedReservation(transaction.failure());
        const auto holder = m_units.reserve(pending, allowReused);
        if (!holder)
            return failedReservation(holder.failure());
        if (*holder && !allowReused)
            return {Reservation::Status::Used, *holder, {}};
        if (auto committed = transaction->commit(); !committed)
            return failedReservation(committed.failure());
        return {Reservation::Status::Reserved, std::nullopt, {}};
    }

    Result<void> writeOutcome(const RecordEntry& outcome) override
    {
        std::lock_guard lock(m_mutex);
        auto transaction = beginWrite();
        if (!transaction)
            return transaction.failure();
        if (const auto added = m_units.add(outcome); !added)
            return added.failure();
        return transaction->commit();
    }

    Result<std::vector<RecordEntry>> rows(const RecordFilter& filter) override
    {
        std::lock_guard lock(m_mutex);
        return m_units.select(filter);
    }

    Result<ImportReport> importRows(const std::vector<RecordEntry>& rows) override
    {
        std::lock_guard lock(m_mutex);
        auto transaction = beginWrite();
        if (!transaction)
            return transaction.failure();
        auto report = importRowsInto(m_units, rows);
        if (!report)
            return report;
        if (auto committed = transaction->commit(); !committed)
            return committed.failure();
        return report;
    }

private:
    Result<SqlTransaction> beginWrite()
    {
        return SqlTransaction::begin(*m_db, m_db->dialect().beginWrite);
    }

    std::string m_location;
    std::unique_ptr<SqlConnection> m_db;
    UnitsTable m_units;
    std::mutex m_mutex;
};

} // namespace

Result<std::unique_ptr<ProductionRecord>>
openSqlRecord(std::string location, std::unique_ptr<SqlConnection> db, bool readOnly)
{
    if (auto prepared = prepareRecordSchema(*db, location, readOnly); !prepared)
        return prepared.failure();
    return std::unique_ptr<ProductionRecord>(
        std::make_unique<SqlRecord>(std::move(location), std::move(db)));
}

} // namespace tolvane::record
