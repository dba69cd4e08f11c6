#pragma once

#include "core/transfer/download_job.h"

#include <QDialog>

#include <chrono>
#include <functional>
#include <future>
#include <memory>
#include <thread>

class QLabel;
class QProgressBar;

namespace tolvane {

class Prompter;

// The modal progress window of one transfer. exec() runs the worker on its own thread and ends by
// itself: Accepted once the recorder has acknowledged everything, Rejected after the error has been
// shown. The operator cannot end it.
class DownloadWindow : public QDialog {
    Q_OBJECT
public:
    DownloadWindow(const DownloadJob& job, Prompter& prompter, QWidget* parent = nullptr);
    ~DownloadWindow() override;

    // Runs the transfer; call once. The caller keeps the payload alive until this returns.
    int exec() override;

    // How long closing waits for the worker before telling the operator.
    void setWorkerEndWait(std::chrono::milliseconds wait) { m_workerEndWait = wait; }

    QString topLine() const;
    QString middleLine() const;
    QString bottomLine() const;
    int progressValue() const;

protected:
    // Seams for tests: how the worker thread is started, and a look after each notification.
    virtual std::thread startThread(std::function<void()> body);
    virtual void notificationHandled() {}
    // Runs on the worker thread after its last notification, before the window can see that
    // the worker has ended; a test may hold the worker here.
    virtual void workerEnding() {}

    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void reject() override;
    void accept() override;

private:
    class QueuedObserver;
    friend class QueuedObserver;

    void handleError(int code);
    void handleStage(int stage);
    void handleProgress(int percent);
    void finish(int result);
    void waitForWorker();

    DownloadJob m_job;
    Prompter& m_prompter;
    QLabel* m_topLine;
    QLabel* m_middleLine;
    QLabel* m_bottomLine;
    QProgressBar* m_progressBar;
    std::unique_ptr<QueuedObserver> m_observer;
    std::thread m_thread;
    std::promise<void> m_workerEnded;
    std::future<void> m_workerEndedFuture;
    std::chrono::milliseconds m_workerEndWait{5000};
    bool m_started = false;
    bool m_ending = false;
};

} // namespace tolvane
