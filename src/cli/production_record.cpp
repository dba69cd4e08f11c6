#include "production_record.h"

#include "json.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <fstream>
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

int openForAppend(const std::string& path)
{
    int file;
    do {
        file = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    } while (file < 0 && errno == EINTR);
    return file;
}

} // namespace

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
    line += ",\"result\":" + jsonString(entry.result);
    line += ",\"message\":" + jsonString(entry.message);
    line += ",\"duration_s\":" + std::string(duration);
    line += "}\n";
    return line;
}

ProductionRecord::ProductionRecord(std::string path) : m_path(std::move(path)) {}

bool ProductionRecord::checkWritable(std::string* error) const
{
    const int file = openForAppend(m_path);
    if (file < 0) {
        if (error)
            *error = "cannot open record " + m_path + " for appending: " + std::strerror(errno);
        return false;
    }
    ::close(file);
    return true;
}

bool ProductionRecord::append(const RecordEntry& entry, std::string* error)
{
    const std::string line = recordLine(entry);
    std::lock_guard lock(m_mutex);
    const int file = openForAppend(m_path);
    if (file < 0) {
        if (error)
            *error = "cannot open record " + m_path + " for appending: " + std::strerror(errno);
        return false;
    }
    const char* data = line.data();
    std::size_t left = line.size();
    while (left > 0) {
        const ssize_t written = ::write(file, data, left);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            if (error)
                *error = "cannot write record " + m_path + ": " + std::strerror(errno);
            ::close(file);
            return false;
        }
        data += written;
        left -= static_cast<std::size_t>(written);
    }
    if (::fsync(file) != 0) {
        if (error)
            *error = "cannot flush record " + m_path + ": " + std::strerror(errno);
        ::close(file);
        return false;
    }
    if (::close(file) != 0) {
        if (error)
            *error = "cannot close record " + m_path + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

std::optional<bool> ProductionRecord::macWrittenBefore(const std::string& mac, std::string* error)
{
    const std::string wanted = upperCase(mac);
    std::lock_guard lock(m_mutex);
    std::ifstream file(m_path);
    if (!file) {
        if (errno == ENOENT)
            return false;
        if (error)
            *error = "cannot read record " + m_path + ": " + std::strerror(errno);
        return std::nullopt;
    }
    std::string line;
    while (std::getline(file, line)) {
        // A line cut short by a crash does not parse and says nothing.
        const auto members = parseJsonObjectStrings(line);
        if (!members)
            continue;
        const auto result = members->find("result");
        const auto recorded = members->find("mac");
        if (result != members->end() && recorded != members->end() && result->second == ResultOk &&
            upperCase(recorded->second) == wanted) {
            return true;
        }
    }
    if (file.bad()) {
        if (error)
            *error = "cannot read record " + m_path + ": " + std::strerror(errno);
        return std::nullopt;
    }
    return false;
}

} // namespace tolvane::cli
