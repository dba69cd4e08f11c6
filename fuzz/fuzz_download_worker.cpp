// The download worker fed what a recorder sends back, over a socketpair: a recorder plays the
// fuzzed script (answers right or wrong, dripped, garbage, pauses, half-closes, closes, a recorder
// that stops reading) inside the worker's waits, on a clock of the script's own, while the worker
// runs the job with short deadlines; nothing waits for real. Every run ends with success or
// exactly one error code, within its deadlines, with the notifications in the order the observer
// promises, and the worker never sends anything but the type code, the size and the payload, sent
// whole or, for an odd chunk-size field, as three spans as the integrated image goes.
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
#include <optional>
#include <vector>

namespace tolvane::fuzz {
namespace {

using std::chrono::milliseconds;

// The time a Read or Drain step of the recorder takes when nothing is there to read.
constexpr milliseconds RecorderWait{2};

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

// The recorder's end of the socket, playing a script one action at a time whenever the worker
// waits, on the same thread: a wait ends as soon as what the worker waits for is there, and time
// passes only by the script (pauses, drips, reads that find nothing) or, once the recorder has
// nothing left to do, by the worker's own deadline running out. What it read and what the worker
// could read from it are kept for the checks.
class Recorder {
public:
    Recorder(int socket, const RecorderScript& script, std::uint32_t typeCode)
        : m_socket(socket), m_script(script), m_typeCode(typeCode)
    {
    }

    ~Recorder()
    {
        if (m_socket >= 0)
            ::close(m_socket);
    }

    // Does the next thing the script says and answers the time it took, or nothing when the
    // recorder only waits for the worker from now on.
    std::optional<milliseconds> act()
    {
        if (m_socket < 0)
            return std::nullopt;
        if (m_next < m_script.steps.size())
            return play(m_script.steps[m_next]);
        switch (m_script.ending) {
        case Ending::Close: close(); return milliseconds{0};
        case Ending::Hold: return std::nullopt;
        case Ending::ShutWriteAndDrain:
            if (!m_writeShut) {
                shutWrite();
                return milliseconds{0};
            }
            [[fallthrough]];
        case Ending::Drain:
            if (read(64 * 1024) > 0)
                return milliseconds{0};
            return std::nullopt;
        }
        return std::nullopt;
    }

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

    milliseconds done(milliseconds took)
    {
        ++m_next;
        m_dripped = 0;
        return took;
    }

    milliseconds play(const Step& step)
    {
        switch (step.kind) {
        case StepKind::Write: write(step.bytes); return done(milliseconds{0});
        case StepKind::Answer: {
            std::vector<std::uint8_t> bytes;
            appendWord(bytes, word(step.argument));
            write(bytes);
            return done(milliseconds{0});
        }
        case StepKind::Read:
            return done(read((step.argument + 1u) * 512u) > 0 ? milliseconds{0} : RecorderWait);
        case StepKind::Drain:
            // The worker may send more between two reads; the step ends when nothing came.
            return read(64 * 1024) > 0 ? milliseconds{0} : done(RecorderWait);
        case StepKind::Pause: return done(milliseconds{step.argument % 8});
        case StepKind::ShutWrite: shutWrite(); return done(milliseconds{0});
        case StepKind::Close: close(); return done(milliseconds{0});
        case StepKind::Drip: {
            std::vector<std::uint8_t> bytes;
            appendWord(bytes, word(step.argument));
            write({bytes[m_dripped]});
            return ++m_dripped == bytes.size() ? done(milliseconds{1}) : milliseconds{1};
        }
        }
        return done(milliseconds{0});
    }

    void write(const std::vector<std::uint8_t>& bytes)
    {
        const ssize_t n = ::send(m_socket, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0)
            written.insert(written.end(), bytes.begin(), bytes.begin() + n);
    }

    // Bytes read; 0 when nothing is there or the stream has ended.
    std::size_t read(std::size_t most)
    {
        std::uint8_t buffer[64 * 1024];
        const ssize_t n = ::recv(m_socket, buffer, std::min(most, sizeof buffer), MSG_DONTWAIT);
        if (n <= 0)
            return 0;
        received.insert(received.end(), buffer, buffer + n);
        return static_cast<std::size_t>(n);
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
        m_next = m_script.steps.size();
    }

    int m_socket;
    const RecorderScript& m_script;
    std::uint32_t m_typeCode;
    std::size_t m_next = 0;    // the step being played
    std::size_t m_dripped = 0; // bytes of a Drip step written so far
    bool m_writeShut = false;
};

// The worker's time: it starts at 0 and moves on only as the recorder's script takes time, or to
// the worker's deadline when the recorder has nothing left to do, so no run waits for real.
class RecorderClock final : public TransferClock {
public:
    explicit RecorderClock(Recorder& recorder) : m_recorder(recorder) {}

    SteadyClock::time_point now() override { return m_now; }
    int poll(pollfd& entry, SteadyClock::time_point deadline) override
    {
        for (;;) {
            const int ready = ::poll(&entry, 1, 0);
            if (ready != 0 || m_now >= deadline)
                return ready;
            const std::optional<milliseconds> took = m_recorder.act();
            if (!took) {
                m_now = deadline;
                return 0;
            }
            m_now += *took;
        }
    }
    void sleepFor(milliseconds pause) override { m_now += pause; }

private:
    Recorder& m_recorder;
    SteadyClock::time_point m_now{};
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

DownloadJob jobFor(const RecorderScript& script, std::uint32_t typeCode, TransferClock& clock)
{
    DownloadJob job;
    job.typeCode = typeCode;
    job.targetAddress = "127.0.0.1"; // never used: the socket is connected already
    job.payloadSize = script.payloadSize;
    const std::uint8_t* payload = payloadBytes().data();
    const std::size_t size = script.payloadSize;
    if (script.chunkSize % 2 == 0) {
        job.payload = payload;
    } else {
        // A short span in the middle, as a unit's identity area is.
        const std::size_t first = size / 3;
        const std::size_t middle = std::min<std::size_t>(12, size - first);
        job.payloadSpans = {{payload, first},
                            {payload + first, middle},
                            {payload + first + middle, size - first - middle}};
    }
    job.deadlines = shortDeadlines();
    job.deadlines.clock = &clock;
    if (script.chunkSize != 0) {
        // At most 256 chunks, so a run stays short.
        const std::size_t fewest = (script.payloadSize + 255u) / 256u;
        job.chunkSizeOverride = std::max<std::size_t>(script.chunkSize, fewest);
    }
    return job;
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

    int sockets[2];
    FUZZ_CHECK(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sockets) == 0);
    Recorder recorder(sockets[1], script, typeCode);
    RecorderClock clock(recorder);
    const DownloadJob job = jobFor(script, typeCode, clock);

    RecordingObserver observer;
    DownloadWorker worker(job, observer);
    const auto start = clock.now();
    const int result = worker.runConnected(sockets[0]);
    const auto elapsed = clock.now() - start;
    ::close(sockets[0]);

    FUZZ_CHECK(result == 0 || result == WorkerError::SocketFailure ||
               result == WorkerError::TypeExchange || result == WorkerError::SizeExchange ||
               result == WorkerError::SendFailure ||
               result == WorkerError::AcknowledgementFailure ||
               result == WorkerError::Incompatible);
    FUZZ_CHECK(worker.failureDetail().empty() == (result == 0));
    checkNotifications(observer.events, result, compatibility, job.payloadSize);
    FUZZ_CHECK(elapsed <= deadlineTotal(job.deadlines, job.payloadSize) + scriptTime(script));

    // The worker sends the type code, the size and the payload, nothing else.
    std::vector<std::uint8_t> outgoing;
    appendWord(outgoing, typeCode);
    appendWord(outgoing, static_cast<std::uint32_t>(job.payloadSize));
    outgoing.insert(outgoing.end(), payloadBytes().data(), payloadBytes().data() + job.payloadSize);
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
