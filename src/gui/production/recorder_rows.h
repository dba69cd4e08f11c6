#pragma once

#include "core/download/download_routines.h"
#include "service/unit_outcome.h"

#include <QStandardItemModel>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tolvane {

// The "Recorders" table: one row a recorder, with what its last unit came to.
class RecorderRows : public QStandardItemModel {
    Q_OBJECT
public:
    enum Column { Target, Progress, Result, Mac, Serial, Message, ColumnCount };

    explicit RecorderRows(QObject* parent = nullptr);

    void addTarget(const DownloadTarget& target);
    // Removes the rows, given in any order.
    void removeTargets(std::vector<int> rows);
    DownloadTarget target(int row) const { return m_units.at(row).target; }

    // A row about to run: its progress, result and message emptied.
    void prepare(int row);
    void setStarted(int row);
    void setStage(int row, int stage);
    void setProgress(int row, int percent);
    void setMessage(int row, const QString& text);
    void setOutcome(int row, const service::UnitOutcome& outcome);
    // A row the run never started because it was stopped.
    void setNotStarted(int row);

    std::optional<service::UnitResult> result(int row) const { return m_units.at(row).result; }
    std::optional<std::string> mac(int row) const { return m_units.at(row).mac; }
    std::optional<std::uint32_t> serial(int row) const { return m_units.at(row).serial; }
    int count(service::UnitResult result) const;

private:
    struct Unit {
        DownloadTarget target;
        std::optional<service::UnitResult> result;
        std::optional<std::string> mac;
        std::optional<std::uint32_t> serial;
    };

    void setText(int row, Column column, const QString& text);

    std::vector<Unit> m_units;
};

} // namespace tolvane
