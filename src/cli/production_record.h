#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

namespace tolvane::cli {

// What one unit's download came to, as one line of the production record.
struct RecordEntry {
    std::chrono::system_clock::time_point time;
    std::string target; // "HOST:PORT"
    std::string type;   // "app", "integrated", "ptz", "data"
    std::optional<std::string> file;
    std::optional<std::string> sha256;
    std::optional<std::string> version;  // as announced to the recorder, "3.5.1"
    std::optional<std::string> mac;      // twelve upper-case hex digits, when sent
    std::optional<std::uint32_t> serial; // when sent
    std::string unit;                    // ties a unit's "pending" line to its outcome line
    std::string result;                  // "ok", "failed", "refused" or "pending"
    std::string message;
    double durationSeconds = 0;
};

inline constexpr const char* ResultOk = "ok";
inline constexpr const char* ResultFailed = "failed";
inline constexpr const char* ResultRefused = "refused";
// Written before a MAC address goes out; the unit's outcome line follows when the transfer ends.
inline constexpr const char* ResultPending = "pending";

// A fresh random id for one unit's lines, 32 hex digits: unique across processes and machines
// sharing a record.
std::string newUnitId();

// "2026-12-08T06:19:37.123Z"
std::string isoUtcTime(std::chrono::system_clock::time_point time);
// The entry as one JSON object followed by a newline.
std::string recordLine(const RecordEntry& entry);

// An append-only file of JSON lines, one per unit and outcome. Each line goes out in a single
// write() on a descriptor opened with O_APPEND and is fsync'ed, so a crash loses at most the line
// in progress. A failed append (a full disk, the file-size limit) is cut back to the record's
// length before it, so it leaves no partial line. Every access holds flock() on the file, so
// processes (and threads) sharing a record never interleave lines and a MAC check and its
// reservation happen as one step.
//
// A MAC address counts as used when a line for it has result "ok", or when a "pending" line for it
// has no later line with another result for the same unit (the transfer may have reached the
// unit before the program stopped).
class ProductionRecord {
public:
    explicit ProductionRecord(std::string path);

    const std::string& path() const { return m_path; }
    // Creates the file if needed and checks that lines can be appended.
    bool checkWritable(std::string* error) const;
    bool append(const RecordEntry& entry, std::string* error);
    // Whether the record shows the MAC address (twelve hex digits, any case) used.
    // nullopt with *error when the record exists but cannot be read.
    std::optional<bool> macUsed(const std::string& mac, std::string* error);
    // Under one lock: unless allowReused, checks that pending.mac is not used, then appends
    // `pending` (whose result should be "pending"). true when reserved, false when the MAC is used
    // (nothing written), nullopt with *error when the record cannot be read or written.
    std::optional<bool> reserveMac(const RecordEntry& pending, bool allowReused,
                                   std::string* error);

private:
    std::string m_path;
    std::mutex m_mutex;
};

} // namespace tolvane::cli
