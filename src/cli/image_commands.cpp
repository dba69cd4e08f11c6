#include "cli/image_commands.h"

#include "cli/cli.h"
#include "cli/message_lines.h"
#include "cli/ptz_commands.h"
#include "core/base/messages.h"
#include "core/image/identity_area.h"
#include "core/image/image_version.h"
#include "core/image/mac_address.h"
#include "core/ptz/ptz_image.h"
#include "core/ptz/ptz_protocol_list.h"
#include "record/sha256.h"
#include "service/file_bytes.h"
#include "service/terminal_text.h"

#include <array>
#include <cstdio>
#include <sstream>

namespace tolvane::cli {

namespace {

// The identity area holds the two MAC words, then the serial number's.
constexpr std::size_t MacBytes = 8;

std::string versionText(std::int32_t version)
{
    char code[16];
    std::snprintf(code, sizeof code, "0x%08X", static_cast<std::uint32_t>(version));
    return formatVersion(version) + " (" + code + ")";
}

struct VersionReading {
    std::int32_t result = VersionFileUnreadable;
    std::string diagnostics;
    bool readable() const
    {
        return result != VersionFileUnreadable && result != VersionImageInvalid &&
               result != VersionOutOfMemory;
    }
};

VersionReading readVersionQuietly(const std::string& path, bool applicationOnly)
{
    std::ostringstream diagnostics;
    VersionReading reading;
    reading.result = readImageVersion(path, applicationOnly, diagnostics);
    reading.diagnostics = diagnostics.str();
    while (!reading.diagnostics.empty() && reading.diagnostics.back() == '\n')
        reading.diagnostics.pop_back();
    for (char& c : reading.diagnostics) {
        if (c == '\n')
            c = ';';
    }
    return reading;
}

std::string describeVersion(const VersionReading& reading)
{
    if (reading.readable())
        return versionText(reading.result);
    std::string text = "none";
    if (reading.result == VersionOutOfMemory)
        text += " (" + std::string(messageText(MessageId::OutOfMemoryReadingImage)) + ")";
    else if (!reading.diagnostics.empty())
        text += " (" + reading.diagnostics + ")";
    return text;
}

void printProtocolRows(std::ostream& out, const PtzImage& image)
{
    const int used = image.UsedSlotCount();
    out << "Protocols: " << used << "\n";
    for (int i = 0; i < used; ++i) {
        PtzProtocol protocol;
        image.GetAt(i, protocol);
        out << "  " << service::printableText(protocol.entryText()) << "\n";
    }
}

enum class FileKind {
    PtzImage,
    PtzDatabase,
    IntegratedImage,
    ApplicationImage,
    PtzImageWithBadChecksum,
    Unknown
};

const char* fileKindText(FileKind kind)
{
    switch (kind) {
    case FileKind::PtzImage: return "PTZ image";
    case FileKind::PtzDatabase: return "PTZ protocol database";
    case FileKind::IntegratedImage: return "integrated firmware image";
    case FileKind::ApplicationImage: return "application-only firmware image";
    case FileKind::PtzImageWithBadChecksum: return "PTZ image with a bad checksum";
    case FileKind::Unknown: return "unknown";
    }
    return "unknown";
}

// What inspect finds out about a file before it prints anything.
struct FileFacts {
    std::uint64_t size = 0;
    std::string digest;
    bool ptzImageSized = false;
    bool validPtzImage = false;
    std::uint32_t wordSum = 0;
    bool database = false;
    VersionReading integrated;
    VersionReading applicationOnly;
    FileKind kind = FileKind::Unknown;
};

FileKind kindOf(const FileFacts& facts)
{
    if (facts.validPtzImage)
        return FileKind::PtzImage;
    if (facts.database)
        return FileKind::PtzDatabase;
    if (facts.integrated.readable())
        return FileKind::IntegratedImage;
    if (facts.applicationOnly.readable())
        return FileKind::ApplicationImage;
    if (facts.ptzImageSized)
        return FileKind::PtzImageWithBadChecksum;
    return FileKind::Unknown;
}

bool readDigest(const std::string& path, FileFacts& facts, std::string& error)
{
    const auto digest = record::sha256OfFile(path);
    if (!digest) {
        error = digest.failure().text();
        return false;
    }
    facts.digest = *digest;
    return true;
}

// A file the size of a PTZ image: whether its words sum as one's must.
bool readPtzFacts(RegularFile& file, FileFacts& facts, std::string& error)
{
    facts.size = file.size();
    facts.ptzImageSized = facts.size == PtzImage::FileSize;
    if (!facts.ptzImageSized)
        return true;
    const auto bytes = service::readFileBytes(file, 0, PtzImage::FileSize, &error);
    if (!bytes || bytes->size() != PtzImage::FileSize)
        return false;
    facts.validPtzImage = PtzImage::IsValidFile(bytes->data(), bytes->size());
    facts.wordSum = PtzImage::WordSum(bytes->data(), bytes->size());
    return true;
}

// "AB 12 00 00"
std::string hexBytes(const std::uint8_t* bytes, std::size_t count)
{
    std::string text;
    for (std::size_t i = 0; i < count; ++i) {
        char byte[4];
        std::snprintf(byte, sizeof byte, "%02X", bytes[i]);
        if (i > 0)
            text += ' ';
        text += byte;
    }
    return text;
}

std::string hexOffset(std::size_t offset)
{
    char text[24];
    std::snprintf(text, sizeof text, "0x%zX", offset);
    return text;
}

void printFacts(std::ostream& out, const std::string& path, const FileFacts& facts)
{
    out << "File: " << service::printableText(path) << "\n";
    out << "Size: " << facts.size << " bytes\n";
    out << "SHA-256: " << facts.digest << "\n";
    out << "Kind: " << fileKindText(facts.kind) << "\n";
    out << "Version, integrated layout: " << describeVersion(facts.integrated) << "\n";
    out << "Version, application-only layout: " << describeVersion(facts.applicationOnly) << "\n";
    if (facts.applicationOnly.readable()) {
        const std::int32_t version = facts.applicationOnly.result;
        const std::int32_t announced = announcedApplicationVersion(version);
        if (announced != version)
            out << "Announced as application-only image: " << versionText(announced) << "\n";
    }
}

// The identity an integrated image would carry, byte for byte and as read.
void printIdentityArea(std::ostream& out, RegularFile& file)
{
    if (file.size() < IdentityAreaEnd)
        return;
    std::array<std::uint8_t, IdentityAreaSize> area{};
    const auto got = file.readAt(IdentityAreaOffset, area.data(), area.size());
    if (!got || *got != area.size())
        return;
    const IdentityBytes identity = readIdentityArea(area.data());
    // Words too large for a MAC address's halves do not survive formatting.
    const std::string mac = formatMacAddress(identity.mac);
    const bool macInRange = splitMacAddress(mac) == identity.mac;
    out << "MAC bytes at " << hexOffset(IdentityAreaOffset) << ": "
        << hexBytes(area.data(), MacBytes) << " -> "
        << (macInRange ? mac : std::string("not a MAC address")) << "\n";
    out << "Serial number bytes at " << hexOffset(IdentityAreaOffset + MacBytes) << ": "
        << hexBytes(area.data() + MacBytes, IdentityAreaSize - MacBytes) << " -> "
        << identity.serialNumber << "\n";
}

void printPtzImage(std::ostream& out, const std::string& path, const FileFacts& facts)
{
    char sum[16];
    std::snprintf(sum, sizeof sum, "0x%08X", facts.wordSum);
    out << "Checksum: " << (facts.validPtzImage ? "holds" : "does not hold") << " (word sum " << sum
        << ")\n";
    PtzImage image;
    if (image.ReadFile(path))
        printProtocolRows(out, image);
}

void printDatabase(std::ostream& out, const std::string& path)
{
    PtzProtocolList list;
    if (!list.LoadFile(path)) {
        out << "Protocols: the database does not load (records missing)\n";
        return;
    }
    out << "Protocols: " << list.GetCount() << "\n";
    for (int i = 0; i < list.GetCount(); ++i) {
        PtzProtocol protocol;
        list.GetAt(i, protocol);
        out << "  " << service::printableText(protocol.entryText()) << "\n";
    }
}

} // namespace

int runVersionCommand(const CliCommand& command, std::ostream& out, std::ostream& err)
{
    std::ostringstream diagnostics;
    const Result<std::int32_t> version =
        readVersion(command.file, command.applicationOnly, diagnostics);
    err << messageLines(diagnostics.str());
    // The download routines take a version 0.0.0 for an unreadable file; so does this command.
    if (version && *version != VersionFileUnreadable) {
        out << versionText(*version) << "\n";
        return ExitSuccess;
    }
    const Failure failure = version ? Failure{0, {}, MessageId::InvalidData} : version.failure();
    const MessageId message = failure.message.value_or(MessageId::InvalidData);
    if (message == MessageId::InvalidData && !failure.context.empty())
        err << MessagePrefix << failure.text() << "\n";
    err << MessagePrefix << messageText(message) << "\n";
    return ExitFailure;
}

int runInspectCommand(const CliCommand& command, std::ostream& out, std::ostream& err)
{
    const std::string& path = command.file;
    RegularFile file;
    FileFacts facts;
    std::string error;
    if (!service::openOperatorFile(file, path, &error) || !readDigest(path, facts, error)) {
        err << MessagePrefix << error << "\n"
            << MessagePrefix << messageText(MessageId::CannotOpenImageFile) << "\n";
        return ExitFailure;
    }
    if (!readPtzFacts(file, facts, error)) {
        err << MessagePrefix << error << "\n";
        return ExitFailure;
    }
    // 12 + 1796 * N bytes is never 64660: a file the size of a PTZ image is one, whatever its first
    // bytes (a checksum word may well start with "PD").
    facts.database = !facts.ptzImageSized && hasDatabaseHeader(file);
    facts.integrated = readVersionQuietly(path, false);
    facts.applicationOnly = readVersionQuietly(path, true);
    facts.kind = kindOf(facts);

    printFacts(out, path, facts);
    if (facts.kind == FileKind::IntegratedImage || facts.kind == FileKind::Unknown)
        printIdentityArea(out, file);
    if (facts.ptzImageSized)
        printPtzImage(out, path, facts);
    if (facts.database)
        printDatabase(out, path);
    return ExitSuccess;
}

} // namespace tolvane::cli
