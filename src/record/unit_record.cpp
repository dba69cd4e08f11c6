#include "record/unit_record.h"

namespace tolvane::record {

UnitRecord::UnitRecord(ProductionRecord& record, RecordEntry unit)
    : m_record(record), m_unit(std::move(unit))
{
    m_unit.unit = newUnitId();
}

Reservation UnitRecord::reserve(bool allowReusedMac)
{
    if (!m_unit.mac)
        return {Reservation::Status::Reserved, std::nullopt, {}};
    RecordEntry pending = m_unit;
    pending.time = std::chrono::system_clock::now();
    pending.result = ResultPending;
    return m_record.reserveMac(pending, allowReusedMac);
}

Result<void> UnitRecord::finish(const std::string& result, const std::string& message,
                                double seconds, const std::optional<std::string>& version)
{
    RecordEntry outcome = m_unit;
    outcome.time = std::chrono::system_clock::now();
    outcome.result = result;
    outcome.message = message;
    outcome.durationSeconds = seconds;
    outcome.version = version;
    return m_record.writeOutcome(outcome);
}

std::string macUsedText(const std::string& mac, const RecordEntry& holder,
                        const std::string& location)
{
    return "MAC address " + mac + " is already used by unit " + holder.unit + ": " + holder.result +
           " on " + holder.target + " at " + isoUtcTime(holder.time) + " in " + location;
}

} // namespace tolvane::record
