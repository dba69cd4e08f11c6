#include "sim/fault_modes.h"

#include "core/transfer/wire_words.h"

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
    {Fault::ResetMidPayload, "reset-mid-payload"},
    {Fault::DripAnswers, "drip"},
    {Fault::HalfCloseAfterSizeEcho, "half-close"},
    {Fault::GarbageAfterAnswers, "garbage-after-answers"},
    {Fault::CloseAfterPayload, "close-after-payload"},
    {Fault::ResetAfterPayload, "reset-after-payload"},
    {Fault::SilentAfterPayload, "silent-after-payload"},
};

// Neither the acknowledgement nor the refusal.
constexpr std::uint32_t BadAcknowledgementWord = 0xAB55AB00;
constexpr std::chrono::milliseconds DripPause{30};

bool givesUpMidPayload(Fault fault)
{
    return fault == Fault::StopReadingMidPayload || fault == Fault::CloseMidPayload ||
           fault == Fault::ResetMidPayload;
}

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

std::optional<Misstep> afterConnect(Fault fault)
{
    if (fault == Fault::SilentAfterConnect)
        return Misstep{Misstep::Then::Drain, std::nullopt, "silent (fault)"};
    return std::nullopt;
}

std::optional<Misstep> inTypeAnswer(Fault fault, std::uint32_t typeCode)
{
    // The answer to the next code: right prefix, wrong kind.
    if (fault == Fault::WrongTypeAnswer)
        return Misstep{Misstep::Then::Drain, typeAnswerFor(typeCode + 1),
                       "sent a wrong type answer (fault)"};
    return std::nullopt;
}

std::optional<Misstep> inSizeEcho(Fault fault, std::uint32_t size)
{
    if (fault == Fault::SizeEchoOffByOne)
        return Misstep{Misstep::Then::Drain, size + 1, "sent a wrong size echo (fault)"};
    return std::nullopt;
}

std::optional<Misstep> midPayload(Fault fault, const std::string& received)
{
    if (fault == Fault::StopReadingMidPayload)
        return Misstep{Misstep::Then::Hold, std::nullopt,
                       "stopped reading after " + received + " (fault)"};
    if (fault == Fault::CloseMidPayload)
        return Misstep{Misstep::Then::Close, std::nullopt, "closed after " + received + " (fault)"};
    if (fault == Fault::ResetMidPayload)
        return Misstep{Misstep::Then::Reset, std::nullopt, "reset after " + received + " (fault)"};
    return std::nullopt;
}

std::optional<Misstep> inAnswer(Fault fault, bool compatibilityCheck)
{
    if (fault == Fault::CloseAfterPayload && !compatibilityCheck)
        return Misstep{Misstep::Then::Close, std::nullopt, "closed after the payload (fault)"};
    if (fault == Fault::ResetAfterPayload && !compatibilityCheck)
        return Misstep{Misstep::Then::Reset, std::nullopt, "reset after the payload (fault)"};
    if (fault == Fault::SilentAfterPayload && !compatibilityCheck)
        return Misstep{Misstep::Then::Drain, std::nullopt, "silent after the payload (fault)"};
    if (fault == Fault::BadAcknowledgement)
        return Misstep{Misstep::Then::Drain, BadAcknowledgementWord,
                       "sent a bad acknowledgement (fault)"};
    // Its sending side is shut, so it cannot answer at all.
    if (fault == Fault::HalfCloseAfterSizeEcho)
        return Misstep{Misstep::Then::Drain, std::nullopt,
                       "half-closed after the size echo (fault)"};
    // A refused compatibility check is an ordinary answer; see refusesCompatibility.
    if (fault == Fault::Refuse && !compatibilityCheck)
        return Misstep{Misstep::Then::Drain, Refusal, "refused (fault)"};
    return std::nullopt;
}

std::optional<Misstep> afterFirstAcknowledgement(Fault fault)
{
    if (fault == Fault::CloseAfterFirstAck)
        return Misstep{Misstep::Then::Close, std::nullopt,
                       "closed after the first acknowledgement (fault)"};
    return std::nullopt;
}

std::chrono::milliseconds answerDripPause(Fault fault)
{
    return fault == Fault::DripAnswers ? DripPause : std::chrono::milliseconds{0};
}

bool halfClosesAfterSizeEcho(Fault fault)
{
    return fault == Fault::HalfCloseAfterSizeEcho;
}

std::vector<std::uint8_t> bytesAfterLastAnswer(Fault fault)
{
    if (fault != Fault::GarbageAfterAnswers)
        return {};
    return {0xDE, 0xAD, 0xBE, 0xEF, 0xAB, 0x55, 0xFF, 0x01, 0x00, 0x00, 0x00, 0x00};
}

std::size_t payloadBytesTaken(Fault fault, std::size_t size)
{
    return givesUpMidPayload(fault) ? size / 2 : size;
}

bool refusesCompatibility(Fault fault)
{
    return fault == Fault::Refuse;
}

bool needsSmallReceiveBuffer(Fault fault)
{
    return givesUpMidPayload(fault);
}

} // namespace tolvane::sim
