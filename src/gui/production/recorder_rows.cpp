#include "gui/production/recorder_rows.h"

#include "core/download/target_address.h"

#include <algorithm>
#include <functional>

namespace tolvane {

namespace {

// The progress window's words for each stage of a transfer.
QString stageText(int stage)
{
    static const char* const texts[] = {
        "", "", "Downloading...", "Ready for Downloading...", "Now, Writing a image.", "done"};
    if (stage < 0 || stage >= static_cast<int>(std::size(texts)))
        return {};
    return QString::fromLatin1(texts[stage]);
}

} // namespace

RecorderRows::RecorderRows(QObject* parent) : QStandardItemModel(0, ColumnCount, parent)
{
    setHorizontalHeaderLabels({QStringLiteral("Target"), QStringLiteral("Progress"),
                               QStringLiteral("Result"), QStringLiteral("MAC"),
                               QStringLiteral("Serial"), QStringLiteral("Message")});
}

void RecorderRows::addTarget(const DownloadTarget& target)
{
    QList<QStandardItem*> items;
    for (int column = 0; column < ColumnCount; ++column) {
        auto* item = new QStandardItem;
        item->setEditable(false);
        items << item;
    }
    items[Target]->setText(QString::fromStdString(targetText(target)));
    appendRow(items);
    m_units.push_back({target, std::nullopt, std::nullopt, std::nullopt});
}

void RecorderRows::removeTargets(std::vector<int> rows)
{
    std::sort(rows.begin(), rows.end(), std::greater<>());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    for (const int row : rows) {
        removeRow(row);
        m_units.erase(m_units.begin() + row);
    }
}

void RecorderRows::prepare(int row)
{
    m_units.at(row).result.reset();
    for (const Column column : {Progress, Result, Message})
        setText(row, column, {});
    item(row, Progress)->setData(QVariant(), Qt::UserRole);
}

void RecorderRows::setStarted(int row)
{
    setProgress(row, 0);
    setText(row, Result, QStringLiteral("running"));
}

void RecorderRows::setStage(int row, int stage)
{
    const QString text = stageText(stage);
    if (!text.isEmpty())
        setText(row, Result, text);
}

void RecorderRows::setProgress(int row, int percent)
{
    item(row, Progress)->setData(percent, Qt::UserRole);
    setText(row, Progress, QStringLiteral("%1%").arg(percent));
}

void RecorderRows::setMessage(int row, const QString& text)
{
    setText(row, Message, text);
}

void RecorderRows::setOutcome(int row, const service::UnitOutcome& outcome)
{
    Unit& unit = m_units.at(row);
    unit.result = outcome.result;
    unit.mac = outcome.mac;
    unit.serial = outcome.serial;
    if (outcome.succeeded())
        setProgress(row, 100);
    setText(row, Result, QString::fromLatin1(service::resultName(outcome.result)));
    setText(row, Mac, QString::fromStdString(outcome.mac.value_or(std::string())));
    setText(row, Serial, outcome.serial ? QString::number(*outcome.serial) : QString());
    QString message = QString::fromStdString(outcome.message);
    if (outcome.recordFailure)
        message += QStringLiteral("\n") + QString::fromStdString(outcome.recordFailure->text());
    setText(row, Message, message);
}

void RecorderRows::setNotStarted(int row)
{
    setText(row, Result, QStringLiteral("not started"));
    setText(row, Message, QStringLiteral("Stopped before this unit started."));
}

int RecorderRows::count(service::UnitResult result) const
{
    return static_cast<int>(
        std::count_if(m_units.begin(), m_units.end(),
                      [result](const Unit& unit) { return unit.result == result; }));
}

void RecorderRows::setText(int row, Column column, const QString& text)
{
    item(row, column)->setText(text);
}

} // namespace tolvane
