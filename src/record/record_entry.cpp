#include "record/record_entry.h"

#include "core/base/decimal_text.h"

#include <nlohmann/json.hpp>

#include <cctype>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <random>
#include <vector>

namespace tolvane::record {

namespace {

using Json = nlohmann::ordered_json;

Json optionalText(const std::optional<std::string>& value)
{
    return value ? Json(*value) : Json(nullptr);
}

// A text field of a JSON object; nothing when it is null or absent, `bad` when it is not text.
std::optional<std::string> textField(const Json& object, const char* name, bool& bad)
{
    const auto field = object.find(name);
    if (field == object.end() || field->is_null())
        return std::nullopt;
    if (!field->is_string()) {
        bad = true;
        return std::nullopt;
    }
    return field->get<std::string>();
}

std::string csvField(const std::string& text)
{
    if (text.find_first_of(",\"\r\n") == std::string::npos)
        return text;
    std::string quoted = "\"";
    for (char c : text) {
        if (c == '"')
            quoted += '"';
        quoted += c;
    }
    return quoted + "\"";
}

// The fields that say where a row came from, by their names in the record and its exports.
const struct {
    const char* name;
    std::optional<std::string> RecordEntry::*field;
} OriginFields[] = {
    {"bench", &RecordEntry::bench},
    {"operator", &RecordEntry::operatorName},
    {"tool_version", &RecordEntry::toolVersion},
};

std::string durationText(double seconds)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", seconds);
    return text;
}

} // namespace

std::string newUnitId()
{
    std::random_device source;
    char text[33];
    for (int i = 0; i < 4; ++i)
        std::snprintf(text + 8 * i, 9, "%08x", static_cast<unsigned>(source()));
    return text;
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

std::optional<std::chrono::sys_seconds> parseIsoUtcSecond(std::string_view text)
{
    static constexpr std::string_view Shape = "dddd-dd-ddTdd:dd:dd";
    if (text.size() != Shape.size())
        return std::nullopt;
    for (std::size_t i = 0; i < Shape.size(); ++i) {
        if (Shape[i] != 'd' && text[i] != Shape[i])
            return std::nullopt;
    }
    const auto field = [text](std::size_t at, std::size_t digits, std::uint64_t most) {
        return parseDecimal(text.substr(at, digits), most);
    };
    const auto year = field(0, 4, 9999), month = field(5, 2, 12), day = field(8, 2, 31);
    const auto hour = field(11, 2, 23), minute = field(14, 2, 59), second = field(17, 2, 59);
    if (!year || !month || !day || !hour || !minute || !second)
        return std::nullopt;
    using namespace std::chrono;
    const year_month_day date{std::chrono::year(static_cast<int>(*year)),
                              std::chrono::month(static_cast<unsigned>(*month)),
                              std::chrono::day(static_cast<unsigned>(*day))};
    if (!date.ok())
        return std::nullopt;
    return sys_days(date) + hours(*hour) + minutes(*minute) + seconds(*second);
}

std::optional<std::chrono::system_clock::time_point> parseIsoUtcTime(std::string_view text)
{
    if (text.size() != 24 || text[19] != '.' || text[23] != 'Z')
        return std::nullopt;
    const auto second = parseIsoUtcSecond(text.substr(0, 19));
    const auto millis = parseDecimal(text.substr(20, 3), 999);
    if (!second || !millis)
        return std::nullopt;
    // The system clock counts nanoseconds, so it holds only 1677-09-21 to 2262-04-11: a time
    // outside them is refused rather than wrapped around.
    using namespace std::chrono;
    const auto earliest = ceil<seconds>(system_clock::time_point::min());
    const auto latest = floor<seconds>(system_clock::time_point::max()) - seconds(1);
    if (*second < earliest || *second > latest)
        return std::nullopt;
    return *second + milliseconds(*millis);
}

std::string recordLine(const RecordEntry& entry)
{
    Json object;
    object["time"] = isoUtcTime(entry.time);
    object["target"] = entry.target;
    object["type"] = entry.type;
    object["file"] = optionalText(entry.file);
    object["sha256"] = optionalText(entry.sha256);
    object["version"] = optionalText(entry.version);
    object["mac"] = optionalText(entry.mac);
    object["serial"] = entry.serial ? Json(*entry.serial) : Json(nullptr);
    object["unit"] = entry.unit;
    object["result"] = entry.result;
    object["message"] = entry.message;
    // Milliseconds, written as such: a reader sees 1.250, not 1.2500000000000002.
    object["duration_s"] = std::round(entry.durationSeconds * 1000) / 1000;
    for (const auto& origin : OriginFields) {
        if (const auto& value = entry.*origin.field)
            object[origin.name] = *value;
    }
    // Invalid UTF-8 in a file name or a message is replaced rather than ending the program.
    return object.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n";
}

Result<RecordEntry> parseRecordLine(std::string_view line)
{
    const Json object = Json::parse(line.begin(), line.end(), nullptr, false);
    const auto fail = [](const char* text) { return Result<RecordEntry>(Failure(0, text)); };
    if (object.is_discarded())
        return fail("not JSON");
    if (!object.is_object())
        return fail("not a JSON object");
    bool bad = false;
    RecordEntry entry;
    // Hand-made lines may leave the time out; such a row shows the start of the epoch.
    if (const auto time = textField(object, "time", bad)) {
        auto parsedTime = parseIsoUtcTime(*time);
        // Whole seconds, as hand-made lines and other tools write them.
        if (!parsedTime && time->size() == 20 && time->back() == 'Z')
            parsedTime = parseIsoUtcTime(time->substr(0, 19) + ".000Z");
        if (!parsedTime)
            return fail("a time not of the form 2026-12-08T06:19:37.123Z");
        entry.time = *parsedTime;
    }
    entry.target = textField(object, "target", bad).value_or("");
    entry.type = textField(object, "type", bad).value_or("");
    entry.file = textField(object, "file", bad);
    entry.sha256 = textField(object, "sha256", bad);
    entry.version = textField(object, "version", bad);
    entry.mac = textField(object, "mac", bad);
    entry.unit = textField(object, "unit", bad).value_or("");
    entry.result = textField(object, "result", bad).value_or("");
    entry.message = textField(object, "message", bad).value_or("");
    for (const auto& origin : OriginFields)
        entry.*origin.field = textField(object, origin.name, bad);
    if (bad)
        return fail("a field that should be text is not");
    if (entry.result.empty())
        return fail("no result");
    if (entry.mac) {
        // Kept as the record keeps it, so a used address is found whichever way it was written.
        std::string digits;
        for (const char c : *entry.mac) {
            if (c != ':' && c != '-')
                digits.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(c))));
        }
        if (digits.size() != 12 ||
            digits.find_first_not_of("0123456789ABCDEF") != std::string::npos)
            return fail("a MAC address that is not twelve hex digits");
        entry.mac = digits;
    }
    if (const auto serial = object.find("serial"); serial != object.end() && !serial->is_null()) {
        if (!serial->is_number_unsigned() || serial->get<std::uint64_t>() > 0xFFFFFFFFu)
            return fail("a serial number that is not 0 to 4294967295");
        entry.serial = serial->get<std::uint32_t>();
    }
    if (const auto duration = object.find("duration_s");
        duration != object.end() && duration->is_number())
        entry.durationSeconds = duration->get<double>();
    return entry;
}

std::string csvHeader()
{
    std::string header =
        "time,target,type,file,sha256,version,mac,serial,unit,result,message,duration_s";
    for (const auto& origin : OriginFields)
        header += std::string(",") + origin.name;
    return header + "\r\n";
}

std::string csvRow(const RecordEntry& entry)
{
    std::vector<std::string> fields = {isoUtcTime(entry.time),
                                       entry.target,
                                       entry.type,
                                       entry.file.value_or(""),
                                       entry.sha256.value_or(""),
                                       entry.version.value_or(""),
                                       entry.mac.value_or(""),
                                       entry.serial ? std::to_string(*entry.serial) : "",
                                       entry.unit,
                                       entry.result,
                                       entry.message,
                                       durationText(entry.durationSeconds)};
    for (const auto& origin : OriginFields)
        fields.push_back((entry.*origin.field).value_or(""));
    return csvLine(fields);
}

std::string unitLineJson(const UnitLine& line)
{
    Json object;
    object["mac"] = optionalText(line.mac);
    object["serial"] = line.serial ? Json(*line.serial) : Json(nullptr);
    object["state"] = line.state;
    object["attempts"] = line.attempts;
    object["first_time"] = isoUtcTime(line.firstTime);
    object["last_time"] = isoUtcTime(line.lastTime);
    object["target"] = line.target;
    object["bench"] = optionalText(line.bench);
    object["version"] = optionalText(line.version);
    return object.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n";
}

std::string unitLinesCsvHeader()
{
    return "mac,serial,state,attempts,first_time,last_time,target,bench,version\r\n";
}

std::string unitLineCsv(const UnitLine& line)
{
    return csvLine({line.mac.value_or(""), line.serial ? std::to_string(*line.serial) : "",
                    line.state, std::to_string(line.attempts), isoUtcTime(line.firstTime),
                    isoUtcTime(line.lastTime), line.target, line.bench.value_or(""),
                    line.version.value_or("")});
}

std::string csvLine(const std::vector<std::string>& fields)
{
    std::string line;
    for (const auto& field : fields)
        line += (&field == fields.data() ? "" : ",") + csvField(field);
    return line + "\r\n";
}

} // namespace tolvane::record
