#include "sim/simulator.h"

#include "core/transfer/wire_words.h"

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <cinttypes>
#include <condition_variable>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <mutex>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <system_error>
#include <thread>
#include <unistd.h>
#include <utility>

namespace tolvane::sim {

namespace {

struct FaultEntry {
    Fault fault;
    const char* name;
};

constexpr FaultEntry FaultTable[] = {
    {Fault::None, "none"},
    {Fault::WrongTypeAnswer, "wrong-type-answer"},
    {Fault::SizeEchoOffByOne, "size-echo-off-by-one"},
    {Fault::Refuse, "refuse"},
    {Fault::CloseAfterFirstAck, "close-after-first-ack"},
    {Fault::BadAcknowledgement, "bad-ack"},
    {Fault::SilentAfterConnect, "silent"},
    {Fault::StopReadingMidPayload, "stop-reading"},
    {Fault::CloseMidPayload, "close-mid-payload"},
};

// Neither the acknowledgement nor the refusal.
constexpr std::uint32_t BadAcknowledgementWord = 0xAB55AB00;
// A recorder that gives up mid-payload is modelled with a small receive buffer, so the tool is
// really still sending when it happens.
constexpr int SmallReceiveBuffer = 16 * 1024;
// Bytes kept of what arrives after the protocol has ended, so a misbehaving peer cannot fill
// memory.
constexpr std::size_t TrailingByteLimit = 1024 * 1024;
constexpr std::size_t ReadBlock = 64 * 1024;
// A paced recorder also announces the segment size of the Ethernet it sits on. The tool sizes its
// send buffer, and so its payload chunks, from the segment size: with loopback's 64 KiB segments
// it would hand megabytes to the kernel at once and its progress would jump.
constexpr int EthernetSegmentSize = 1460;
// How long the acceptor waits before retrying when the process runs out of descriptors.
constexpr int ResourceShortageBackOffMs = 100;

std::string errnoText(int error)
{
    return std::system_category().message(error);
}

std::string hexWord(std::uint32_t word)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%08" PRIX32, word);
    return text;
}

class Fd {
public:
    explicit Fd(int fd = -1) : m_fd(fd) {}
    ~Fd() { reset(); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return m_fd; }
    void reset(int fd = -1)
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = fd;
    }

private:
    int m_fd;
};

} // namespace

std::optional<Fault> parseFault(const std::string& name)
{
    for (const auto& entry : FaultTable)
        if (name == entry.name)
            return entry.fault;
    return std::nullopt;
}

std::string faultName(Fault fault)
{
    for (const auto& entry : FaultTable)
        if (entry.fault == fault)
            return entry.name;
    return "unknown";
}

std::vector<std::string> faultNames()
{
    std::vector<std::string> names;
    for (const auto& entry : FaultTable)
        names.emplace_back(entry.name);
    return names;
}

struct Simulator::State {
    SimulatorOptions options;
    Fd listener;
    Fd wakeRead; // becomes readable once stop() has begun
    Fd wakeWrite;
    std::uint16_t port = 0;
    bool running = false;
    std::thread acceptor;

    struct Connection {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> finished;
    };

    mutable std::mutex mutex; // guards everything below
    mutable std::condition_variable transferAdded;
    std::vector<Connection> connections;
    std::vector<ReceivedTransfer> transfers;
    std::size_t sequence = 0;

    std::mutex sinkMutex; // keeps log lines whole and in order
    std::function<void(const std::string&)> sink;

    void acceptLoop();
    void serve(int fd, std::size_t sequenceNumber);
    // Keeps the payload in a file of its own; answers its path, or "" when it could not.
    std::string save(const ReceivedTransfer& transfer, std::size_t sequenceNumber);
    void record(ReceivedTransfer transfer);
};

namespace {

// One connection, from the recorder's side. Every wait also watches the stop pipe.
class Session {
public:
    enum class Io { Ok, Closed, Stopped };

    Session(int fd, int wakeFd) : m_fd(fd), m_wake(wakeFd) {}

    Io readExactly(std::uint8_t* data, std::size_t size)
    {
        std::size_t done = 0;
        while (done < size) {
            const Io ready = waitFor(POLLIN);
            if (ready != Io::Ok)
                return ready;
            const ssize_t n = ::recv(m_fd.get(), data + done, size - done, MSG_DONTWAIT);
            if (n == 0)
                return Io::Closed;
            if (n < 0) {
                if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)
                    continue;
                return Io::Closed;
            }
            done += static_cast<std::size_t>(n);
        }
        return Io::Ok;
    }

    Io readWord(std::uint32_t& word)
    {
        std::uint8_t bytes[4];
        const Io result = readExactly(bytes, sizeof bytes);
        if (result == Io::Ok)
            word = (std::uint32_t{bytes[0]} << 24) | (std::uint32_t{bytes[1]} << 16) |
                   (std::uint32_t{bytes[2]} << 8) | std::uint32_t{bytes[3]};
        return result;
    }

    // Appends up to count bytes to out, as they arrive.
    Io readInto(std::vector<std::uint8_t>& out, std::size_t count)
    {
        std::uint8_t block[ReadBlock];
        while (count > 0) {
            const Io ready = waitFor(POLLIN);
            if (ready != Io::Ok)
                return ready;
            const ssize_t n =
                ::recv(m_fd.get(), block, std::min(count, sizeof block), MSG_DONTWAIT);
            if (n == 0)
                return Io::Closed;
            if (n < 0) {
                if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)
                    continue;
                return Io::Closed;
            }
            out.insert(out.end(), block, block + n);
            count -= static_cast<std::size_t>(n);
        }
        return Io::Ok;
    }

    // Like readInto, but on average no faster than bytesPerSecond (0: no limit). The pace is kept
    // against the start of the read, so rounding in the pauses does not add up.
    Io readIntoAtRate(std::vector<std::uint8_t>& out, std::size_t count,
                      std::uint64_t bytesPerSecond)
    {
        if (bytesPerSecond == 0)
            return readInto(out, count);
        // About fifty slices a second keep the pace smooth.
        const std::size_t slice =
            static_cast<std::size_t>(std::clamp<std::uint64_t>(bytesPerSecond / 50, 1, ReadBlock));
        const auto start = std::chrono::steady_clock::now();
        std::uint64_t taken = 0;
        while (count > 0) {
            const std::size_t now = std::min(slice, count);
            const Io io = readInto(out, now);
            if (io != Io::Ok)
                return io;
            count -= now;
            taken += now;
            const auto due =
                start +
                std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::duration<double>(
                    static_cast<double>(taken) / static_cast<double>(bytesPerSecond)));
            if (count > 0) {
                const Io paused = pauseUntil(due);
                if (paused != Io::Ok)
                    return paused;
            }
        }
        return Io::Ok;
    }

    Io writeWord(std::uint32_t word)
    {
        const std::uint8_t bytes[4] = {
            static_cast<std::uint8_t>(word >> 24), static_cast<std::uint8_t>(word >> 16),
            static_cast<std::uint8_t>(word >> 8), static_cast<std::uint8_t>(word)};
        std::size_t done = 0;
        while (done < sizeof bytes) {
            const Io ready = waitFor(POLLOUT);
            if (ready != Io::Ok)
                return ready;
            const ssize_t n =
                ::send(m_fd.get(), bytes + done, sizeof bytes - done, MSG_NOSIGNAL | MSG_DONTWAIT);
            if (n < 0) {
                if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)
                    continue;
                return Io::Closed;
            }
            done += static_cast<std::size_t>(n);
        }
        return Io::Ok;
    }

    // Reads until the peer closes or the simulator stops; keeps what arrives (up to a limit).
    Io drain(std::vector<std::uint8_t>& out)
    {
        for (;;) {
            std::vector<std::uint8_t> scratch;
            const Io result = readInto(scratch, ReadBlock);
            const std::size_t room =
                out.size() < TrailingByteLimit ? TrailingByteLimit - out.size() : 0;
            out.insert(out.end(), scratch.begin(),
                       scratch.begin() +
                           static_cast<std::ptrdiff_t>(std::min(room, scratch.size())));
            if (result != Io::Ok)
                return result;
        }
    }

    // Holds the connection without reading until the peer hangs up or the simulator stops.
    Io holdWithoutReading()
    {
        for (;;) {
            pollfd entries[2] = {{m_fd.get(), POLLRDHUP, 0}, {m_wake, POLLIN, 0}};
            const int ready = ::poll(entries, 2, -1);
            if (ready < 0 && errno == EINTR)
                continue;
            if (ready < 0 || entries[1].revents != 0)
                return Io::Stopped;
            if (entries[0].revents & (POLLRDHUP | POLLHUP | POLLERR))
                return Io::Closed;
        }
    }

    // Sleeps for the given time unless the simulator stops first.
    Io pause(std::chrono::milliseconds duration)
    {
        return pauseUntil(std::chrono::steady_clock::now() + duration);
    }

    Io pauseUntil(std::chrono::steady_clock::time_point deadline)
    {
        for (;;) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0)
                return Io::Ok;
            pollfd entry{m_wake, POLLIN, 0};
            const int ready =
                ::poll(&entry, 1, static_cast<int>(std::min<long long>(left.count(), 60'000)));
            if (ready > 0)
                return Io::Stopped;
        }
    }

    void close() { m_fd.reset(); }

private:
    Io waitFor(short events)
    {
        for (;;) {
            pollfd entries[2] = {{m_fd.get(), events, 0}, {m_wake, POLLIN, 0}};
            const int ready = ::poll(entries, 2, -1);
            if (ready < 0) {
                if (errno == EINTR)
                    continue;
                return Io::Closed;
            }
            if (entries[1].revents != 0)
                return Io::Stopped;
            if (entries[0].revents != 0)
                return Io::Ok; // data, space, or an error the next call reports
        }
    }

    Fd m_fd;
    int m_wake;
};

std::string describeEnd(Session::Io io, const std::string& when)
{
    return (io == Session::Io::Stopped ? "stopped " : "closed by the tool ") + when;
}

} // namespace

void Simulator::State::record(ReceivedTransfer transfer)
{
    const std::string line = "type " + hexWord(transfer.typeCode) + " size " +
                             std::to_string(transfer.announcedSize) + ": " + transfer.outcome;
    {
        std::lock_guard lock(sinkMutex);
        if (sink)
            sink(line);
    }
    std::lock_guard lock(mutex);
    transfers.push_back(std::move(transfer));
    transferAdded.notify_all();
}

namespace {

// The number a saved payload's name starts with ("0012-55ab0003.bin" gives 12), or 0.
std::size_t savedSequenceNumber(const char* name)
{
    std::size_t number = 0;
    std::size_t digits = 0;
    for (; name[digits] >= '0' && name[digits] <= '9'; ++digits) {
        if (digits == 9)
            return 0;
        number = number * 10 + static_cast<std::size_t>(name[digits] - '0');
    }
    if (digits == 0 || name[digits] != '-')
        return 0;
    return number;
}

// The highest number a payload saved in the directory by an earlier run carries.
std::size_t highestSavedSequenceNumber(const std::string& directory)
{
    std::size_t highest = 0;
    if (DIR* dir = ::opendir(directory.c_str())) {
        while (const dirent* entry = ::readdir(dir))
            highest = std::max(highest, savedSequenceNumber(entry->d_name));
        ::closedir(dir);
    }
    return highest;
}

bool writeAll(int fd, const std::uint8_t* data, std::size_t size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

} // namespace

std::string Simulator::State::save(const ReceivedTransfer& transfer, std::size_t sequenceNumber)
{
    // Never replace a file: payloads of earlier runs (or of another simulator sharing the
    // directory) stay as they were, and a taken name moves on to the next number.
    constexpr int attempts = 1000;
    std::size_t number = sequenceNumber;
    for (int attempt = 0; attempt < attempts; ++attempt) {
        char name[48];
        std::snprintf(name, sizeof name, "%04zu-%08" PRIx32 ".bin", number, transfer.typeCode);
        const std::string path = options.saveDirectory + "/" + name;
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd < 0) {
            if (errno != EEXIST)
                return {};
            std::lock_guard lock(mutex);
            number = ++sequence;
            continue;
        }
        const bool written = writeAll(fd, transfer.payload.data(), transfer.payload.size());
        if (::close(fd) == 0 && written)
            return path;
        ::unlink(path.c_str()); // a partial payload would pass for a received one
        return {};
    }
    return {};
}

void Simulator::State::serve(int fd, std::size_t sequenceNumber)
{
    Session session(fd, wakeRead.get());
    ReceivedTransfer t;
    const Fault fault = options.fault;
    using Io = Session::Io;

    auto finish = [&](std::string outcome) {
        t.outcome = std::move(outcome);
        session.close();
        record(std::move(t));
    };
    // After the recorder has said its last word it waits for the tool to hang up.
    auto finishAfterDrain = [&](std::string outcome) {
        std::vector<std::uint8_t> trailing;
        session.drain(trailing);
        t.payload.insert(t.payload.end(), trailing.begin(), trailing.end());
        finish(std::move(outcome));
    };

    Io io = session.readWord(t.typeCode);
    if (io != Io::Ok)
        return finish(describeEnd(io, "before the type code"));

    if (fault == Fault::SilentAfterConnect)
        return finishAfterDrain("silent (fault)");

    if (fault == Fault::WrongTypeAnswer) {
        // The answer to the next code: right prefix, wrong kind.
        session.writeWord(typeAnswerFor(t.typeCode + 1));
        return finishAfterDrain("sent a wrong type answer (fault)");
    }
    if ((io = session.writeWord(typeAnswerFor(t.typeCode))) != Io::Ok)
        return finish(describeEnd(io, "before the type answer"));

    if ((io = session.readWord(t.announcedSize)) != Io::Ok)
        return finish(describeEnd(io, "before the size"));
    if (fault == Fault::SizeEchoOffByOne) {
        session.writeWord(t.announcedSize + 1);
        return finishAfterDrain("sent a wrong size echo (fault)");
    }
    if ((io = session.writeWord(t.announcedSize)) != Io::Ok)
        return finish(describeEnd(io, "before the size echo"));

    const std::size_t size = t.announcedSize;
    const bool givesUpMidPayload =
        fault == Fault::StopReadingMidPayload || fault == Fault::CloseMidPayload;
    const std::size_t wanted = givesUpMidPayload ? size / 2 : size;
    io = session.readIntoAtRate(t.payload, wanted, options.readBytesPerSecond);
    const std::string received =
        std::to_string(t.payload.size()) + " of " + std::to_string(size) + " payload bytes";
    if (io != Io::Ok)
        return finish(describeEnd(io, "after " + received));
    if (fault == Fault::StopReadingMidPayload) {
        io = session.holdWithoutReading();
        return finish("stopped reading after " + received + " (fault)");
    }
    if (fault == Fault::CloseMidPayload)
        return finish("closed after " + received + " (fault)");

    if (!options.saveDirectory.empty())
        t.savedPath = save(t, sequenceNumber);

    if (isCompatibilityCheck(t.typeCode)) {
        bool refuse = fault == Fault::Refuse;
        if (options.minimumVersion) {
            // The version travels least significant byte first.
            if (t.payload.size() != 4) {
                refuse = true;
            } else {
                const std::uint32_t raw =
                    std::uint32_t{t.payload[0]} | (std::uint32_t{t.payload[1]} << 8) |
                    (std::uint32_t{t.payload[2]} << 16) | (std::uint32_t{t.payload[3]} << 24);
                refuse = refuse || static_cast<std::int32_t>(raw) < *options.minimumVersion;
            }
        }
        if (fault == Fault::BadAcknowledgement) {
            session.writeWord(BadAcknowledgementWord);
            return finishAfterDrain("sent a bad acknowledgement (fault)");
        }
        if ((io = session.writeWord(refuse ? Refusal : Acknowledgement)) != Io::Ok)
            return finish(describeEnd(io, "before the compatibility answer"));
        return finishAfterDrain(refuse ? "refused" : "ok");
    }

    if (fault == Fault::Refuse) {
        session.writeWord(Refusal);
        return finishAfterDrain("refused (fault)");
    }
    if (fault == Fault::BadAcknowledgement) {
        session.writeWord(BadAcknowledgementWord);
        return finishAfterDrain("sent a bad acknowledgement (fault)");
    }
    if ((io = session.writeWord(Acknowledgement)) != Io::Ok)
        return finish(describeEnd(io, "before the first acknowledgement"));
    if (fault == Fault::CloseAfterFirstAck)
        return finish("closed after the first acknowledgement (fault)");
    if ((io = session.pause(options.writeTime)) != Io::Ok)
        return finish(describeEnd(io, "while writing"));
    if ((io = session.writeWord(Acknowledgement)) != Io::Ok)
        return finish(describeEnd(io, "before the second acknowledgement"));
    finishAfterDrain("ok");
}

void Simulator::State::acceptLoop()
{
    for (;;) {
        pollfd entries[2] = {{listener.get(), POLLIN, 0}, {wakeRead.get(), POLLIN, 0}};
        const int ready = ::poll(entries, 2, -1);
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        if (entries[1].revents != 0)
            return;
        if (entries[0].revents == 0)
            continue;
        const int fd = ::accept4(listener.get(), nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            // Out of descriptors or memory: the pending connection stays pending and the
            // listener stays readable, so retrying at once would spin. Wait a little, still
            // answering stop.
            if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
                pollfd wake{wakeRead.get(), POLLIN, 0};
                if (::poll(&wake, 1, ResourceShortageBackOffMs) > 0)
                    return;
            }
            continue; // otherwise the peer gave up already
        }
        // The two acknowledgements go out back to back; without this the second waits for the
        // tool's delayed ACK of the first.
        const int noDelay = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &noDelay, sizeof noDelay);

        std::lock_guard lock(mutex);
        // Reap connections that have ended, so a long run does not collect threads.
        std::erase_if(connections, [](Connection& c) {
            if (!c.finished->load())
                return false;
            c.thread.join();
            return true;
        });
        auto finished = std::make_shared<std::atomic<bool>>(false);
        const std::size_t number = ++sequence;
        connections.push_back({std::thread([this, fd, number, finished] {
                                   serve(fd, number);
                                   finished->store(true);
                               }),
                               finished});
    }
}

Simulator::Simulator(SimulatorOptions options) : m_state(std::make_unique<State>())
{
    m_state->options = std::move(options);
}

Simulator::~Simulator()
{
    stop();
}

bool Simulator::start(std::string* error)
{
    State& s = *m_state;
    auto failed = [&](const std::string& reason) {
        if (error)
            *error = reason;
        s.listener.reset();
        s.wakeRead.reset();
        s.wakeWrite.reset();
        return false;
    };
    if (s.running)
        return failed("already started");

    if (!s.options.saveDirectory.empty()) {
        struct stat info {};
        if (::stat(s.options.saveDirectory.c_str(), &info) != 0)
            return failed("save directory " + s.options.saveDirectory + ": " + errnoText(errno));
        if (!S_ISDIR(info.st_mode))
            return failed("save directory " + s.options.saveDirectory + ": not a directory");
        // Number this run's payloads after those already there, so names keep their order.
        s.sequence = highestSavedSequenceNumber(s.options.saveDirectory);
    }

    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(s.options.port);
    if (::inet_pton(AF_INET, s.options.host.c_str(), &address.sin_addr) != 1)
        return failed("not an IPv4 address: " + s.options.host);

    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0)
        return failed("pipe: " + errnoText(errno));
    s.wakeRead.reset(pipeFds[0]);
    s.wakeWrite.reset(pipeFds[1]);

    s.listener.reset(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (s.listener.get() < 0)
        return failed("socket: " + errnoText(errno));
    const int yes = 1;
    ::setsockopt(s.listener.get(), SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    if (s.options.fault == Fault::StopReadingMidPayload ||
        s.options.fault == Fault::CloseMidPayload)
        ::setsockopt(s.listener.get(), SOL_SOCKET, SO_RCVBUF, &SmallReceiveBuffer,
                     sizeof SmallReceiveBuffer);
    if (s.options.readBytesPerSecond > 0) {
        ::setsockopt(s.listener.get(), IPPROTO_TCP, TCP_MAXSEG, &EthernetSegmentSize,
                     sizeof EthernetSegmentSize);
        ::setsockopt(s.listener.get(), SOL_SOCKET, SO_RCVBUF, &SmallReceiveBuffer,
                     sizeof SmallReceiveBuffer);
    }
    if (::bind(s.listener.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
        return failed("bind " + s.options.host + ":" + std::to_string(s.options.port) + ": " +
                      errnoText(errno));
    if (::listen(s.listener.get(), SOMAXCONN) != 0)
        return failed("listen: " + errnoText(errno));
    sockaddr_in bound{};
    socklen_t length = sizeof bound;
    if (::getsockname(s.listener.get(), reinterpret_cast<sockaddr*>(&bound), &length) != 0)
        return failed("getsockname: " + errnoText(errno));
    s.port = ntohs(bound.sin_port);

    s.running = true;
    s.acceptor = std::thread([&s] { s.acceptLoop(); });
    return true;
}

void Simulator::stop()
{
    State& s = *m_state;
    if (!s.running)
        return;
    // The pipe stays readable from now on and wakes every wait of every thread.
    const char wake = 1;
    while (::write(s.wakeWrite.get(), &wake, 1) < 0 && errno == EINTR) {
    }
    s.acceptor.join();
    std::vector<State::Connection> connections;
    {
        std::lock_guard lock(s.mutex);
        connections.swap(s.connections);
    }
    for (auto& connection : connections)
        connection.thread.join();
    s.listener.reset();
    s.wakeRead.reset();
    s.wakeWrite.reset();
    s.running = false;
}

std::uint16_t Simulator::port() const
{
    return m_state->port;
}

std::string Simulator::address() const
{
    return m_state->options.host + ":" + std::to_string(m_state->port);
}

void Simulator::setLogSink(std::function<void(const std::string&)> sink)
{
    std::lock_guard lock(m_state->sinkMutex);
    m_state->sink = std::move(sink);
}

std::vector<ReceivedTransfer> Simulator::transfers() const
{
    std::lock_guard lock(m_state->mutex);
    return m_state->transfers;
}

bool Simulator::waitForTransfers(std::size_t count, std::chrono::milliseconds timeout) const
{
    std::unique_lock lock(m_state->mutex);
    return m_state->transferAdded.wait_for(lock, timeout,
                                           [&] { return m_state->transfers.size() >= count; });
}

} // namespace tolvane::sim
