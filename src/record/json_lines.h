#pragma once

#include "record/record_entry.h"

#include <string>
#include <string_view>
#include <vector>

namespace tolvane::record {

// A production record in the JSON-lines form earlier versions wrote, read for import.
struct JsonLinesRecord {
    std::vector<RecordEntry> entries;
    // "line 7: not JSON": the last line, cut short by a crash; it counts for nothing.
    std::vector<std::string> skipped;
    // Lines that cannot be taken: an import of the file must not go on, or a MAC address they
    // show used would be free in the new record.
    std::vector<std::string> refused;
};

// One entry a line. A line cut short by a crash counts for nothing; when the next line was
// appended to it, that line is still found. A line without a unit gets one of its own
// ("line-7"), so its pending MAC is never released.
JsonLinesRecord readJsonLines(std::string_view text);

} // namespace tolvane::record
