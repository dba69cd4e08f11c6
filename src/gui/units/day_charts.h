#pragma once

#include "record/day_counts.h"

#include <QWidget>

#include <chrono>

class QChart;
class QChartView;

namespace tolvane {

// A day of the record in two charts: units per hour, stacked by result, and the failures by
// message as horizontal bars.
class DayCharts : public QWidget {
    Q_OBJECT
public:
    explicit DayCharts(QWidget* parent = nullptr);

    void showDay(const record::DayCounts& counts, std::chrono::sys_days day);
    // Nothing to show: the record could not be read.
    void clear();

private:
    QChartView* m_hours = nullptr;
    QChartView* m_failures = nullptr;
};

} // namespace tolvane
