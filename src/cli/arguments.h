#pragma once

#include "core/download/download_routines.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tolvane::cli {

enum class CommandKind {
    Help,
    ProgramVersion, // --version: the program's own, not an image's
    Download,
    Version,
    Inspect,
    PtzShow,
    PtzVerify,
    PtzBuild,
    RecordShow,
    RecordExport,
    RecordImport,
    RecordUnits,
    RecordRelease
};

enum class RecordFormat { Jsonl, Csv, Table };

inline constexpr int DefaultJobs = 4;
inline constexpr int MaximumJobs = 256;

// One command line, checked: every field holds a value the command can use.
struct CliCommand {
    CommandKind kind = CommandKind::Help;
    DownloadType downloadType = DownloadType::ApplicationImage;
    std::string file; // IMAGE, FILE, DB.pdb or FILE.jsonl
    std::vector<DownloadTarget> targets;
    int jobs = DefaultJobs;
    bool quiet = false;
    std::optional<std::string> recordPath; // a file, or later a connection string
    bool allowReusedMac = false;
    bool allowReusedSerial = false;
    bool autoIncrease = false;
    bool skipUsedMacs = false;
    std::optional<std::string> mac; // twelve upper-case hex digits
    std::optional<std::uint32_t> serial;
    bool applicationOnly = false;
    std::vector<std::int32_t> protocolNumbers;
    std::string outputPath;
    std::optional<std::string> since;                // "YYYY-MM-DDTHH:MM:SS.000Z", UTC
    RecordFormat recordFormat = RecordFormat::Jsonl; // record units: Table unless given
    std::string reason;                              // why record release frees a MAC
    std::optional<std::string> bench;                // the bench a row names, if not this host
    bool json = false;                               // each unit's result as JSON on stdout
    std::vector<std::string> helpWords; // Help: the command words whose help; none for all
};

struct ParsedArguments {
    std::optional<CliCommand> command; // nullopt on a usage error
    std::string error;                 // what was wrong, for the usage error
};

// args excludes the program name.
ParsedArguments parseArguments(const std::vector<std::string>& args);

} // namespace tolvane::cli
