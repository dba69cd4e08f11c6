#include "service/download_service.h"

#include "core/download/target_address.h"
#include "core/image/image_version.h"
#include "core/image/mac_address.h"
#include "service/batch_threads.h"
#include "service/image_file.h"
#include "service/unit_messages.h"
#include "service/unit_row.h"
#include "service/worker_operator.h"

#include <chrono>
#include <exception>
#include <utility>

namespace tolvane::service {

namespace {

// How many used addresses one unit passes over before it gives up.
constexpr int MacTriesPerUnit = 1000;

bool sendsIdentity(DownloadType type)
{
    return type == DownloadType::IntegratedImage || type == DownloadType::IndividualData;
}

// The MAC address the unit sends, as the record keeps it; nothing when it sends none, or when its
// text is not one (the routine then refuses it).
std::optional<std::string> unitMac(DownloadType type, const UnitIdentity& identity)
{
    if (!sendsIdentity(type) || !identity.sendMac || !isValidMacText(identity.macText))
        return std::nullopt;
    return formatMacAddress(splitMacAddress(identity.macText));
}

std::optional<std::uint32_t> unitSerial(DownloadType type, const UnitIdentity& identity)
{
    if (!sendsIdentity(type) || !identity.sendSerial)
        return std::nullopt;
    return identity.serialNumber;
}

} // namespace

DownloadService::DownloadService(DownloadPlan plan) : m_plan(std::move(plan))
{
    // The record names the file by its digest; a file that fails to read now is reported by the
    // routine.
    if (m_plan.record && m_plan.type != DownloadType::IndividualData) {
        if (auto digest = fileDigest(m_plan.file))
            m_fileDigest = std::move(digest).value();
    }
    if (m_plan.freeMacsFrom)
        m_freeMacs.emplace(*m_plan.freeMacsFrom);
}

UnitOutcome DownloadService::runUnit(const UnitRequest& unit, DownloadOperator& op,
                                     UnitObserver& observer)
{
    UnitMessages messages(observer, 0);
    KeepingOperator keeping(op, messages);
    return runSequence(unit, keeping, messages);
}

BatchOutcome DownloadService::runBatch(const std::vector<UnitRequest>& units,
                                       const BatchOptions& options, UnitObserver& observer,
                                       std::stop_token stop)
{
    BatchOutcome batch;
    batch.units.resize(units.size());
    const auto runOne = [&](std::size_t i) {
        UnitMessages messages(observer, i);
        WorkerOperator op(messages, options.deadlines);
        batch.units[i] = runSequence(units[i], op, messages);
    };
    runOnThreads(units.size(), options.jobs, runOne, std::move(stop));
    if (m_freeMacs)
        batch.nextFreeMac = m_freeMacs->next();
    return batch;
}

// Reserve the MAC address, run the routine, write the outcome.
UnitOutcome DownloadService::runSequence(const UnitRequest& unit, DownloadOperator& op,
                                         UnitMessages& messages)
{
    const auto started = std::chrono::steady_clock::now();
    messages.observer().unitStarted(messages.unit());
    UnitOutcome outcome;
    outcome.mac = unitMac(m_plan.type, unit.identity);
    outcome.serial = unitSerial(m_plan.type, unit.identity);
    DownloadInputs inputs{m_plan.file, unit.target, unit.identity};
    std::optional<UnitRow> row;
    if (m_plan.record)
        row.emplace(*m_plan.record, rowFields(unit));

    RoutineOutcome routine;
    bool refused = false;
    try {
        refused = row && outcome.mac && !reserveMac(*row, inputs, outcome, messages);
        if (!refused)
            routine = m_plan.run(m_plan.type, inputs, op);
    } catch (const std::exception& e) {
        messages.show(std::string("Download stopped: ") + e.what());
    }
    outcome.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    outcome.result = refused             ? UnitResult::Refused
                     : routine.succeeded ? UnitResult::Ok
                                         : UnitResult::Failed;
    outcome.message = messages.last();
    outcome.advancedMac = routine.advancedMac;
    outcome.version = routine.version;
    if (row) {
        const auto version =
            routine.version ? std::optional(formatVersion(*routine.version)) : std::nullopt;
        const auto written = row->finish(resultName(outcome.result),
                                         outcome.succeeded() ? std::string() : outcome.message,
                                         outcome.seconds, version);
        if (!written)
            outcome.recordFailure = written.failure();
    }
    messages.observer().unitFinished(messages.unit(), outcome);
    return outcome;
}

// What every row of the unit carries; its MAC address is set as it is reserved.
record::RecordEntry DownloadService::rowFields(const UnitRequest& unit) const
{
    record::RecordEntry fields;
    fields.target = targetText(unit.target);
    fields.type = downloadTypeName(m_plan.type);
    if (m_plan.type != DownloadType::IndividualData) {
        fields.file = m_plan.file;
        fields.sha256 = m_fileDigest;
    }
    fields.serial = unitSerial(m_plan.type, unit.identity);
    return fields;
}

// The MAC is checked and marked pending in one step, so no other run (another thread or process)
// can take it before this unit's row is in. False when the MAC must not be sent.
bool DownloadService::reserveMac(UnitRow& row, DownloadInputs& inputs, UnitOutcome& outcome,
                                 UnitMessages& messages)
{
    if (m_freeMacs)
        return reserveNextFreeMac(row, inputs, outcome, messages);
    const std::string mac = *outcome.mac;
    const auto holder = row.reserve(mac, m_plan.allowReusedMac);
    if (holder && !*holder)
        return true;
    if (holder)
        refuse(Refusal::Reason::MacUsed, mac, row.macUsedText(mac, **holder), messages);
    else
        refuse(Refusal::Reason::RecordFailed, mac, holder.failure().text(), messages);
    return false;
}

// Takes addresses from the run's counter until one is free; false when the record fails or every
// address tried is used.
bool DownloadService::reserveNextFreeMac(UnitRow& row, DownloadInputs& inputs, UnitOutcome& outcome,
                                         UnitMessages& messages)
{
    std::string first;
    for (int attempt = 0; attempt < MacTriesPerUnit; ++attempt) {
        const std::string mac = m_freeMacs->take();
        if (first.empty())
            first = mac;
        const auto holder = row.reserve(mac, m_plan.allowReusedMac);
        if (!holder) {
            refuse(Refusal::Reason::RecordFailed, mac, holder.failure().text(), messages);
            return false;
        }
        if (!*holder) {
            outcome.mac = inputs.identity.macText = mac;
            return true;
        }
        // Another bench won this address: say so, and try the next.
        messages.note(row.macUsedText(mac, **holder) + "; taking the next");
    }
    refuse(Refusal::Reason::NoFreeMac, first,
           "no free MAC address among " + std::to_string(MacTriesPerUnit) + " from " + first,
           messages);
    return false;
}

void DownloadService::refuse(Refusal::Reason reason, const std::string& mac,
                             const std::string& detail, UnitMessages& messages) const
{
    const Refusal refusal{reason, mac, detail};
    messages.show(m_plan.wording ? m_plan.wording(refusal) : refusal.detail);
}

} // namespace tolvane::service
