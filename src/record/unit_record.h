#pragma once

#include "record/production_record.h"

#include <string>

namespace tolvane::record {

// The rows of one unit's download, as the command line and the desktop program both write them:
// a "pending" row that reserves the MAC address and serial number before they go out, then the
// outcome. Every row of the unit carries the same unit id.
class UnitRecord {
public:
    // unit carries what every row of this unit shares: target, type, file, digest, MAC, serial,
    // and a bench name when it is not this host's. The file is kept as an absolute path, and the
    // operator's login name and this program's version are filled in.
    UnitRecord(ProductionRecord& record, RecordEntry unit);

    // Another MAC address or serial number for the unit, before it is reserved.
    void setMac(std::optional<std::string> mac) { m_unit.mac = std::move(mac); }
    void setSerial(std::optional<std::uint32_t> serial) { m_unit.serial = serial; }
    // Reserves the unit's MAC address and serial number; a unit that sends neither is reserved at
    // once.
    Reservation reserve(ReuseAllowed allowed);
    // Writes how the download ended: "ok", "unconfirmed", "failed" or "refused".
    Result<void> finish(const std::string& result, const std::string& message, double seconds,
                        const std::optional<std::string>& version);

private:
    ProductionRecord& m_record;
    RecordEntry m_unit;
};

// Frees mac, held by a unit whose outcome is unconfirmed or pending, as an operator who checked
// the unit: the unit's "released" row gives the reason, the bench (this host's name unless
// given), the operator and the program. Answers the row that held the MAC.
Result<RecordEntry> releaseMac(ProductionRecord& record, const std::string& mac,
                               const std::string& reason,
                               std::optional<std::string> bench = std::nullopt);
// The same for a unit that holds a serial number and no MAC address.
Result<RecordEntry> releaseSerial(ProductionRecord& record, std::uint32_t serial,
                                  const std::string& reason,
                                  std::optional<std::string> bench = std::nullopt);

// "MAC address 0012AB000001", "serial number 1000": the row's identity as messages name it.
std::string identityText(Identity identity, const RecordEntry& row);
// "unit 3f...: ok on 127.0.0.1:5000 at 2026-...Z in units.db"
std::string heldByText(const RecordEntry& holder, const std::string& location);
// "MAC address 0012AB000001 is already used by unit 3f...: ok on 127.0.0.1:5000 at 2026-...Z in
// units.db"
std::string macUsedText(const std::string& mac, const RecordEntry& holder,
                        const std::string& location);
// The same for the identity a reservation was refused for (status Used).
std::string usedText(const Reservation& refused, const std::string& location);

} // namespace tolvane::record
