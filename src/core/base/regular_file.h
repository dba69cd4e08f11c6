#pragma once

#include <string>

namespace tolvane {

// Opens a file the operator chose, refusing anything but a regular file. A FIFO or a device could
// block open() or the first read forever, so the file is opened non-blocking, checked with fstat
// and only then switched back to blocking I/O. flags are those of open(2); O_CLOEXEC is added.
// Returns the descriptor, or -1 with errno set (EISDIR for a folder, EINVAL for any other file
// that is not regular) and *errorText, when given, saying what failed with the path.
int openRegularFile(const std::string& path, int flags, std::string* errorText = nullptr);

} // namespace tolvane
