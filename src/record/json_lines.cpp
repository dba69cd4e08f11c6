#include "record/json_lines.h"

#include <algorithm>

namespace tolvane::record {

namespace {

std::optional<RecordEntry> parseLine(std::string_view line, std::string& why)
{
    if (auto entry = parseRecordLine(line, &why))
        return entry;
    // A cut line with a whole line joined to it: the whole one starts at a later brace.
    for (auto brace = line.find('{', 1); brace != std::string_view::npos;
         brace = line.find('{', brace + 1)) {
        std::string ignored;
        if (auto entry = parseRecordLine(line.substr(brace), &ignored))
            return entry;
    }
    return std::nullopt;
}

} // namespace

JsonLinesRecord readJsonLines(std::string_view text)
{
    JsonLinesRecord record;
    std::size_t number = 0;
    for (std::size_t start = 0; start < text.size();) {
        const std::size_t end = std::min(text.find('\n', start), text.size());
        const std::string_view line = text.substr(start, end - start);
        start = end + 1;
        ++number;
        if (line.find_first_not_of(" \t\r") == std::string_view::npos)
            continue;
        std::string why;
        auto entry = parseLine(line, why);
        if (!entry) {
            record.skipped.push_back("line " + std::to_string(number) + ": " + why);
            continue;
        }
        if (entry->unit.empty())
            entry->unit = "line-" + std::to_string(number);
        if (entry->mac)
            std::transform(entry->mac->begin(), entry->mac->end(), entry->mac->begin(),
                           [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
        record.entries.push_back(std::move(*entry));
    }
    return record;
}

} // namespace tolvane::record
