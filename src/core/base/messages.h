#pragma once

#include <optional>
#include <string_view>

namespace tolvane {

// Every text the system shows an operator, by its number in the message table.
enum class MessageId : int {
    AboutMenuItem = 101,
    SocketLayerStartFailed = 103,
    WorkerDidNotEnd = 105,
    CannotInitializeNetwork = 106,
    CannotConnect = 107,
    CannotCheckImageSize = 108,
    NotADvr = 109,
    CannotReceive = 110,
    CannotSend = 111,
    CannotWriteFirmware = 112,
    NoImageFile = 113,
    CannotOpenImageFile = 114,
    InvalidFileSize = 115,
    InvalidMacAddress = 116,
    InvalidData = 117,
    ProtocolNumberExists = 118,
    ConfirmRestoreDefaults = 119,
    ConfirmApplyToAllCommands = 120,
    WrongNumber = 122,
    InvalidPtzImage = 123,
    FirmwareIncompatible = 124,
    OutOfMemoryReadingImage = 125,
    PayloadTooLarge = 126,
    CannotStartTransfer = 127,
    CannotReadFile = 128,
    CannotSaveFile = 129,
    PtzImageFull = 130,
    EnterInteger = 131,
    MacAlreadyUsed = 132,
    CannotWriteRecord = 133,
    UnitUnconfirmed = 134,
    SerialAlreadyUsed = 135,
    ConfirmSaveDatabase = 136,
};

// Whether a message tells of something that went wrong (shown with the warning icon) or only
// informs or asks.
enum class MessageSeverity { Information, Error };

// The exact text of a numbered message.
std::string_view messageText(MessageId id);

MessageSeverity messageSeverity(MessageId id);

// The question the image creator asks when a protocol taken back from the image differs from the
// database's record with the same number; it has no number of its own.
std::string_view differentContentsQuestion();

// The message shown for a worker error code, if the code has one.
std::optional<MessageId> messageForWorkerError(int errorCode);

} // namespace tolvane
