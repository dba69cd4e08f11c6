#include "cli/image_commands.h"

#include "cli/cli.h"
#include "cli/file_bytes.h"
#include "cli/sha256.h"
#include "cli/terminal_text.h"
#include "core/base/messages.h"
#include "core/download/download_routines.h"
#include "core/image/image_version.h"
#include "core/image/mac_address.h"
#include "core/ptz/ptz_image.h"
#include "core/ptz/ptz_protocol_list.h"

#include <cstdio>
#include <sstream>

namespace tolvane::cli {

namespace {

// Where an integrated image keeps the unit's identity.
constexpr std::uint64_t MacUpperOffset = 0xFF80;
constexpr std::uint64_t IdentityAreaEnd = 0xFF8C;

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
        out << "  " << printableText(protocol.entryText()) << "\n";
    }
}

} // namespace

int runVersionCommand(const CliCommand& command, std::ostream& out, std::ostream& err)
{
    const std::int32_t version = readImageVersion(command.file, command.applicationOnly, err);
    switch (version) {
    case VersionImageInvalid:
        err << messageText(MessageId::NoImageFile) << "\n";
        return ExitFailure;
    case VersionFileUnreadable: {
        // 0 is also the version 0.0.0; say which when the file cannot be opened.
        std::string reason;
        if (!readFileBytes(command.file, 0, 1, &reason) || !fileSize(command.file, &reason))
            err << reason << "\n";
        err << messageText(MessageId::InvalidData) << "\n";
        return ExitFailure;
    }
    case VersionOutOfMemory:
        err << messageText(MessageId::OutOfMemoryReadingImage) << "\n";
        return ExitFailure;
    default: break;
    }
    out << versionText(version) << "\n";
    return ExitSuccess;
}

int runInspectCommand(const CliCommand& command, std::ostream& out, std::ostream& err)
{
    const std::string& path = command.file;
    std::string error;
    const auto size = fileSize(path, &error);
    const auto digest = size ? sha256OfFile(path, &error) : std::nullopt;
    if (!size || !digest) {
        err << error << "\n" << messageText(MessageId::CannotOpenImageFile) << "\n";
        return ExitFailure;
    }

    bool validPtzImage = false;
    std::uint32_t wordSum = 0;
    if (*size == PtzImage::FileSize) {
        const auto bytes = readFileBytes(path, 0, PtzImage::FileSize, &error);
        if (!bytes || bytes->size() != PtzImage::FileSize) {
            err << error << "\n";
            return ExitFailure;
        }
        validPtzImage = isValidPtzImageBytes(bytes->data(), bytes->size());
        for (std::size_t i = 0; i < bytes->size(); i += 4)
            wordSum += littleEndian32(bytes->data() + i);
    }
    const auto head = readFileBytes(path, 0, 12, &error);
    const bool database = head && head->size() >= 2 && (*head)[0] == 'P' && (*head)[1] == 'D';
    const VersionReading integrated = readVersionQuietly(path, false);
    const VersionReading applicationOnly = readVersionQuietly(path, true);

    std::string kind = "unknown";
    if (validPtzImage)
        kind = "PTZ image";
    else if (database)
        kind = "PTZ protocol database";
    else if (integrated.readable())
        kind = "integrated firmware image";
    else if (applicationOnly.readable())
        kind = "application-only firmware image";
    else if (*size == PtzImage::FileSize)
        kind = "PTZ image with a bad checksum";

    out << "File: " << printableText(path) << "\n";
    out << "Size: " << *size << " bytes\n";
    out << "SHA-256: " << *digest << "\n";
    out << "Kind: " << kind << "\n";
    out << "Version, integrated layout: " << describeVersion(integrated) << "\n";
    out << "Version, application-only layout: " << describeVersion(applicationOnly) << "\n";
    if (applicationOnly.readable()) {
        const std::int32_t announced = announcedApplicationVersion(applicationOnly.result);
        if (announced != applicationOnly.result)
            out << "Announced as application-only image: " << versionText(announced) << "\n";
    }

    const bool firmwareLayout = kind == "integrated firmware image" || kind == "unknown";
    if (firmwareLayout && *size >= IdentityAreaEnd) {
        const auto area =
            readFileBytes(path, MacUpperOffset, IdentityAreaEnd - MacUpperOffset, &error);
        if (area && area->size() == IdentityAreaEnd - MacUpperOffset) {
            const MacPair pair{littleEndian32(area->data()), littleEndian32(area->data() + 4)};
            const bool macInRange = pair.upper <= 0xFFFFFF && pair.lower <= 0xFFFFFF;
            out << "MAC bytes at 0xFF80: " << hexBytes(area->data(), 8) << " -> "
                << (macInRange ? formatMacAddress(pair) : std::string("not a MAC address")) << "\n";
            out << "Serial number bytes at 0xFF88: " << hexBytes(area->data() + 8, 4) << " -> "
                << bigEndian32(area->data() + 8) << "\n";
        }
    }

    if (*size == PtzImage::FileSize) {
        char sum[16];
        std::snprintf(sum, sizeof sum, "0x%08X", wordSum);
        out << "Checksum: " << (validPtzImage ? "holds" : "does not hold") << " (word sum " << sum
            << ")\n";
        PtzImage image;
        if (image.ReadFile(path))
            printProtocolRows(out, image);
    }
    if (database) {
        PtzProtocolList list;
        if (list.LoadFile(path)) {
            out << "Protocols: " << list.GetCount() << "\n";
            for (int i = 0; i < list.GetCount(); ++i) {
                PtzProtocol protocol;
                list.GetAt(i, protocol);
                out << "  " << printableText(protocol.entryText()) << "\n";
            }
        } else {
            out << "Protocols: the database does not load (records missing)\n";
        }
    }
    return ExitSuccess;
}

} // namespace tolvane::cli
