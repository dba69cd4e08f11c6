#pragma once

#include "core/base/failure.h"
#include "record/record_entry.h"
#include "record/report_figures.h"

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tolvane::record {

// What identifies a unit in the record; each is held by one unit at a time.
enum class Identity { Mac, Serial };

// Which identities a reservation may send again although another unit holds them.
struct ReuseAllowed {
    bool mac = false;
    bool serial = false;
};

// What a reservation of a unit's MAC address and serial number came to.
struct Reservation {
    enum class Status { Reserved, Used, Failed };
    Status status = Status::Failed;
    std::optional<RecordEntry> holder; // the row that holds the identity, when Used
    Identity identity = Identity::Mac; // which of the unit's identities holder holds, when Used
    Failure error;                     // why, when Failed
};

// Which rows to read back; empty fields select everything.
struct RecordFilter {
    std::optional<std::string> mac;                             // twelve upper-case hex digits
    std::optional<std::chrono::system_clock::time_point> since; // rows at or after
};

struct ImportReport {
    std::size_t rows = 0;
    // Rows whose MAC another unit already held; imported all the same, without holding it. A
    // serial number held already stays with its first holder without a word: earlier records
    // gave one to many units.
    std::vector<std::string> duplicates;
};

// The production record: one row per unit and outcome. A MAC address, and likewise a serial
// number, counts as used while a unit with it succeeded, is unconfirmed (the whole payload may
// have reached it) and not released, or is still pending (its transfer may have reached the unit
// before the program stopped). The store itself keeps every MAC and serial counted once, and
// checking and reserving them is one step, across threads and processes. Every call is safe from
// several threads.
class ProductionRecord {
public:
    virtual ~ProductionRecord() = default;

    // The file or server the record lives in, for messages.
    virtual const std::string& location() const = 0;

    // Checks that pending.mac and pending.serial are not used (unless allowed, MAC first), then
    // writes `pending` (result "pending") so both count as used until the unit's outcome is
    // written. A refusal names the identity and the row that holds it.
    virtual Reservation reserve(const RecordEntry& pending, ReuseAllowed allowed) = 0;
    // Writes a unit's outcome; a pending row of the same unit stops counting at once.
    virtual Result<void> writeOutcome(const RecordEntry& outcome) = 0;
    // Frees the MAC address in request.mac (or, without one, the serial number in request.serial)
    // of the unconfirmed or pending unit that holds it: writes that unit's "released" row with
    // request's time, message (the reason), bench, operator and tool version. Refused when no unit
    // holds it or the unit that holds it succeeded. Answers the row that held it.
    virtual Result<RecordEntry> release(const RecordEntry& request) = 0;
    // The rows the filter selects, oldest first.
    virtual Result<std::vector<RecordEntry>> rows(const RecordFilter& filter) = 0;
    // One line per MAC address (serial number) with a row the filter selects, by first time.
    virtual Result<std::vector<UnitLine>> units(const RecordFilter& filter) = 0;
    // Adds rows of an earlier record, in their order, as one transaction.
    virtual Result<ImportReport> importRows(const std::vector<RecordEntry>& rows) = 0;
    // What the period produced, counted where the record is kept.
    virtual Result<ReportFigures> reportFigures(const ReportPeriod& period) = 0;
};

struct RecordOptions {
    // How long to wait for another program that holds the record before giving up.
    std::chrono::milliseconds busyTimeout{10'000};
    // How long a record server may take to answer a query on top of busyTimeout, before it
    // counts as gone.
    std::chrono::milliseconds answerTimeout{10'000};
    // Only to read rows: the record must exist, and nothing in it changes.
    bool readOnly = false;
};

// Opens the record at location, creating it when it does not exist (unless read-only), and
// checks it can be written. A record of an older schema is upgraded on the way, in one
// transaction; opened only to read, it is read as it is. A path ending in ".jsonl" is refused: such
// a record is moved into a database with `record import`.
Result<std::unique_ptr<ProductionRecord>> openProductionRecord(const std::string& location,
                                                               const RecordOptions& options = {});

} // namespace tolvane::record
