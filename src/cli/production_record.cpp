#include "cli/production_record.h"

#include "cli/json.h"
#include "core/base/regular_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <random>
#include <set>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tolvane::cli {

namespace {

std::string upperCase(std::string text)
{
    for (char& c : text) {
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    }
    return text;
}

std::string optionalString(const std::optional<std::string>& value)
{
    return value ? jsonString(*value) : "null";
}

std::string recordFailure(bool forWriting, const std::string& path, const Failure& why)
{
    if (why.error == 0)
        return why.context; // "PATH is not a regular file"
    return std::string(forWriting ? "cannot open record " : "cannot read record ") + path + ": " +
           systemErrorText(why.error);
}

std::string failure(const char* what, const std::string& path)
{
    const int code = errno;
    return std::string(what) + " " + path + ": " + std::strerror(code);
}

// The record file opened and locked with flock(); the lock goes with the descriptor.
class LockedRecord {
public:
    LockedRecord() = default;
    LockedRecord(const LockedRecord&) = delete;
    LockedRecord& operator=(const LockedRecord&) = delete;
    ~LockedRecord()
    {
        if (m_file >= 0)
            ::close(m_file);
    }

    // forWriting opens read-write for appending, creating the file; otherwise read-only with a
    // shared lock, and a missing file is not an error (*missing is set).
    bool open(const std::string& path, bool forWriting, bool* missing, std::string* error)
    {
        m_path = path;
        // Non-blocking and regular files only: a FIFO or a device as record would hang or
        // never end.
        const int flags = forWriting ? O_RDWR | O_APPEND | O_CREAT : O_RDONLY;
        Failure why;
        m_file = openRegularFile(path, flags, &why);
        if (m_file < 0) {
            if (!forWriting && why.error == ENOENT && missing) {
                *missing = true;
                return false;
            }
            if (error)
                *error = recordFailure(forWriting, path, why);
            return false;
        }
        int locked;
        do {
            locked = ::flock(m_file, forWriting ? LOCK_EX : LOCK_SH);
        } while (locked != 0 && errno == EINTR);
        if (locked != 0) {
            if (error)
                *error = failure("cannot lock record", path);
            return false;
        }
        return true;
    }

    std::optional<std::string> readAll(std::string* error)
    {
        std::string content;
        char buffer[65536];
        off_t offset = 0;
        for (;;) {
            const ssize_t got = ::pread(m_file, buffer, sizeof buffer, offset);
            if (got < 0 && errno == EINTR)
                continue;
            if (got < 0) {
                if (error)
                    *error = failure("cannot read record", m_path);
                return std::nullopt;
            }
            if (got == 0)
                return content;
            content.append(buffer, static_cast<std::size_t>(got));
            offset += got;
        }
    }

    bool appendLine(std::string line, std::string* error)
    {
        // A line cut off by a crash has no newline; without one the next line would join it and
        // neither would parse.
        struct stat info {};
        if (::fstat(m_file, &info) != 0) {
            if (error)
                *error = failure("cannot read record", m_path);
            return false;
        }
        if (info.st_size > 0) {
            char last = '\n';
            ssize_t got;
            do {
                got = ::pread(m_file, &last, 1, info.st_size - 1);
            } while (got < 0 && errno == EINTR);
            if (got != 1) {
                if (error)
                    *error = failure("cannot read record", m_path);
                return false;
            }
            if (last != '\n')
                line.insert(line.begin(), '\n');
        }
        const char* data = line.data();
        std::size_t left = line.size();
        while (left > 0) {
            const ssize_t written = ::write(m_file, data, left);
            if (written < 0 && errno == EINTR)
                continue;
            if (written <= 0) {
                if (written == 0)
                    errno = EIO;
                return undoAppend(info.st_size, "cannot write record", error);
            }
            data += written;
            left -= static_cast<std::size_t>(written);
        }
        if (::fsync(m_file) != 0)
            return undoAppend(info.st_size, "cannot flush record", error);
        return true;
    }

private:
    // A failed append (a full disk, the file-size limit) may have written part of the line; cut
    // the record back to its length before, so no partial line stays. errno holds the cause.
    bool undoAppend(off_t lengthBefore, const char* what, std::string* error)
    {
        const std::string why = failure(what, m_path);
        int cut;
        do {
            cut = ::ftruncate(m_file, lengthBefore);
        } while (cut != 0 && errno == EINTR);
        if (error)
            *error =
                cut == 0 ? why : why + "; a partial line may remain (" + std::strerror(errno) + ")";
        return false;
    }

    std::string m_path;
    int m_file = -1;
};

// The string members of one record line. A line that does not parse may be a fragment left by a
// crash with the next line joined to it (records written before every line was ended); the
// complete line then starts at a later '{'. A '{' inside a string is never followed by a name, so
// only a real line start can parse.
std::optional<std::map<std::string, std::string>> parseRecordLine(std::string_view line)
{
    if (auto members = parseJsonObjectStrings(line))
        return members;
    for (auto brace = line.find('{', 1); brace != std::string_view::npos;
         brace = line.find('{', brace + 1)) {
        if (auto members = parseJsonObjectStrings(line.substr(brace)))
            return members;
    }
    return std::nullopt;
}

bool macUsedIn(std::string_view content, const std::string& wanted)
{
    // Units with a pending line for the MAC and no outcome line yet.
    std::set<std::string> open;
    while (!content.empty()) {
        const auto end = content.find('\n');
        const std::string_view line = content.substr(0, end);
        content.remove_prefix(end == std::string_view::npos ? content.size() : end + 1);
        const auto members = parseRecordLine(line);
        if (!members)
            continue;
        const auto mac = members->find("mac");
        const auto result = members->find("result");
        if (mac == members->end() || result == members->end() || upperCase(mac->second) != wanted)
            continue;
        const auto unit = members->find("unit");
        if (result->second == ResultOk)
            return true;
        if (result->second == ResultPending) {
            // A pending line no outcome can be matched to stays pending.
            if (unit == members->end() || unit->second.empty())
                return true;
            open.insert(unit->second);
        } else if (unit != members->end()) {
            open.erase(unit->second);
        }
    }
    return !open.empty();
}

} // namespace

std::string newUnitId()
{
    std::random_device source;
    std::string id;
    for (int i = 0; i < 4; ++i) {
        char part[16];
        std::snprintf(part, sizeof part, "%08x", static_cast<unsigned>(source()));
        id += part;
    }
    return id;
}

std::string isoUtcTime(std::chrono::system_clock::time_point time)
{
    const auto since = time.time_since_epoch();
    const auto seconds = std::chrono::floor<std::chrono::seconds>(since);
    const auto millis = std::chrono::duration_cast<std::chrono::milliseconds>(since - seconds);
    const std::time_t whole = static_cast<std::time_t>(seconds.count());
    std::tm parts{};
    ::gmtime_r(&whole, &parts);
    char text[96];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", parts.tm_year + 1900,
                  parts.tm_mon + 1, parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec,
                  static_cast<int>(millis.count()));
    return text;
}

std::string recordLine(const RecordEntry& entry)
{
    char duration[32];
    std::snprintf(duration, sizeof duration, "%.3f", entry.durationSeconds);
    std::string line = "{";
    line += "\"time\":" + jsonString(isoUtcTime(entry.time));
    line += ",\"target\":" + jsonString(entry.target);
    line += ",\"type\":" + jsonString(entry.type);
    line += ",\"file\":" + optionalString(entry.file);
    line += ",\"sha256\":" + optionalString(entry.sha256);
    line += ",\"version\":" + optionalString(entry.version);
    line += ",\"mac\":" + optionalString(entry.mac);
    line += ",\"serial\":" + (entry.serial ? std::to_string(*entry.serial) : std::string("null"));
    line += ",\"unit\":" + jsonString(entry.unit);
    line += ",\"result\":" + jsonString(entry.result);
    line += ",\"message\":" + jsonString(entry.message);
    line += ",\"duration_s\":" + std::string(duration);
    line += "}\n";
    return line;
}

ProductionRecord::ProductionRecord(std::string path) : m_path(std::move(path)) {}

bool ProductionRecord::checkWritable(std::string* error) const
{
    // Read access too: the MAC check reads the record before a unit is reserved.
    Failure why;
    const int file = openRegularFile(m_path, O_RDWR | O_APPEND | O_CREAT, &why);
    if (file < 0) {
        if (error)
            *error = recordFailure(true, m_path, why);
        return false;
    }
    ::close(file);
    return true;
}

bool ProductionRecord::append(const RecordEntry& entry, std::string* error)
{
    std::lock_guard lock(m_mutex);
    LockedRecord file;
    return file.open(m_path, true, nullptr, error) && file.appendLine(recordLine(entry), error);
}

std::optional<bool> ProductionRecord::macUsed(const std::string& mac, std::string* error)
{
    std::lock_guard lock(m_mutex);
    LockedRecord file;
    bool missing = false;
    if (!file.open(m_path, false, &missing, error)) {
        if (missing)
            return false;
        return std::nullopt;
    }
    const auto content = file.readAll(error);
    if (!content)
        return std::nullopt;
    return macUsedIn(*content, upperCase(mac));
}

std::optional<bool> ProductionRecord::reserveMac(const RecordEntry& pending, bool allowReused,
                                                 std::string* error)
{
    std::lock_guard lock(m_mutex);
    LockedRecord file;
    if (!file.open(m_path, true, nullptr, error))
        return std::nullopt;
    if (!allowReused && pending.mac) {
        const auto content = file.readAll(error);
        if (!content)
            return std::nullopt;
        if (macUsedIn(*content, upperCase(*pending.mac)))
            return false;
    }
    if (!file.appendLine(recordLine(pending), error))
        return std::nullopt;
    return true;
}

} // namespace tolvane::cli
