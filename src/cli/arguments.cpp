#include "cli/arguments.h"

#include "cli/targets.h"
#include "core/image/mac_address.h"
#include "tolvane_version.h"

#include <CLI/CLI.hpp>

#include <map>
#include <set>

namespace tolvane::cli {

namespace {

// The program or a command word that only leads to others.
struct CommandGroup {
    const char* word;      // "" for the program
    const char* missing;   // when none of its commands follows
    const char* unknownIs; // what an unknown next word is
};

const CommandGroup Program = {"", "no command given", "command"};
const CommandGroup Groups[] = {
    {"download", "download needs a type: app, integrated, ptz or data", "download type"},
    {"ptz", "ptz needs a subcommand: show, verify or build", "ptz subcommand"},
    {"record", "record needs a subcommand: show, export or import", "record subcommand"},
};

// One command: its words, its operands (all must be given; NUMBER takes every word left) and
// the options that apply to it.
struct CommandRule {
    const char* group; // "" for a command of one word
    const char* word;
    CommandKind kind;
    std::optional<DownloadType> downloadType;
    std::vector<const char*> operands;
    std::vector<const char*> valueOptions;
    std::vector<const char*> flags;
    std::vector<const char*> requiredOptions;
};

const std::vector<const char*> SendOptions = {"--target", "--targets", "--jobs", "--record"};
const std::vector<const char*> IdentityOptions = {"--target", "--targets", "--jobs",
                                                  "--record", "--mac",     "--serial"};
const std::vector<const char*> IdentityFlags = {"--quiet", "--auto-increase", "--allow-reused-mac",
                                                "--skip-used-macs"};

// clang-format off
const CommandRule Rules[] = {
    {"download", "app", CommandKind::Download, DownloadType::ApplicationImage,
     {"IMAGE"}, SendOptions, {"--quiet"}, {}},
    {"download", "integrated", CommandKind::Download, DownloadType::IntegratedImage,
     {"IMAGE"}, IdentityOptions, IdentityFlags, {}},
    {"download", "ptz", CommandKind::Download, DownloadType::PtzImage,
     {"FILE"}, SendOptions, {"--quiet"}, {}},
    {"download", "data", CommandKind::Download, DownloadType::IndividualData,
     {}, IdentityOptions, IdentityFlags, {}},
    {"", "version", CommandKind::Version, {}, {"IMAGE"}, {}, {"--app-only"}, {}},
    {"", "inspect", CommandKind::Inspect, {}, {"IMAGE"}, {}, {}, {}},
    {"ptz", "show", CommandKind::PtzShow, {}, {"FILE"}, {}, {}, {}},
    {"ptz", "verify", CommandKind::PtzVerify, {}, {"FILE"}, {}, {}, {}},
    {"ptz", "build", CommandKind::PtzBuild, {}, {"DB.pdb", "NUMBER"}, {}, {}, {"--output"}},
    {"record", "show", CommandKind::RecordShow, {}, {"RECORD"}, {"--mac", "--since"}, {}, {}},
    {"record", "export", CommandKind::RecordExport, {}, {"RECORD"}, {}, {}, {"--format"}},
    {"record", "import", CommandKind::RecordImport, {}, {"FILE.jsonl"}, {}, {}, {"--into"}},
    {"", "help", CommandKind::Help, {}, {}, {}, {}, {}},
};
// clang-format on

// The commands as CLI11 subcommands. CLI11 splits the words; their values are read and checked
// afterwards, in the order given.
struct CommandTree {
    CLI::App root{"", "tolvane-cli"};
    std::map<const CLI::App*, const CommandRule*> rules;
    std::map<const CLI::App*, const CommandGroup*> groups;

    CommandTree()
    {
        // Inherited by every subcommand: words no command takes are left for our own messages,
        // and a command word read once is not taken again (a file may be called "data").
        root.allow_extras();
        root.require_subcommand(0, 1);
        root.set_version_flag("--version", "tolvane-cli " TOLVANE_VERSION);
        groups[&root] = &Program;
        for (const CommandGroup& group : Groups)
            groups[root.add_subcommand(group.word)] = &group;
        for (const CommandRule& rule : Rules) {
            CLI::App* parent = *rule.group ? root.get_subcommand(rule.group) : &root;
            CLI::App* app = parent->add_subcommand(rule.word);
            rules[app] = &rule;
            // Every value is kept as written, a repeated option's too, for applyValues.
            for (const std::string name : rule.operands) {
                CLI::Option* operand = app->add_option(name)->required();
                if (name == "NUMBER")
                    operand->expected(-1)->take_all();
            }
            for (const char* name : rule.valueOptions)
                app->add_option(name)->take_all();
            for (const char* name : rule.requiredOptions)
                app->add_option(name)->take_all()->required();
            for (const char* name : rule.flags)
                app->add_flag(name)->take_all();
        }
    }

    // The option of that name in any command.
    const CLI::Option* findOption(const std::string& name) const
    {
        for (const auto& [app, rule] : rules) {
            if (const CLI::Option* option = app->get_option_no_throw(name))
                return option;
        }
        return nullptr;
    }
};

bool looksLikeOption(const std::string& arg)
{
    // "-5" is a protocol number, not an option.
    return arg.size() > 1 && arg[0] == '-' && !(arg[1] >= '0' && arg[1] <= '9');
}

std::string optionName(const std::string& arg)
{
    return arg.substr(0, arg.find('='));
}

bool isFlag(const CLI::Option& option)
{
    return option.get_expected_max() == 0;
}

// CLI11 reads "--record=" as "--record" and takes the next word as its value; the empty value
// written is refused here instead.
std::optional<std::string> emptyValueError(const CommandTree& tree,
                                           const std::vector<std::string>& args)
{
    for (const std::string& arg : args) {
        if (arg == "--")
            break;
        const std::string name = optionName(arg);
        const CLI::Option* option = tree.findOption(name);
        if (arg.starts_with("--") && arg.size() == name.size() + 1 && option)
            return "option " + name + (isFlag(*option) ? " takes no value" : " needs a value");
    }
    return std::nullopt;
}

std::string commandWords(const std::vector<CLI::App*>& chain)
{
    std::string words;
    for (std::size_t i = 1; i < chain.size(); ++i)
        words += (i > 1 ? " " : "") + chain[i]->get_name();
    return words;
}

// Why a word CLI11 left over at chain[level] is wrong.
std::string leftOverError(const CommandTree& tree, const std::vector<CLI::App*>& chain,
                          std::size_t level, const std::string& arg)
{
    const auto group = tree.groups.find(chain[level]);
    const bool isGroup = group != tree.groups.end();
    if (!looksLikeOption(arg)) {
        return isGroup ? std::string("unknown ") + group->second->unknownIs + " " + arg
                       : "unexpected argument " + arg;
    }
    const std::string name = optionName(arg);
    if (!tree.findOption(name))
        return "unknown option " + arg;
    if (level + 1 < chain.size())
        return "option " + name + " must follow the command words " + commandWords(chain);
    return isGroup ? group->second->missing
                   : "option " + name + " does not apply to " + commandWords(chain);
}

std::optional<std::uint64_t> parseUnsigned(const std::string& text, std::uint64_t maximum)
{
    if (text.empty() || text.size() > 20)
        return std::nullopt;
    std::uint64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
        if (value > maximum)
            return std::nullopt;
    }
    return value;
}

std::optional<std::int32_t> parseProtocolNumber(const std::string& text)
{
    const bool negative = !text.empty() && text[0] == '-';
    const auto magnitude = parseUnsigned(negative ? text.substr(1) : text, 2147483648ULL);
    if (!magnitude || (!negative && *magnitude > 2147483647ULL))
        return std::nullopt;
    return static_cast<std::int32_t>(negative ? -static_cast<std::int64_t>(*magnitude)
                                              : static_cast<std::int64_t>(*magnitude));
}

// "YYYY-MM-DD" (its midnight) or "YYYY-MM-DDTHH:MM:SS" with an optional "Z", all UTC, written
// as the production record writes its times so that the two compare as text.
std::optional<std::string> parseSince(const std::string& text)
{
    static const std::string Shape = "dddd-dd-ddTdd:dd:dd";
    std::string time = text.size() == 10 ? text + "T00:00:00" : text;
    if (time.size() == Shape.size() + 1 && time.back() == 'Z')
        time.pop_back();
    if (time.size() != Shape.size())
        return std::nullopt;
    for (std::size_t i = 0; i < Shape.size(); ++i) {
        const bool digit = time[i] >= '0' && time[i] <= '9';
        if (Shape[i] == 'd' ? !digit : time[i] != Shape[i])
            return std::nullopt;
    }
    const auto number = [&](std::size_t at, std::size_t length) {
        return std::stoi(time.substr(at, length));
    };
    const int year = number(0, 4), month = number(5, 2), day = number(8, 2);
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    static const int DaysIn[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12 || day < 1 ||
        day > DaysIn[month - 1] + (month == 2 && leap ? 1 : 0))
        return std::nullopt;
    if (number(11, 2) > 23 || number(14, 2) > 59 || number(17, 2) > 59)
        return std::nullopt;
    return time + ".000Z";
}

// Where each target of a command line came from: "" for --target, "FILE:LINE" for a line of a
// targets file.
using TargetPlaces = std::vector<std::string>;

bool applyValue(const std::string& name, const std::string& value, CliCommand& command,
                TargetPlaces& places, std::string& error)
{
    if (name == "--target") {
        std::string why;
        const auto target = parseTarget(value, &why);
        if (!target) {
            error = "--target " + value + ": " + why;
            return false;
        }
        command.targets.push_back(*target);
        places.emplace_back();
    } else if (name == "--targets") {
        std::vector<int> lines;
        auto targets = readTargetsFile(value, &error, &lines);
        if (!targets)
            return false;
        command.targets.insert(command.targets.end(), targets->begin(), targets->end());
        for (const int line : lines)
            places.push_back(value + ":" + std::to_string(line));
    } else if (name == "--jobs") {
        const auto jobs = parseUnsigned(value, MaximumJobs);
        if (!jobs || *jobs == 0) {
            error = "--jobs takes a number from 1 to " + std::to_string(MaximumJobs);
            return false;
        }
        command.jobs = static_cast<int>(*jobs);
    } else if (name == "--record") {
        if (value.empty()) {
            error = "--record needs a file name";
            return false;
        }
        command.recordPath = value;
    } else if (name == "RECORD" || name == "--into") {
        if (value.empty()) {
            error = name + " needs a file name or a connection string";
            return false;
        }
        command.recordPath = value;
    } else if (name == "NUMBER") {
        const auto number = parseProtocolNumber(value);
        if (!number) {
            error = "not a protocol number: " + value;
            return false;
        }
        command.protocolNumbers.push_back(*number);
    } else if (name == "--mac") {
        if (!isValidMacText(value)) {
            error = "--mac takes twelve hex digits, not " + value;
            return false;
        }
        command.mac = formatMacAddress(splitMacAddress(value));
    } else if (name == "--serial") {
        const auto serial = parseUnsigned(value, 0xFFFFFFFFULL);
        if (!serial) {
            error = "--serial takes a number from 0 to 4294967295, not " + value;
            return false;
        }
        command.serial = static_cast<std::uint32_t>(*serial);
    } else if (name == "--output") {
        if (value.empty()) {
            error = "--output needs a file name";
            return false;
        }
        command.outputPath = value;
    } else if (name == "--since") {
        command.since = parseSince(value);
        if (!command.since) {
            error = "--since takes YYYY-MM-DD or YYYY-MM-DDTHH:MM:SS[Z] in UTC, not " + value;
            return false;
        }
    } else if (name == "--format") {
        if (value != "jsonl" && value != "csv") {
            error = "--format takes jsonl or csv, not " + value;
            return false;
        }
        command.recordFormat = value == "csv" ? RecordFormat::Csv : RecordFormat::Jsonl;
    } else if (name == "--quiet") {
        command.quiet = true;
    } else if (name == "--allow-reused-mac") {
        command.allowReusedMac = true;
    } else if (name == "--auto-increase") {
        command.autoIncrease = true;
    } else if (name == "--skip-used-macs") {
        command.skipUsedMacs = true;
    } else if (name == "--app-only") {
        command.applicationOnly = true;
    } else if (!name.starts_with("-")) {
        command.file = value; // IMAGE, FILE, DB.pdb or FILE.jsonl
    }
    return true;
}

// The operands and options in the order given; a repeated option is refused unless it adds
// targets.
bool applyValues(const CLI::App& app, CliCommand& command, TargetPlaces& places, std::string& error)
{
    std::set<std::string> seen;
    std::map<const CLI::Option*, std::size_t> used;
    for (const CLI::Option* option : app.parse_order()) {
        const std::string name = option->get_name();
        const std::string& value = option->results()[used[option]++];
        const bool repeatable =
            option->get_positional() || name == "--target" || name == "--targets";
        if (!repeatable && !seen.insert(name).second) {
            error = "option " + name + " given twice";
            return false;
        }
        // CLI11 gives a flag "true" unless it was written "--flag=VALUE".
        if (isFlag(*option) && value != "true") {
            error = "option " + name + " takes no value";
            return false;
        }
        if (!applyValue(name, value, command, places, error))
            return false;
    }
    return true;
}

bool sameTarget(const DownloadTarget& a, const DownloadTarget& b)
{
    return a.address == b.address && a.port == b.port;
}

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

// What a download needs beyond each option's own value.
bool checkDownload(const CliCommand& command, const TargetPlaces& places, std::string& error)
{
    if (command.targets.empty()) {
        error = "no target: give --target HOST[:PORT] or --targets FILE";
        return false;
    }
    for (std::size_t i = 0; i < command.targets.size(); ++i) {
        for (std::size_t j = 0; j < i; ++j) {
            if (sameTarget(command.targets[i], command.targets[j])) {
                error = twiceText(command.targets[i], places[i], places[j]);
                return false;
            }
        }
    }
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

} // namespace

ParsedArguments parseArguments(const std::vector<std::string>& args)
{
    ParsedArguments result;
    std::string& error = result.error;
    CommandTree tree;
    if (const auto emptyValue = emptyValueError(tree, args)) {
        error = *emptyValue;
        return result;
    }
    std::vector<std::string> reversed(args.rbegin(), args.rend()); // CLI11 reads from the back
    try {
        tree.root.parse(reversed);
    } catch (const CLI::CallForHelp&) {
        return {CliCommand{}, ""}; // Help
    } catch (const CLI::CallForVersion&) {
        CliCommand command;
        command.kind = CommandKind::ProgramVersion;
        return {command, ""};
    } catch (const CLI::ParseError& cliError) {
        // Every option takes one value or none: a mismatch is an option at the very end.
        const bool valueMissing = dynamic_cast<const CLI::ArgumentMismatch*>(&cliError) &&
                                  tree.findOption(optionName(args.back()));
        error =
            valueMissing ? "option " + optionName(args.back()) + " needs a value" : cliError.what();
        return result;
    }

    // The command words read, from the root on.
    std::vector<CLI::App*> chain = {&tree.root};
    for (;;) {
        const auto next =
            chain.back()->get_subcommands([](CLI::App* sub) { return sub->parsed(); });
        if (next.empty())
            break;
        chain.push_back(next.front());
    }
    const auto rule = tree.rules.find(chain.back());
    const bool found = rule != tree.rules.end();
    if (chain.size() == 1 && tree.root.remaining_size() == 0)
        return {CliCommand{}, ""}; // no command at all: Help
    if (found && rule->second->kind == CommandKind::Help)
        return {CliCommand{}, ""}; // whatever follows
    for (std::size_t level = 0; level < chain.size(); ++level) {
        for (const std::string& arg : chain[level]->remaining()) {
            if (arg != "--") {
                error = leftOverError(tree, chain, level, arg);
                return result;
            }
        }
    }
    if (!found) {
        error = tree.groups.at(chain.back())->missing;
        return result;
    }

    CliCommand command;
    command.kind = rule->second->kind;
    command.downloadType = rule->second->downloadType.value_or(command.downloadType);
    TargetPlaces places;
    if (!applyValues(*chain.back(), command, places, error))
        return result;
    if (command.kind == CommandKind::Download && !checkDownload(command, places, error))
        return result;
    result.command = command;
    return result;
}

const char* usageText()
{
    return R"(Usage:
  tolvane-cli download app IMAGE         --target HOST[:PORT]...
  tolvane-cli download integrated IMAGE  --target HOST[:PORT]... [--mac HEX12] [--serial N] [--auto-increase]
  tolvane-cli download ptz FILE          --target HOST[:PORT]...
  tolvane-cli download data              --target HOST[:PORT]... [--mac HEX12] [--serial N] [--auto-increase]
  tolvane-cli version IMAGE [--app-only]
  tolvane-cli inspect IMAGE
  tolvane-cli ptz show FILE
  tolvane-cli ptz verify FILE
  tolvane-cli ptz build DB.pdb NUMBER... --output OUT.bin
  tolvane-cli record show RECORD [--mac HEX12] [--since TIME]
  tolvane-cli record export RECORD --format jsonl|csv
  tolvane-cli record import FILE.jsonl --into RECORD

Download options:
  --target HOST[:PORT]  a recorder (IPv4 address; port 5000 unless given); may be repeated
  --targets FILE        recorders from a file, one a line; blank lines and # comments are skipped
  --jobs N              downloads running at once (default 4)
  --quiet               no progress display and no summary table; messages still show
  --record RECORD       keep the production record in RECORD, an SQLite file (created on first
                        use) or a PostgreSQL connection string or URL: a "pending" row before a
                        unit is sent a MAC address, one row per unit with its outcome; refuse a
                        MAC address the record shows used (sent, or pending from a run that did
                        not finish). A .jsonl record is refused: move it in with record import
  --allow-reused-mac    send a MAC address even when the record shows it used
  --mac HEX12           the MAC address to send (twelve hex digits); several targets get
                        consecutive addresses in the order given
  --serial N            the serial number to send
  --auto-increase       print the MAC address the next unit should get
  --skip-used-macs      with --record, a unit whose MAC address is used takes the next free one

Record options:
  RECORD                the production record --record keeps: an SQLite file, or a PostgreSQL
                        connection string or URL (postgresql://bench@dbhost/units)
  --mac HEX12           only the units sent this MAC address (twelve hex digits)
  --since TIME          only the rows written from TIME on: YYYY-MM-DD (its midnight) or
                        YYYY-MM-DDTHH:MM:SS, in UTC
  --format jsonl|csv    export as JSON lines or as comma-separated values
  --into RECORD         the record the lines of FILE.jsonl are added to

Other options:
  --help                show this text
  --version             show the program's version

Exit status: 0 when everything succeeded, 1 when a download or check failed, 2 for a usage error.
)";
}

} // namespace tolvane::cli
