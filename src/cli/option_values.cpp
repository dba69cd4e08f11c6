#include "cli/option_values.h"

#include "cli/targets.h"
#include "core/base/decimal_text.h"
#include "core/image/mac_address.h"
#include "record/record_entry.h"

#include <algorithm>
#include <iterator>

namespace tolvane::cli {

namespace {

// The longest number a value may be written with, leading zeros and all.
constexpr std::size_t MaxDigits = 20;

// "YYYY-MM-DD" (its midnight) or "YYYY-MM-DDTHH:MM:SS" with an optional "Z", all UTC, written
// as the production record writes its times so that the two compare as text.
std::optional<std::string> parseSince(const std::string& text)
{
    std::string time = text.size() == 10 ? text + "T00:00:00" : text;
    if (time.size() == 20 && time.back() == 'Z')
        time.pop_back();
    if (!record::parseIsoUtcSecond(time))
        return std::nullopt;
    return time + ".000Z";
}

// Checks one value and stores it; false with the reason in error.
using ValueReader = bool (*)(const std::string& name, const std::string& value,
                             CommandValues& values, std::string& error);

bool readTarget(const std::string&, const std::string& value, CommandValues& values,
                std::string& error)
{
    const auto target = parseTarget(value);
    if (!target) {
        error = "--target " + value + ": " + target.failure().text();
        return false;
    }
    values.command.targets.push_back(*target);
    values.targetPlaces.emplace_back();
    return true;
}

bool readTargets(const std::string&, const std::string& value, CommandValues& values,
                 std::string& error)
{
    std::vector<int> lines;
    const auto targets = readTargetsFile(value, &error, &lines);
    if (!targets)
        return false;
    auto& all = values.command.targets;
    all.insert(all.end(), targets->begin(), targets->end());
    std::transform(lines.begin(), lines.end(), std::back_inserter(values.targetPlaces),
                   [&](int line) { return value + ":" + std::to_string(line); });
    return true;
}

bool readJobs(const std::string&, const std::string& value, CommandValues& values,
              std::string& error)
{
    const auto jobs = parseDecimal(value, MaximumJobs, MaxDigits);
    if (!jobs || *jobs == 0) {
        error = "--jobs takes a number from 1 to " + std::to_string(MaximumJobs);
        return false;
    }
    values.command.jobs = static_cast<int>(*jobs);
    return true;
}

// What a value that must not be empty needs, after the option's name.
constexpr char FileName[] = " needs a file name";
constexpr char RecordLocation[] = " needs a file name or a connection string";
constexpr char Text[] = " needs a text";
constexpr char Name[] = " needs a name";

template <auto field, const char* needs>
bool readNonEmpty(const std::string& name, const std::string& value, CommandValues& values,
                  std::string& error)
{
    if (value.empty()) {
        error = name + needs;
        return false;
    }
    values.command.*field = value;
    return true;
}

bool readProtocolNumber(const std::string&, const std::string& value, CommandValues& values,
                        std::string& error)
{
    const auto number = parseDecimalInt32(value, PlusSign::Refused, MaxDigits);
    if (!number) {
        error = "not a protocol number: " + value;
        return false;
    }
    values.command.protocolNumbers.push_back(*number);
    return true;
}

// --mac, or the MAC operand of record release.
bool readMac(const std::string& name, const std::string& value, CommandValues& values,
             std::string& error)
{
    if (!isValidMacText(value)) {
        error = name + " takes twelve hex digits, not " + value;
        return false;
    }
    values.command.mac = formatMacAddress(splitMacAddress(value));
    return true;
}

bool readSerial(const std::string&, const std::string& value, CommandValues& values,
                std::string& error)
{
    const auto serial = parseDecimal(value, 0xFFFFFFFFULL, MaxDigits);
    if (!serial) {
        error = "--serial takes a number from 0 to 4294967295, not " + value;
        return false;
    }
    values.command.serial = static_cast<std::uint32_t>(*serial);
    return true;
}

// --since, or --until of record report.
template <auto field>
bool readTime(const std::string& name, const std::string& value, CommandValues& values,
              std::string& error)
{
    values.command.*field = parseSince(value);
    if (!(values.command.*field)) {
        error = name + " takes YYYY-MM-DD or YYYY-MM-DDTHH:MM:SS[Z] in UTC, not " + value;
        return false;
    }
    return true;
}

// jsonl or csv; for record units, table as well; for record report, json alone.
bool readFormat(const std::string&, const std::string& value, CommandValues& values,
                std::string& error)
{
    if (values.command.kind == CommandKind::RecordReport) {
        values.command.reportJson = true;
        if (value != "json")
            error = "--format takes json, not " + value;
        return value == "json";
    }
    const bool units = values.command.kind == CommandKind::RecordUnits;
    if (units && value == "table") {
        values.command.recordFormat = RecordFormat::Table;
        return true;
    }
    if (value != "jsonl" && value != "csv") {
        error = units ? "--format takes table, csv or jsonl, not " + value
                      : "--format takes jsonl or csv, not " + value;
        return false;
    }
    values.command.recordFormat = value == "csv" ? RecordFormat::Csv : RecordFormat::Jsonl;
    return true;
}

// IMAGE, FILE, DB.pdb or FILE.jsonl.
bool readFile(const std::string&, const std::string& value, CommandValues& values, std::string&)
{
    values.command.file = value;
    return true;
}

template <bool CliCommand::*flag>
bool setFlag(const std::string&, const std::string&, CommandValues& values, std::string&)
{
    values.command.*flag = true;
    return true;
}

const struct {
    const char* name;
    ValueReader read;
} Readers[] = {
    {"--target", readTarget},
    {"--targets", readTargets},
    {"--jobs", readJobs},
    {"--record", readNonEmpty<&CliCommand::recordPath, FileName>},
    {"RECORD", readNonEmpty<&CliCommand::recordPath, RecordLocation>},
    {"--into", readNonEmpty<&CliCommand::recordPath, RecordLocation>},
    {"NUMBER", readProtocolNumber},
    {"--mac", readMac},
    {"MAC", readMac},
    {"--reason", readNonEmpty<&CliCommand::reason, Text>},
    {"--bench", readNonEmpty<&CliCommand::bench, Name>},
    {"--serial", readSerial},
    {"--output", readNonEmpty<&CliCommand::outputPath, FileName>},
    {"--since", readTime<&CliCommand::since>},
    {"--until", readTime<&CliCommand::until>},
    {"--html", readNonEmpty<&CliCommand::htmlPath, FileName>},
    {"--format", readFormat},
    {"IMAGE", readFile},
    {"FILE", readFile},
    {"DB.pdb", readFile},
    {"FILE.jsonl", readFile},
    {"--quiet", setFlag<&CliCommand::quiet>},
    {"--allow-reused-mac", setFlag<&CliCommand::allowReusedMac>},
    {"--allow-reused-serial", setFlag<&CliCommand::allowReusedSerial>},
    {"--auto-increase", setFlag<&CliCommand::autoIncrease>},
    {"--skip-used-macs", setFlag<&CliCommand::skipUsedMacs>},
    {"--app-only", setFlag<&CliCommand::applicationOnly>},
};

// "target X given twice", with the file and line of a target read from a targets file.
std::string twiceText(const DownloadTarget& target, const std::string& place,
                      const std::string& firstPlace)
{
    std::string text = "target " + targetText(target) + " given twice";
    if (!place.empty())
        text = place + ": " + text;
    if (!firstPlace.empty())
        text += " (first at " + firstPlace + ")";
    else if (!place.empty())
        text += " (first by --target)";
    return text;
}

bool checkTargets(const CommandValues& values, std::string& error)
{
    const auto& targets = values.command.targets;
    if (targets.empty()) {
        error = "no target: give --target HOST[:PORT] or --targets FILE";
        return false;
    }
    for (std::size_t i = 0; i < targets.size(); ++i) {
        for (std::size_t j = 0; j < i; ++j) {
            if (targets[i].address == targets[j].address && targets[i].port == targets[j].port) {
                error = twiceText(targets[i], values.targetPlaces[i], values.targetPlaces[j]);
                return false;
            }
        }
    }
    return true;
}

} // namespace

bool readOptionValue(const std::string& name, const std::string& value, CommandValues& values,
                     std::string& error)
{
    for (const auto& reader : Readers) {
        if (name == reader.name)
            return reader.read(name, value, values, error);
    }
    return true; // every name the commands take is in the table
}

bool checkDownload(const CommandValues& values, std::string& error)
{
    if (!checkTargets(values, error))
        return false;
    const CliCommand& command = values.command;
    if (command.downloadType == DownloadType::IndividualData && !command.mac && !command.serial) {
        error = "download data needs --mac, --serial or both";
        return false;
    }
    if (command.autoIncrease && !command.mac) {
        error = "--auto-increase needs --mac";
        return false;
    }
    if (command.skipUsedMacs && (!command.mac || !command.recordPath)) {
        error = "--skip-used-macs needs --mac and --record";
        return false;
    }
    return true;
}

bool checkReport(const CommandValues& values, std::string& error)
{
    const bool json = values.command.reportJson;
    if (json == values.command.htmlPath.has_value()) {
        error = json ? "record report takes --html FILE or --format json, not both"
                     : "record report needs --html FILE or --format json";
        return false;
    }
    return true;
}

} // namespace tolvane::cli
