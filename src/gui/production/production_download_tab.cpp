#include "gui/production/production_download_tab.h"

#include "core/download/target_address.h"
#include "core/image/mac_address.h"
#include "gui/production/batch_runner.h"
#include "gui/production/production_form.h"
#include "gui/production/production_units.h"
#include "gui/production/progress_delegate.h"
#include "gui/production/recorder_rows.h"
#include "gui/prompter.h"
#include "service/refusal_wording.h"
#include "service/targets.h"

#include <QFile>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QSettings>
#include <QTableView>
#include <QVBoxLayout>

#include <algorithm>
#include <utility>

namespace tolvane {

namespace {

// Where the tab keeps what it remembers between runs of the program.
const QString ImageKey = QStringLiteral("production/image");
const QString TargetsKey = QStringLiteral("production/targets");
const QString RecordKey = QStringLiteral("production/record");
const QString TypeKey = QStringLiteral("production/type");

std::string fileName(const QString& path)
{
    return QFile::encodeName(path).toStdString();
}

} // namespace

ProductionDownloadTab::ProductionDownloadTab(Prompter& prompter, QWidget* parent)
    : QWidget(parent), m_prompter(prompter), m_runner(new BatchRunner(this))
{
    auto* layout = new QVBoxLayout(this);
    m_form = new ProductionForm(prompter, this);
    layout->addWidget(m_form);
    connect(m_form, &ProductionForm::recordLocationChanged, this,
            &ProductionDownloadTab::recordLocationChanged);
    buildTable();
    buildButtons();
    m_summary = new QLabel(this);
    m_summary->setObjectName(QStringLiteral("summaryLine"));
    m_summary->setTextInteractionFlags(Qt::TextSelectableByKeyboard | Qt::TextSelectableByMouse);
    m_summary->setFocusPolicy(Qt::TabFocus);
    layout->addWidget(m_summary);

    connect(m_runner, &BatchRunner::unitStarted, this,
            [this](int unit) { m_rows->setStarted(m_runRows.at(unit)); });
    connect(m_runner, &BatchRunner::unitMessage, this, [this](int unit, const QString& text) {
        m_rows->setMessage(m_runRows.at(unit), text);
    });
    connect(m_runner, &BatchRunner::unitStage, this,
            [this](int unit, int stage) { m_rows->setStage(m_runRows.at(unit), stage); });
    connect(m_runner, &BatchRunner::unitProgress, this,
            [this](int unit, int percent) { m_rows->setProgress(m_runRows.at(unit), percent); });
    connect(m_runner, &BatchRunner::unitFinished, this, &ProductionDownloadTab::unitFinished);
    connect(m_runner, &BatchRunner::runFinished, this, &ProductionDownloadTab::runFinished);
    connect(m_runner, &BatchRunner::recordUnavailable, this, [this](const QString& reason) {
        updateControls();
        warn(reason);
        emit runEnded();
    });
    restoreSettings();
    updateControls();
    updateSummary();
}

ProductionDownloadTab::~ProductionDownloadTab() = default;

void ProductionDownloadTab::warn(const QString& text)
{
    m_prompter.showMessage(this, text, QString(), Prompter::Severity::Warning);
}

void ProductionDownloadTab::buildTable()
{
    m_rows = new RecorderRows(this);
    m_table = new QTableView(this);
    m_table->setObjectName(QStringLiteral("recordersTable"));
    m_table->setModel(m_rows);
    m_table->setItemDelegateForColumn(RecorderRows::Progress, new ProgressDelegate(m_table));
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setTabKeyNavigation(false); // Tab leaves the table for the buttons
    m_table->verticalHeader()->setVisible(false);
    m_table->horizontalHeader()->setStretchLastSection(true);
    auto* label = new QLabel(QStringLiteral("Recor&ders"), this);
    label->setBuddy(m_table);
    m_table->setAccessibleName(QStringLiteral("Recorders"));
    layout()->addWidget(label);
    layout()->addWidget(m_table);
}

void ProductionDownloadTab::buildButtons()
{
    auto* row = new QHBoxLayout;
    const auto button = [this, row](const char* caption, const char* objectName,
                                    void (ProductionDownloadTab::*slot)()) {
        auto* pushButton = new QPushButton(QString::fromUtf8(caption), this);
        pushButton->setObjectName(QString::fromLatin1(objectName));
        pushButton->setAccessibleName(spokenCaption(pushButton->text()));
        pushButton->setAutoDefault(false);
        connect(pushButton, &QPushButton::clicked, this, slot);
        row->addWidget(pushButton);
        return pushButton;
    };
    m_addButton = button("&Add...", "addButton", &ProductionDownloadTab::addTarget);
    m_loadButton =
        button("&Load targets...", "loadTargetsButton", &ProductionDownloadTab::loadTargets);
    m_removeButton = button("R&emove", "removeButton", &ProductionDownloadTab::removeTargets);
    row->addStretch();
    m_startButton = button("Sta&rt", "startButton", &ProductionDownloadTab::start);
    m_stopButton = button("St&op", "stopButton", &ProductionDownloadTab::stop);
    m_retryButton =
        button("Retry fa&iled", "retryFailedButton", &ProductionDownloadTab::retryFailed);
    static_cast<QBoxLayout*>(layout())->addLayout(row);

    setTabOrder(m_form->lastControl(), m_table);
    QWidget* previous = m_table;
    for (QWidget* next :
         {m_addButton, m_loadButton, m_removeButton, m_startButton, m_stopButton, m_retryButton}) {
        setTabOrder(previous, next);
        previous = next;
    }
}

QString ProductionDownloadTab::recordLocation() const
{
    return m_form->recordLocation();
}

bool ProductionDownloadTab::running() const
{
    return m_runner->running();
}

void ProductionDownloadTab::addTarget()
{
    const auto text =
        m_prompter.askText(this, QStringLiteral("Add"), QStringLiteral("Recorder (HOST[:PORT]):"));
    if (!text)
        return;
    const auto target = parseTarget(text->trimmed().toStdString());
    if (!target) {
        warn(QStringLiteral("'%1' is not a recorder: %2")
                 .arg(text->trimmed(), QString::fromStdString(target.failure().text())));
        return;
    }
    m_rows->addTarget(*target);
    updateControls();
}

void ProductionDownloadTab::loadTargets()
{
    const QString path = m_prompter.openFile(this, QStringLiteral("Load targets"),
                                             QStringLiteral("Targets (*.txt);;All files (*)"));
    if (!path.isEmpty() && loadTargetsFile(path, false))
        saveSettings();
}

// Replaces the rows with the file's recorders; a file with a bad line changes nothing.
bool ProductionDownloadTab::loadTargetsFile(const QString& path, bool quiet)
{
    std::string error;
    const auto targets = service::readTargetsFile(fileName(path), &error);
    if (!targets) {
        if (!quiet)
            warn(QString::fromStdString(error));
        return false;
    }
    m_rows->removeTargets([this] {
        std::vector<int> all(static_cast<std::size_t>(m_rows->rowCount()));
        for (std::size_t i = 0; i < all.size(); ++i)
            all[i] = static_cast<int>(i);
        return all;
    }());
    for (const DownloadTarget& target : *targets)
        m_rows->addTarget(target);
    m_targetsFile = path;
    updateControls();
    updateSummary();
    return true;
}

void ProductionDownloadTab::removeTargets()
{
    std::vector<int> rows;
    for (const QModelIndex& index : m_table->selectionModel()->selectedRows())
        rows.push_back(index.row());
    if (rows.empty() && m_table->currentIndex().isValid())
        rows.push_back(m_table->currentIndex().row());
    m_rows->removeTargets(rows);
    updateControls();
    updateSummary();
}

// What stops a run before anything is sent, or nothing.
QString ProductionDownloadTab::inputProblem() const
{
    if (m_rows->rowCount() == 0)
        return QStringLiteral("Add the recorders to send to: Add... or Load targets....");
    if (m_form->downloadType() != DownloadType::IndividualData && m_form->imagePath().isEmpty())
        return QStringLiteral("Choose the image to send under Image Path.");
    if (m_form->sendsIdentity() && m_form->recordLocation().isEmpty())
        return QStringLiteral("A record is needed to send MAC addresses or serial numbers: "
                              "choose one under Record. Nothing was sent.");
    if (m_form->sendsMac() && !isValidMacText(m_form->firstMac().toStdString()))
        return QStringLiteral("First MAC must be twelve hexadecimal digits.");
    if (m_form->sendsSerial() && !m_form->firstSerial())
        return QStringLiteral("First S/N must be a number from 0 to 4294967295.");
    return {};
}

service::DownloadPlan ProductionDownloadTab::plan(bool fromFirstIdentity) const
{
    service::DownloadPlan plan;
    plan.type = m_form->downloadType();
    if (plan.type != DownloadType::IndividualData)
        plan.file = fileName(m_form->imagePath());
    plan.wording = service::plainRefusalText;
    // Each unit takes the next MAC address (and serial number) the record shows free.
    if (fromFirstIdentity && m_form->sendsMac()) {
        plan.freeMacsFrom = formatMacAddress(splitMacAddress(m_form->firstMac().toStdString()));
        if (m_form->sendsSerial())
            plan.freeSerialsFrom = m_form->firstSerial();
    }
    return plan;
}

void ProductionDownloadTab::start()
{
    if (running())
        return;
    if (const QString problem = inputProblem(); !problem.isEmpty()) {
        warn(problem);
        return;
    }
    saveSettings();
    std::vector<int> rows;
    std::vector<service::UnitRequest> units;
    for (int row = 0; row < m_rows->rowCount(); ++row) {
        rows.push_back(row);
        units.push_back(
            {m_rows->target(row),
             identityAt(units.size(), m_form->firstMac().toStdString(), m_form->sendsMac(),
                        m_form->firstSerial().value_or(0), m_form->sendsSerial())});
    }
    run(std::move(rows), std::move(units), true);
}

void ProductionDownloadTab::stop()
{
    m_runner->stop();
    m_stopButton->setEnabled(false); // the running units still end on their own
}

void ProductionDownloadTab::retryFailed()
{
    if (running())
        return;
    std::vector<int> rows;
    std::vector<service::UnitRequest> units;
    for (int row = 0; row < m_rows->rowCount(); ++row) {
        if (m_rows->result(row) != service::UnitResult::Failed)
            continue; // an unconfirmed unit may hold its identity already: never sent twice
        rows.push_back(row);
        units.push_back(
            {m_rows->target(row), identityAgain(m_rows->mac(row), m_rows->serial(row),
                                                m_form->sendsMac(), m_form->sendsSerial())});
    }
    if (rows.empty())
        return;
    if (m_form->sendsIdentity() && m_form->recordLocation().isEmpty()) {
        warn(inputProblem());
        return;
    }
    run(std::move(rows), std::move(units), false);
}

void ProductionDownloadTab::run(std::vector<int> rows, std::vector<service::UnitRequest> units,
                                bool fromFirst)
{
    for (const int row : rows)
        m_rows->prepare(row);
    m_runRows = std::move(rows);
    m_runFromFirstIdentity = fromFirst;
    BatchRequest request;
    request.plan = plan(fromFirst);
    request.recordLocation = fileName(m_form->recordLocation());
    request.units = std::move(units);
    request.options = {m_form->jobs(), m_deadlines};
    m_runner->start(std::move(request));
    updateControls();
}

void ProductionDownloadTab::unitFinished(int unit, const service::UnitOutcome& outcome)
{
    m_rows->setOutcome(m_runRows.at(unit), outcome);
    updateSummary();
    emit unitEnded();
}

void ProductionDownloadTab::runFinished(const service::BatchOutcome& batch)
{
    std::optional<std::uint32_t> lastSerial;
    for (std::size_t i = 0; i < batch.units.size(); ++i) {
        if (!batch.units[i]) {
            m_rows->setNotStarted(m_runRows.at(i));
            continue;
        }
        const auto& unit = *batch.units[i];
        const bool wentOut = unit.result == service::UnitResult::Ok ||
                             unit.result == service::UnitResult::Unconfirmed;
        if (wentOut && unit.serial)
            lastSerial = std::max(lastSerial.value_or(0), *unit.serial);
    }
    if (m_runFromFirstIdentity) {
        m_nextMac = batch.nextFreeMac;
        m_nextSerial = batch.nextFreeSerial;
        if (!m_nextSerial && m_form->sendsSerial())
            m_nextSerial = lastSerial ? *lastSerial + 1 : m_form->firstSerial().value_or(0);
    }
    updateControls();
    updateSummary();
    emit runEnded();
}

void ProductionDownloadTab::updateControls()
{
    const bool idle = !running();
    bool anyFailed = false;
    for (int row = 0; row < m_rows->rowCount(); ++row)
        anyFailed = anyFailed || m_rows->result(row) == service::UnitResult::Failed;
    m_form->setEnabled(idle);
    m_addButton->setEnabled(idle);
    m_loadButton->setEnabled(idle);
    m_removeButton->setEnabled(idle && m_rows->rowCount() > 0);
    m_startButton->setEnabled(idle && m_rows->rowCount() > 0);
    m_stopButton->setEnabled(!idle);
    m_retryButton->setEnabled(idle && anyFailed);
}

void ProductionDownloadTab::updateSummary()
{
    using service::UnitResult;
    const QString none = QStringLiteral("-");
    m_summary->setText(
        QStringLiteral("%1 ok, %2 failed, %3 unconfirmed. Next MAC: %4, next S/N: %5")
            .arg(m_rows->count(UnitResult::Ok))
            .arg(m_rows->count(UnitResult::Failed))
            .arg(m_rows->count(UnitResult::Unconfirmed))
            .arg(m_nextMac ? QString::fromStdString(*m_nextMac) : none,
                 m_nextSerial ? QString::number(*m_nextSerial) : none));
    m_summary->setAccessibleName(m_summary->text());
}

void ProductionDownloadTab::restoreSettings()
{
    const QSettings settings;
    m_form->setDownloadType(static_cast<DownloadType>(
        settings.value(TypeKey, static_cast<int>(m_form->downloadType())).toInt()));
    m_form->setImagePath(settings.value(ImageKey).toString());
    m_form->setRecordLocation(settings.value(RecordKey).toString());
    const QString targets = settings.value(TargetsKey).toString();
    if (!targets.isEmpty())
        loadTargetsFile(targets, true);
}

void ProductionDownloadTab::saveSettings() const
{
    QSettings settings;
    settings.setValue(TypeKey, static_cast<int>(m_form->downloadType()));
    settings.setValue(ImageKey, m_form->imagePath());
    settings.setValue(RecordKey, m_form->recordLocation());
    settings.setValue(TargetsKey, m_targetsFile);
}

} // namespace tolvane
