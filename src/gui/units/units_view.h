#pragma once

#include "gui/prompter.h"
#include "record/record_entry.h"

#include <QWidget>

#include <chrono>
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

// The units of a production record, as `tolvane-cli record units` lists them, filtered by MAC
// address, serial number and day; "Release..." frees the identity of an unconfirmed or pending
// unit, and charts count today's units (UTC) by hour and result, and the failures by message.
class UnitsView : public QWidget {
    Q_OBJECT
public:
    explicit UnitsView(Prompter& prompter, QWidget* parent = nullptr);

    // A record file or a PostgreSQL location; read at the next refresh().
    void setRecordLocation(const QString& location);
    // Reads the record again: the table and the charts. A record that cannot be opened is told
    // in the view's status line.
    void refresh();

private:
    QWidget* buildFilters();
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
    QString m_problem;                     // why the record could not be read
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
};

} // namespace tolvane
