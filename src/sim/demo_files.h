#pragma once

#include "core/base/failure.h"

#include <string>

namespace tolvane::sim {

// Files a newcomer can send to the simulator straight after building: two firmware images
// (version 3.5.1), a PTZ protocol database and a PTZ image of three protocols.
inline constexpr const char* DemoApplicationImageName = "demo-application-image.bin";
inline constexpr const char* DemoIntegratedImageName = "demo-integrated-image.bin";
inline constexpr const char* DemoProtocolDatabaseName = "demo-protocols.pdb";
inline constexpr const char* DemoPtzImageName = "demo-ptz-image.bin";

// Creates directory if missing and writes the four files into it, each replaced as a whole. A
// failure names the path and the system's reason.
Result<void> writeDemoFiles(const std::string& directory);

} // namespace tolvane::sim
