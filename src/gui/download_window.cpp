#include "gui/download_window.h"

#include "core/base/messages.h"
#include "core/transfer/download_observer.h"
#include "core/transfer/download_worker.h"
#include "gui/prompter.h"

#include <QCloseEvent>
#include <QEventLoop>
#include <QFontDatabase>
#include <QKeyEvent>
#include <QLabel>
#include <QProgressBar>
#include <QThread>
#include <QTimer>
#include <QVBoxLayout>

#include <atomic>
#include <exception>
#include <mutex>

namespace tolvane {

// What the worker thread shares with the window: its own copy of the job, and the window its
// notifications go to. The window unhooks itself when it goes, so a worker that outlives it posts
// nowhere. Queued invocations on one receiver are delivered in the order they were posted.
class DownloadWindow::WorkerLink : public DownloadObserver {
public:
    WorkerLink(const DownloadJob& ownJob, DownloadWindow* window) : job(ownJob), m_window(window) {}

    const DownloadJob job;

    // The worker that reports here, so an error carries what failed; set on the worker's thread
    // before it runs.
    void attach(const DownloadWorker* worker) { m_worker = worker; }

    void error(int code) override
    {
        m_ended = true;
        // Read on the worker's thread, which set it just before posting the code.
        const std::string detail = m_worker ? m_worker->failureDetail() : std::string();
        post([code, detail](DownloadWindow* w) { w->handleError(code, detail); });
    }
    void stage(int stage) override
    {
        if (stage == 5)
            m_ended = true;
        post([stage](DownloadWindow* w) { w->handleStage(stage); });
    }
    void progress(int percent) override
    {
        post([percent](DownloadWindow* w) { w->handleProgress(percent); });
    }

    bool ended() const { return m_ended; }
    void setReach(TransferReach reach) { m_reach = static_cast<int>(reach); }
    // Nothing when the worker did not return.
    std::optional<TransferReach> reach() const
    {
        const int reach = m_reach;
        return reach < 0 ? std::nullopt : std::optional(static_cast<TransferReach>(reach));
    }

    void unhook()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_window = nullptr;
    }

private:
    // Posting under the lock: the window cannot be destroyed between the check and the post, and
    // a destroyed receiver drops its pending calls.
    template <typename F> void post(F f)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        DownloadWindow* window = m_window;
        if (window)
            QMetaObject::invokeMethod(
                window, [window, f] { f(window); }, Qt::QueuedConnection);
    }

    std::mutex m_mutex;
    DownloadWindow* m_window;
    const DownloadWorker* m_worker = nullptr;
    std::atomic<bool> m_ended{false};
    std::atomic<int> m_reach{-1};
};

namespace {

bool isSwallowedKey(const QKeyEvent* key)
{
    switch (key->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Escape:
    case Qt::Key_Space:
    case Qt::Key_F4: return true;
    default: return false;
    }
}

// The recorder's address and port, and what the worker says failed with the system's reason.
QString recorderDetail(const DownloadJob& job, const std::string& failureDetail)
{
    const std::string target = job.targetAddress + ":" + std::to_string(job.port);
    std::string detail = failureDetail;
    if (detail.find(target) == std::string::npos)
        detail = detail.empty() ? target : target + ": " + detail;
    return QString::fromLocal8Bit(detail.data(), static_cast<qsizetype>(detail.size()));
}

QLabel* statusLine(QWidget* parent, const char* objectName)
{
    auto* line = new QLabel(parent);
    line->setObjectName(QString::fromLatin1(objectName));
    // No accessible name: a screen reader then reads the line's current text.
    line->setAccessibleDescription(QStringLiteral("Download status"));
    line->setTextFormat(Qt::PlainText);
    return line;
}

} // namespace

DownloadWindow::DownloadWindow(const DownloadJob& job, Prompter& prompter, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint),
      m_prompter(prompter), m_link(std::make_shared<WorkerLink>(job, this))
{
    setObjectName(QStringLiteral("downloadWindow"));
    setWindowTitle(QStringLiteral("Download"));
    setModal(true);
    if (QFontDatabase::families().contains(QStringLiteral("Arial")))
        setFont(QFont(QStringLiteral("Arial"), 14));

    m_topLine = statusLine(this, "topLine");
    m_middleLine = statusLine(this, "middleLine");
    m_bottomLine = statusLine(this, "bottomLine");
    m_progressBar = new QProgressBar(this);
    m_progressBar->setObjectName(QStringLiteral("progressBar"));
    m_progressBar->setAccessibleName(QStringLiteral("Progress"));
    m_progressBar->setRange(0, 100);
    m_progressBar->setValue(0);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_topLine);
    layout->addWidget(m_middleLine);
    layout->addWidget(m_progressBar);
    layout->addWidget(m_bottomLine);
    setMinimumWidth(380);

    m_workerEndTimer = new QTimer(this);
    m_workerEndTimer->setSingleShot(true);
    connect(m_workerEndTimer, &QTimer::timeout, this, &DownloadWindow::handleWorkerLate);

    // Keys reach the focused child first; the window filters them all.
    installEventFilter(this);
    for (QWidget* child : findChildren<QWidget*>())
        child->installEventFilter(this);
}

DownloadWindow::~DownloadWindow()
{
    m_link->unhook();
    // A thread still running deletes itself once it finishes; destroying it now would abort.
    if (m_thread && (m_workerFinished || m_thread->isFinished()))
        delete m_thread;
}

QThread* DownloadWindow::makeThread(std::function<void()> body)
{
    return QThread::create(std::move(body));
}

bool DownloadWindow::startWorker()
{
    std::shared_ptr<WorkerLink> link = m_link;
    QThread* thread = nullptr;
    try {
        thread = makeThread([link] {
            int code = WorkerError::SocketFailure;
            try {
                DownloadWorker worker(link->job, *link);
                link->attach(&worker);
                code = worker.run();
                link->attach(nullptr);
                link->setReach(worker.reach());
            } catch (...) {
                link->attach(nullptr); // the worker is gone
                code = WorkerError::SocketFailure;
            }
            // A window without a final notification would never end.
            if (!link->ended())
                link->error(code != WorkerError::None ? code : WorkerError::SocketFailure);
        });
    } catch (const std::exception&) {
        return false;
    }
    if (!thread)
        return false;
    // Connected before the deletion, so the window hears of the end first.
    connect(thread, &QThread::finished, this, &DownloadWindow::handleWorkerFinished);
    connect(thread, &QThread::finished, thread, &QObject::deleteLater);
    m_thread = thread;
    thread->start();
    if (!thread->isRunning() && !thread->isFinished()) {
        delete thread;
        return false;
    }
    return true;
}

std::optional<TransferReach> DownloadWindow::transferReach() const
{
    return m_started ? m_link->reach() : std::nullopt;
}

int DownloadWindow::exec()
{
    if (m_started)
        return QDialog::Rejected;
    m_started = true;

    if (!startWorker()) {
        tell(parentWidget(), MessageId::CannotStartTransfer);
        setResult(QDialog::Rejected);
        return QDialog::Rejected;
    }
    const QPointer<DownloadWindow> alive = this;
    QDialog::exec();
    // Destroyed during its own loop: the worker posts nowhere and its thread deletes itself.
    if (!alive)
        return QDialog::Rejected;
    waitOutsideTheDialogLoop();
    setResult(m_result);
    return m_result;
}

// Someone else ended the dialog's loop (hide(), the application quitting) while the worker still
// reads the caller's payload: keep turning events until it ends.
void DownloadWindow::waitOutsideTheDialogLoop()
{
    if (m_workerFinished || !m_thread)
        return;
    QEventLoop loop;
    m_outsideLoop = &loop;
    loop.exec();
    m_outsideLoop = nullptr;
    // No loop runs once the application quits; every wait of the worker is bounded.
    if (!m_workerFinished && m_thread)
        m_thread->wait();
}

void DownloadWindow::handleError(int code, const std::string& failureDetail)
{
    if (m_ending)
        return;
    if (const auto id = messageForWorkerError(code))
        tell(this, *id, recorderDetail(m_link->job, failureDetail));
    notificationHandled();
    handleLastNotification(QDialog::Rejected);
}

void DownloadWindow::handleStage(int stage)
{
    if (m_ending)
        return;
    switch (stage) {
    case 2:
        m_middleLine->setText(QStringLiteral("Downloading..."));
        m_bottomLine->setText(QStringLiteral("Don't disconnect a network for downloading."));
        break;
    case 3: m_middleLine->setText(QStringLiteral("Ready for Downloading...")); break;
    case 4:
        m_topLine->setText(QStringLiteral("Download finished. !!!"));
        m_middleLine->setText(QStringLiteral("Now, Writing a image."));
        m_bottomLine->setText(QStringLiteral("Please wait until download is complete."));
        break;
    default: break;
    }
    notificationHandled();
    if (stage == 5)
        handleLastNotification(QDialog::Accepted);
}

void DownloadWindow::handleProgress(int percent)
{
    if (m_ending)
        return;
    m_progressBar->setValue(percent);
    notificationHandled();
}

// The worker still sits out its closing pause: the window ends when its thread has finished.
void DownloadWindow::handleLastNotification(int result)
{
    m_ending = true;
    m_result = result;
    if (!m_workerFinished)
        m_workerEndTimer->start(m_workerEndWait);
    endWhenWorkerEnded();
}

void DownloadWindow::handleWorkerFinished()
{
    m_workerFinished = true;
    if (m_outsideLoop)
        m_outsideLoop->quit();
    endWhenWorkerEnded();
}

void DownloadWindow::handleWorkerLate()
{
    if (m_workerFinished)
        return;
    m_showingLateMessage = true;
    tell(this, MessageId::WorkerDidNotEnd);
    m_showingLateMessage = false;
    endWhenWorkerEnded();
}

void DownloadWindow::endWhenWorkerEnded()
{
    if (!m_ending || !m_workerFinished || m_showingLateMessage)
        return;
    m_workerEndTimer->stop();
    QDialog::done(m_result);
}

void DownloadWindow::tell(QWidget* parent, MessageId id, const QString& detail)
{
    m_shownMessage = id;
    m_prompter.showMessage(parent, id, detail);
}

QString DownloadWindow::topLine() const
{
    return m_topLine->text();
}

QString DownloadWindow::middleLine() const
{
    return m_middleLine->text();
}

QString DownloadWindow::bottomLine() const
{
    return m_bottomLine->text();
}

int DownloadWindow::progressValue() const
{
    return m_progressBar->value();
}

bool DownloadWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::KeyPress || event->type() == QEvent::ShortcutOverride ||
        event->type() == QEvent::KeyRelease) {
        if (isSwallowedKey(static_cast<QKeyEvent*>(event)))
            return true;
    }
    return QDialog::eventFilter(watched, event);
}

void DownloadWindow::keyPressEvent(QKeyEvent* event)
{
    if (isSwallowedKey(event)) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void DownloadWindow::closeEvent(QCloseEvent* event)
{
    // Only the end of the worker, pause included, ends this window.
    if (m_ending && m_workerFinished)
        QDialog::closeEvent(event);
    else
        event->ignore();
}

void DownloadWindow::reject()
{
    // Only the transfer ends this window.
}

void DownloadWindow::accept() {}

} // namespace tolvane
