#pragma once

#include "core/base/failure.h"
#include "gui/prompter.h"
#include "record/record_entry.h"

#include <QFutureWatcher>
#include <QWidget>

#include <chrono>
#include <memory>
#include <optional>
#include <vector>

class QCheckBox;
class QDateEdit;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableWidget;

namespace tolvane {

class DayCharts;

// What one reading of the record found: the units, and the rows the day's charts count.
struct RecordRead {
    std::vector<record::UnitLine> lines;
    std::vector<record::RecordEntry> recentRows; // since the start of yesterday
};

// The units of a production record, as `tolvane-cli record units` lists them, filtered by MAC
// address, serial number and day; "Release..." frees the identity of an unconfirmed or pending
// unit, and charts count today's units (UTC) by hour and result, and the failures by message.
class UnitsView : public QWidget {
    Q_OBJECT
public:
    explicit UnitsView(Prompter& prompter, QWidget* parent = nullptr);

    // A record file or a PostgreSQL location; read at the next refresh().
    void setRecordLocation(const QString& location);
    // Reads the record again on a worker thread, then shows the table and the charts and emits
    // refreshed(); calls while a reading runs make one more reading after it. A record that
    // cannot be opened is told in the view's status line.
    void refresh();

signals:
    void refreshed();

private:
    using ReadResult = std::shared_ptr<Result<RecordRead>>;

    QWidget* buildFilters();
    void readFinished();
    void showRead(const Result<RecordRead>& read);
    std::optional<std::chrono::sys_days> sinceFilter() const;
    // Shows the lines the filter lets through, keeping the selected unit selected.
    void fillTable(const std::optional<record::UnitLine>& selected);
    std::optional<record::UnitLine> selectedCopy() const;
    void updateRelease();
    void release();
    const record::UnitLine* selectedLine() const;
    void setStatus(const QString& text);

    Prompter& m_prompter;
    QString m_location;
    QString m_problem;  // why the record could not be read
    QString m_released; // what the last release freed
    bool m_reading = false;
    bool m_readAgain = false;
    std::vector<record::UnitLine> m_lines; // as read from the record
    std::vector<std::size_t> m_shown;      // the table's rows: indexes into m_lines

    QLineEdit* m_macFilter = nullptr;
    QLineEdit* m_serialFilter = nullptr;
    QCheckBox* m_sinceEnabled = nullptr;
    QDateEdit* m_since = nullptr;
    QTableWidget* m_table = nullptr;
    QPushButton* m_release = nullptr;
    QLabel* m_status = nullptr;
    DayCharts* m_charts = nullptr;
    QFutureWatcher<ReadResult>* m_reader = nullptr;
};

} // namespace tolvane
