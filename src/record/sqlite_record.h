#pragma once

#include "record/production_record.h"

namespace tolvane::record {

// The production record in an SQLite file: WAL mode, so readers never wait for the writer, and a
// busy timeout, so parallel jobs and processes wait for each other instead of failing.
Result<std::unique_ptr<ProductionRecord>> openSqliteRecord(const std::string& path,
                                                           const RecordOptions& options);

} // namespace tolvane::record
