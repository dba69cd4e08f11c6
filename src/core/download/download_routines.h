#pragma once

#include "core/download/download_operator.h"

#include <cstdint>
#include <optional>
#include <string>

namespace tolvane {

struct DownloadTarget {
    std::string address; // dotted-decimal IPv4
    std::uint16_t port = 5000;
};

// The unit's identity as the main window's fields and boxes hold it.
struct UnitIdentity {
    std::string macText; // at most 12 characters, meant as twelve hex digits
    std::uint32_t serialNumber = 0;
    bool sendMac = true;
    bool sendSerial = true;
    bool autoIncrease = false;
};

struct RoutineOutcome {
    bool succeeded = false;                 // every transfer ended OK
    std::optional<std::string> advancedMac; // the MAC text for the next unit, when it advanced
    std::optional<std::int32_t> version; // the version announced to the recorder, if one was read
};

// Each routine shows its own messages through the operator and sends nothing after a failed check.
RoutineOutcome downloadApplicationImage(DownloadOperator& op, const std::string& imagePath,
                                        const DownloadTarget& target);
RoutineOutcome downloadIntegratedImage(DownloadOperator& op, const std::string& imagePath,
                                       const DownloadTarget& target, const UnitIdentity& identity);
RoutineOutcome downloadIndividualData(DownloadOperator& op, const DownloadTarget& target,
                                      const UnitIdentity& identity);
RoutineOutcome downloadPtzImage(DownloadOperator& op, const std::string& imagePath,
                                const DownloadTarget& target);

// What the main window and the command line can send, numbered as the main window's choices.
enum class DownloadType {
    IntegratedImage = 0,
    IndividualData = 1,
    ApplicationImage = 2,
    PtzImage = 3
};
// The word the command line and the production record use for it: "app", "integrated", "ptz",
// "data".
const char* downloadTypeName(DownloadType type);

struct DownloadInputs {
    std::string imagePath; // not used for individual data
    DownloadTarget target;
    UnitIdentity identity; // used for the integrated image and individual data
};

// Runs the routine of a download type. Individual data with neither the MAC address nor the serial
// number chosen sends nothing and shows nothing.
RoutineOutcome runDownload(DownloadType type, const DownloadInputs& inputs, DownloadOperator& op);

} // namespace tolvane
