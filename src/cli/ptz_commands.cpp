#include "cli/ptz_commands.h"

#include "cli/cli.h"
#include "cli/message_lines.h"
#include "core/base/messages.h"
#include "core/ptz/ptz_image.h"
#include "core/ptz/ptz_protocol_list.h"
#include "service/file_bytes.h"
#include "service/terminal_text.h"

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <set>
#include <sys/stat.h>

namespace tolvane::cli {

namespace {

constexpr std::int32_t EmptySlotNumber = -1;

// Loads a .pdb file, or says on err why it cannot be loaded.
bool loadDatabase(const std::string& path, PtzProtocolList& list, std::ostream& err)
{
    RegularFile file;
    std::string error;
    if (!service::openOperatorFile(file, path, &error)) {
        err << MessagePrefix << error << "\n";
        return false;
    }
    if (!hasDatabaseHeader(file)) {
        err << MessagePrefix << path << " is not a PTZ protocol database (no \"PD\" header)\n";
        return false;
    }
    if (!list.LoadFile(path)) {
        err << MessagePrefix << "cannot load the PTZ protocol database " << path
            << ": it holds fewer records than its header announces\n";
        return false;
    }
    return true;
}

// Whether both names lead to one existing file (the same name, a hard link or a symbolic link).
bool sameExistingFile(const std::string& first, const std::string& second)
{
    struct stat a {};
    struct stat b {};
    return ::stat(first.c_str(), &a) == 0 && ::stat(second.c_str(), &b) == 0 &&
           a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Whether path names something other than a regular file, such as a folder or a FIFO (a symbolic
// link counts as what it leads to).
bool existsAndIsNotRegular(const std::string& path)
{
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && !S_ISREG(info.st_mode);
}

// Whether the numbers can fill an image; ExitSuccess when they can, else the exit status after
// saying why on err.
int checkProtocolNumbers(const std::vector<std::int32_t>& numbers, std::ostream& err)
{
    if (numbers.size() > static_cast<std::size_t>(PtzImage::SlotCount)) {
        err << MessagePrefix << "a PTZ image holds at most " << PtzImage::SlotCount
            << " protocols; " << numbers.size() << " given\n";
        return ExitFailure;
    }
    std::set<std::int32_t> seen;
    for (std::int32_t number : numbers) {
        if (number == EmptySlotNumber) {
            err << MessagePrefix
                << "protocol number -1 marks an empty slot and cannot go into an image\n";
            return ExitFailure;
        }
        // A slip on the command line, as a target given twice is.
        if (!seen.insert(number).second) {
            err << "tolvane-cli: protocol " << number << " given twice\n";
            return ExitUsage;
        }
    }
    return ExitSuccess;
}

// Whether the image may be written where --output says; says why not on err.
bool checkOutputPath(const CliCommand& command, std::ostream& err)
{
    // Writing the image over the database would lose the database.
    if (sameExistingFile(command.outputPath, command.file)) {
        err << MessagePrefix << "--output " << command.outputPath << " is the database "
            << command.file << " itself; nothing written\n";
        return false;
    }
    // The save would refuse it only after the database was read; say so before anything else.
    if (existsAndIsNotRegular(command.outputPath)) {
        err << "tolvane-cli: " << command.outputPath << " is not a regular file\n";
        return false;
    }
    return true;
}

// Whether the database holds every protocol asked for; names the missing ones on err.
bool allInDatabase(const PtzProtocolList& list, const CliCommand& command, std::ostream& err)
{
    std::string missing;
    for (std::int32_t number : command.protocolNumbers) {
        if (list.FindIndex(number) < 0)
            missing += (missing.empty() ? "" : ", ") + std::to_string(number);
    }
    if (!missing.empty()) {
        err << "tolvane-cli: not in " << command.file << ": protocol " << missing << "\n";
        return false;
    }
    return true;
}

} // namespace

bool hasDatabaseHeader(RegularFile& file)
{
    // Zero-filled, so a file cut short inside its header still counts as a (damaged) database.
    std::array<std::uint8_t, PdbHeaderSize> head{};
    return file.readAt(0, head.data(), head.size()).ok() &&
           readPdbHeader(head.data(), head.size()).has_value();
}

int runPtzShowCommand(const CliCommand& command, std::ostream& out, std::ostream& err)
{
    const std::string& path = command.file;
    RegularFile file;
    std::string error;
    if (!service::openOperatorFile(file, path, &error)) {
        err << MessagePrefix << error << "\n";
        return ExitFailure;
    }
    // A file the size of a PTZ image is one, even when its checksum word starts with "PD": no
    // database has that size.
    if (file.size() != PtzImage::FileSize && hasDatabaseHeader(file)) {
        PtzProtocolList list;
        if (!loadDatabase(path, list, err))
            return ExitFailure;
        for (int i = 0; i < list.GetCount(); ++i) {
            PtzProtocol protocol;
            list.GetAt(i, protocol);
            out << service::printableText(protocol.entryText()) << "\n";
        }
        return ExitSuccess;
    }
    if (file.size() != PtzImage::FileSize) {
        err << MessagePrefix << path << " is neither a PTZ protocol database nor a PTZ image\n";
        return ExitFailure;
    }
    PtzImage image;
    if (!image.ReadFile(path)) {
        err << MessagePrefix << "cannot read " << path << ": " << std::strerror(errno) << "\n";
        return ExitFailure;
    }
    for (int i = 0; i < image.UsedSlotCount(); ++i) {
        PtzProtocol protocol;
        image.GetAt(i, protocol);
        out << service::printableText(protocol.entryText()) << "\n";
    }
    // The rows are shown either way, but a recorder would refuse this file.
    const auto& bytes = image.Bytes();
    if (!PtzImage::IsValidFile(bytes.data(), bytes.size())) {
        err << MessagePrefix << messageText(MessageId::InvalidPtzImage) << "\n";
        return ExitFailure;
    }
    return ExitSuccess;
}

int runPtzVerifyCommand(const CliCommand& command, std::ostream&, std::ostream& err)
{
    const std::string& path = command.file;
    RegularFile file;
    std::string error;
    // One byte more than an image holds is enough to see a file that is too long.
    const auto bytes = service::openOperatorFile(file, path, &error)
                           ? service::readFileBytes(file, 0, PtzImage::FileSize + 1, &error)
                           : std::nullopt;
    if (!bytes) {
        err << MessagePrefix << error << "\n"
            << MessagePrefix << messageText(MessageId::CannotOpenImageFile) << "\n";
        return ExitFailure;
    }
    if (!PtzImage::IsValidFile(bytes->data(), bytes->size())) {
        err << MessagePrefix << messageText(MessageId::InvalidPtzImage) << "\n";
        return ExitFailure;
    }
    return ExitSuccess;
}

int runPtzBuildCommand(const CliCommand& command, std::ostream& out, std::ostream& err)
{
    const auto& numbers = command.protocolNumbers;
    if (const int status = checkProtocolNumbers(numbers, err); status != ExitSuccess)
        return status;
    if (!checkOutputPath(command, err))
        return ExitFailure;
    PtzProtocolList list;
    if (!loadDatabase(command.file, list, err) || !allInDatabase(list, command, err))
        return ExitFailure;

    PtzImage image;
    for (std::size_t slot = 0; slot < numbers.size(); ++slot) {
        PtzProtocol protocol;
        list.GetAt(list.FindIndex(numbers[slot]), protocol);
        image.SetAt(static_cast<int>(slot), protocol);
    }
    errno = 0;
    if (!image.WriteFile(command.outputPath)) {
        err << MessagePrefix << "cannot write " << command.outputPath
            << (errno ? std::string(": ") + std::strerror(errno) : std::string()) << "\n";
        return ExitFailure;
    }
    char checksum[16];
    std::snprintf(checksum, sizeof checksum, "0x%08X", image.Checksum());
    out << command.outputPath << ": " << numbers.size() << " protocols, checksum " << checksum
        << "\n";
    return ExitSuccess;
}

} // namespace tolvane::cli
