#pragma once

#include "core/base/messages.h"
#include "core/transfer/download_job.h"
#include "core/transfer/transfer_reach.h"

#include <QDialog>
#include <QPointer>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>

class QEventLoop;
class QLabel;
class QProgressBar;
class QThread;
class QTimer;

namespace tolvane {

class Prompter;

// The modal progress window of one transfer. exec() runs the worker on its own thread and ends by
// itself once the worker has ended: Accepted once the recorder has acknowledged everything,
// Rejected after the error has been shown. The operator cannot end it, and it keeps handling
// events throughout, the worker's closing pause included.
class DownloadWindow : public QDialog {
    Q_OBJECT
public:
    DownloadWindow(const DownloadJob& job, Prompter& prompter, QWidget* parent = nullptr);
    ~DownloadWindow() override;

    // Runs the transfer; call once. The caller keeps the payload alive until this returns.
    int exec() override;

    // How long the window waits for the worker after its last notification before telling the
    // operator.
    void setWorkerEndWait(std::chrono::milliseconds wait) { m_workerEndWait = wait; }

    QString topLine() const;
    QString middleLine() const;
    QString bottomLine() const;
    int progressValue() const;
    // The last message the window showed the operator (a worker error, a worker that did not end,
    // a transfer that could not start), if any.
    std::optional<MessageId> shownMessage() const { return m_shownMessage; }
    // How far the transfer got; nothing when it did not start or its worker did not return.
    std::optional<TransferReach> transferReach() const;

protected:
    // Seams for tests: the thread the worker runs on (not yet started; nullptr or a throw when
    // none can be made), and a look after each notification.
    virtual QThread* makeThread(std::function<void()> body);
    virtual void notificationHandled() {}

    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void reject() override;
    void accept() override;

private:
    class WorkerLink;

    bool startWorker();
    void handleError(int code, const std::string& failureDetail);
    void handleStage(int stage);
    void handleProgress(int percent);
    void handleLastNotification(int result);
    void handleWorkerFinished();
    void handleWorkerLate();
    void endWhenWorkerEnded();
    void waitOutsideTheDialogLoop();
    void tell(QWidget* parent, MessageId id, const QString& detail = QString());

    Prompter& m_prompter;
    QLabel* m_topLine;
    QLabel* m_middleLine;
    QLabel* m_bottomLine;
    QProgressBar* m_progressBar;
    QTimer* m_workerEndTimer;
    std::shared_ptr<WorkerLink> m_link;
    // Deletes itself once finished; the window never destroys it while it runs.
    QPointer<QThread> m_thread;
    QEventLoop* m_outsideLoop = nullptr;
    std::chrono::milliseconds m_workerEndWait{5000};
    int m_result = QDialog::Rejected;
    bool m_started = false;
    bool m_ending = false;         // the last notification has been handled
    bool m_workerFinished = false; // the worker's thread has finished
    bool m_showingLateMessage = false;
    std::optional<MessageId> m_shownMessage;
};

} // namespace tolvane
