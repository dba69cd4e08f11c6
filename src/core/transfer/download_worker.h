#pragma once

#include "core/base/worker_error.h"
#include "core/transfer/download_job.h"
#include "core/transfer/download_observer.h"

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

private:
    int handshake(int socket);
    // Sends one word and receives the recorder's answer to it; a failure posts errorCode.
    int exchangeWord(int socket, std::uint32_t sent, std::uint32_t& answer, int errorCode,
                     const char* sentName, const char* answerName);
    int transfer(int socket);
    int sendPayload(const std::uint8_t* payload, std::int64_t size, int socket);

    int checkPayload();
    int connectSocket(int socket, std::uint32_t addressNetworkOrder);
    int fail(int code, std::string detail);

    const DownloadJob& m_job;
    DownloadObserver& m_observer;
    std::string m_failureDetail;
};

} // namespace tolvane
