#pragma once

// Files the operator names are opened and read the same way by every front end.
#include "service/file_bytes.h"

namespace tolvane::cli {

using service::forEachBlock;
using service::openOperatorFile;
using service::readFailureText;
using service::readFileBytes;

} // namespace tolvane::cli
