#pragma once

#include "record/record_entry.h"

#include <string>
#include <string_view>
#include <vector>

namespace tolvane::record {

// A production record in the JSON-lines form earlier versions wrote, read for import.
struct JsonLinesRecord {
    std::vector<RecordEntry> entries;
    std::vector<std::string> skipped; // "line 7: not JSON", for lines left out
};

// One entry a line. A line cut short by a crash counts for nothing; when the next line was
// appended to it, that line is still found. A MAC address is taken in upper case, and a line
// without a unit gets one of its own ("line-7"), so its pending MAC is never released.
JsonLinesRecord readJsonLines(std::string_view text);

} // namespace tolvane::record
