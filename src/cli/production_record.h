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
    std::string result;                  // "ok", "failed" or "refused"
    std::string message;
    double durationSeconds = 0;
};

inline constexpr const char* ResultOk = "ok";
inline constexpr const char* ResultFailed = "failed";
inline constexpr const char* ResultRefused = "refused";

// "2026-12-08T06:19:37.123Z"
std::string isoUtcTime(std::chrono::system_clock::time_point time);
// The entry as one JSON object followed by a newline.
std::string recordLine(const RecordEntry& entry);

// An append-only file of JSON lines, one per unit. Each line goes out in a single write() on a
// descriptor opened with O_APPEND and is fsync'ed, so a crash loses at most the line in progress
// and lines of concurrent writers never interleave. Safe to use from several threads.
class ProductionRecord {
public:
    explicit ProductionRecord(std::string path);

    const std::string& path() const { return m_path; }
    // Creates the file if needed and checks that lines can be appended.
    bool checkWritable(std::string* error) const;
    bool append(const RecordEntry& entry, std::string* error);
    // Whether a line shows the MAC address (twelve hex digits, any case) written with result "ok".
    // nullopt with *error when the record exists but cannot be read.
    std::optional<bool> macWrittenBefore(const std::string& mac, std::string* error);

private:
    std::string m_path;
    std::mutex m_mutex;
};

} // namespace tolvane::cli
