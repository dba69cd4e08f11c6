#include "cli/arguments.h"

#include "cli/command_table.h"
#include "cli/help_text.h"
#include "cli/option_values.h"
#include "tolvane_version.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <map>
#include <set>

namespace tolvane::cli {

namespace {

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
        for (const CommandGroup& group : commandGroups())
            groups[*group.word ? root.add_subcommand(group.word) : &root] = &group;
        for (const CommandRule& rule : commandRules()) {
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

// Whether --help (-h) comes before "--": the help of the command words in front of it.
bool helpAsked(const std::vector<std::string>& args)
{
    const auto end = std::find(args.begin(), args.end(), "--");
    return std::find_if(args.begin(), end, [](const std::string& arg) {
               return arg == "--help" || arg == "-h";
           }) != end;
}

// CLI11's reading of the words into the tree: nothing when it took them, else the answer already
// given (help, the program's version or a usage error).
std::optional<ParsedArguments> readWords(CommandTree& tree, const std::vector<std::string>& args)
{
    if (const auto emptyValue = emptyValueError(tree, args))
        return ParsedArguments{std::nullopt, *emptyValue};
    if (helpAsked(args)) {
        CliCommand help;
        help.helpWords = leadingCommandWords(args);
        return ParsedArguments{help, ""};
    }
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
    result.command = values.command;
    return result;
}

} // namespace tolvane::cli
