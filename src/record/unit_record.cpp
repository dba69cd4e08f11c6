#include "record/unit_record.h"

#include "record/row_origin.h"

namespace tolvane::record {

UnitRecord::UnitRecord(ProductionRecord& record, RecordEntry unit)
    : m_record(record), m_unit(std::move(unit))
{
    m_unit.unit = newUnitId();
    if (m_unit.file)
        m_unit.file = absoluteFilePath(*m_unit.file);
    stampOrigin(m_unit);
}

Reservation UnitRecord::reserve(ReuseAllowed allowed)
{
    if (!m_unit.mac && !m_unit.serial)
        return {Reservation::Status::Reserved, std::nullopt, Identity::Mac, {}};
    RecordEntry pending = m_unit;
    pending.time = std::chrono::system_clock::now();
    pending.result = ResultPending;
    return m_record.reserve(pending, allowed);
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

namespace {

// request names the identity to free.
Result<RecordEntry> releaseHeld(ProductionRecord& record, RecordEntry request,
                                const std::string& reason, std::optional<std::string> bench)
{
    request.time = std::chrono::system_clock::now();
    request.message = reason;
    request.bench = std::move(bench);
    stampOrigin(request);
    return record.release(request);
}

} // namespace

Result<RecordEntry> releaseMac(ProductionRecord& record, const std::string& mac,
                               const std::string& reason, std::optional<std::string> bench)
{
    RecordEntry request;
    request.mac = mac;
    return releaseHeld(record, std::move(request), reason, std::move(bench));
}

Result<RecordEntry> releaseSerial(ProductionRecord& record, std::uint32_t serial,
                                  const std::string& reason, std::optional<std::string> bench)
{
    RecordEntry request;
    request.serial = serial;
    return releaseHeld(record, std::move(request), reason, std::move(bench));
}

std::string identityText(Identity identity, const RecordEntry& row)
{
    if (identity == Identity::Mac)
        return "MAC address " + row.mac.value_or("");
    return "serial number " + (row.serial ? std::to_string(*row.serial) : std::string());
}

std::string heldByText(const RecordEntry& holder, const std::string& location)
{
    return "unit " + holder.unit + ": " + holder.result + " on " + holder.target + " at " +
           isoUtcTime(holder.time) + " in " + location;
}

std::string macUsedText(const std::string& mac, const RecordEntry& holder,
                        const std::string& location)
{
    return "MAC address " + mac + " is already used by " + heldByText(holder, location);
}

std::string usedText(const Reservation& refused, const std::string& location)
{
    return identityText(refused.identity, *refused.holder) + " is already used by " +
           heldByText(*refused.holder, location);
}

} // namespace tolvane::record
