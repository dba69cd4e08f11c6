#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tolvane::sim {

// Every way a recorder can fail the tool.
enum class Fault {
    None,
    WrongTypeAnswer,        // answers the type code with a wrong word
    SizeEchoOffByOne,       // echoes size + 1
    Refuse,                 // answers with the refusal word instead of the (first) acknowledgement
    CloseAfterFirstAck,     // closes the connection after the first acknowledgement
    BadAcknowledgement,     // answers with a word that is neither acknowledgement nor refusal
    SilentAfterConnect,     // accepts the connection and never answers
    StopReadingMidPayload,  // stops reading half-way through the payload, keeping the connection
    CloseMidPayload,        // closes the connection half-way through the payload
    ResetMidPayload,        // resets the connection half-way through the payload
    DripAnswers,            // sends every answer one byte at a time, slowly
    HalfCloseAfterSizeEcho, // shuts its sending side after the size echo, takes the payload
    GarbageAfterAnswers,    // sends bytes nobody asked for after its last answer
    // Take the whole payload of a transfer that is not a compatibility check, then, instead of
    // the first acknowledgement:
    CloseAfterPayload,  // close the connection
    ResetAfterPayload,  // reset the connection
    SilentAfterPayload, // say nothing until the tool hangs up
};

std::optional<Fault> parseFault(const std::string& name);
std::string faultName(Fault fault);
std::vector<std::string> faultNames();

// What a faulty recorder does in place of the right thing at one point of a transfer; the
// transfer ends with it.
struct Misstep {
    enum class Then {
        Drain, // waits for the tool to hang up, keeping what still arrives
        Hold,  // keeps the connection without reading until the tool hangs up
        Close, // hangs up at once
        Reset, // hangs up with a reset
    };
    Then then = Then::Drain;
    std::optional<std::uint32_t> word; // sent in place of the right one
    std::string outcome;
};

// The points where a recorder can go wrong, in the order a transfer reaches them; each answers
// nullopt where the fault leaves the recorder right.
std::optional<Misstep> afterConnect(Fault fault);
std::optional<Misstep> inTypeAnswer(Fault fault, std::uint32_t typeCode);
std::optional<Misstep> inSizeEcho(Fault fault, std::uint32_t size);
// received says how much of the payload came, for the outcome.
std::optional<Misstep> midPayload(Fault fault, const std::string& received);
std::optional<Misstep> inAnswer(Fault fault, bool compatibilityCheck);
std::optional<Misstep> afterFirstAcknowledgement(Fault fault);

// The pause between the bytes of an answer; zero sends each answer whole.
std::chrono::milliseconds answerDripPause(Fault fault);
// Whether the recorder stops sending once it has echoed the size.
bool halfClosesAfterSizeEcho(Fault fault);
// Bytes sent after the recorder's last answer, if any.
std::vector<std::uint8_t> bytesAfterLastAnswer(Fault fault);

// Payload bytes the recorder takes in before it goes wrong (all of them when it does not).
std::size_t payloadBytesTaken(Fault fault, std::size_t size);
// Whether compatibility checks are refused whatever version they announce.
bool refusesCompatibility(Fault fault);
// A recorder that gives up mid-payload is modelled with a small receive buffer, so the tool is
// really still sending when it happens.
bool needsSmallReceiveBuffer(Fault fault);

} // namespace tolvane::sim
