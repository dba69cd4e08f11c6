#include "cli/command_table.h"

namespace tolvane::cli {

namespace {

const CommandGroup Groups[] = {
    {"", "no command given", "command", "Image options:"},
    {"download", "download needs a type: app, integrated, ptz or data", "download type",
     "Download options:"},
    {"ptz", "ptz needs a subcommand: show, verify or build", "ptz subcommand", "PTZ options:"},
    {"record", "record needs a subcommand: show, units, export, import or release",
     "record subcommand", "Record options:"},
};

const std::vector<const char*> SendOptions = {"--target", "--targets", "--jobs", "--record",
                                              "--bench"};
const std::vector<const char*> SendFlags = {"--quiet", "--json"};
const std::vector<const char*> IdentityOptions = {"--target", "--targets", "--jobs", "--record",
                                                  "--mac",    "--serial",  "--bench"};
const std::vector<const char*> IdentityFlags = {
    "--quiet",         "--json", "--auto-increase", "--allow-reused-mac", "--allow-reused-serial",
    "--skip-used-macs"};

// clang-format off
const CommandRule Rules[] = {
    {"download", "app", CommandKind::Download, DownloadType::ApplicationImage,
     {"IMAGE"}, SendOptions, SendFlags, {},
     "IMAGE --target HOST[:PORT]... [OPTIONS]", "send an application-only firmware image to recorders"},
    {"download", "integrated", CommandKind::Download, DownloadType::IntegratedImage,
     {"IMAGE"}, IdentityOptions, IdentityFlags, {},
     "IMAGE --target HOST[:PORT]... [--mac HEX12] [--serial N] [OPTIONS]", "send an integrated firmware image, with a MAC address and serial number"},
    {"download", "ptz", CommandKind::Download, DownloadType::PtzImage,
     {"FILE"}, SendOptions, SendFlags, {},
     "FILE --target HOST[:PORT]... [OPTIONS]", "send a PTZ image to recorders"},
    {"download", "data", CommandKind::Download, DownloadType::IndividualData,
     {}, IdentityOptions, IdentityFlags, {},
     "--target HOST[:PORT]... [--mac HEX12] [--serial N] [OPTIONS]", "send a MAC address, a serial number or both to recorders"},
    {"", "version", CommandKind::Version, {}, {"IMAGE"}, {}, {"--app-only"}, {},
     "IMAGE [--app-only]", "print the firmware version an image announces"},
    {"", "inspect", CommandKind::Inspect, {}, {"IMAGE"}, {}, {}, {},
     "IMAGE", "describe a file: its kind, size, SHA-256, versions, identity and protocols"},
    {"ptz", "show", CommandKind::PtzShow, {}, {"FILE"}, {}, {}, {},
     "FILE", "list the protocols of a PTZ protocol database (.pdb) or a PTZ image"},
    {"ptz", "verify", CommandKind::PtzVerify, {}, {"FILE"}, {}, {}, {},
     "FILE", "check that a file is a PTZ image a recorder takes (size and checksum)"},
    {"ptz", "build", CommandKind::PtzBuild, {}, {"DB.pdb", "NUMBER"}, {}, {}, {"--output"},
     "DB.pdb NUMBER... --output OUT.bin", "build a PTZ image of protocols taken from a database"},
    {"record", "show", CommandKind::RecordShow, {}, {"RECORD"}, {"--mac", "--since"}, {}, {},
     "RECORD [--mac HEX12] [--since TIME]", "print the record's rows as a table"},
    {"record", "export", CommandKind::RecordExport, {}, {"RECORD"}, {}, {}, {"--format"},
     "RECORD --format jsonl|csv", "write every row of the record on standard output"},
    {"record", "import", CommandKind::RecordImport, {}, {"FILE.jsonl"}, {}, {}, {"--into"},
     "FILE.jsonl --into RECORD", "add the JSON lines an earlier Tolvane wrote to a record"},
    {"record", "units", CommandKind::RecordUnits, {}, {"RECORD"}, {"--since", "--format"}, {}, {},
     "RECORD [--since TIME] [--format table|csv|jsonl]", "list each unit with its state"},
    {"record", "release", CommandKind::RecordRelease, {}, {"RECORD", "MAC"}, {"--bench"}, {},
     {"--reason"},
     "RECORD MAC --reason TEXT [--bench NAME]", "free the MAC address of a unit an operator checked"},
    {"", "help", CommandKind::Help, {}, {}, {}, {}, {}, "", "show the full help"},
};
// clang-format on

} // namespace

std::span<const CommandGroup> commandGroups()
{
    return Groups;
}

std::span<const CommandRule> commandRules()
{
    return Rules;
}

} // namespace tolvane::cli
