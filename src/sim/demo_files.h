#pragma once

#include <string>

namespace tolvane::sim {

// Files a newcomer can send to the simulator straight after building: two firmware images
// (version 3.5.1), a PTZ protocol database and a PTZ image of three protocols.
inline constexpr const char* DemoApplicationImageName = "demo-application-image.bin";
inline constexpr const char* DemoIntegratedImageName = "demo-integrated-image.bin";
inline constexpr const char* DemoProtocolDatabaseName = "demo-protocols.pdb";
inline constexpr const char* DemoPtzImageName = "demo-ptz-image.bin";

// Creates directory if missing and writes the four files into it, each replaced as a whole. On
// failure returns false with the path and the system's reason in *error.
bool writeDemoFiles(const std::string& directory, std::string* error = nullptr);

} // namespace tolvane::sim
