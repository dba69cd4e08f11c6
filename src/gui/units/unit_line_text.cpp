#include "gui/units/unit_line_text.h"

namespace tolvane {

namespace {

QString fromStd(const std::string& text)
{
    return QString::fromStdString(text);
}

QString orDash(const std::optional<std::string>& text)
{
    return text ? fromStd(*text) : QStringLiteral("-");
}

QString serialText(const record::UnitLine& line)
{
    return line.serial ? QString::number(*line.serial) : QString();
}

} // namespace

QStringList unitColumnCaptions()
{
    return {QStringLiteral("MAC"),      QStringLiteral("Serial"), QStringLiteral("State"),
            QStringLiteral("Attempts"), QStringLiteral("First"),  QStringLiteral("Last"),
            QStringLiteral("Target"),   QStringLiteral("Bench"),  QStringLiteral("Version")};
}

QStringList unitLineCells(const record::UnitLine& line)
{
    return {orDash(line.mac),
            line.serial ? serialText(line) : QStringLiteral("-"),
            fromStd(line.state),
            QString::number(line.attempts),
            fromStd(record::isoUtcTime(line.firstTime)),
            fromStd(record::isoUtcTime(line.lastTime)),
            fromStd(line.target),
            orDash(line.bench),
            orDash(line.version)};
}

bool unitLineMatches(const record::UnitLine& line, const QString& macPart,
                     const QString& serialPart)
{
    QString mac = macPart.trimmed().toUpper();
    mac.remove(QLatin1Char(':')).remove(QLatin1Char('-'));
    const QString serial = serialPart.trimmed();
    if (!mac.isEmpty() && !(line.mac && fromStd(*line.mac).contains(mac)))
        return false;
    return serial.isEmpty() || (line.serial && serialText(line).contains(serial));
}

bool unitLineReleasable(const record::UnitLine& line)
{
    return (line.state == record::ResultUnconfirmed || line.state == record::ResultPending) &&
           (line.mac || line.serial);
}

QString unitIdentityText(const record::UnitLine& line)
{
    return line.mac ? QStringLiteral("MAC address ") + fromStd(*line.mac)
                    : QStringLiteral("serial number ") + serialText(line);
}

} // namespace tolvane
