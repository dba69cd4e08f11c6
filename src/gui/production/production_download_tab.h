#pragma once

#include "core/transfer/download_job.h"
#include "service/download_service.h"

#include <QString>
#include <QWidget>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

class QLabel;
class QPushButton;
class QTableView;

namespace tolvane {

class BatchRunner;
class Prompter;
class ProductionForm;
class RecorderRows;

// The production window's download tab: what to send, the recorders, and the run over them.
class ProductionDownloadTab : public QWidget {
    Q_OBJECT
public:
    explicit ProductionDownloadTab(Prompter& prompter, QWidget* parent = nullptr);
    ~ProductionDownloadTab() override;

    QString recordLocation() const;
    bool running() const;
    // Time limits for every transfer; the defaults are a real recorder's.
    void setDeadlines(const DownloadDeadlines& deadlines) { m_deadlines = deadlines; }

signals:
    void recordLocationChanged(const QString& location);
    // A unit's outcome is in its row (and in the record).
    void unitEnded();
    // A run has ended: every unit that started has its outcome.
    void runEnded();

private:
    void buildTable();
    void warn(const QString& text);
    void buildButtons();
    void addTarget();
    void loadTargets();
    bool loadTargetsFile(const QString& path, bool quiet);
    void removeTargets();
    void start();
    void stop();
    void retryFailed();
    QString inputProblem() const;
    service::DownloadPlan plan(bool fromFirstIdentity) const;
    void run(std::vector<int> rows, std::vector<service::UnitRequest> units, bool fromFirst);
    void unitFinished(int unit, const service::UnitOutcome& outcome);
    void runFinished(const service::BatchOutcome& batch);
    void updateControls();
    void updateSummary();
    void restoreSettings();
    void saveSettings() const;

    Prompter& m_prompter;
    ProductionForm* m_form = nullptr;
    RecorderRows* m_rows = nullptr;
    QTableView* m_table = nullptr;
    QPushButton* m_addButton = nullptr;
    QPushButton* m_loadButton = nullptr;
    QPushButton* m_removeButton = nullptr;
    QPushButton* m_startButton = nullptr;
    QPushButton* m_stopButton = nullptr;
    QPushButton* m_retryButton = nullptr;
    QLabel* m_summary = nullptr;
    BatchRunner* m_runner = nullptr;
    DownloadDeadlines m_deadlines;
    QString m_targetsFile;
    std::vector<int> m_runRows;          // the table row of each unit of the run
    bool m_runFromFirstIdentity = false; // the run took its identities from First MAC and S/N
    std::optional<std::string> m_nextMac;
    std::optional<std::uint32_t> m_nextSerial;
};

} // namespace tolvane
