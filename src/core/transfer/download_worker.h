#pragma once

#include "core/base/failure.h"
#include "core/base/worker_error.h"
#include "core/transfer/download_job.h"
#include "core/transfer/download_observer.h"
#include "core/transfer/transfer_clock.h"
#include "core/transfer/transfer_reach.h"

#include <cstdint>
#include <string>

namespace tolvane {

// Runs one transfer of the download protocol to its end on the calling thread, reporting through
// the observer. Only reads the job and its payload.
class DownloadWorker {
public:
    DownloadWorker(const DownloadJob& job, DownloadObserver& observer);

    // Connects, then handshake and transfer; returns 0 or the error code that was posted.
    int run();
    // Handshake and transfer over a socket that is already connected (a socketpair in the fuzz
    // target and in tests); the socket stays the caller's. Returns as run() does.
    int runConnected(int socket);

    // What failed, with errno text where there is one; empty after success.
    const std::string& failureDetail() const { return m_failureDetail; }
    // How far the last run got; Completed after success.
    TransferReach reach() const { return m_reach; }

private:
    Result<void> handshake(int socket);
    // Sends one word and answers the recorder's reply to it; a failure carries errorCode.
    Result<std::uint32_t> exchangeWord(int socket, std::uint32_t sent, int errorCode,
                                       const char* sentName, const char* answerName);
    Result<void> transfer(int socket);
    Result<void> sendPayload(int socket);

    Result<void> checkPayload();
    Result<void> connectSocket(int socket, std::uint32_t addressNetworkOrder);
    // Posts a failure's error code to the observer; answers the code, 0 for success.
    int post(const Result<void>& result);

    const DownloadJob& m_job;
    DownloadObserver& m_observer;
    TransferClock& m_clock;
    std::string m_failureDetail;
    TransferReach m_reach = TransferReach::NotConnected;
};

} // namespace tolvane
