#include "sim/recorder_transfer.h"

#include "core/base/byte_order.h"
#include "core/transfer/wire_words.h"
#include "sim/session.h"

#include <utility>

namespace tolvane::sim {

namespace {

using Io = Session::Io;

std::string describeEnd(Io io, const std::string& when)
{
    return (io == Io::Stopped ? "stopped " : "closed by the tool ") + when;
}

// One transfer, step by step. A step answers true while the transfer goes on; the step that ends
// it leaves the outcome behind.
class RecorderTransfer {
public:
    RecorderTransfer(int fd, int wakeFd, const SimulatorOptions& options)
        : m_session(fd, wakeFd), m_options(options)
    {
    }

    ReceivedTransfer run(const SavePayload& save)
    {
        if (exchangeTypeCode() && exchangeSize() && takePayload()) {
            if (!m_options.saveDirectory.empty())
                m_transfer.savedPath = save(m_transfer);
            answer();
        }
        m_session.close();
        return std::move(m_transfer);
    }

private:
    bool exchangeTypeCode()
    {
        if (!ok(m_session.readWord(m_transfer.typeCode), "before the type code"))
            return false;
        if (wentWrong(afterConnect(fault())) ||
            wentWrong(inTypeAnswer(fault(), m_transfer.typeCode)))
            return false;
        return ok(say(typeAnswerFor(m_transfer.typeCode)), "before the type answer");
    }

    bool exchangeSize()
    {
        if (!ok(m_session.readWord(m_transfer.announcedSize), "before the size") ||
            wentWrong(inSizeEcho(fault(), m_transfer.announcedSize)) ||
            !ok(say(m_transfer.announcedSize), "before the size echo"))
            return false;
        if (halfClosesAfterSizeEcho(fault()))
            m_session.shutdownWrite();
        return true;
    }

    bool takePayload()
    {
        const std::size_t size = m_transfer.announcedSize;
        const Io io = m_session.readIntoAtRate(m_transfer.payload, payloadBytesTaken(fault(), size),
                                               m_options.readBytesPerSecond);
        const std::string received = std::to_string(m_transfer.payload.size()) + " of " +
                                     std::to_string(size) + " payload bytes";
        return ok(io, "after " + received) && !wentWrong(midPayload(fault(), received));
    }

    // The compatibility check is answered once; every other transfer twice, around the write.
    void answer()
    {
        const bool compatibilityCheck = isCompatibilityCheck(m_transfer.typeCode);
        if (wentWrong(inAnswer(fault(), compatibilityCheck)))
            return;
        if (compatibilityCheck) {
            const bool refuse = refusesCompatibility(fault()) || refusesVersion();
            if (ok(say(refuse ? Refusal : Acknowledgement), "before the compatibility answer"))
                endAfterLastAnswer(refuse ? "refused" : "ok");
            return;
        }
        if (ok(say(Acknowledgement), "before the first acknowledgement") &&
            !wentWrong(afterFirstAcknowledgement(fault())) &&
            ok(m_session.pause(m_options.writeTime), "while writing") &&
            ok(say(Acknowledgement), "before the second acknowledgement"))
            endAfterLastAnswer("ok");
    }

    Session::Io say(std::uint32_t word)
    {
        return m_session.writeWord(word, answerDripPause(fault()));
    }

    void endAfterLastAnswer(std::string outcome)
    {
        const auto extra = bytesAfterLastAnswer(fault());
        if (!extra.empty() && m_session.writeBytes(extra.data(), extra.size()) == Io::Ok)
            outcome += ", then " + std::to_string(extra.size()) + " stray bytes (fault)";
        endAfterDrain(std::move(outcome));
    }

    bool refusesVersion() const
    {
        if (!m_options.minimumVersion)
            return false;
        if (m_transfer.payload.size() != 4)
            return true;
        // The version travels least significant byte first.
        const auto version = static_cast<std::int32_t>(loadLe32(m_transfer.payload.data()));
        return version < *m_options.minimumVersion;
    }

    // Carries out what the fault does here, if anything; true when that ended the transfer.
    bool wentWrong(const std::optional<Misstep>& misstep)
    {
        if (!misstep)
            return false;
        if (misstep->word)
            m_session.writeWord(*misstep->word);
        switch (misstep->then) {
        case Misstep::Then::Drain: endAfterDrain(misstep->outcome); break;
        case Misstep::Then::Hold:
            m_session.holdWithoutReading();
            end(misstep->outcome);
            break;
        case Misstep::Then::Close: end(misstep->outcome); break;
        case Misstep::Then::Reset:
            m_session.reset();
            end(misstep->outcome);
            break;
        }
        return true;
    }

    bool ok(Io io, const std::string& when) { return io == Io::Ok || end(describeEnd(io, when)); }

    bool end(std::string outcome)
    {
        m_transfer.outcome = std::move(outcome);
        return false;
    }

    // After the recorder has said its last word it waits for the tool to hang up.
    void endAfterDrain(std::string outcome)
    {
        std::vector<std::uint8_t> trailing;
        m_session.drain(trailing);
        m_transfer.payload.insert(m_transfer.payload.end(), trailing.begin(), trailing.end());
        end(std::move(outcome));
    }

    Fault fault() const { return m_options.fault; }

    Session m_session;
    const SimulatorOptions& m_options;
    ReceivedTransfer m_transfer;
};

} // namespace

ReceivedTransfer serveTransfer(int fd, int wakeFd, const SimulatorOptions& options,
                               const SavePayload& save)
{
    return RecorderTransfer(fd, wakeFd, options).run(save);
}

} // namespace tolvane::sim
