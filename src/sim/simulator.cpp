#include "sim/simulator.h"

#include "core/base/failure.h"
#include "core/transfer/wire_words.h"
#include "sim/payload_store.h"
#include "sim/recorder_transfer.h"
#include "sim/session.h"

#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <cinttypes>
#include <condition_variable>
#include <cstdio>
#include <fcntl.h>
#include <map>
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

// Small enough that the tool is still sending when a recorder gives up or paces its reads.
constexpr int SmallReceiveBuffer = 16 * 1024;
// A paced recorder also announces the segment size of the Ethernet it sits on. The tool sizes its
// send buffer, and so its payload chunks, from the segment size: with loopback's 64 KiB segments
// it would hand megabytes to the kernel at once and its progress would jump.
constexpr int EthernetSegmentSize = 1460;
// How long the acceptor waits before retrying when the process runs out of descriptors.
constexpr int ResourceShortageBackOffMs = 100;

void setOption(int fd, int level, int name, int value)
{
    ::setsockopt(fd, level, name, &value, sizeof value);
}

} // namespace

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
    // Finished connections by the order they were accepted in: a tool's connections follow one
    // another, but the thread serving the first may record it after the second has finished.
    std::map<std::size_t, ReceivedTransfer> transfers;
    std::size_t accepted = 0;
    std::size_t sequence = 0;

    std::mutex sinkMutex; // keeps log lines whole and in order
    std::function<void(const std::string&)> sink;

    Result<void> prepareSaveDirectory();
    Result<void> openListener();
    void acceptLoop();
    // false when stop() began while waiting.
    bool waitForConnection();
    // Serves an accepted connection on a thread of its own.
    void startConnection(int fd);
    void record(std::size_t acceptOrder, ReceivedTransfer transfer);
};

void Simulator::State::record(std::size_t acceptOrder, ReceivedTransfer transfer)
{
    std::string line = "type " + wordText(transfer.typeCode) + " size " +
                       std::to_string(transfer.announcedSize) + ": " + transfer.outcome;
    // The fingerprint lets an operator compare what arrived with the file sent (sha256sum).
    if (transfer.payloadSize > 0)
        line += " (sha256 " + transfer.payloadSha256 + ")";
    {
        std::lock_guard lock(sinkMutex);
        if (sink)
            sink(line);
    }
    std::lock_guard lock(mutex);
    transfers.emplace(acceptOrder, std::move(transfer));
    transferAdded.notify_all();
}

bool Simulator::State::waitForConnection()
{
    for (;;) {
        pollfd entries[2] = {{listener.get(), POLLIN, 0}, {wakeRead.get(), POLLIN, 0}};
        const int ready = ::poll(entries, 2, -1);
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (entries[1].revents != 0)
            return false;
        if (entries[0].revents != 0)
            return true;
    }
}

void Simulator::State::acceptLoop()
{
    while (waitForConnection()) {
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
        startConnection(fd);
    }
}

void Simulator::State::startConnection(int fd)
{
    // The two acknowledgements go out back to back; without this the second waits for the
    // tool's delayed ACK of the first.
    setOption(fd, IPPROTO_TCP, TCP_NODELAY, 1);

    std::lock_guard lock(mutex);
    // Reap connections that have ended, so a long run does not collect threads.
    std::erase_if(connections, [](Connection& c) {
        if (!c.finished->load())
            return false;
        c.thread.join();
        return true;
    });
    auto finished = std::make_shared<std::atomic<bool>>(false);
    const std::size_t acceptOrder = ++accepted;
    const std::size_t number = ++sequence;
    PayloadNumbering numbering{number, [this] {
                                   std::lock_guard numberLock(mutex);
                                   return ++sequence;
                               }};
    connections.push_back(
        {std::thread([this, fd, acceptOrder, numbering = std::move(numbering), finished] {
             record(acceptOrder, serveTransfer(fd, wakeRead.get(), options, numbering));
             finished->store(true);
         }),
         finished});
}

Result<void> Simulator::State::prepareSaveDirectory()
{
    if (options.saveDirectory.empty())
        return {};
    struct stat info {};
    if (::stat(options.saveDirectory.c_str(), &info) != 0)
        return Failure{errno, "save directory " + options.saveDirectory};
    if (!S_ISDIR(info.st_mode))
        return Failure{0, "save directory " + options.saveDirectory + ": not a directory"};
    // Number this run's payloads after those already there, so names keep their order.
    sequence = highestSavedSequenceNumber(options.saveDirectory);
    return {};
}

Result<void> Simulator::State::openListener()
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(options.port);
    if (::inet_pton(AF_INET, options.host.c_str(), &address.sin_addr) != 1)
        return Failure{0, "not an IPv4 address: " + options.host};

    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0)
        return Failure{errno, "pipe"};
    wakeRead.reset(pipeFds[0]);
    wakeWrite.reset(pipeFds[1]);

    listener.reset(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    const int fd = listener.get();
    if (fd < 0)
        return Failure{errno, "socket"};
    setOption(fd, SOL_SOCKET, SO_REUSEADDR, 1);
    if (needsSmallReceiveBuffer(options.fault))
        setOption(fd, SOL_SOCKET, SO_RCVBUF, SmallReceiveBuffer);
    if (options.readBytesPerSecond > 0) {
        setOption(fd, IPPROTO_TCP, TCP_MAXSEG, EthernetSegmentSize);
        setOption(fd, SOL_SOCKET, SO_RCVBUF, SmallReceiveBuffer);
    }
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
        return Failure{errno, "bind " + options.host + ":" + std::to_string(options.port)};
    if (::listen(fd, SOMAXCONN) != 0)
        return Failure{errno, "listen"};
    sockaddr_in bound{};
    socklen_t length = sizeof bound;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &length) != 0)
        return Failure{errno, "getsockname"};
    port = ntohs(bound.sin_port);
    return {};
}

Simulator::Simulator(SimulatorOptions options) : m_state(std::make_unique<State>())
{
    m_state->options = std::move(options);
}

Simulator::~Simulator()
{
    stop();
}

Result<void> Simulator::start()
{
    State& s = *m_state;
    // The running simulator keeps its listener and stop pipe.
    if (s.running)
        return Failure{0, "already started"};
    Result<void> ready = s.prepareSaveDirectory();
    if (ready)
        ready = s.openListener();
    if (!ready) {
        s.listener.reset();
        s.wakeRead.reset();
        s.wakeWrite.reset();
        return ready;
    }
    s.running = true;
    s.acceptor = std::thread([&s] { s.acceptLoop(); });
    return {};
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
    std::vector<ReceivedTransfer> inAcceptOrder;
    inAcceptOrder.reserve(m_state->transfers.size());
    for (const auto& [acceptOrder, transfer] : m_state->transfers)
        inAcceptOrder.push_back(transfer);
    return inAcceptOrder;
}

bool Simulator::waitForTransfers(std::size_t count, std::chrono::milliseconds timeout) const
{
    std::unique_lock lock(m_state->mutex);
    return m_state->transferAdded.wait_for(lock, timeout,
                                           [&] { return m_state->transfers.size() >= count; });
}

} // namespace tolvane::sim
