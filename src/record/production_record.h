#pragma once

#include "core/base/failure.h"
#include "record/record_entry.h"

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tolvane::record {

// What a MAC reservation came to.
struct Reservation {
    enum class Status { Reserved, Used, Failed };
    Status status = Status::Failed;
    std::optional<RecordEntry> holder; // the row that holds the MAC, when Used
    Failure error;                     // why, when Failed
};

// Which rows to read back; empty fields select everything.
struct RecordFilter {
    std::optional<std::string> mac;                             // twelve upper-case hex digits
    std::optional<std::chrono::system_clock::time_point> since; // rows at or after
};

struct ImportReport {
    std::size_t rows = 0;
    // Rows whose MAC another unit already held; imported all the same, without holding it.
    std::vector<std::string> duplicates;
};

// The production record: one row per unit and outcome. A MAC address counts as used while a unit
// with it succeeded, or is still pending (its transfer may have reached the unit before the program
// stopped). The store itself keeps every MAC counted once, and checking and reserving a MAC is one
// step, across threads and processes. Every call is safe from several threads.
class ProductionRecord {
public:
    virtual ~ProductionRecord() = default;

    // The file or server the record lives in, for messages.
    virtual const std::string& location() const = 0;

    // Unless allowReused, checks that pending.mac is not used, then writes `pending` (result
    // "pending") so the MAC counts as used until the unit's outcome is written.
    virtual Reservation reserveMac(const RecordEntry& pending, bool allowReused) = 0;
    // Writes a unit's outcome; a pending row of the same unit stops counting at once.
    virtual Result<void> writeOutcome(const RecordEntry& outcome) = 0;
    // The rows the filter selects, oldest first.
    virtual Result<std::vector<RecordEntry>> rows(const RecordFilter& filter) = 0;
    // Adds rows of an earlier record, in their order, as one transaction.
    virtual Result<ImportReport> importRows(const std::vector<RecordEntry>& rows) = 0;
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
// checks it can be written. A path ending in ".jsonl" is refused: such a record is moved into a
// database with `record import`.
Result<std::unique_ptr<ProductionRecord>> openProductionRecord(const std::string& location,
                                                               const RecordOptions& options = {});

} // namespace tolvane::record
