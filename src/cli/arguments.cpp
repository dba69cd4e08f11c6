#include "cli/arguments.h"

#include "cli/option_values.h"
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
    {"record", "record needs a subcommand: show, units, export, import, release or report",
     "record subcommand"},
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

const std::vector<const char*> SendOptions = {"--target", "--targets", "--jobs", "--record",
                                              "--bench"};
const std::vector<const char*> IdentityOptions = {"--target", "--targets", "--jobs", "--record",
                                                  "--mac",    "--serial",  "--bench"};
const std::vector<const char*> IdentityFlags = {"--quiet", "--auto-increase", "--allow-reused-mac",
                                                "--allow-reused-serial", "--skip-used-macs"};

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
    {"record", "units", CommandKind::RecordUnits, {}, {"RECORD"}, {"--since", "--format"}, {}, {}},
    {"record", "release", CommandKind::RecordRelease, {}, {"RECORD", "MAC"}, {"--bench"}, {},
     {"--reason"}},
    {"record", "report", CommandKind::RecordReport, {}, {"RECORD"},
     {"--since", "--until", "--html", "--format"}, {}, {}},
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

// The operands and options in the order given; a repeated option is refused unless it adds
// targets.
bool applyValues(const CLI::App& app, CommandValues& values, std::string& error)
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
        if (!readOptionValue(name, value, values, error))
            return false;
    }
    return true;
}

// CLI11's reading of the words into the tree: nothing when it took them, else the answer already
// given (help, the program's version or a usage error).
std::optional<ParsedArguments> readWords(CommandTree& tree, const std::vector<std::string>& args)
{
    if (const auto emptyValue = emptyValueError(tree, args))
        return ParsedArguments{std::nullopt, *emptyValue};
    std::vector<std::string> reversed(args.rbegin(), args.rend()); // CLI11 reads from the back
    try {
        tree.root.parse(reversed);
    } catch (const CLI::CallForHelp&) {
        return ParsedArguments{CliCommand{}, ""}; // Help
    } catch (const CLI::CallForVersion&) {
        CliCommand command;
        command.kind = CommandKind::ProgramVersion;
        return ParsedArguments{command, ""};
    } catch (const CLI::ParseError& cliError) {
        // Every option takes one value or none: a mismatch is an option at the very end.
        const bool valueMissing = dynamic_cast<const CLI::ArgumentMismatch*>(&cliError) &&
                                  tree.findOption(optionName(args.back()));
        return ParsedArguments{std::nullopt,
                               valueMissing ? "option " + optionName(args.back()) + " needs a value"
                                            : cliError.what()};
    }
    return std::nullopt;
}

// The command words read, from the root on.
std::vector<CLI::App*> commandChain(CommandTree& tree)
{
    std::vector<CLI::App*> chain = {&tree.root};
    for (;;) {
        const auto next =
            chain.back()->get_subcommands([](CLI::App* sub) { return sub->parsed(); });
        if (next.empty())
            return chain;
        chain.push_back(next.front());
    }
}

// Why the first word CLI11 left over is wrong; nothing when it left none but "--".
std::optional<std::string> leftOverError(const CommandTree& tree,
                                         const std::vector<CLI::App*>& chain)
{
    for (std::size_t level = 0; level < chain.size(); ++level) {
        for (const std::string& arg : chain[level]->remaining()) {
            if (arg != "--")
                return leftOverError(tree, chain, level, arg);
        }
    }
    return std::nullopt;
}

} // namespace

ParsedArguments parseArguments(const std::vector<std::string>& args)
{
    CommandTree tree;
    if (auto answered = readWords(tree, args))
        return *answered;
    const std::vector<CLI::App*> chain = commandChain(tree);
    const auto rule = tree.rules.find(chain.back());
    const bool found = rule != tree.rules.end();
    if (chain.size() == 1 && tree.root.remaining_size() == 0)
        return {CliCommand{}, ""}; // no command at all: Help
    if (found && rule->second->kind == CommandKind::Help)
        return {CliCommand{}, ""}; // whatever follows
    ParsedArguments result;
    std::string& error = result.error;
    if (const auto leftOver = leftOverError(tree, chain)) {
        error = *leftOver;
        return result;
    }
    if (!found) {
        error = tree.groups.at(chain.back())->missing;
        return result;
    }

    CommandValues values;
    values.command.kind = rule->second->kind;
    values.command.downloadType = rule->second->downloadType.value_or(values.command.downloadType);
    if (values.command.kind == CommandKind::RecordUnits)
        values.command.recordFormat = RecordFormat::Table;
    if (!applyValues(*chain.back(), values, error))
        return result;
    if (values.command.kind == CommandKind::Download && !checkDownload(values, error))
        return result;
    if (values.command.kind == CommandKind::RecordReport && !checkReport(values, error))
        return result;
    result.command = values.command;
    return result;
}

// The help text: a table of words, kept as data.
constexpr const char* UsageText = R"(Usage:
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
  tolvane-cli record units RECORD [--since TIME] [--format table|csv|jsonl]
  tolvane-cli record release RECORD MAC --reason TEXT [--bench NAME]
  tolvane-cli record report RECORD [--since TIME] [--until TIME] (--html FILE | --format json)

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
  --serial N            the serial number to send; several targets get consecutive numbers
  --allow-reused-serial send a serial number even when the record shows it used
  --auto-increase       print the MAC address the next unit should get (and, with --serial,
                        the next serial number on a second line)
  --skip-used-macs      with --record, a unit whose MAC address (serial number) is used takes
                        the next free one
  --bench NAME          the bench the record's rows name (default: this host's name)

Record options:
  RECORD                the production record --record keeps: an SQLite file, or a PostgreSQL
                        connection string or URL (postgresql://bench@dbhost/units)
  --mac HEX12           only the units sent this MAC address (twelve hex digits)
  --since TIME          only the rows written from TIME on: YYYY-MM-DD (its midnight) or
                        YYYY-MM-DDTHH:MM:SS, in UTC
  --format jsonl|csv    export as JSON lines or as comma-separated values
  --into RECORD         the record the lines of FILE.jsonl are added to

  record units lists one line per MAC address (a unit without one: its serial number) with its
  state: ok, unconfirmed (the recorder may have taken the whole payload before the transfer
  failed; the MAC stays held), pending, failed, refused or released; its attempts, first and last
  time, target, bench and image version. --since TIME keeps the units with a row from TIME on.
  --format table|csv|jsonl
                        a table (the default), comma-separated values or JSON lines

  record release frees the MAC address of an unconfirmed or pending unit, once an operator has
  checked the unit, with a "released" row; the MAC of a unit that succeeded is not released
  (--allow-reused-mac sends it again deliberately).
  MAC                   the MAC address to free (twelve hex digits)
  --reason TEXT         why it is freed, kept in the record with the operator's login name
  --bench NAME          the bench the row names (default: this host's name)

  record report writes what a period produced: totals, first-pass yield, units per hour, failures
  by message, benches, images and the MAC addresses handed out.
  --until TIME          only the rows written before TIME (as --since)
  --html FILE           one self-contained page with charts, to open in a browser or print
  --format json         the same figures as JSON on standard output

Other options:
  --help                show this text
  --version             show the program's version

Exit status: 0 when everything succeeded, 1 when a download or check failed, 2 for a usage error.
)";

const char* usageText()
{
    return UsageText;
}

} // namespace tolvane::cli
