#include "cli/arguments.h"

#include "cli/targets.h"
#include "core/image/mac_address.h"

#include <algorithm>
#include <map>
#include <set>
#include <string_view>

namespace tolvane::cli {

namespace {

const std::set<std::string_view> ValueOptions = {"--target", "--targets", "--jobs",  "--record",
                                                 "--mac",    "--serial",  "--output"};
const std::set<std::string_view> FlagOptions = {"--quiet", "--allow-reused-mac", "--auto-increase",
                                                "--app-only", "--help"};

struct RawArguments {
    std::vector<std::string> positional;
    std::vector<std::pair<std::string, std::string>> options; // in the order given
    bool help = false;
};

bool looksLikeOption(const std::string& arg)
{
    // "-5" is a protocol number, not an option.
    return arg.size() > 1 && arg[0] == '-' && !(arg[1] >= '0' && arg[1] <= '9');
}

std::optional<RawArguments> split(const std::vector<std::string>& args, std::string& error)
{
    RawArguments raw;
    bool optionsEnded = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (optionsEnded || !looksLikeOption(arg)) {
            raw.positional.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        if (arg == "-h" || arg == "--help") {
            raw.help = true;
            continue;
        }
        std::string name = arg;
        std::optional<std::string> value;
        if (const auto equals = arg.find('='); equals != std::string::npos) {
            name = arg.substr(0, equals);
            value = arg.substr(equals + 1);
        }
        if (ValueOptions.count(name)) {
            if (!value) {
                if (i + 1 >= args.size()) {
                    error = "option " + name + " needs a value";
                    return std::nullopt;
                }
                value = args[++i];
            }
            raw.options.emplace_back(name, *value);
        } else if (FlagOptions.count(name)) {
            if (value) {
                error = "option " + name + " takes no value";
                return std::nullopt;
            }
            raw.options.emplace_back(name, std::string());
        } else {
            error = "unknown option " + arg;
            return std::nullopt;
        }
    }
    return raw;
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

// Which options each command accepts.
std::set<std::string_view> allowedOptions(const CliCommand& command)
{
    switch (command.kind) {
    case CommandKind::Download: {
        std::set<std::string_view> allowed = {"--target", "--targets", "--jobs", "--quiet",
                                              "--record"};
        if (command.downloadType == DownloadType::IntegratedImage ||
            command.downloadType == DownloadType::IndividualData) {
            allowed.insert({"--mac", "--serial", "--auto-increase", "--allow-reused-mac"});
        }
        return allowed;
    }
    case CommandKind::Version: return {"--app-only"};
    case CommandKind::PtzBuild: return {"--output"};
    default: return {};
    }
}

std::string commandName(const CliCommand& command, const std::vector<std::string>& positional)
{
    std::string name = positional.empty() ? std::string() : positional[0];
    if (command.kind == CommandKind::Download || command.kind == CommandKind::PtzShow ||
        command.kind == CommandKind::PtzVerify || command.kind == CommandKind::PtzBuild) {
        name += " " + positional[1];
    }
    return name;
}

// Fails with the reason unless exactly `count` positional arguments were given.
bool expectCount(const std::vector<std::string>& positional, std::size_t count, const char* what,
                 std::string& error)
{
    if (positional.size() == count)
        return true;
    error = positional.size() < count ? std::string("missing ") + what
                                      : "unexpected argument " + positional[count];
    return false;
}

// False, with `missing` as the error, when fewer than count words were given.
bool haveWords(const std::vector<std::string>& positional, std::size_t count, const char* missing,
               std::string& error)
{
    if (positional.size() >= count)
        return true;
    error = missing;
    return false;
}

// `download TYPE [IMAGE]`
bool readDownloadWords(const std::vector<std::string>& positional, CliCommand& command,
                       std::string& error)
{
    command.kind = CommandKind::Download;
    if (!haveWords(positional, 2, "download needs a type: app, integrated, ptz or data", error))
        return false;
    static const std::map<std::string, DownloadType> Types = {
        {"app", DownloadType::ApplicationImage},
        {"integrated", DownloadType::IntegratedImage},
        {"ptz", DownloadType::PtzImage},
        {"data", DownloadType::IndividualData}};
    const auto type = Types.find(positional[1]);
    if (type == Types.end()) {
        error = "unknown download type " + positional[1];
        return false;
    }
    command.downloadType = type->second;
    if (command.downloadType == DownloadType::IndividualData)
        return expectCount(positional, 2, "", error);
    if (!expectCount(positional, 3, "image file", error))
        return false;
    command.file = positional[2];
    return true;
}

// `ptz build DB.pdb NUMBER...`
bool readPtzBuildWords(const std::vector<std::string>& positional, CliCommand& command,
                       std::string& error)
{
    command.kind = CommandKind::PtzBuild;
    if (!haveWords(positional, 3, "missing database file", error))
        return false;
    command.file = positional[2];
    if (!haveWords(positional, 4, "missing protocol numbers", error))
        return false;
    for (std::size_t i = 3; i < positional.size(); ++i) {
        const auto number = parseProtocolNumber(positional[i]);
        if (!number) {
            error = "not a protocol number: " + positional[i];
            return false;
        }
        command.protocolNumbers.push_back(*number);
    }
    return true;
}

// `ptz show|verify|build ...`
bool readPtzWords(const std::vector<std::string>& positional, CliCommand& command,
                  std::string& error)
{
    if (!haveWords(positional, 2, "ptz needs a subcommand: show, verify or build", error))
        return false;
    const std::string& sub = positional[1];
    if (sub == "show" || sub == "verify") {
        command.kind = sub == "show" ? CommandKind::PtzShow : CommandKind::PtzVerify;
        if (!expectCount(positional, 3, "file", error))
            return false;
        command.file = positional[2];
        return true;
    }
    if (sub == "build")
        return readPtzBuildWords(positional, command, error);
    error = "unknown ptz subcommand " + sub;
    return false;
}

// Reads the command words and their positional arguments.
bool readCommandWords(const std::vector<std::string>& positional, CliCommand& command,
                      std::string& error)
{
    if (positional.empty()) {
        error = "no command given";
        return false;
    }
    const std::string& word = positional[0];
    if (word == "download")
        return readDownloadWords(positional, command, error);
    if (word == "version" || word == "inspect") {
        command.kind = word == "version" ? CommandKind::Version : CommandKind::Inspect;
        if (!expectCount(positional, 2, "image file", error))
            return false;
        command.file = positional[1];
        return true;
    }
    if (word == "ptz")
        return readPtzWords(positional, command, error);
    if (word == "help") {
        command.kind = CommandKind::Help;
        return true;
    }
    error = "unknown command " + word;
    return false;
}

bool applyOption(const std::string& name, const std::string& value, CliCommand& command,
                 std::string& error)
{
    if (name == "--target") {
        std::string why;
        const auto target = parseTarget(value, &why);
        if (!target) {
            error = "--target " + value + ": " + why;
            return false;
        }
        command.targets.push_back(*target);
    } else if (name == "--targets") {
        auto targets = readTargetsFile(value, &error);
        if (!targets)
            return false;
        command.targets.insert(command.targets.end(), targets->begin(), targets->end());
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
    } else if (name == "--quiet") {
        command.quiet = true;
    } else if (name == "--allow-reused-mac") {
        command.allowReusedMac = true;
    } else if (name == "--auto-increase") {
        command.autoIncrease = true;
    } else if (name == "--app-only") {
        command.applicationOnly = true;
    }
    return true;
}

bool sameTarget(const DownloadTarget& a, const DownloadTarget& b)
{
    return a.address == b.address && a.port == b.port;
}

// What a download needs beyond each option's own value.
bool checkDownload(const CliCommand& command, std::string& error)
{
    if (command.targets.empty()) {
        error = "no target: give --target HOST[:PORT] or --targets FILE";
        return false;
    }
    for (std::size_t i = 0; i < command.targets.size(); ++i) {
        for (std::size_t j = 0; j < i; ++j) {
            if (sameTarget(command.targets[i], command.targets[j])) {
                error = "target " + targetText(command.targets[i]) + " given twice";
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
    return true;
}

} // namespace

ParsedArguments parseArguments(const std::vector<std::string>& args)
{
    ParsedArguments result;
    std::string& error = result.error;
    const auto raw = split(args, error);
    if (!raw)
        return result;
    CliCommand command;
    if (raw->help || (raw->positional.empty() && raw->options.empty())) {
        result.command = command; // Help
        return result;
    }
    if (!readCommandWords(raw->positional, command, error))
        return result;
    if (command.kind == CommandKind::Help) {
        result.command = command;
        return result;
    }

    const auto allowed = allowedOptions(command);
    std::set<std::string> seen;
    for (const auto& [name, value] : raw->options) {
        if (!allowed.count(name)) {
            error =
                "option " + name + " does not apply to " + commandName(command, raw->positional);
            return result;
        }
        // A repeated single-valued option would silently drop the first value.
        if (name != "--target" && name != "--targets" && !seen.insert(name).second) {
            error = "option " + name + " given twice";
            return result;
        }
        if (!applyOption(name, value, command, error))
            return result;
    }

    if (command.kind == CommandKind::Download && !checkDownload(command, error))
        return result;
    if (command.kind == CommandKind::PtzBuild && command.outputPath.empty()) {
        error = "ptz build needs --output OUT.bin";
        return result;
    }
    result.command = command;
    return result;
}

const char* downloadTypeName(DownloadType type)
{
    switch (type) {
    case DownloadType::ApplicationImage: return "app";
    case DownloadType::IntegratedImage: return "integrated";
    case DownloadType::PtzImage: return "ptz";
    case DownloadType::IndividualData: return "data";
    }
    return "";
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

Download options:
  --target HOST[:PORT]  a recorder (IPv4 address; port 5000 unless given); may be repeated
  --targets FILE        recorders from a file, one a line; blank lines and # comments are skipped
  --jobs N              downloads running at once (default 4)
  --quiet               no progress display and no summary table; messages still show
  --record FILE         append JSON lines to FILE: a "pending" line before a unit is sent a MAC
                        address, one line per unit with its outcome; refuse a MAC address the
                        record shows as written, or as pending from a run that did not finish
  --allow-reused-mac    send a MAC address even when the record shows it used
  --mac HEX12           the MAC address to send (twelve hex digits); several targets get
                        consecutive addresses in the order given
  --serial N            the serial number to send
  --auto-increase       print the MAC address the next unit should get

Exit status: 0 when everything succeeded, 1 when a download or check failed, 2 for a usage error.
)";
}

} // namespace tolvane::cli
