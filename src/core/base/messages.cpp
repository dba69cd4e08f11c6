#include "core/base/messages.h"

#include "core/base/worker_error.h"

namespace tolvane {

std::string_view messageText(MessageId id)
{
    switch (id) {
    case MessageId::AboutMenuItem: return "Quenlar Information(&A)...";
    case MessageId::SocketLayerStartFailed: return "It is failed to initialize Windows Socket.";
    case MessageId::WorkerDidNotEnd:
        return "It was occured a error during the network connection termination.";
    case MessageId::CannotInitializeNetwork: return "Can't initialize network.";
    case MessageId::CannotConnect: return "Can't connect to the machine.";
    case MessageId::CannotCheckImageSize: return "Can't check the image size.";
    case MessageId::NotADvr: return "It is not a DVR machine.";
    case MessageId::CannotReceive: return "Can't receive data from the network.";
    case MessageId::CannotSend: return "Can't send data to the network.";
    case MessageId::CannotWriteFirmware: return "Can't write a firmware.";
    case MessageId::NoImageFile: return "There is not image file.";
    case MessageId::CannotOpenImageFile: return "Can't open the image file.";
    case MessageId::InvalidFileSize: return "The size of the file is not valid.";
    case MessageId::InvalidMacAddress: return "Invalid MAC Address was inputed.";
    case MessageId::InvalidData: return "There is a invalid data. Please, input again.";
    case MessageId::ProtocolNumberExists:
        return "This is a already exist code. Change to another code value.";
    case MessageId::ConfirmRestoreDefaults:
        return "It'll be lose modified valuse. Do you want to apply?";
    case MessageId::ConfirmApplyToAllCommands:
        return "It'll be change to current set value of all commands. Do you want to apply?";
    case MessageId::WrongNumber: return "There is a wrong number. Please, enter again.";
    case MessageId::InvalidPtzImage: return "This PTZ image file is invalid. ";
    case MessageId::FirmwareIncompatible: return "The firmware is Incompatible with the DVR.";
    case MessageId::OutOfMemoryReadingImage:
        return "There is not enough memory to read the image file.";
    case MessageId::PayloadTooLarge: return "The image file is too large to download.";
    case MessageId::CannotStartTransfer: return "Can't start the download.";
    case MessageId::CannotReadFile: return "Can't read the file.";
    case MessageId::CannotSaveFile: return "Can't save the file.";
    case MessageId::PtzImageFull:
        return "The PTZ image is full: it holds 36 protocols. Take one out before adding another.";
    case MessageId::EnterInteger: return "Please enter an integer.";
    case MessageId::MacAlreadyUsed:
        return "This MAC address is already used. It was not sent to the DVR.";
    case MessageId::CannotWriteRecord: return "Can't write the production record.";
    case MessageId::UnitUnconfirmed:
        return "The DVR did not confirm the download, but it may have taken the MAC address. The "
               "MAC address stays held in the production record.";
    case MessageId::SerialAlreadyUsed:
        return "This serial number is already used. It was not sent to the DVR.";
    case MessageId::ConfirmSaveDatabase: return "The PTZ database has changed. Save the changes?";
    }
    return {};
}

MessageSeverity messageSeverity(MessageId id)
{
    switch (id) {
    case MessageId::AboutMenuItem:
    case MessageId::ConfirmRestoreDefaults:
    case MessageId::ConfirmApplyToAllCommands:
    case MessageId::ConfirmSaveDatabase: return MessageSeverity::Information;
    default: return MessageSeverity::Error;
    }
}

std::string_view differentContentsQuestion()
{
    return "It's different contents on same codes. Do you want to update on previous DB ?\"";
}

std::optional<MessageId> messageForWorkerError(int errorCode)
{
    switch (errorCode) {
    case WorkerError::SocketFailure: return MessageId::CannotInitializeNetwork;
    case WorkerError::ConnectFailure: return MessageId::CannotConnect;
    case WorkerError::TypeExchange: return MessageId::NotADvr;
    case WorkerError::SizeExchange: return MessageId::CannotCheckImageSize;
    case WorkerError::Receive: return MessageId::CannotReceive;
    case WorkerError::SendFailure: return MessageId::CannotSend;
    case WorkerError::AcknowledgementFailure: return MessageId::CannotWriteFirmware;
    case WorkerError::Incompatible: return MessageId::FirmwareIncompatible;
    case WorkerError::PayloadTooLarge: return MessageId::PayloadTooLarge;
    default: return std::nullopt;
    }
}

} // namespace tolvane
