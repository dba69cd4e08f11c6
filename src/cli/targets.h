#pragma once

// The targets file is read by the window too; its reader lives in the service.
#include "service/targets.h"

namespace tolvane::cli {

using service::readTargetsFile;
using service::readTargetsText;
using tolvane::DefaultPort;
using tolvane::parseTarget;
using tolvane::targetText;

} // namespace tolvane::cli
