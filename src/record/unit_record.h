#pragma once

#include "record/production_record.h"

#include <string>

namespace tolvane::record {

// The rows of one unit's download, as the command line and the desktop program both write them:
// a "pending" row that reserves the MAC address before it goes out, then the outcome.
class UnitRecord {
public:
    // unit carries what every row of this unit shares: target, type, file, digest, MAC, serial.
    UnitRecord(ProductionRecord& record, RecordEntry unit);

    // Another MAC address for the unit, before it is reserved.
    void setMac(std::optional<std::string> mac) { m_unit.mac = std::move(mac); }
    // Reserves the unit's MAC address; a unit that sends none is reserved at once.
    Reservation reserve(bool allowReusedMac);
    // Writes how the download ended: "ok", "failed" or "refused".
    Result<void> finish(const std::string& result, const std::string& message, double seconds,
                        const std::optional<std::string>& version);

private:
    ProductionRecord& m_record;
    RecordEntry m_unit;
};

// "MAC address 0012AB000001 is already used by unit 3f...: ok on 127.0.0.1:5000 at 2026-...Z in
// units.db"
std::string macUsedText(const std::string& mac, const RecordEntry& holder,
                        const std::string& location);

} // namespace tolvane::record
