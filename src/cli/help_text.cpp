#include "cli/help_text.h"

#include "cli/command_table.h"
#include "cli/option_values.h"

#include <algorithm>
#include <cctype>

namespace tolvane::cli {

namespace {

constexpr char Program[] = "tolvane-cli";
constexpr char ExitStatusText[] = "Exit status: 0 when everything succeeded, 1 when a download or "
                                  "check failed, 2 for a usage error.\n";

std::vector<std::string> wordsOf(const std::string& text)
{
    std::vector<std::string> words;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = std::min(text.find(' ', start), text.size());
        if (end > start)
            words.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return words;
}

std::vector<std::string> commandWords(const CommandRule& rule)
{
    if (!*rule.group)
        return {rule.word};
    return {rule.group, rule.word};
}

// Whether scope's words start the command words ("record" starts "record units").
bool scopeStarts(const char* scope, const std::vector<std::string>& words)
{
    const std::vector<std::string> scopeWords = wordsOf(scope);
    return !scopeWords.empty() && scopeWords.size() <= words.size() &&
           std::equal(scopeWords.begin(), scopeWords.end(), words.begin());
}

// The group whose section of the full help shows what is described for scope: its first word's
// group, or the program's for a command of one word; nothing for the program's own options.
const CommandGroup* groupOfScope(const char* scope)
{
    const std::vector<std::string> words = wordsOf(scope);
    if (words.empty())
        return nullptr;
    for (const CommandGroup& group : commandGroups()) {
        if (words.front() == group.word)
            return &group;
    }
    return &commandGroups().front();
}

const CommandRule* findRule(const std::vector<std::string>& words)
{
    for (const CommandRule& rule : commandRules()) {
        if (commandWords(rule) == words)
            return &rule;
    }
    return nullptr;
}

bool takesName(const CommandRule& rule, const std::string& name)
{
    for (const auto* names :
         {&rule.operands, &rule.valueOptions, &rule.flags, &rule.requiredOptions}) {
        if (std::find(names->begin(), names->end(), name) != names->end())
            return true;
    }
    return false;
}

std::string nameAndValue(const OptionHelp& option)
{
    return *option.value ? std::string(option.name) + " " + option.value : option.name;
}

// The options one a line, their texts in one column.
std::string optionLines(const std::vector<OptionHelp>& options)
{
    std::size_t width = 0;
    for (const OptionHelp& option : options)
        width = std::max(width, nameAndValue(option).size());
    std::string text;
    for (const OptionHelp& option : options) {
        std::string name = nameAndValue(option);
        name.append(width - name.size(), ' ');
        text += "  " + name + "  " + option.text + "\n";
    }
    return text;
}

// The notes that belong, each indented and after an empty line.
template <typename Belongs> std::string noteLines(Belongs belongs)
{
    std::string text;
    for (const HelpNote& note : helpNotes()) {
        if (!belongs(note.scope))
            continue;
        text += "\n  ";
        for (const char* c = note.text; *c; ++c)
            text += *c == '\n' ? std::string("\n  ") : std::string(1, *c);
        text += "\n";
    }
    return text;
}

std::string commandWordsText(const CommandRule& rule)
{
    return *rule.group ? std::string(rule.group) + " " + rule.word : rule.word;
}

std::string usageLine(const CommandRule& rule)
{
    const std::string line = std::string(Program) + " " + commandWordsText(rule);
    return *rule.synopsis ? line + " " + rule.synopsis : line;
}

std::vector<OptionHelp> optionsOfGroup(const CommandGroup* group)
{
    std::vector<OptionHelp> options;
    for (const OptionHelp& option : optionHelp()) {
        if (groupOfScope(option.scope) == group)
            options.push_back(option);
    }
    return options;
}

// A group's options and notes under its heading; nothing when it has none.
std::string groupSection(const CommandGroup& group)
{
    const std::vector<OptionHelp> options = optionsOfGroup(&group);
    if (options.empty())
        return "";
    return std::string(group.heading) + "\n" + optionLines(options) +
           noteLines([&](const char* scope) { return groupOfScope(scope) == &group; });
}

std::string fullText()
{
    std::string text = "Usage:\n";
    for (const CommandRule& rule : commandRules()) {
        if (rule.kind != CommandKind::Help)
            text += "  " + usageLine(rule) + "\n";
    }
    text += "  " + std::string(Program) + " COMMAND --help   (one command's own help)\n";
    // The groups in the order their commands first appear.
    std::vector<const CommandGroup*> shown;
    for (const CommandRule& rule : commandRules()) {
        const CommandGroup* group =
            *rule.group ? groupOfScope(rule.group) : &commandGroups().front();
        if (std::find(shown.begin(), shown.end(), group) != shown.end())
            continue;
        shown.push_back(group);
        if (const std::string section = groupSection(*group); !section.empty())
            text += "\n" + section;
    }
    text += "\nOther options:\n" + optionLines(optionsOfGroup(nullptr)) + "\n" + ExitStatusText;
    return text;
}

std::string groupText(const CommandGroup& group)
{
    std::string text = "Usage:\n";
    for (const CommandRule& rule : commandRules()) {
        if (rule.group == std::string(group.word))
            text += "  " + usageLine(rule) + "\n";
    }
    return text + "\n" + groupSection(group);
}

std::string commandText(const CommandRule& rule)
{
    const std::vector<std::string> words = commandWords(rule);
    std::string summary = rule.summary;
    summary.front() = static_cast<char>(std::toupper(static_cast<unsigned char>(summary.front())));
    std::vector<OptionHelp> options;
    for (const OptionHelp& option : optionHelp()) {
        if ((scopeStarts(option.scope, words) && takesName(rule, option.name)) ||
            option.name == std::string("--help"))
            options.push_back(option);
    }
    return "Usage:\n  " + usageLine(rule) + "\n\n" + summary + ".\n\nOptions:\n" +
           optionLines(options) +
           noteLines([&](const char* scope) { return scopeStarts(scope, words); });
}

} // namespace

std::vector<std::string> leadingCommandWords(const std::vector<std::string>& args)
{
    for (std::size_t count = std::min<std::size_t>(args.size(), 2); count > 0; --count) {
        const std::vector<std::string> words(args.begin(), args.begin() + count);
        if (findRule(words))
            return words;
    }
    for (const CommandGroup& group : commandGroups()) {
        if (*group.word && !args.empty() && args.front() == group.word)
            return {group.word};
    }
    return {};
}

std::string helpText(const std::vector<std::string>& words)
{
    if (const CommandRule* rule = findRule(words); rule && rule->kind != CommandKind::Help)
        return commandText(*rule);
    for (const CommandGroup& group : commandGroups()) {
        if (*group.word && words == std::vector<std::string>{group.word})
            return groupText(group);
    }
    return fullText();
}

std::string shortUsageText()
{
    // "download app|integrated|...", one item a group, wrapped.
    std::vector<std::string> items;
    const char* group = nullptr;
    for (const CommandRule& rule : commandRules()) {
        if (*rule.group && group && rule.group == std::string(group))
            items.back() += std::string("|") + rule.word;
        else
            items.push_back(commandWordsText(rule));
        group = rule.group;
    }
    std::string text = "Usage: " + std::string(Program) + " COMMAND [ARGUMENTS] [OPTIONS]\n";
    std::string line = "Commands:";
    for (std::size_t i = 0; i < items.size(); ++i) {
        const std::string item = " " + items[i] + (i + 1 < items.size() ? "," : "");
        if (line.size() + item.size() > 80) {
            text += line + "\n";
            line = " ";
        }
        line += item;
    }
    return text + line + "\nTry '" + Program + " --help' for the full help, or '" + Program +
           " COMMAND --help' for one command's.\n";
}

} // namespace tolvane::cli
