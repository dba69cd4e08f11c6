#include "cli/option_values.h"

#include "core/base/decimal_text.h"
#include "core/image/mac_address.h"
#include "record/record_entry.h"
#include "service/targets.h"

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
    const auto targets = service::readTargetsFile(value, &error, &lines);
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

// Every option and operand: how its value is read, and its line in the help, shown for the
// commands whose words start with its scope ("" for none). A name that means something else for
// another command has a row for that command too; its value is read alike.
const struct {
    OptionHelp help;
    ValueReader read;
} Options[] = {
    // clang-format off
    {{"--target", "download", "HOST[:PORT]",
      "a recorder (IPv4 address; port 5000 unless given); may be repeated"}, readTarget},
    {{"--targets", "download", "FILE",
      "recorders from a file, one a line; blank lines and # comments are skipped"}, readTargets},
    {{"--jobs", "download", "N", "downloads running at once (default 4)"}, readJobs},
    {{"--quiet", "download", "", "no progress display and no summary table; messages still show"},
     setFlag<&CliCommand::quiet>},
    {{"--json", "download", "", "each unit's result, then a summary, as JSON lines on stdout (below)"},
     setFlag<&CliCommand::json>},
    {{"--record", "download", "RECORD",
      "the record: an SQLite file or a PostgreSQL connection string or URL"},
     readNonEmpty<&CliCommand::recordPath, FileName>},
    {{"--mac", "download", "HEX12",
      "the MAC address (twelve hex digits); further targets get the next ones"}, readMac},
    {{"--serial", "download", "N", "the serial number to send; further targets get the next ones"},
     readSerial},
    {{"--auto-increase", "download", "",
      "print the next unit's MAC address (with --serial, its serial number below)"},
     setFlag<&CliCommand::autoIncrease>},
    {{"--allow-reused-mac", "download", "", "send a MAC address even when the record shows it used"},
     setFlag<&CliCommand::allowReusedMac>},
    {{"--allow-reused-serial", "download", "",
      "send a serial number even when the record shows it used"},
     setFlag<&CliCommand::allowReusedSerial>},
    {{"--skip-used-macs", "download", "",
      "with --record, pass over used MAC addresses (serial numbers) to free ones"},
     setFlag<&CliCommand::skipUsedMacs>},
    {{"--bench", "download", "NAME", "the bench the record's rows name (default: this host's name)"},
     readNonEmpty<&CliCommand::bench, Name>},
    {{"IMAGE", "", "", ""}, readFile},
    {{"--app-only", "version", "", "read the version where an application-only image keeps it"},
     setFlag<&CliCommand::applicationOnly>},
    {{"FILE", "", "", ""}, readFile},
    {{"DB.pdb", "", "", ""}, readFile},
    {{"NUMBER", "ptz build", "", "the protocols the image holds, one a slot in the order given"},
     readProtocolNumber},
    {{"--output", "ptz build", "OUT.bin", "the PTZ image to write"},
     readNonEmpty<&CliCommand::outputPath, FileName>},
    {{"RECORD", "record", "", "an SQLite file or a PostgreSQL connection string or URL"},
     readNonEmpty<&CliCommand::recordPath, RecordLocation>},
    {{"--mac", "record show", "HEX12", "only the units sent this MAC address (twelve hex digits)"},
     readMac},
    {{"--since", "record", "TIME",
      "only rows from TIME on: YYYY-MM-DD or YYYY-MM-DDTHH:MM:SS, in UTC"},
     readTime<&CliCommand::since>},
    {{"--format", "record export", "jsonl|csv", "export as JSON lines or as comma-separated values"},
     readFormat},
    {{"FILE.jsonl", "", "", ""}, readFile},
    {{"--into", "record import", "RECORD", "the record the lines of FILE.jsonl are added to"},
     readNonEmpty<&CliCommand::recordPath, RecordLocation>},
    {{"--format", "record units", "table|csv|jsonl",
      "a table (the default), comma-separated values or JSON lines"}, readFormat},
    {{"MAC", "record release", "", "the MAC address to free (twelve hex digits)"}, readMac},
    {{"--reason", "record release", "TEXT",
      "why it is freed, kept in the record with the operator's login name"},
     readNonEmpty<&CliCommand::reason, Text>},
    {{"--bench", "record release", "NAME", "the bench the row names (default: this host's name)"},
     readNonEmpty<&CliCommand::bench, Name>},
    {{"--until", "record report", "TIME", "only rows before TIME, written as for --since"},
     readTime<&CliCommand::until>},
    {{"--html", "record report", "FILE", "one self-contained page with charts, to open or print"},
     readNonEmpty<&CliCommand::htmlPath, FileName>},
    {{"--format", "record report", "json", "the same figures as JSON on standard output"},
     readFormat},
    // Read by the option parser itself.
    {{"--help", "", "", "show this text (after command words, that command's own)"}, nullptr},
    {{"--version", "", "", "show the program's version"}, nullptr},
    // clang-format on
};

// Paragraphs below the options, for the commands whose words start with their scope.
const HelpNote Notes[] = {
    {"download",
     "With --record, a \"pending\" row is written before a unit is sent a MAC address, then one\n"
     "row per unit with its outcome; a MAC address the record shows used (sent, or pending from a\n"
     "run that did not finish) is refused. An SQLite record is created on first use; a .jsonl\n"
     "record is refused: move it in with record import."},
    {"download",
     "With --json, stdout holds one JSON object a line, written as each unit ends: target\n"
     "(\"HOST:PORT\"), result (ok, failed, unconfirmed or refused), message (\"\" when none), mac\n"
     "and serial (null when not sent) and seconds; then {\"summary\": {...}} with the counts "
     "units,\n"
     "ok, failed, unconfirmed and refused, and next_mac and next_serial (with --auto-increase, "
     "the\n"
     "next unit's; else null). Messages, progress and the summary table stay on stderr."},
    {"record units",
     "record units lists one line per MAC address (a unit without one: its serial number) with\n"
     "its state: ok, unconfirmed (the recorder may have taken the whole payload before the\n"
     "transfer failed; the MAC stays held), pending, failed, refused or released; its attempts,\n"
     "first and last time, target, bench and image version. --since TIME keeps the units with a\n"
     "row from TIME on."},
    {"record release",
     "record release frees the MAC address of an unconfirmed or pending unit, once an operator\n"
     "has checked the unit, with a \"released\" row; the MAC of a unit that succeeded is not\n"
     "released (--allow-reused-mac sends it again deliberately)."},
    {"record report",
     "record report writes what the period produced: totals, first-pass yield, units per hour,\n"
     "failures by message, benches, images and the MAC addresses handed out. A unit counts in\n"
     "the period of its outcome. Charts use Chart.js from the package libjs-chart.js."},
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
    for (const auto& option : Options) {
        if (name == option.help.name && option.read)
            return option.read(name, value, values, error);
    }
    return true; // every name the commands take is in the table
}

std::vector<OptionHelp> optionHelp()
{
    std::vector<OptionHelp> rows;
    for (const auto& option : Options) {
        if (*option.help.text)
            rows.push_back(option.help);
    }
    return rows;
}

std::span<const HelpNote> helpNotes()
{
    return Notes;
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
