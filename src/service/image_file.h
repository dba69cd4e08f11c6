#pragma once

#include "core/base/failure.h"

#include <string>

namespace tolvane::service {

// The service's calls on the file a download sends, in one place.

// Whether the file can be opened for reading as a regular file. The failure carries the system's
// reason (0 for a file that is not regular) and the message a routine shows for it: NoImageFile
// when it does not exist, CannotOpenImageFile otherwise.
Result<void> checkFileReadable(const std::string& path);

// The SHA-256 of the file's content in lower-case hex, as the record names it.
Result<std::string> fileDigest(const std::string& path);

} // namespace tolvane::service
