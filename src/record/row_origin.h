#pragma once

#include "record/record_entry.h"

namespace tolvane::record {

// Fills in where a row is written from: the bench (this host's name, unless row names one), the
// login name of the operator and this program's version.
void stampOrigin(RecordEntry& row);

// A file the operator named, as the record keeps it: a relative path joined to the working folder,
// with "." and ".." worked out; an absolute path as it is.
std::string absoluteFilePath(const std::string& path);

} // namespace tolvane::record
