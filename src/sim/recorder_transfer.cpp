#include "sim/recorder_transfer.h"

#include "core/base/byte_order.h"
#include "core/transfer/wire_words.h"
#include "sim/background_sha256.h"
#include "sim/payload_store.h"
#include "sim/session.h"

#include <algorithm>
#include <array>
#include <memory>
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

    ReceivedTransfer run(const PayloadNumbering& numbering)
    {
        if (exchangeTypeCode() && exchangeSize() && takePayload()) {
            if (m_file) {
                // A payload that cannot be kept is received all the same, as a recorder's would.
                auto saved = m_file->commit(m_transfer.typeCode, numbering.number, numbering.next);
                if (saved)
                    m_transfer.savedPath = std::move(saved).value();
            }
            m_file.reset();
            answer();
        }
        m_session.close();
        auto digest = m_digest.finishHex();
        if (digest)
            m_transfer.payloadSha256 = std::move(digest).value();
        else
            m_transfer.outcome += " (" + digest.failure().text() + ")";
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
        if (!m_options.saveDirectory.empty()) {
            m_file = std::make_unique<IncomingPayloadFile>(m_options.saveDirectory);
            if (!m_file->open())
                m_file.reset(); // the transfer goes on, unsaved, as a recorder's would
        }
        const std::size_t size = m_transfer.announcedSize;
        const Io io = m_session.readIntoAtRate(
            [this](const std::uint8_t* data, std::size_t count) {
                take(data, count);
                if (m_file)
                    m_file->write(data, count);
            },
            payloadBytesTaken(fault(), size), m_options.readBytesPerSecond);
        const std::string received = std::to_string(m_transfer.payloadSize) + " of " +
                                     std::to_string(size) + " payload bytes";
        if (ok(io, "after " + received) && !wentWrong(midPayload(fault(), received)))
            return true;
        m_file.reset();
        return false;
    }

    // Counts and fingerprints what arrived, keeping the first bytes for the version check.
    void take(const std::uint8_t* data, std::size_t count)
    {
        if (m_transfer.payloadSize < m_head.size()) {
            const auto at = static_cast<std::size_t>(m_transfer.payloadSize);
            std::copy_n(data, std::min(count, m_head.size() - at), m_head.begin() + at);
        }
        m_transfer.payloadSize += count;
        m_digest.update(data, count);
        if (m_options.keepPayload)
            m_transfer.payload.insert(m_transfer.payload.end(), data, data + count);
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
        if (m_transfer.payloadSize != m_head.size())
            return true;
        // The version travels least significant byte first.
        const auto version = static_cast<std::int32_t>(loadLe32(m_head.data()));
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
        m_session.drain([this](const std::uint8_t* data, std::size_t count) { take(data, count); });
        end(std::move(outcome));
    }

    Fault fault() const { return m_options.fault; }

    Session m_session;
    const SimulatorOptions& m_options;
    ReceivedTransfer m_transfer;
    BackgroundSha256 m_digest;
    std::array<std::uint8_t, 4> m_head{};        // a compatibility check's version
    std::unique_ptr<IncomingPayloadFile> m_file; // while a payload goes to disk
};

} // namespace

ReceivedTransfer serveTransfer(int fd, int wakeFd, const SimulatorOptions& options,
                               const PayloadNumbering& numbering)
{
    return RecorderTransfer(fd, wakeFd, options).run(numbering);
}

} // namespace tolvane::sim
