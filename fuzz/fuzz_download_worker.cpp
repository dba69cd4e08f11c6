// The download worker fed what a recorder sends back, over a socketpair: a recorder thread plays
// the fuzzed script (answers right or wrong, dripped, garbage, pauses, half-closes, closes, a
// recorder that stops reading) while the worker runs the job with short deadlines. Every run ends
// with success or exactly one error code, within its deadlines, with the notifications in the
// order the observer promises, and the worker never sends anything but the type code, the size
// and the payload.
#include "core/transfer/download_worker.h"
#include "core/transfer/wire_words.h"
#include "fuzz_check.h"
#include "recorder_script.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

namespace tolvane::fuzz {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// How long the recorder waits for the worker in a Read, Drain or Write step.
constexpr milliseconds RecorderWait{2};
// The end of a transfer is always seen far sooner; this only keeps a broken run from hanging.
constexpr milliseconds RecorderGiveUp{5000};
// Scheduling on a loaded machine, on top of every deadline and the recorder's own time.
constexpr milliseconds Slack{1000};

DownloadDeadlines shortDeadlines()
{
    DownloadDeadlines deadlines;
    deadlines.connect = milliseconds{5};
    deadlines.reply = milliseconds{5};
    deadlines.sendStall = milliseconds{5};
    deadlines.writeMinimum = milliseconds{5};
    deadlines.writePerMiB = milliseconds{1};
    deadlines.completionPause = milliseconds{0};
    return deadlines;
}

const std::array<std::uint8_t, LargestPayload>& payloadBytes()
{
    static const auto bytes = [] {
        std::array<std::uint8_t, LargestPayload> pattern{};
        for (std::size_t i = 0; i < pattern.size(); ++i)
            pattern[i] = static_cast<std::uint8_t>(i * 7 + 3);
        return pattern;
    }();
    return bytes;
}

void appendWord(std::vector<std::uint8_t>& bytes, std::uint32_t word)
{
    const std::uint8_t big[4] = {
        static_cast<std::uint8_t>(word >> 24), static_cast<std::uint8_t>(word >> 16),
        static_cast<std::uint8_t>(word >> 8), static_cast<std::uint8_t>(word)};
    bytes.insert(bytes.end(), big, big + 4);
}

struct Notification {
    enum Kind { Error, Stage, Progress } kind;
    int value;
};

class RecordingObserver final : public DownloadObserver {
public:
    void error(int code) override { events.push_back({Notification::Error, code}); }
    void stage(int stage) override { events.push_back({Notification::Stage, stage}); }
    void progress(int percent) override { events.push_back({Notification::Progress, percent}); }
    std::vector<Notification> events;
};

// The recorder's end of the socket, playing a script. What it read and what the worker could
// read from it are kept for the checks.
class Recorder {
public:
    Recorder(int socket, const RecorderScript& script, std::uint32_t typeCode)
        : m_socket(socket), m_script(script), m_typeCode(typeCode)
    {
    }

    void run()
    {
        for (const Step& step : m_script.steps) {
            if (m_socket < 0 || m_workerGone)
                return;
            play(step);
        }
        if (m_socket < 0 || m_workerGone)
            return;
        switch (m_script.ending) {
        case Ending::Close: close(); break;
        case Ending::Drain: readUntilTheEnd(); break;
        case Ending::Hold: holdUntilTheEnd(); break;
        case Ending::ShutWriteAndDrain:
            shutWrite();
            readUntilTheEnd();
            break;
        }
    }

    // The descriptor when the script left it open.
    int socket() const { return m_socket; }

    std::vector<std::uint8_t> received;
    std::vector<std::uint8_t> written;

private:
    std::uint32_t word(std::uint8_t argument) const
    {
        switch (static_cast<AnswerWord>(argument % 4)) {
        case AnswerWord::TypeAnswer: return typeAnswerFor(m_typeCode);
        case AnswerWord::SizeEcho: return m_script.payloadSize;
        case AnswerWord::Acknowledgement: return Acknowledgement;
        case AnswerWord::Refusal: return Refusal;
        }
        return 0;
    }

    void play(const Step& step)
    {
        switch (step.kind) {
        case StepKind::Write: write(step.bytes); break;
        case StepKind::Answer: {
            std::vector<std::uint8_t> bytes;
            appendWord(bytes, word(step.argument));
            write(bytes);
            break;
        }
        case StepKind::Read: read((step.argument + 1u) * 512u, RecorderWait); break;
        case StepKind::Drain:
            while (read(64 * 1024, RecorderWait) > 0) {
            }
            break;
        case StepKind::Pause: std::this_thread::sleep_for(milliseconds{step.argument % 8}); break;
        case StepKind::ShutWrite: shutWrite(); break;
        case StepKind::Close: close(); break;
        case StepKind::Drip: {
            std::vector<std::uint8_t> bytes;
            appendWord(bytes, word(step.argument));
            for (const std::uint8_t byte : bytes) {
                write({byte});
                std::this_thread::sleep_for(milliseconds{1});
            }
            break;
        }
        }
    }

    void write(const std::vector<std::uint8_t>& bytes)
    {
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::send(m_socket, bytes.data() + done, bytes.size() - done,
                                     MSG_NOSIGNAL | MSG_DONTWAIT);
            if (n > 0) {
                written.insert(written.end(), bytes.begin() + static_cast<std::ptrdiff_t>(done),
                               bytes.begin() + static_cast<std::ptrdiff_t>(done) + n);
                done += static_cast<std::size_t>(n);
                continue;
            }
            if (n < 0 && errno != EAGAIN && errno != EINTR) {
                // After our own half-close EPIPE says nothing of the worker.
                m_workerGone = errno == EPIPE && !m_writeShut;
                return;
            }
            pollfd entry{m_socket, POLLOUT, 0};
            if (::poll(&entry, 1, static_cast<int>(RecorderWait.count())) <= 0)
                return;
        }
    }

    // Bytes read: 0 at the end of the stream or when nothing came within wait.
    std::size_t read(std::size_t most, milliseconds wait)
    {
        pollfd entry{m_socket, POLLIN, 0};
        if (::poll(&entry, 1, static_cast<int>(wait.count())) <= 0)
            return 0;
        std::uint8_t buffer[64 * 1024];
        const ssize_t n = ::recv(m_socket, buffer, std::min(most, sizeof buffer), MSG_DONTWAIT);
        if (n <= 0) {
            m_workerGone = n == 0;
            return 0;
        }
        received.insert(received.end(), buffer, buffer + n);
        return static_cast<std::size_t>(n);
    }

    void readUntilTheEnd()
    {
        const auto giveUp = Clock::now() + RecorderGiveUp;
        std::uint8_t buffer[64 * 1024];
        while (Clock::now() < giveUp) {
            pollfd entry{m_socket, POLLIN, 0};
            if (::poll(&entry, 1, 100) < 0 && errno != EINTR)
                return;
            const ssize_t n = ::recv(m_socket, buffer, sizeof buffer, MSG_DONTWAIT);
            if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR))
                return;
            if (n > 0)
                received.insert(received.end(), buffer, buffer + n);
        }
    }

    // Neither reads nor closes: a recorder that stopped reading, until the worker has ended.
    void holdUntilTheEnd()
    {
        const auto giveUp = Clock::now() + RecorderGiveUp;
        while (Clock::now() < giveUp) {
            pollfd entry{m_socket, 0, 0};
            if (::poll(&entry, 1, 100) > 0 && (entry.revents & (POLLHUP | POLLERR)) != 0)
                return;
        }
    }

    void shutWrite()
    {
        ::shutdown(m_socket, SHUT_WR);
        m_writeShut = true;
    }

    void close()
    {
        ::close(m_socket);
        m_socket = -1;
    }

    int m_socket;
    const RecorderScript& m_script;
    std::uint32_t m_typeCode;
    // The worker has ended and closed its end: the rest of the script would change nothing.
    bool m_workerGone = false;
    bool m_writeShut = false;
};

// The longest the recorder's steps can keep the worker waiting between two of its deadlines.
milliseconds scriptTime(const RecorderScript& script)
{
    milliseconds total{0};
    for (const Step& step : script.steps) {
        switch (step.kind) {
        case StepKind::Pause: total += milliseconds{step.argument % 8}; break;
        case StepKind::Drip: total += milliseconds{4} + 4 * RecorderWait; break;
        case StepKind::ShutWrite:
        case StepKind::Close: break;
        default: total += RecorderWait; break;
        }
    }
    return total;
}

// Every deadline the worker may wait out once: two word exchanges, the payload and its draining,
// the acknowledgements, the pause at the end.
milliseconds deadlineTotal(const DownloadDeadlines& d, std::int64_t payloadSize)
{
    const std::int64_t startedMiB = (payloadSize + 1024 * 1024 - 1) / (1024 * 1024);
    return 2 * (d.sendStall + d.reply) + 2 * d.sendStall + d.reply +
           std::max(d.writeMinimum, d.writePerMiB * startedMiB) + d.completionPause;
}

bool isPrefix(const std::vector<std::uint8_t>& part, const std::vector<std::uint8_t>& whole)
{
    return part.size() <= whole.size() && std::equal(part.begin(), part.end(), whole.begin());
}

void checkNotifications(const std::vector<Notification>& events, int result, bool compatibility,
                        std::int64_t payloadSize)
{
    int errors = 0;
    bool stage2 = false;
    bool stage4 = false;
    bool stage5 = false;
    int lastProgress = 0;
    for (std::size_t i = 0; i < events.size(); ++i) {
        const Notification& event = events[i];
        const bool last = i + 1 == events.size();
        switch (event.kind) {
        case Notification::Error:
            ++errors;
            FUZZ_CHECK(last && event.value == result);
            break;
        case Notification::Stage:
            if (event.value == 2) {
                FUZZ_CHECK(!stage2);
                stage2 = true;
            } else if (event.value == 4) {
                FUZZ_CHECK(stage2 && !stage4 && !compatibility);
                stage4 = true;
            } else {
                FUZZ_CHECK(event.value == 5 && last && result == 0);
                stage5 = true;
            }
            break;
        case Notification::Progress:
            FUZZ_CHECK(stage2 && !stage4);
            FUZZ_CHECK(event.value > lastProgress && event.value <= 100);
            lastProgress = event.value;
            break;
        }
    }
    FUZZ_CHECK(errors == (result != 0 ? 1 : 0));
    FUZZ_CHECK(stage5 == (result == 0));
    if (result == 0) {
        FUZZ_CHECK(stage2 && stage4 == !compatibility);
        FUZZ_CHECK(payloadSize == 0 || lastProgress == 100);
    }
}

} // namespace
} // namespace tolvane::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace tolvane;
    using namespace tolvane::fuzz;

    const RecorderScript script = decodeScript(data, size);
    const std::uint32_t typeCode = typeCodeAt(script.typeIndex);
    const bool compatibility = isCompatibilityCheck(typeCode);

    DownloadJob job;
    job.typeCode = typeCode;
    job.targetAddress = "127.0.0.1"; // never used: the socket is connected already
    job.payload = payloadBytes().data();
    job.payloadSize = script.payloadSize;
    job.deadlines = shortDeadlines();
    if (script.chunkSize != 0) {
        // At most 256 chunks, so a run stays short.
        const std::size_t fewest = (script.payloadSize + 255u) / 256u;
        job.chunkSizeOverride = std::max<std::size_t>(script.chunkSize, fewest);
    }

    int sockets[2];
    FUZZ_CHECK(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sockets) == 0);
    Recorder recorder(sockets[1], script, typeCode);
    std::thread recorderThread([&recorder] { recorder.run(); });

    RecordingObserver observer;
    DownloadWorker worker(job, observer);
    const auto start = Clock::now();
    const int result = worker.runConnected(sockets[0]);
    const auto elapsed = Clock::now() - start;
    ::close(sockets[0]);
    recorderThread.join();
    if (recorder.socket() >= 0)
        ::close(recorder.socket());

    FUZZ_CHECK(result == 0 || result == WorkerError::SocketFailure ||
               result == WorkerError::TypeExchange || result == WorkerError::SizeExchange ||
               result == WorkerError::SendFailure ||
               result == WorkerError::AcknowledgementFailure ||
               result == WorkerError::Incompatible);
    FUZZ_CHECK(worker.failureDetail().empty() == (result == 0));
    checkNotifications(observer.events, result, compatibility, job.payloadSize);
    FUZZ_CHECK(elapsed <=
               deadlineTotal(job.deadlines, job.payloadSize) + scriptTime(script) + Slack);

    // The worker sends the type code, the size and the payload, nothing else.
    std::vector<std::uint8_t> outgoing;
    appendWord(outgoing, typeCode);
    appendWord(outgoing, static_cast<std::uint32_t>(job.payloadSize));
    outgoing.insert(outgoing.end(), job.payload, job.payload + job.payloadSize);
    FUZZ_CHECK(isPrefix(recorder.received, outgoing));

    // Success and a refusal each need the words that make them.
    std::vector<std::uint8_t> answers;
    appendWord(answers, typeAnswerFor(typeCode));
    appendWord(answers, static_cast<std::uint32_t>(job.payloadSize));
    if (result == 0) {
        appendWord(answers, Acknowledgement);
        if (!compatibility)
            appendWord(answers, Acknowledgement);
        FUZZ_CHECK(isPrefix(answers, recorder.written));
        // A payload counts as sent once the recorder has taken all of it, and what came before.
        FUZZ_CHECK(job.payloadSize == 0 || recorder.received.size() == outgoing.size());
    }
    if (result == WorkerError::Incompatible) {
        appendWord(answers, Refusal);
        FUZZ_CHECK(compatibility && isPrefix(answers, recorder.written));
    }
    return 0;
}
