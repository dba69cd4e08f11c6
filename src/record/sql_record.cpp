#include "record/sql_record.h"

#include "record/record_schema.h"
#include "record/row_import.h"
#include "record/sql_transaction.h"
#include "record/unit_release.h"
#include "record/units_table.h"

#include <mutex>

namespace tolvane::record {

namespace {

Reservation failedReservation(Failure failure)
{
    return {Reservation::Status::Failed, std::nullopt, Identity::Mac, std::move(failure)};
}

class SqlRecord : public ProductionRecord {
public:
    SqlRecord(std::string location, std::unique_ptr<SqlConnection> db, int schemaVersion)
        : m_location(std::move(location)), m_db(std::move(db)), m_schemaVersion(schemaVersion),
          m_units(*m_db, schemaVersion)
    {
    }

    const std::string& location() const override { return m_location; }

    Reservation reserve(const RecordEntry& pending, ReuseAllowed allowed) override
    {
        std::lock_guard lock(m_mutex);
        auto transaction = beginWrite();
        if (!transaction)
            return failedReservation(transaction.failure());
        auto held = m_units.reserve(pending, allowed);
        if (!held)
            return failedReservation(held.failure());
        if (*held)
            return {Reservation::Status::Used, std::move((*held)->holder), (*held)->identity, {}};
        if (auto committed = transaction->commit(); !committed)
            return failedReservation(committed.failure());
        return {Reservation::Status::Reserved, std::nullopt, Identity::Mac, {}};
    }

    Result<void> writeOutcome(const RecordEntry& outcome) override
    {
        return inWriteTransaction([&]() -> Result<void> {
            if (auto added = m_units.add(outcome); !added)
                return added.failure();
            return {};
        });
    }

    Result<RecordEntry> release(const RecordEntry& request) override
    {
        return inWriteTransaction([&] { return releaseInto(m_units, request, m_location); });
    }

    Result<std::vector<RecordEntry>> rows(const RecordFilter& filter) override
    {
        std::lock_guard lock(m_mutex);
        return m_units.select(filter);
    }

    Result<std::vector<UnitLine>> units(const RecordFilter& filter) override
    {
        std::lock_guard lock(m_mutex);
        return m_units.units(filter);
    }

    Result<ImportReport> importRows(const std::vector<RecordEntry>& rows) override
    {
        return inWriteTransaction([&] { return importRowsInto(m_units, rows); });
    }

    Result<ReportFigures> reportFigures(const ReportPeriod& period) override
    {
        std::lock_guard lock(m_mutex);
        return readReportFigures(*m_db, m_schemaVersion, period);
    }

private:
    Result<SqlTransaction> beginWrite()
    {
        return SqlTransaction::begin(*m_db, m_db->dialect().beginWrite);
    }

    // What write answers, committed as one transaction when it succeeded.
    template <typename Write> auto inWriteTransaction(Write write) -> decltype(write())
    {
        std::lock_guard lock(m_mutex);
        auto transaction = beginWrite();
        if (!transaction)
            return transaction.failure();
        auto written = write();
        if (!written)
            return written;
        if (auto committed = transaction->commit(); !committed)
            return committed.failure();
        return written;
    }

    std::string m_location;
    std::unique_ptr<SqlConnection> m_db;
    int m_schemaVersion;
    UnitsTable m_units;
    std::mutex m_mutex;
};

} // namespace

Result<std::unique_ptr<ProductionRecord>>
openSqlRecord(std::string location, std::unique_ptr<SqlConnection> db, bool readOnly)
{
    const auto version = prepareRecordSchema(*db, location, readOnly);
    if (!version)
        return version.failure();
    return std::unique_ptr<ProductionRecord>(
        std::make_unique<SqlRecord>(std::move(location), std::move(db), *version));
}

} // namespace tolvane::record
