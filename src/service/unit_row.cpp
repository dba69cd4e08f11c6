#include "service/unit_row.h"

namespace tolvane::service {

UnitRow::UnitRow(record::ProductionRecord& record, record::RecordEntry fields)
    : m_record(record), m_unit(record, std::move(fields))
{
}

Result<std::optional<record::RecordEntry>> UnitRow::reserve(const std::string& mac,
                                                            bool allowReused)
{
    m_unit.setMac(mac);
    // Every unit of a batch is sent the same serial number: the record holds it without refusing.
    record::Reservation reservation = m_unit.reserve({.mac = allowReused, .serial = true});
    switch (reservation.status) {
    case record::Reservation::Status::Reserved: return std::optional<record::RecordEntry>();
    case record::Reservation::Status::Used: return std::move(reservation.holder);
    case record::Reservation::Status::Failed: break;
    }
    return std::move(reservation.error);
}

Result<void> UnitRow::finish(const char* result, const std::string& message, double seconds,
                             const std::optional<std::string>& version)
{
    return m_unit.finish(result, message, seconds, version);
}

std::string UnitRow::macUsedText(const std::string& mac, const record::RecordEntry& holder) const
{
    return record::macUsedText(mac, holder, m_record.location());
}

} // namespace tolvane::service
