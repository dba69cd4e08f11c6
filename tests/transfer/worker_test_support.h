#pragma once

// What the worker tests share: a loopback simulator, a run of one job with the times of its
// notifications, and filters over them.

#include "core/transfer/download_worker.h"
#include "core/transfer/wire_words.h"
#include "sim/simulator.h"
#include "support/loopback_simulator.h"
#include "support/transfer_test_support.h"

#include <arpa/inet.h>
#include <csignal>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <thread>

namespace tolvane::worker_test {

using namespace std::chrono_literals;
using test::loopbackOptions;
using test::RecordingObserver;
using test::ScriptedPeer;
using Strings = std::vector<std::string>;
using Bytes = std::vector<std::uint8_t>;

inline constexpr auto SimulatorWait = 5s;

using Clock = RecordingObserver::Clock;

struct Outcome {
    int result = -1;
    Strings events;
    std::vector<RecordingObserver::Event> timed;
    Clock::time_point started;
    Clock::time_point returned;
    std::chrono::milliseconds elapsed{0};

    // When the last notification `text` came; the start of run() when there is none, or for
    // nullptr.
    Clock::time_point lastAt(const char* text) const
    {
        for (auto event = timed.rbegin(); text != nullptr && event != timed.rend(); ++event)
            if (event->text == text)
                return event->at;
        return started;
    }
    // When the last progress notification came, or the start of run().
    Clock::time_point lastProgressAt() const
    {
        for (auto event = timed.rbegin(); event != timed.rend(); ++event)
            if (event->text.rfind("progress ", 0) == 0)
                return event->at;
        return started;
    }
    // From `from` to the last notification (the error of a failed run).
    std::chrono::milliseconds toLastEvent(Clock::time_point from) const
    {
        const Clock::time_point end = timed.empty() ? returned : timed.back().at;
        return std::chrono::duration_cast<std::chrono::milliseconds>(end - from);
    }
};

inline Outcome runJob(const DownloadJob& job, RecordingObserver& observer)
{
    Outcome outcome;
    outcome.started = Clock::now();
    outcome.result = DownloadWorker(job, observer).run();
    outcome.returned = Clock::now();
    outcome.elapsed =
        std::chrono::duration_cast<std::chrono::milliseconds>(outcome.returned - outcome.started);
    outcome.timed = observer.timedEvents();
    outcome.events = observer.events();
    return outcome;
}

inline Outcome runJob(const DownloadJob& job)
{
    RecordingObserver observer;
    return runJob(job, observer);
}

inline Strings withoutProgress(const Strings& events)
{
    Strings result;
    for (const auto& event : events)
        if (event.rfind("progress ", 0) != 0)
            result.push_back(event);
    return result;
}

// Deadlines short enough for a test, and the room a loaded machine needs beyond them.
inline constexpr auto ShortDeadline = std::chrono::milliseconds(200);
inline constexpr auto Slack = std::chrono::seconds(1);

// Large enough that the tool is still sending when a recorder gives up half-way.
inline constexpr std::size_t MidPayloadSize = 16 * 1024 * 1024;
inline const Bytes AcknowledgementWord = {0xAB, 0x55, 0xAB, 0x55};

// A protocol word as the recorder sends it, written out big-endian by hand.
inline Bytes word(std::uint32_t value)
{
    return {static_cast<std::uint8_t>(value >> 24), static_cast<std::uint8_t>(value >> 16),
            static_cast<std::uint8_t>(value >> 8), static_cast<std::uint8_t>(value)};
}

} // namespace tolvane::worker_test
