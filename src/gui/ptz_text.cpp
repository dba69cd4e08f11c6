#include "gui/ptz_text.h"

#include <QStringDecoder>

namespace tolvane {

namespace {

QString decodeName(const std::string& bytes)
{
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8(QByteArray::fromStdString(bytes));
    if (utf8.hasError())
        return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
    return text;
}

} // namespace

QString protocolNameText(const PtzProtocol& record)
{
    return decodeName(record.nameText());
}

QString entryRowText(const PtzProtocol& record)
{
    return decodeName(record.entryText());
}

std::int32_t rowNumber(const QString& rowText)
{
    return rowNumberFromEntryText(rowText.toStdString());
}

} // namespace tolvane
