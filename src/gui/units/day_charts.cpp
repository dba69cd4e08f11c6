#include "gui/units/day_charts.h"

#include "gui/units/utc_day.h"

#include <QBarCategoryAxis>
#include <QBarSet>
#include <QChart>
#include <QChartView>
#include <QHBoxLayout>
#include <QHorizontalBarSeries>
#include <QStackedBarSeries>
#include <QValueAxis>

#include <algorithm>

namespace tolvane {

namespace {

// Each result keeps its colour from one day to the next.
QColor resultColor(std::string_view result)
{
    if (result == record::ResultOk)
        return QColor(0x2e, 0x8b, 0x57);
    if (result == record::ResultFailed)
        return QColor(0xc0, 0x39, 0x2b);
    if (result == record::ResultUnconfirmed)
        return QColor(0xe6, 0x7e, 0x22);
    if (result == record::ResultRefused)
        return QColor(0x7f, 0x8c, 0x8d);
    return QColor(0x29, 0x80, 0xb9);
}

QChartView* newChartView(const QString& name)
{
    auto* chart = new QChart;
    chart->setAnimationOptions(QChart::NoAnimation);
    chart->legend()->setAlignment(Qt::AlignBottom);
    auto* view = new QChartView(chart);
    view->setRenderHint(QPainter::Antialiasing);
    view->setAccessibleName(name);
    view->setObjectName(name);
    view->setMinimumSize(360, 260);
    return view;
}

// Removes what the chart showed before.
QChart* emptied(QChartView* view, const QString& title)
{
    QChart* chart = view->chart();
    chart->removeAllSeries();
    for (QAbstractAxis* axis : chart->axes()) {
        chart->removeAxis(axis);
        delete axis;
    }
    chart->setTitle(title);
    return chart;
}

// A count axis with whole numbers, from 0 to at least 1.
QValueAxis* countAxis(int largest)
{
    auto* axis = new QValueAxis;
    axis->setRange(0, std::max(largest, 1));
    axis->setLabelFormat(QStringLiteral("%d"));
    axis->setTickCount(std::min(std::max(largest, 1), 5) + 1);
    return axis;
}

QString dayText(std::chrono::sys_days day)
{
    return dateOf(day).toString(Qt::ISODate);
}

void showHours(QChartView* view, const record::DayCounts& counts, std::chrono::sys_days day)
{
    QChart* chart = emptied(view, QStringLiteral("Units per hour, %1 (UTC)").arg(dayText(day)));
    auto* series = new QStackedBarSeries;
    std::array<int, 24> totals{};
    for (std::size_t r = 0; r < record::DayResults.size(); ++r) {
        auto* set = new QBarSet(QString::fromUtf8(record::DayResults[r]));
        set->setColor(resultColor(record::DayResults[r]));
        for (std::size_t hour = 0; hour < 24; ++hour) {
            *set << counts.units[r][hour];
            totals[hour] += counts.units[r][hour];
        }
        series->append(set);
    }
    chart->addSeries(series);
    auto* hours = new QBarCategoryAxis;
    for (int hour = 0; hour < 24; ++hour)
        hours->append(QString::number(hour));
    // 24 labels fit beside each other only in a small font, and two-digit ones only upright.
    QFont small = hours->labelsFont();
    small.setPointSizeF(small.pointSizeF() * 0.8);
    hours->setLabelsFont(small);
    hours->setLabelsAngle(-90);
    hours->setTitleText(QStringLiteral("hour (UTC)"));
    chart->addAxis(hours, Qt::AlignBottom);
    series->attachAxis(hours);
    QValueAxis* units = countAxis(*std::max_element(totals.begin(), totals.end()));
    chart->addAxis(units, Qt::AlignLeft);
    series->attachAxis(units);
}

void showFailures(QChartView* view, const record::DayCounts& counts, std::chrono::sys_days day)
{
    QChart* chart =
        emptied(view, QStringLiteral("Failures by message, %1 (UTC)").arg(dayText(day)));
    auto* series = new QHorizontalBarSeries;
    auto* set = new QBarSet(QStringLiteral("units failed or unconfirmed"));
    set->setColor(resultColor(record::ResultFailed));
    auto* messages = new QBarCategoryAxis;
    // The axis lists from the bottom up: the most frequent message goes on top.
    for (auto it = counts.failures.rbegin(); it != counts.failures.rend(); ++it) {
        *set << it->units;
        const QString message = QString::fromStdString(it->message);
        messages->append(message.isEmpty() ? QStringLiteral("(no message)") : message);
    }
    series->append(set);
    chart->addSeries(series);
    chart->addAxis(messages, Qt::AlignLeft);
    series->attachAxis(messages);
    const int largest = counts.failures.empty() ? 0 : counts.failures.front().units;
    QValueAxis* units = countAxis(largest);
    chart->addAxis(units, Qt::AlignBottom);
    series->attachAxis(units);
}

} // namespace

DayCharts::DayCharts(QWidget* parent)
    : QWidget(parent), m_hours(newChartView(QStringLiteral("Units per hour"))),
      m_failures(newChartView(QStringLiteral("Failures by message")))
{
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_hours, 3);
    layout->addWidget(m_failures, 2);
}

void DayCharts::showDay(const record::DayCounts& counts, std::chrono::sys_days day)
{
    showHours(m_hours, counts, day);
    showFailures(m_failures, counts, day);
}

void DayCharts::clear()
{
    emptied(m_hours, QString());
    emptied(m_failures, QString());
}

} // namespace tolvane
