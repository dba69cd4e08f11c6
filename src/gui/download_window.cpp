#include "gui/download_window.h"

#include "core/base/messages.h"
#include "core/transfer/download_observer.h"
#include "core/transfer/download_worker.h"
#include "gui/prompter.h"

#include <QCloseEvent>
#include <QFontDatabase>
#include <QKeyEvent>
#include <QLabel>
#include <QProgressBar>
#include <QVBoxLayout>

#include <atomic>
#include <system_error>

namespace tolvane {

// Hands the worker's notifications to the window on the user-interface thread. Queued invocations
// on one receiver are delivered in the order they were posted.
class DownloadWindow::QueuedObserver : public DownloadObserver {
public:
    explicit QueuedObserver(DownloadWindow* window) : m_window(window) {}

    void error(int code) override
    {
        m_ended = true;
        post([code](DownloadWindow* w) { w->handleError(code); });
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

private:
    template <typename F> void post(F f)
    {
        DownloadWindow* window = m_window;
        QMetaObject::invokeMethod(
            window, [window, f] { f(window); }, Qt::QueuedConnection);
    }

    DownloadWindow* m_window;
    std::atomic<bool> m_ended{false};
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
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint), m_job(job),
      m_prompter(prompter), m_observer(std::make_unique<QueuedObserver>(this)),
      m_workerEndedFuture(m_workerEnded.get_future())
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

    // Keys reach the focused child first; the window filters them all.
    installEventFilter(this);
    for (QWidget* child : findChildren<QWidget*>())
        child->installEventFilter(this);
}

DownloadWindow::~DownloadWindow()
{
    // The worker reads the job and the payload: never leave it running behind the window.
    if (m_thread.joinable())
        m_thread.join();
}

std::thread DownloadWindow::startThread(std::function<void()> body)
{
    return std::thread(std::move(body));
}

int DownloadWindow::exec()
{
    if (m_started)
        return QDialog::Rejected;
    m_started = true;

    QueuedObserver* observer = m_observer.get();
    std::promise<void>* ended = &m_workerEnded;
    const DownloadJob* job = &m_job;
    try {
        m_thread = startThread([this, job, observer, ended] {
            int code = WorkerError::SocketFailure;
            try {
                DownloadWorker worker(*job, *observer);
                code = worker.run();
            } catch (...) {
                code = WorkerError::SocketFailure;
            }
            // A window without a final notification would never end.
            if (!observer->ended())
                observer->error(code != WorkerError::None ? code : WorkerError::SocketFailure);
            workerEnding();
            ended->set_value();
        });
    } catch (const std::system_error&) {
        m_prompter.showMessage(parentWidget(), MessageId::CannotStartTransfer);
        setResult(QDialog::Rejected);
        return QDialog::Rejected;
    }

    const int result = QDialog::exec();
    waitForWorker();
    return result;
}

void DownloadWindow::waitForWorker()
{
    if (!m_thread.joinable())
        return;
    if (m_workerEndedFuture.wait_for(m_workerEndWait) != std::future_status::ready)
        m_prompter.showMessage(parentWidget(), MessageId::WorkerDidNotEnd);
    // Every wait of the worker is bounded, so this join ends; detaching would leave it reading a
    // payload its owner is about to free.
    m_thread.join();
}

void DownloadWindow::handleError(int code)
{
    if (m_ending)
        return;
    if (const auto id = messageForWorkerError(code))
        m_prompter.showMessage(this, *id);
    notificationHandled();
    finish(QDialog::Rejected);
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
        finish(QDialog::Accepted);
}

void DownloadWindow::handleProgress(int percent)
{
    if (m_ending)
        return;
    m_progressBar->setValue(percent);
    notificationHandled();
}

void DownloadWindow::finish(int result)
{
    m_ending = true;
    QDialog::done(result);
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
    if (m_ending)
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
