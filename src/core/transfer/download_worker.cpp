#include "core/transfer/download_worker.h"

#include "core/base/failure.h"
#include "core/transfer/payload_sender.h"
#include "core/transfer/socket_io.h"
#include "core/transfer/wire_words.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <limits>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <system_error>
#include <thread>

namespace tolvane {

namespace {

constexpr std::int64_t MaximumPayloadSize = std::numeric_limits<std::int32_t>::max();
constexpr std::size_t FallbackChunkSize = 64 * 1024;
constexpr std::int64_t MiB = 1024 * 1024;
constexpr std::chrono::seconds WritableAfterConnect{1};

// What went wrong in a socket call, for the failure detail; errno is read at once.
std::string describe(IoStatus status)
{
    const int error = errno;
    switch (status) {
    case IoStatus::Done: return "done";
    case IoStatus::TimedOut: return "timed out";
    case IoStatus::Closed: return "connection closed by the recorder";
    case IoStatus::Failed: return systemErrorText(error);
    case IoStatus::WaitFailed: return "poll: " + systemErrorText(error);
    }
    return "unknown";
}

} // namespace

DownloadWorker::DownloadWorker(const DownloadJob& job, DownloadObserver& observer)
    : m_job(job), m_observer(observer)
{
}

int DownloadWorker::fail(int code, std::string detail)
{
    m_failureDetail = std::move(detail);
    m_observer.error(code);
    return code;
}

int DownloadWorker::checkPayload()
{
    // The size travels as one 32-bit word; anything larger would be announced wrongly.
    if (m_job.payloadSize < 0 || m_job.payloadSize > MaximumPayloadSize)
        return fail(WorkerError::PayloadTooLarge,
                    "payload size " + std::to_string(m_job.payloadSize) + " outside 0.." +
                        std::to_string(MaximumPayloadSize));
    if (m_job.payloadSize > 0 && m_job.payload == nullptr)
        return fail(WorkerError::SendFailure, "no payload bytes given");
    return WorkerError::None;
}

int DownloadWorker::run()
{
    m_failureDetail.clear();
    if (const int code = checkPayload())
        return code;

    in_addr address{};
    if (::inet_pton(AF_INET, m_job.targetAddress.c_str(), &address) != 1) {
        std::string detail = "not an IPv4 address: ";
        detail += m_job.targetAddress.c_str();
        return fail(WorkerError::ConnectFailure, std::move(detail));
    }

    UniqueFd socket(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!socket.valid())
        return fail(WorkerError::SocketFailure, "socket: " + systemErrorText(errno));

    if (const int code = connectSocket(socket.get(), address.s_addr))
        return code;
    return runConnected(socket.get());
}

int DownloadWorker::runConnected(int socket)
{
    m_failureDetail.clear();
    if (const int code = checkPayload())
        return code;
    if (const int code = handshake(socket))
        return code;
    if (const int code = transfer(socket))
        return code;

    // Stage 5 may let the window end and free the job, so nothing of it is read after posting.
    const auto pause = m_job.deadlines.completionPause;
    m_observer.stage(5);
    // Give the recorder a moment before the connection goes away.
    std::this_thread::sleep_for(pause);
    return WorkerError::None;
}

int DownloadWorker::connectSocket(int socket, std::uint32_t addressNetworkOrder)
{
    const std::string target =
        std::string(m_job.targetAddress.c_str()) + ":" + std::to_string(m_job.port);
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = htons(m_job.port);
    peer.sin_addr.s_addr = addressNetworkOrder;

    if (::connect(socket, reinterpret_cast<const sockaddr*>(&peer), sizeof peer) != 0) {
        if (errno != EINPROGRESS && errno != EINTR) {
            const std::string why = systemErrorText(errno);
            return fail(WorkerError::ConnectFailure, "connect to " + target + ": " + why);
        }
        const IoStatus waited =
            waitFor(socket, POLLOUT, SteadyClock::now() + m_job.deadlines.connect);
        if (waited == IoStatus::WaitFailed) {
            const std::string why = describe(waited);
            return fail(WorkerError::SocketFailure, "connect to " + target + ": " + why);
        }
        if (waited != IoStatus::Done)
            return fail(WorkerError::ConnectFailure, "connect to " + target + ": timed out");
        int error = 0;
        socklen_t length = sizeof error;
        if (::getsockopt(socket, SOL_SOCKET, SO_ERROR, &error, &length) != 0)
            error = errno;
        if (error != 0)
            return fail(WorkerError::ConnectFailure,
                        "connect to " + target + ": " + systemErrorText(error));
    }

    const IoStatus writable = waitFor(socket, POLLOUT, SteadyClock::now() + WritableAfterConnect);
    if (writable == IoStatus::WaitFailed) {
        const std::string why = describe(writable);
        return fail(WorkerError::SocketFailure, "waiting to send to " + target + ": " + why);
    }
    if (writable != IoStatus::Done)
        return fail(WorkerError::ConnectFailure, target + " not writable after connecting");
    return WorkerError::None;
}

int DownloadWorker::exchangeWord(int socket, std::uint32_t sent, std::uint32_t& answer,
                                 int errorCode, const char* sentName, const char* answerName)
{
    std::uint8_t word[4];
    encodeWord(sent, word);
    IoStatus status = sendAll(socket, word, sizeof word, m_job.deadlines.sendStall);
    if (status != IoStatus::Done)
        return fail(errorCode, std::string("sending the ") + sentName + ": " + describe(status));
    status = receiveExactly(socket, word, sizeof word, SteadyClock::now() + m_job.deadlines.reply);
    if (status != IoStatus::Done)
        return fail(errorCode,
                    std::string("receiving the ") + answerName + ": " + describe(status));
    answer = decodeWord(word);
    return WorkerError::None;
}

int DownloadWorker::handshake(int socket)
{
    std::uint32_t answer = 0;
    if (const int code = exchangeWord(socket, m_job.typeCode, answer, WorkerError::TypeExchange,
                                      "type code", "type answer"))
        return code;
    if (answer != typeAnswerFor(m_job.typeCode))
        return fail(WorkerError::TypeExchange, "type answer " + wordText(answer) + " instead of " +
                                                   wordText(typeAnswerFor(m_job.typeCode)));

    const auto size = static_cast<std::uint32_t>(m_job.payloadSize);
    std::uint32_t echo = 0;
    if (const int code =
            exchangeWord(socket, size, echo, WorkerError::SizeExchange, "size", "size echo"))
        return code;
    if (echo != size)
        return fail(WorkerError::SizeExchange,
                    "size echo " + std::to_string(echo) + " instead of " + std::to_string(size));
    return WorkerError::None;
}

int DownloadWorker::transfer(int socket)
{
    m_observer.stage(2);
    if (const int code = sendPayload(m_job.payload, m_job.payloadSize, socket))
        return code;

    std::uint8_t word[4];
    IoStatus status =
        receiveExactly(socket, word, sizeof word, SteadyClock::now() + m_job.deadlines.reply);
    if (status != IoStatus::Done)
        return fail(WorkerError::AcknowledgementFailure,
                    "receiving the acknowledgement: " + describe(status));
    std::uint32_t answer = decodeWord(word);

    if (isCompatibilityCheck(m_job.typeCode)) {
        if (answer == Refusal)
            return fail(WorkerError::Incompatible, "the recorder refused the firmware version");
        if (answer != Acknowledgement)
            return fail(WorkerError::AcknowledgementFailure,
                        "compatibility answer " + wordText(answer));
        return WorkerError::None;
    }

    if (answer != Acknowledgement)
        return fail(WorkerError::AcknowledgementFailure,
                    "first acknowledgement " + wordText(answer));
    m_observer.stage(4);

    // The recorder writes the image before it answers again; allow for its size.
    const std::int64_t startedMiB = (m_job.payloadSize + MiB - 1) / MiB;
    const auto writeLimit =
        std::max(m_job.deadlines.writeMinimum, m_job.deadlines.writePerMiB * startedMiB);
    status = receiveExactly(socket, word, sizeof word, SteadyClock::now() + writeLimit);
    if (status != IoStatus::Done)
        return fail(WorkerError::AcknowledgementFailure,
                    "receiving the second acknowledgement: " + describe(status));
    answer = decodeWord(word);
    if (answer != Acknowledgement)
        return fail(WorkerError::AcknowledgementFailure,
                    "second acknowledgement " + wordText(answer));
    return WorkerError::None;
}

int DownloadWorker::sendPayload(const std::uint8_t* payload, std::int64_t size, int socket)
{
    if (size <= 0)
        return WorkerError::None;

    std::size_t chunk = FallbackChunkSize;
    if (m_job.chunkSizeOverride && *m_job.chunkSizeOverride > 0) {
        chunk = *m_job.chunkSizeOverride;
    } else {
        int sendBuffer = 0;
        socklen_t length = sizeof sendBuffer;
        if (::getsockopt(socket, SOL_SOCKET, SO_SNDBUF, &sendBuffer, &length) == 0 &&
            sendBuffer > 0)
            chunk = static_cast<std::size_t>(sendBuffer);
    }

    PayloadSender sender(socket, payload, size, chunk, m_job.deadlines.sendStall,
                         [this](int percent) { m_observer.progress(percent); });
    const IoStatus status = sender.run();
    if (status == IoStatus::Done)
        return WorkerError::None;
    const std::string why = describe(status);
    if (status == IoStatus::WaitFailed)
        return fail(WorkerError::SocketFailure, "sending the payload: " + why);
    if (sender.draining())
        return fail(WorkerError::SendFailure, "the recorder took " +
                                                  std::to_string(sender.taken()) + " of " +
                                                  std::to_string(size) + " payload bytes: " + why);
    return fail(WorkerError::SendFailure, "sending the payload after " +
                                              std::to_string(sender.sent()) + " of " +
                                              std::to_string(size) + " bytes: " + why);
}

} // namespace tolvane
