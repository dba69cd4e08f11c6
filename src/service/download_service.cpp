#include "service/download_service.h"

#include "core/download/target_address.h"
#include "core/image/image_version.h"
#include "core/image/mac_address.h"
#include "service/batch_threads.h"
#include "service/identity_watch.h"
#include "service/image_file.h"
#include "service/unit_messages.h"
#include "service/unit_row.h"
#include "service/worker_operator.h"

#include <algorithm>
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
    if (m_plan.freeMacsFrom && m_plan.freeSerialsFrom)
        m_freeSerials.emplace(*m_plan.freeSerialsFrom);
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
    nextFree(batch);
    return batch;
}

// The counters run ahead of what went out (a record lost mid-batch still took addresses), so the
// next unit starts after the last identity that may be on a unit.
void DownloadService::nextFree(BatchOutcome& batch) const
{
    if (!m_freeMacs)
        return;
    std::optional<std::string> lastMac;
    std::optional<std::uint32_t> lastSerial;
    for (const auto& unit : batch.units) {
        if (!unit || (unit->result != UnitResult::Ok && unit->result != UnitResult::Unconfirmed))
            continue;
        // Twelve upper-case hex digits order as the addresses do.
        if (unit->mac && (!lastMac || *unit->mac > *lastMac))
            lastMac = unit->mac;
        if (unit->serial && (!lastSerial || *unit->serial > *lastSerial))
            lastSerial = unit->serial;
    }
    batch.nextFreeMac = lastMac ? formatMacAddress(advanceMacAddress(splitMacAddress(*lastMac)))
                                : *m_plan.freeMacsFrom;
    if (m_plan.freeSerialsFrom)
        batch.nextFreeSerial = lastSerial ? *lastSerial + 1 : *m_plan.freeSerialsFrom;
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
    // A MAC text that is no address is refused by the routine before anything goes out: no row.
    const bool macTextRefused = sendsIdentity(m_plan.type) && unit.identity.sendMac && !outcome.mac;
    if (m_plan.record && !macTextRefused)
        row.emplace(*m_plan.record, rowFields(unit));

    RoutineOutcome routine;
    bool refused = false;
    IdentityWatch watch(op);
    try {
        refused = row && (outcome.mac || outcome.serial) &&
                  !reserveIdentity(*row, inputs, outcome, messages);
        if (!refused)
            routine = m_plan.run(m_plan.type, inputs, watch);
    } catch (const std::exception& e) {
        messages.show(std::string("Download stopped: ") + e.what());
    }
    outcome.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    outcome.result = refused                                 ? UnitResult::Refused
                     : routine.succeeded                     ? UnitResult::Ok
                     : row && watch.identityMayHaveArrived() ? UnitResult::Unconfirmed
                                                             : UnitResult::Failed;
    outcome.message = messages.last();
    outcome.advancedMac = routine.advancedMac;
    outcome.version = routine.version;
    if (outcome.result == UnitResult::Unconfirmed) {
        tellHeld(*row, outcome, messages);
        // The address is spent, as after a success.
        if (unit.identity.autoIncrease && outcome.mac && !outcome.advancedMac)
            outcome.advancedMac =
                formatMacAddress(advanceMacAddress(splitMacAddress(*outcome.mac)));
    }
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
    fields.bench = m_plan.bench;
    return fields;
}

// The MAC address and serial number are checked and marked pending in one step, so no other run
// (another thread or process) can take them before this unit's row is in. False when they must not
// be sent.
bool DownloadService::reserveIdentity(UnitRow& row, DownloadInputs& inputs, UnitOutcome& outcome,
                                      UnitMessages& messages)
{
    if (m_freeMacs && outcome.mac)
        return reserveNextFree(row, inputs, outcome, messages);
    const auto reservation =
        row.reserve(outcome.mac, outcome.serial, {m_plan.allowReusedMac, m_plan.allowReusedSerial});
    if (reservation.status == record::Reservation::Status::Reserved)
        return true;
    refuseReservation(reservation, row, outcome, messages);
    return false;
}

// Takes addresses (and serial numbers) from the run's counters until the unit's are free; false
// when the record fails or every one tried is used.
bool DownloadService::reserveNextFree(UnitRow& row, DownloadInputs& inputs, UnitOutcome& outcome,
                                      UnitMessages& messages)
{
    std::string first;
    auto mac = m_freeMacs->take();
    auto serial =
        m_freeSerials && outcome.serial ? std::optional(m_freeSerials->take()) : outcome.serial;
    for (int attempt = 0; attempt < MacTriesPerUnit; ++attempt) {
        if (first.empty())
            first = mac;
        const auto reservation =
            row.reserve(mac, serial, {m_plan.allowReusedMac, m_plan.allowReusedSerial});
        if (reservation.status == record::Reservation::Status::Reserved) {
            outcome.mac = inputs.identity.macText = mac;
            outcome.serial = serial;
            inputs.identity.serialNumber = serial.value_or(inputs.identity.serialNumber);
            return true;
        }
        if (reservation.status == record::Reservation::Status::Failed ||
            (reservation.identity == record::Identity::Serial && !m_freeSerials)) {
            outcome.mac = mac;
            refuseReservation(reservation, row, outcome, messages);
            return false;
        }
        // Another bench won this identity: say so, and try the next.
        messages.note(row.usedText(reservation) + "; taking the next");
        if (reservation.identity == record::Identity::Mac)
            mac = m_freeMacs->take();
        else
            serial = m_freeSerials->take();
    }
    refuse(Refusal::Reason::NoFreeMac, first,
           "no free MAC address among " + std::to_string(MacTriesPerUnit) + " from " + first,
           messages);
    return false;
}

void DownloadService::refuseReservation(const record::Reservation& refused, const UnitRow& row,
                                        const UnitOutcome& outcome, UnitMessages& messages) const
{
    const std::string mac = outcome.mac.value_or("");
    if (refused.status == record::Reservation::Status::Failed)
        refuse(Refusal::Reason::RecordFailed, mac, refused.error.text(), messages);
    else if (refused.identity == record::Identity::Serial)
        refuse(Refusal::Reason::SerialUsed, mac, row.usedText(refused), messages);
    else
        refuse(Refusal::Reason::MacUsed, mac, row.usedText(refused), messages);
}

// The unit keeps its identity: say which, and how an operator who checked the unit frees it. The
// identity is spent, so the next unit's address follows it.
void DownloadService::tellHeld(const UnitRow& row, UnitOutcome& outcome,
                               UnitMessages& messages) const
{
    const std::string transferMessage = outcome.message;
    std::string text;
    if (outcome.mac) {
        text = "MAC address " + *outcome.mac + " stays held in " + row.location() +
               ": the recorder may have taken it. Once the unit is checked, free it with "
               "tolvane-cli record release " +
               row.location() + " " + *outcome.mac + " --reason TEXT";
    } else {
        text = "Serial number " + std::to_string(outcome.serial.value_or(0)) + " stays held in " +
               row.location() + ": the recorder may have taken it.";
    }
    messages.show(m_plan.heldWording ? m_plan.heldWording(text) : text);
    outcome.message =
        transferMessage.empty() ? messages.last() : transferMessage + " " + messages.last();
}

void DownloadService::refuse(Refusal::Reason reason, const std::string& mac,
                             const std::string& detail, UnitMessages& messages) const
{
    const Refusal refusal{reason, mac, detail};
    messages.show(m_plan.wording ? m_plan.wording(refusal) : refusal.detail);
}

} // namespace tolvane::service
