#include "gui/recorded_download.h"

#include "core/download/target_address.h"
#include "core/image/image_version.h"
#include "core/image/mac_address.h"
#include "record/sha256.h"
#include "record/unit_record.h"

#include <chrono>

namespace tolvane {

void MessageTap::showMessage(QWidget* parent, const QString& text)
{
    m_lastMessage = text;
    m_inner.showMessage(parent, text);
}

bool MessageTap::askYesNo(QWidget* parent, const QString& text)
{
    return m_inner.askYesNo(parent, text);
}

QString MessageTap::openFile(QWidget* parent, const QString& caption, const QString& filter)
{
    return m_inner.openFile(parent, caption, filter);
}

QString MessageTap::saveFile(QWidget* parent, const QString& caption, const QString& filter,
                             const QString& defaultSuffix)
{
    return m_inner.saveFile(parent, caption, filter, defaultSuffix);
}

namespace {

// The unit's fields as the record keeps them; the MAC only when this download sends a valid one.
record::RecordEntry unitFields(DownloadType type, const DownloadInputs& inputs)
{
    record::RecordEntry unit;
    unit.target = targetText(inputs.target);
    unit.type = downloadTypeName(type);
    const bool identity =
        type == DownloadType::IntegratedImage || type == DownloadType::IndividualData;
    if (type != DownloadType::IndividualData) {
        unit.file = inputs.imagePath;
        if (auto digest = record::sha256OfFile(inputs.imagePath))
            unit.sha256 = std::move(digest).value();
    }
    if (identity && inputs.identity.sendMac && isValidMacText(inputs.identity.macText))
        unit.mac = formatMacAddress(splitMacAddress(inputs.identity.macText));
    if (identity && inputs.identity.sendSerial)
        unit.serial = inputs.identity.serialNumber;
    return unit;
}

} // namespace

RoutineOutcome runRecordedDownload(record::ProductionRecord& record, const DownloadRunner& run,
                                   DownloadType type, const DownloadInputs& inputs,
                                   DownloadOperator& op, MessageTap& prompter, QWidget* parent)
{
    const auto tell = [&](MessageId id, const std::string& detail) {
        prompter.showMessage(parent, messageQString(id) + QStringLiteral("\n\n") +
                                         QString::fromStdString(detail));
    };
    const auto started = std::chrono::steady_clock::now();
    record::UnitRecord unit(record, unitFields(type, inputs));
    const auto reservation = unit.reserve(false);
    if (reservation.status != record::Reservation::Status::Reserved) {
        const bool used = reservation.status == record::Reservation::Status::Used;
        const std::string mac = formatMacAddress(splitMacAddress(inputs.identity.macText));
        if (used)
            tell(MessageId::MacAlreadyUsed,
                 record::macUsedText(mac, *reservation.holder, record.location()));
        else
            tell(MessageId::CannotWriteRecord, reservation.error.text());
        if (used)
            unit.finish(record::ResultRefused, prompter.lastMessage().toStdString(), 0,
                        std::nullopt);
        return {};
    }

    const RoutineOutcome outcome = run(type, inputs, op);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    const std::optional<std::string> version =
        outcome.version ? std::optional(formatVersion(*outcome.version)) : std::nullopt;
    const auto finished = unit.finish(
        outcome.succeeded ? record::ResultOk : record::ResultFailed,
        outcome.succeeded ? std::string() : prompter.lastMessage().toStdString(), seconds, version);
    if (!finished)
        tell(MessageId::CannotWriteRecord, finished.failure().text());
    return outcome;
}

} // namespace tolvane
