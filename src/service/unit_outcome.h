#pragma once

#include "core/base/failure.h"

#include <cstdint>
#include <optional>
#include <string>

namespace tolvane::service {

// How one unit's download ended.
enum class UnitResult {
    Ok,      // every transfer ended OK
    Failed,  // a check or a transfer failed; the MAC address is free again
    Refused, // nothing was sent: the MAC address is used, or the record could not reserve it
    // With a record: the transfer failed after the whole payload may have reached the recorder;
    // the MAC address and serial number stay held.
    Unconfirmed,
};

// The word the production record keeps for it: "ok", "failed", "refused", "unconfirmed".
const char* resultName(UnitResult result);

// What one unit's download came to.
struct UnitOutcome {
    UnitResult result = UnitResult::Failed;
    // The MAC address sent (or, when none was reserved, the one the unit asked for), twelve
    // upper-case hex digits; nothing when the unit sends none.
    std::optional<std::string> mac;
    std::optional<std::uint32_t> serial; // when sent
    std::string message;                 // the last text shown for the unit
    double seconds = 0;
    std::optional<std::string> advancedMac; // the routine's next MAC text, with auto-increase
    std::optional<std::int32_t> version;    // the version announced to the recorder
    std::optional<Failure> recordFailure;   // the outcome could not be written to the record

    bool succeeded() const { return result == UnitResult::Ok; }
};

// Why a unit's MAC address was not sent; each front end words it (DownloadPlan::wording), and the
// words are shown and kept as the refused row's message.
struct Refusal {
    enum class Reason { MacUsed, SerialUsed, RecordFailed, NoFreeMac };
    Reason reason = Reason::MacUsed;
    std::string mac;    // the address refused; with NoFreeMac the first one tried
    std::string detail; // in the record's words: who holds the identity, what failed
};

} // namespace tolvane::service
