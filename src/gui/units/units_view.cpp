#include "gui/units/units_view.h"

#include "gui/units/day_charts.h"
#include "gui/units/unit_line_text.h"
#include "gui/units/utc_day.h"
#include "record/day_counts.h"
#include "record/production_record.h"
#include "record/unit_record.h"

#include <QCheckBox>
#include <QDateEdit>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>
#include <QtConcurrent>

namespace tolvane {

namespace {

QString fromStd(const std::string& text)
{
    return QString::fromStdString(text);
}

// The units since a day (all without one), and the rows the day's charts count: a unit's outcome
// today may follow its pending row of yesterday.
Result<RecordRead> readRecord(const QString& location, std::optional<std::chrono::sys_days> since)
{
    record::RecordOptions options;
    options.readOnly = true;
    auto store = record::openProductionRecord(location.toStdString(), options);
    if (!store)
        return store.failure();
    record::RecordFilter unitFilter;
    if (since)
        unitFilter.since = *since;
    auto lines = (*store)->units(unitFilter);
    if (!lines)
        return lines.failure();
    record::RecordFilter recent;
    recent.since = todayUtc() - std::chrono::days(1);
    auto rows = (*store)->rows(recent);
    if (!rows)
        return rows.failure();
    return RecordRead{std::move(*lines), std::move(*rows)};
}

// A field with its caption before it, the caption its accessible name.
void addField(QHBoxLayout* row, const QString& caption, QWidget* field)
{
    auto* label = new QLabel(caption + QLatin1Char(':'));
    label->setBuddy(field);
    field->setAccessibleName(caption);
    row->addWidget(label);
    row->addWidget(field);
}

} // namespace

UnitsView::UnitsView(Prompter& prompter, QWidget* parent)
    : QWidget(parent), m_prompter(prompter), m_table(new QTableWidget(this)),
      m_release(new QPushButton(QStringLiteral("Release..."), this)), m_status(new QLabel(this)),
      m_charts(new DayCharts(this)), m_reader(new QFutureWatcher<ReadResult>(this))
{
    const QStringList captions = unitColumnCaptions();
    m_table->setColumnCount(static_cast<int>(captions.size()));
    m_table->setHorizontalHeaderLabels(captions);
    m_table->setAccessibleName(QStringLiteral("Units"));
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::SingleSelection);
    m_table->setTabKeyNavigation(false);
    m_table->verticalHeader()->hide();
    m_table->horizontalHeader()->setStretchLastSection(true);
    m_release->setAccessibleName(QStringLiteral("Release..."));
    m_release->setEnabled(false);
    m_status->setAccessibleName(QStringLiteral("Status"));
    m_status->setWordWrap(true);
    m_status->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);

    auto* actions = new QHBoxLayout;
    actions->addWidget(m_status, 1);
    actions->addWidget(m_release);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(buildFilters());
    layout->addWidget(m_table, 3);
    layout->addLayout(actions);
    layout->addWidget(m_charts, 2);

    connect(m_table, &QTableWidget::itemSelectionChanged, this, &UnitsView::updateRelease);
    connect(m_release, &QPushButton::clicked, this, &UnitsView::release);
    connect(m_reader, &QFutureWatcher<ReadResult>::finished, this, &UnitsView::readFinished);
    setStatus(QStringLiteral("No record chosen."));
}

QWidget* UnitsView::buildFilters()
{
    auto* filters = new QWidget(this);
    auto* row = new QHBoxLayout(filters);
    row->setContentsMargins(0, 0, 0, 0);
    m_macFilter = new QLineEdit(filters);
    m_serialFilter = new QLineEdit(filters);
    m_sinceEnabled = new QCheckBox(QStringLiteral("Since (UTC)"), filters);
    m_sinceEnabled->setAccessibleName(m_sinceEnabled->text());
    m_sinceEnabled->setChecked(
        true); // a long record's units are many; today's are what a floor wants
    m_since = new QDateEdit(dateOf(todayUtc()), filters);
    m_since->setAccessibleName(QStringLiteral("Since date (UTC)"));
    m_since->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
    m_since->setCalendarPopup(true);
    auto* refreshButton = new QPushButton(QStringLiteral("Refresh"), filters);
    refreshButton->setAccessibleName(refreshButton->text());
    addField(row, QStringLiteral("MAC"), m_macFilter);
    addField(row, QStringLiteral("Serial"), m_serialFilter);
    row->addWidget(m_sinceEnabled);
    row->addWidget(m_since);
    row->addStretch(1);
    row->addWidget(refreshButton);

    connect(m_macFilter, &QLineEdit::textChanged, this, [this] { fillTable(selectedCopy()); });
    connect(m_serialFilter, &QLineEdit::textChanged, this, [this] { fillTable(selectedCopy()); });
    connect(m_sinceEnabled, &QCheckBox::toggled, m_since, &QWidget::setEnabled);
    connect(m_sinceEnabled, &QCheckBox::toggled, this, &UnitsView::refresh);
    connect(m_since, &QDateEdit::dateChanged, this, [this] {
        if (m_sinceEnabled->isChecked())
            refresh();
    });
    connect(refreshButton, &QPushButton::clicked, this, &UnitsView::refresh);
    return filters;
}

void UnitsView::setRecordLocation(const QString& location)
{
    if (location != m_location)
        m_released.clear();
    m_location = location;
}

void UnitsView::refresh()
{
    if (m_reading) {
        m_readAgain = true;
        return;
    }
    m_readAgain = false;
    if (m_location.isEmpty()) {
        showRead(Failure(0, "no record chosen"));
        return;
    }
    m_reading = true;
    m_reader->setFuture(QtConcurrent::run([location = m_location, since = sinceFilter()] {
        return std::make_shared<Result<RecordRead>>(readRecord(location, since));
    }));
}

void UnitsView::readFinished()
{
    m_reading = false;
    // What was read is already out of date: read again before showing anything.
    if (m_readAgain) {
        refresh();
        return;
    }
    showRead(*m_reader->result());
}

void UnitsView::showRead(const Result<RecordRead>& read)
{
    const std::optional<record::UnitLine> selected = selectedCopy();
    m_lines.clear();
    if (read) {
        m_problem.clear();
        m_lines = read->lines;
        m_charts->showDay(record::dayCounts(read->recentRows, todayUtc()), todayUtc());
    } else {
        m_problem = QStringLiteral("Cannot read the record: ") + fromStd(read.failure().text());
        m_charts->clear();
    }
    fillTable(selected);
    emit refreshed();
}

std::optional<std::chrono::sys_days> UnitsView::sinceFilter() const
{
    if (!m_sinceEnabled->isChecked())
        return std::nullopt;
    return dayOf(m_since->date());
}

void UnitsView::fillTable(const std::optional<record::UnitLine>& selected)
{
    m_shown.clear();
    for (std::size_t i = 0; i < m_lines.size(); ++i) {
        if (unitLineMatches(m_lines[i], m_macFilter->text(), m_serialFilter->text()))
            m_shown.push_back(i);
    }
    m_table->clearSelection();
    m_table->setRowCount(static_cast<int>(m_shown.size()));
    for (int row = 0; row < m_table->rowCount(); ++row) {
        const record::UnitLine& line = m_lines[m_shown[static_cast<std::size_t>(row)]];
        const QStringList cells = unitLineCells(line);
        for (int column = 0; column < cells.size(); ++column)
            m_table->setItem(row, column, new QTableWidgetItem(cells[column]));
        if (selected && selected->mac == line.mac && selected->serial == line.serial)
            m_table->selectRow(row);
    }
    m_table->resizeColumnsToContents();
    if (!m_problem.isEmpty()) {
        setStatus(m_problem);
    } else {
        setStatus(QStringLiteral("%1 of %2 units in %3. %4")
                      .arg(m_shown.size())
                      .arg(m_lines.size())
                      .arg(m_location, m_released)
                      .trimmed());
    }
    updateRelease();
}

std::optional<record::UnitLine> UnitsView::selectedCopy() const
{
    const record::UnitLine* line = selectedLine();
    return line ? std::optional<record::UnitLine>(*line) : std::nullopt;
}

const record::UnitLine* UnitsView::selectedLine() const
{
    const QList<QTableWidgetItem*> items = m_table->selectedItems();
    if (items.isEmpty())
        return nullptr;
    const auto row = static_cast<std::size_t>(items.front()->row());
    return row < m_shown.size() ? &m_lines[m_shown[row]] : nullptr;
}

void UnitsView::updateRelease()
{
    const record::UnitLine* line = selectedLine();
    m_release->setEnabled(line && unitLineReleasable(*line));
}

void UnitsView::release()
{
    const record::UnitLine* selected = selectedLine();
    if (!selected || !unitLineReleasable(*selected))
        return;
    const record::UnitLine line = *selected;
    const QString identity = unitIdentityText(line);
    const std::optional<QString> reason = m_prompter.askText(
        this, QStringLiteral("Release"), QStringLiteral("Reason for releasing %1:").arg(identity));
    if (!reason)
        return;
    if (reason->trimmed().isEmpty()) {
        m_prompter.showMessage(this, QStringLiteral("A release needs a reason; nothing released."));
        return;
    }
    auto store = record::openProductionRecord(m_location.toStdString());
    auto released = !store ? Result<record::RecordEntry>(store.failure())
                    : line.mac
                        ? record::releaseMac(**store, *line.mac, reason->toStdString())
                        : record::releaseSerial(**store, *line.serial, reason->toStdString());
    if (released)
        m_released =
            QStringLiteral("Released %1 of %2.")
                .arg(identity, fromStd(record::heldByText(*released, (*store)->location())));
    refresh();
    if (!released)
        m_prompter.showMessage(this, QStringLiteral("%1 was not released.").arg(identity),
                               fromStd(released.failure().text()), Prompter::Severity::Warning);
}

void UnitsView::setStatus(const QString& text)
{
    m_status->setText(text);
}

} // namespace tolvane
