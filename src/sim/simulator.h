#pragma once

#include "core/base/failure.h"
#include "sim/fault_modes.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tolvane::sim {

struct SimulatorOptions {
    std::string host = "127.0.0.1";
    std::uint16_t port = 5000; // 0 picks a free port
    // Compatibility checks announcing an older version are refused.
    std::optional<std::int32_t> minimumVersion;
    std::string saveDirectory;              // when set, each received payload is kept there
    std::chrono::milliseconds writeTime{0}; // pause between the two acknowledgements
    // Payload bytes taken in per second, like a recorder that stores the image as it arrives;
    // 0 reads as fast as the bytes come.
    std::uint64_t readBytesPerSecond = 0;
    Fault fault = Fault::None;
    // Whether ReceivedTransfer::payload holds the bytes themselves (the tests compare them);
    // otherwise only their size and digest are kept, so a payload of any size streams through.
    bool keepPayload = false;
};

// What the simulator saw of one connection.
struct ReceivedTransfer {
    std::uint32_t typeCode = 0;
    std::uint32_t announcedSize = 0;
    // The bytes received after the size echo (the payload, then whatever the tool sent after
    // the last answer, up to a limit): how many, their SHA-256 in lower-case hex, and with
    // SimulatorOptions::keepPayload the bytes themselves.
    std::uint64_t payloadSize = 0;
    std::string payloadSha256;
    std::vector<std::uint8_t> payload;
    std::string outcome;   // "ok", "refused", or what went wrong
    std::string savedPath; // where the payload was kept, if it was
};

// A recorder on a TCP port that speaks the recorder's side of the download protocol and serves
// connections concurrently.
class Simulator {
public:
    explicit Simulator(SimulatorOptions options);
    ~Simulator(); // stops
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;

    // Binds and starts serving, or says why it cannot.
    Result<void> start();
    void stop();
    std::uint16_t port() const;
    std::string address() const; // "HOST:PORT"

    // Called once per finished connection with one line: type code, size, outcome.
    void setLogSink(std::function<void(const std::string&)> sink);

    // The finished connections, in the order they were accepted.
    std::vector<ReceivedTransfer> transfers() const;
    // Waits until at least count connections have finished; false on timeout.
    bool waitForTransfers(std::size_t count, std::chrono::milliseconds timeout) const;

private:
    struct State;
    std::unique_ptr<State> m_state;
};

} // namespace tolvane::sim
