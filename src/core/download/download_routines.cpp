#include "core/download/download_routines.h"

#include "core/base/byte_order.h"
#include "core/base/regular_file.h"
#include "core/image/identity_area.h"
#include "core/image/image_layout.h"
#include "core/image/image_version.h"
#include "core/image/mac_address.h"
#include "core/image/mapped_file.h"
#include "core/ptz/ptz_image.h"
#include "core/transfer/wire_words.h"

#include <array>
#include <cerrno>
#include <limits>
#include <span>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

namespace tolvane {

namespace {

// The protocol announces payload sizes as signed 32-bit words.
constexpr std::uint64_t LargestPayload = std::numeric_limits<std::int32_t>::max();
// The version is read from the chosen file: no unit's identity bytes lie where it is read.
static_assert(IdentityAreaEnd <= VersionHeaderOffset);

DownloadJob makeJob(std::uint32_t typeCode, const DownloadTarget& target,
                    const std::uint8_t* payload, std::uint64_t size)
{
    DownloadJob job;
    job.typeCode = typeCode;
    job.targetAddress = target.address;
    job.port = target.port;
    job.payload = payload;
    job.payloadSize = static_cast<std::int64_t>(size);
    return job;
}

// An image job whose payload is the spans, one after another.
DownloadJob makeImageJob(std::uint32_t typeCode, const DownloadTarget& target,
                         std::vector<PayloadSpan> spans)
{
    DownloadJob job = makeJob(typeCode, target, nullptr, 0);
    for (const PayloadSpan& span : spans)
        job.payloadSize += static_cast<std::int64_t>(span.size());
    job.payloadSpans = std::move(spans);
    return job;
}

// Shows the message for a reader result that is not a version number; true when there was one.
bool reportVersionFailure(DownloadOperator& op, std::int32_t version)
{
    switch (version) {
    case VersionImageInvalid: op.showMessage(MessageId::NoImageFile); return true;
    case VersionFileUnreadable: op.showMessage(MessageId::InvalidData); return true;
    case VersionOutOfMemory: op.showMessage(MessageId::OutOfMemoryReadingImage); return true;
    default: return false;
    }
}

// Sends the version the recorder must accept before it takes an image.
TransferResult runVersionCheck(DownloadOperator& op, const DownloadTarget& target,
                               std::int32_t version)
{
    std::array<std::uint8_t, 4> payload{};
    storeLe32(payload.data(), static_cast<std::uint32_t>(version));
    return op.runTransfer(makeJob(TypeCode::FirmwareVersion, target, payload.data(), 4));
}

// Reads the version of the chosen file, never of a copy, has the recorder check it, then sends the
// image; shows the message for a version that cannot be read. An application-only image's version
// is announced as the recorder takes it. Answers whether the image itself was sent, however that
// ended.
bool sendCheckedImage(DownloadOperator& op, const DownloadTarget& target,
                      const std::string& imagePath, bool applicationOnly,
                      std::vector<PayloadSpan> image, RoutineOutcome& outcome)
{
    std::int32_t version = readImageVersion(imagePath, applicationOnly, op.diagnostics());
    if (applicationOnly)
        version = announcedApplicationVersion(version);
    if (reportVersionFailure(op, version))
        return false;
    outcome.version = version;
    if (runVersionCheck(op, target, version) != TransferResult::Ok)
        return false;
    const std::uint32_t typeCode =
        applicationOnly ? TypeCode::ApplicationImage : TypeCode::IntegratedImage;
    outcome.succeeded =
        op.runTransfer(makeImageJob(typeCode, target, std::move(image))) == TransferResult::Ok;
    return true;
}

// Maps the chosen file read-only; shows 126 for a file too large to announce, 114 otherwise.
// Nothing here reads the mapping: only the kernel does, copying it into the socket, and a file cut
// short meanwhile makes that send fail with EFAULT (error 7) where a read would raise SIGBUS.
const std::uint8_t* mapForSending(DownloadOperator& op, MappedFile& file, const std::string& path)
{
    const auto bytes = file.open(path, 0, 0, true);
    if (bytes && file.viewLength() <= LargestPayload)
        return *bytes;
    // A failed map leaves the file open, so its length still tells why.
    op.showMessage(file.length() > LargestPayload ? MessageId::PayloadTooLarge
                                                  : MessageId::CannotOpenImageFile);
    return nullptr;
}

// The unit's own identity area: the chosen file's bytes there, read through the descriptor rather
// than the mapping (a file cut short meanwhile fails here instead of raising SIGBUS), with the
// chosen fields written in.
bool readUnitIdentity(int file, const UnitIdentity& identity, MacPair mac,
                      std::array<std::uint8_t, IdentityAreaSize>& area)
{
    if (::pread(file, area.data(), area.size(), IdentityAreaOffset) !=
        static_cast<ssize_t>(area.size()))
        return false;
    if (identity.sendMac)
        writeIdentityMac(area.data(), mac);
    if (identity.sendSerial)
        writeIdentitySerial(area.data(), identity.serialNumber);
    return true;
}

// The integrated image as the recorder receives it: the shared mapping of the chosen file, with
// the unit's identity area in its place. The file itself is never written.
std::vector<PayloadSpan> unitImageSpans(PayloadSpan image, PayloadSpan identityArea)
{
    return {image.first(IdentityAreaOffset), identityArea, image.subspan(IdentityAreaEnd)};
}

RoutineOutcome sendMacAndSerial(DownloadOperator& op, const DownloadTarget& target,
                                const UnitIdentity& identity)
{
    RoutineOutcome outcome;
    // Both MAC variants check the text: anything but twelve hex digits would send a wrong address.
    if (!isValidMacText(identity.macText)) {
        op.showMessage(MessageId::InvalidMacAddress);
        return outcome;
    }
    const MacPair pair = splitMacAddress(identity.macText);
    std::array<std::uint8_t, 12> payload{};
    storeBe32(payload.data(), pair.upper);
    storeBe32(payload.data() + 4, pair.lower);
    std::uint64_t size = 8;
    std::uint32_t typeCode = TypeCode::MacAddress;
    if (identity.sendSerial) {
        storeLe32(payload.data() + 8, identity.serialNumber);
        size = 12;
        typeCode = TypeCode::MacAndSerial;
    }
    outcome.succeeded =
        op.runTransfer(makeJob(typeCode, target, payload.data(), size)) == TransferResult::Ok;
    if (outcome.succeeded && identity.autoIncrease)
        outcome.advancedMac = formatMacAddress(advanceMacAddress(pair));
    return outcome;
}

} // namespace

RoutineOutcome downloadApplicationImage(DownloadOperator& op, const std::string& imagePath,
                                        const DownloadTarget& target)
{
    RoutineOutcome outcome;
    MappedFile file;
    const std::uint8_t* image = mapForSending(op, file, imagePath);
    if (image == nullptr)
        return outcome;
    // What is sent is what is mapped, even if the file changes size meanwhile.
    sendCheckedImage(op, target, imagePath, true, {{image, file.viewLength()}}, outcome);
    return outcome;
}

RoutineOutcome downloadIntegratedImage(DownloadOperator& op, const std::string& imagePath,
                                       const DownloadTarget& target, const UnitIdentity& identity)
{
    RoutineOutcome outcome;
    struct stat info {};
    if (::stat(imagePath.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
        op.showMessage(MessageId::NoImageFile);
        return outcome;
    }
    if (identity.sendMac && !isValidMacText(identity.macText)) {
        op.showMessage(MessageId::InvalidMacAddress);
        return outcome;
    }
    if (static_cast<std::uint64_t>(info.st_size) > LargestPayload) {
        op.showMessage(MessageId::PayloadTooLarge);
        return outcome;
    }

    MacPair pair;
    if (identity.sendMac)
        pair = splitMacAddress(identity.macText);
    MappedFile file;
    const std::uint8_t* image = mapForSending(op, file, imagePath);
    if (image == nullptr)
        return outcome;
    if (file.viewLength() < IdentityAreaEnd) {
        op.showMessage(MessageId::InvalidFileSize);
        return outcome;
    }
    std::array<std::uint8_t, IdentityAreaSize> identityArea{};
    if (!readUnitIdentity(file.descriptor(), identity, pair, identityArea)) {
        op.showMessage(MessageId::CannotOpenImageFile);
        return outcome;
    }

    const bool sent =
        sendCheckedImage(op, target, imagePath, false,
                         unitImageSpans({image, file.viewLength()}, identityArea), outcome);
    // The unit has been given this address whether or not the image itself arrived.
    if (sent && identity.sendMac && identity.autoIncrease)
        outcome.advancedMac = formatMacAddress(advanceMacAddress(pair));
    return outcome;
}

RoutineOutcome downloadIndividualData(DownloadOperator& op, const DownloadTarget& target,
                                      const UnitIdentity& identity)
{
    if (identity.sendMac)
        return sendMacAndSerial(op, target, identity);
    RoutineOutcome outcome;
    if (!identity.sendSerial)
        return outcome;
    std::array<std::uint8_t, 4> payload{};
    storeLe32(payload.data(), identity.serialNumber);
    outcome.succeeded = op.runTransfer(makeJob(TypeCode::SerialNumber, target, payload.data(),
                                               4)) == TransferResult::Ok;
    return outcome;
}

RoutineOutcome downloadPtzImage(DownloadOperator& op, const std::string& imagePath,
                                const DownloadTarget& target)
{
    RoutineOutcome outcome;
    // Read rather than mapped: a file cut short while it is checked or sent cannot end the program
    // with SIGBUS. One byte more than an image holds shows a file that is too long.
    RegularFile file;
    std::vector<std::uint8_t> image(PtzImage::FileSize + 1);
    const auto got = file.open(imagePath) ? file.readAt(0, image.data(), image.size())
                                          : Result<std::size_t>(std::size_t{0});
    // An empty file is one that cannot be opened as an image, as it cannot be mapped.
    if (!got || *got == 0) {
        op.showMessage(MessageId::CannotOpenImageFile);
        return outcome;
    }
    if (!PtzImage::IsValidFile(image.data(), *got)) {
        op.showMessage(MessageId::InvalidPtzImage);
        return outcome;
    }
    outcome.succeeded = op.runTransfer(makeJob(TypeCode::PtzImage, target, image.data(),
                                               PtzImage::FileSize)) == TransferResult::Ok;
    return outcome;
}

const char* downloadTypeName(DownloadType type)
{
    switch (type) {
    case DownloadType::ApplicationImage: return "app";
    case DownloadType::IntegratedImage: return "integrated";
    case DownloadType::PtzImage: return "ptz";
    case DownloadType::IndividualData: return "data";
    }
    return "";
}

RoutineOutcome runDownload(DownloadType type, const DownloadInputs& inputs, DownloadOperator& op)
{
    switch (type) {
    case DownloadType::IntegratedImage:
        return downloadIntegratedImage(op, inputs.imagePath, inputs.target, inputs.identity);
    case DownloadType::IndividualData:
        // Neither the MAC address nor the serial number chosen: there is nothing to send.
        if (!inputs.identity.sendMac && !inputs.identity.sendSerial)
            return {};
        return downloadIndividualData(op, inputs.target, inputs.identity);
    case DownloadType::ApplicationImage:
        return downloadApplicationImage(op, inputs.imagePath, inputs.target);
    case DownloadType::PtzImage: return downloadPtzImage(op, inputs.imagePath, inputs.target);
    }
    return {};
}

} // namespace tolvane
