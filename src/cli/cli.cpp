#include "cli/cli.h"

#include "cli/arguments.h"
#include "cli/download_command.h"
#include "cli/help_text.h"
#include "cli/image_commands.h"
#include "cli/ptz_commands.h"
#include "cli/record_commands.h"
#include "tolvane_version.h"

#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace tolvane::cli {

namespace {

ProgressStyle progressStyleFor(const CliCommand& command, const CliSettings& settings)
{
    if (command.quiet)
        return ProgressStyle::None;
    const bool terminal = settings.terminal.value_or(::isatty(STDERR_FILENO) == 1);
    // Lines redrawn in place need the whole block on the screen.
    const bool fits = static_cast<int>(command.targets.size()) < settings.terminalRows - 1;
    return terminal && fits ? ProgressStyle::Terminal : ProgressStyle::Plain;
}

int runCommand(const CliCommand& command, std::ostream& out, std::ostream& err,
               const CliSettings& settings)
{
    switch (command.kind) {
    case CommandKind::Help: out << helpText(command.helpWords); return ExitSuccess;
    case CommandKind::Download:
        return runDownloadCommand(command, out, err, settings, progressStyleFor(command, settings));
    case CommandKind::ProgramVersion:
        out << "tolvane-cli " TOLVANE_VERSION "\n";
        return ExitSuccess;
    case CommandKind::Version: return runVersionCommand(command, out, err);
    case CommandKind::Inspect: return runInspectCommand(command, out, err);
    case CommandKind::PtzShow: return runPtzShowCommand(command, out, err);
    case CommandKind::PtzVerify: return runPtzVerifyCommand(command, out, err);
    case CommandKind::PtzBuild: return runPtzBuildCommand(command, out, err);
    case CommandKind::RecordShow: return runRecordShowCommand(command, out, err);
    case CommandKind::RecordExport: return runRecordExportCommand(command, out, err);
    case CommandKind::RecordImport: return runRecordImportCommand(command, out, err);
    case CommandKind::RecordUnits: return runRecordUnitsCommand(command, out, err);
    case CommandKind::RecordRelease: return runRecordReleaseCommand(command, out, err);
    }
    return ExitUsage;
}

} // namespace

int runCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
           const CliSettings& settings)
{
    const ParsedArguments parsed = parseArguments(args);
    if (!parsed.command) {
        err << "tolvane-cli: " << parsed.error << "\n"
            << (args.empty() ? shortUsageText()
                             : "Try 'tolvane-cli --help' for more information.\n");
        return ExitUsage;
    }
    const int status = runCommand(*parsed.command, out, err, settings);
    // A script reads its results from standard output (a version, the next MAC address): a full
    // disk or a closed pipe there is a failure, not a success with the result lost.
    if (out.flush(); !out) {
        const int cause = errno;
        err << "tolvane-cli: cannot write the results to standard output"
            << (cause != 0 ? std::string(": ") + std::strerror(cause) : std::string()) << "\n";
        return status == ExitSuccess ? ExitFailure : status;
    }
    return status;
}

} // namespace tolvane::cli
