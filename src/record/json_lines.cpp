#include "record/json_lines.h"

#include <algorithm>

namespace tolvane::record {

namespace {

Result<RecordEntry> parseLine(std::string_view line)
{
    auto entry = parseRecordLine(line);
    if (entry)
        return entry;
    // A cut line with a whole line joined to it: the whole one starts at a later brace.
    for (auto brace = line.find('{', 1); brace != std::string_view::npos;
         brace = line.find('{', brace + 1)) {
        if (auto joined = parseRecordLine(line.substr(brace)))
            return joined;
    }
    return entry;
}

} // namespace

JsonLinesRecord readJsonLines(std::string_view text)
{
    JsonLinesRecord record;
    std::size_t number = 0;
    bool lastWasCut = false;
    for (std::size_t start = 0; start < text.size();) {
        const std::size_t end = std::min(text.find('\n', start), text.size());
        const std::string_view line = text.substr(start, end - start);
        start = end + 1;
        ++number;
        if (line.find_first_not_of(" \t\r") == std::string_view::npos)
            continue;
        // A cut line is harmless only as the last one; one that more lines follow is damage.
        if (lastWasCut) {
            record.refused.push_back(std::move(record.skipped.back()));
            record.skipped.pop_back();
            lastWasCut = false;
        }
        auto entry = parseLine(line);
        const std::string where = "line " + std::to_string(number) + ": ";
        if (!entry) {
            const std::string why = entry.failure().text();
            lastWasCut = why == "not JSON";
            (lastWasCut ? record.skipped : record.refused).push_back(where + why);
            continue;
        }
        if (entry->unit.empty())
            entry->unit = "line-" + std::to_string(number);
        record.entries.push_back(std::move(*entry));
    }
    return record;
}

} // namespace tolvane::record
