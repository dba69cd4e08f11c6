#include "core/transfer/download_worker.h"

#include "core/base/messages.h"
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

namespace tolvane {

namespace {

constexpr std::int64_t MaximumPayloadSize = std::numeric_limits<std::int32_t>::max();
constexpr std::size_t FallbackChunkSize = 64 * 1024;
constexpr std::int64_t MiB = 1024 * 1024;
constexpr std::chrono::seconds WritableAfterConnect{1};

// A failure the operator is shown as the worker error code's message; the progress window and
// the command line receive the code itself.
Failure workerFailure(int code, std::string detail, int error = 0)
{
    return {error, std::move(detail), messageForWorkerError(code)};
}

int workerErrorOf(const Failure& failure)
{
    for (int code = WorkerError::SocketFailure; code <= WorkerError::PayloadTooLarge; ++code) {
        if (failure.message && messageForWorkerError(code) == failure.message)
            return code;
    }
    return WorkerError::SocketFailure;
}

// What went wrong in a socket call while doing `what`; errno is read at once.
Failure ioFailure(int code, const std::string& what, IoStatus status)
{
    const int error = errno;
    switch (status) {
    case IoStatus::Done: break;
    case IoStatus::TimedOut: return workerFailure(code, what + ": timed out");
    case IoStatus::Closed: return workerFailure(code, what + ": connection closed by the recorder");
    case IoStatus::Failed: return workerFailure(code, what, error);
    case IoStatus::WaitFailed: return workerFailure(code, what + ": poll", error);
    }
    return workerFailure(code, what + ": unknown");
}

} // namespace

DownloadWorker::DownloadWorker(const DownloadJob& job, DownloadObserver& observer)
    : m_job(job), m_observer(observer),
      m_clock(job.deadlines.clock != nullptr ? *job.deadlines.clock : systemClock())
{
}

int DownloadWorker::post(const Result<void>& result)
{
    if (result) {
        m_failureDetail.clear();
        return WorkerError::None;
    }
    m_failureDetail = result.failure().text();
    const int code = workerErrorOf(result.failure());
    m_observer.error(code);
    return code;
}

Result<void> DownloadWorker::checkPayload()
{
    // The size travels as one 32-bit word; anything larger would be announced wrongly.
    if (m_job.payloadSize < 0 || m_job.payloadSize > MaximumPayloadSize)
        return workerFailure(WorkerError::PayloadTooLarge,
                             "payload size " + std::to_string(m_job.payloadSize) + " outside 0.." +
                                 std::to_string(MaximumPayloadSize));
    if (m_job.payloadSpans.empty()) {
        if (m_job.payloadSize > 0 && m_job.payload == nullptr)
            return workerFailure(WorkerError::SendFailure, "no payload bytes given");
        return {};
    }
    std::int64_t given = 0;
    for (const PayloadSpan& span : m_job.payloadSpans)
        given += span.data() != nullptr ? static_cast<std::int64_t>(span.size()) : 0;
    if (given != m_job.payloadSize)
        return workerFailure(WorkerError::SendFailure, std::to_string(given) +
                                                           " payload bytes given for a size of " +
                                                           std::to_string(m_job.payloadSize));
    return {};
}

int DownloadWorker::run()
{
    m_failureDetail.clear();
    m_reach = TransferReach::NotConnected;
    if (auto checked = checkPayload(); !checked)
        return post(checked);

    in_addr address{};
    if (::inet_pton(AF_INET, m_job.targetAddress.c_str(), &address) != 1) {
        std::string detail = "not an IPv4 address: ";
        detail += m_job.targetAddress.c_str();
        return post(workerFailure(WorkerError::ConnectFailure, std::move(detail)));
    }

    UniqueFd socket(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!socket.valid())
        return post(workerFailure(WorkerError::SocketFailure, "socket", errno));

    if (auto connected = connectSocket(socket.get(), address.s_addr); !connected)
        return post(connected);
    return runConnected(socket.get());
}

int DownloadWorker::runConnected(int socket)
{
    m_failureDetail.clear();
    m_reach = TransferReach::BeforePayload;
    Result<void> result = checkPayload();
    if (result)
        result = handshake(socket);
    if (result)
        result = transfer(socket);
    if (!result)
        return post(result);
    m_reach = TransferReach::Completed;

    // Stage 5 may let the window end and free the job, so nothing of it is read after posting.
    const auto pause = m_job.deadlines.completionPause;
    m_observer.stage(5);
    // Give the recorder a moment before the connection goes away.
    m_clock.sleepFor(pause);
    return WorkerError::None;
}

Result<void> DownloadWorker::connectSocket(int socket, std::uint32_t addressNetworkOrder)
{
    const std::string target =
        std::string(m_job.targetAddress.c_str()) + ":" + std::to_string(m_job.port);
    const std::string connecting = "connect to " + target;
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = htons(m_job.port);
    peer.sin_addr.s_addr = addressNetworkOrder;

    if (::connect(socket, reinterpret_cast<const sockaddr*>(&peer), sizeof peer) != 0) {
        if (errno != EINPROGRESS && errno != EINTR)
            return workerFailure(WorkerError::ConnectFailure, connecting, errno);
        const IoStatus waited =
            waitFor(m_clock, socket, POLLOUT, m_clock.now() + m_job.deadlines.connect);
        if (waited == IoStatus::WaitFailed)
            return ioFailure(WorkerError::SocketFailure, connecting, waited);
        if (waited != IoStatus::Done)
            return workerFailure(WorkerError::ConnectFailure, connecting + ": timed out");
        int error = 0;
        socklen_t length = sizeof error;
        if (::getsockopt(socket, SOL_SOCKET, SO_ERROR, &error, &length) != 0)
            error = errno;
        if (error != 0)
            return workerFailure(WorkerError::ConnectFailure, connecting, error);
    }

    const IoStatus writable =
        waitFor(m_clock, socket, POLLOUT, m_clock.now() + WritableAfterConnect);
    if (writable == IoStatus::WaitFailed)
        return ioFailure(WorkerError::SocketFailure, "waiting to send to " + target, writable);
    if (writable != IoStatus::Done)
        return workerFailure(WorkerError::ConnectFailure,
                             target + " not writable after connecting");
    return {};
}

Result<std::uint32_t> DownloadWorker::exchangeWord(int socket, std::uint32_t sent, int errorCode,
                                                   const char* sentName, const char* answerName)
{
    std::uint8_t word[4];
    encodeWord(sent, word);
    IoStatus status = sendAll(m_clock, socket, word, sizeof word, m_job.deadlines.sendStall);
    if (status != IoStatus::Done)
        return ioFailure(errorCode, std::string("sending the ") + sentName, status);
    status =
        receiveExactly(m_clock, socket, word, sizeof word, m_clock.now() + m_job.deadlines.reply);
    if (status != IoStatus::Done)
        return ioFailure(errorCode, std::string("receiving the ") + answerName, status);
    return decodeWord(word);
}

Result<void> DownloadWorker::handshake(int socket)
{
    const auto answer =
        exchangeWord(socket, m_job.typeCode, WorkerError::TypeExchange, "type code", "type answer");
    if (!answer)
        return answer.failure();
    if (*answer != typeAnswerFor(m_job.typeCode))
        return workerFailure(WorkerError::TypeExchange,
                             "type answer " + wordText(*answer) + " instead of " +
                                 wordText(typeAnswerFor(m_job.typeCode)));

    const auto size = static_cast<std::uint32_t>(m_job.payloadSize);
    const auto echo = exchangeWord(socket, size, WorkerError::SizeExchange, "size", "size echo");
    if (!echo)
        return echo.failure();
    if (*echo != size)
        return workerFailure(WorkerError::SizeExchange, "size echo " + std::to_string(*echo) +
                                                            " instead of " + std::to_string(size));
    return {};
}

Result<void> DownloadWorker::transfer(int socket)
{
    m_observer.stage(2);
    if (auto sent = sendPayload(socket); !sent)
        return sent;

    std::uint8_t word[4];
    IoStatus status =
        receiveExactly(m_clock, socket, word, sizeof word, m_clock.now() + m_job.deadlines.reply);
    if (status != IoStatus::Done)
        return ioFailure(WorkerError::AcknowledgementFailure, "receiving the acknowledgement",
                         status);
    std::uint32_t answer = decodeWord(word);

    if (isCompatibilityCheck(m_job.typeCode)) {
        if (answer == Refusal)
            return workerFailure(WorkerError::Incompatible,
                                 "the recorder refused the firmware version");
        if (answer != Acknowledgement)
            return workerFailure(WorkerError::AcknowledgementFailure,
                                 "compatibility answer " + wordText(answer));
        return {};
    }

    if (answer == Refusal)
        m_reach = TransferReach::RefusedPayload;
    if (answer != Acknowledgement)
        return workerFailure(WorkerError::AcknowledgementFailure,
                             "first acknowledgement " + wordText(answer));
    m_reach = TransferReach::FirstAcknowledgement;
    m_observer.stage(4);

    // The recorder writes the image before it answers again; allow for its size.
    const std::int64_t startedMiB = (m_job.payloadSize + MiB - 1) / MiB;
    const auto writeLimit =
        std::max(m_job.deadlines.writeMinimum, m_job.deadlines.writePerMiB * startedMiB);
    status = receiveExactly(m_clock, socket, word, sizeof word, m_clock.now() + writeLimit);
    if (status != IoStatus::Done)
        return ioFailure(WorkerError::AcknowledgementFailure,
                         "receiving the second acknowledgement", status);
    answer = decodeWord(word);
    if (answer != Acknowledgement)
        return workerFailure(WorkerError::AcknowledgementFailure,
                             "second acknowledgement " + wordText(answer));
    return {};
}

Result<void> DownloadWorker::sendPayload(int socket)
{
    const std::int64_t size = m_job.payloadSize;
    m_reach = TransferReach::WholePayload;
    if (size <= 0)
        return {};

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

    PayloadSender sender(
        socket, payloadSpansOf(m_job), chunk, m_job.deadlines.sendStall,
        [this](int percent) { m_observer.progress(percent); }, m_clock);
    const IoStatus status = sender.run();
    if (status == IoStatus::Done)
        return {};
    // Only a live connection whose queue still holds bytes shows the recorder's side did not get
    // them all; after a reset or close the queue no longer tells.
    const bool wholeSent = sender.draining() && status != IoStatus::TimedOut;
    if (!wholeSent)
        m_reach = TransferReach::PartOfPayload;
    if (status == IoStatus::WaitFailed)
        return ioFailure(WorkerError::SocketFailure, "sending the payload", status);
    if (wholeSent) {
        const char* how = errno == ECONNRESET ? "reset" : "closed";
        return workerFailure(
            WorkerError::SendFailure,
            std::string("the connection was ") + how +
                " after the whole payload was sent; the recorder may have taken it");
    }
    if (sender.draining())
        return ioFailure(WorkerError::SendFailure,
                         "the recorder took " + std::to_string(sender.taken()) + " of " +
                             std::to_string(size) + " payload bytes",
                         status);
    return ioFailure(WorkerError::SendFailure,
                     "sending the payload after " + std::to_string(sender.sent()) + " of " +
                         std::to_string(size) + " bytes",
                     status);
}

} // namespace tolvane
