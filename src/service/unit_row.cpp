#include "service/unit_row.h"

namespace tolvane::service {

UnitRow::UnitRow(record::ProductionRecord& record, record::RecordEntry fields)
    : m_record(record), m_unit(record, std::move(fields))
{
}

record::Reservation UnitRow::reserve(const std::optional<std::string>& mac,
                                     std::optional<std::uint32_t> serial,
                                     record::ReuseAllowed allowed)
{
    m_unit.setMac(mac);
    m_unit.setSerial(serial);
    return m_unit.reserve(allowed);
}

Result<void> UnitRow::finish(const char* result, const std::string& message, double seconds,
                             const std::optional<std::string>& version)
{
    return m_unit.finish(result, message, seconds, version);
}

std::string UnitRow::usedText(const record::Reservation& refused) const
{
    return record::usedText(refused, m_record.location());
}

} // namespace tolvane::service
