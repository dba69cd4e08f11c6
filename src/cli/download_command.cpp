#include "cli/download_command.h"

#include "cli/batch_runner.h"
#include "cli/cli_operator.h"
#include "cli/targets.h"
#include "core/base/messages.h"
#include "core/base/regular_file.h"
#include "core/image/image_version.h"
#include "core/image/mac_address.h"
#include "record/sha256.h"
#include "record/unit_record.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <exception>
#include <memory>
#include <mutex>
#include <utility>

namespace tolvane::cli {

namespace {

using record::ProductionRecord;
using record::RecordEntry;
using record::Reservation;
using record::ResultFailed;
using record::ResultOk;
using record::ResultRefused;

struct UnitReport {
    std::string target;
    std::optional<std::string> mac;
    bool succeeded = false;
    std::string result = ResultFailed;
    std::string message;
    double seconds = 0;
    std::optional<std::string> advancedMac;
    bool recordFailed = false;
};

std::string macAfter(const std::string& base, std::size_t steps)
{
    MacPair pair = splitMacAddress(base);
    for (std::size_t i = 0; i < steps; ++i)
        pair = advanceMacAddress(pair);
    return formatMacAddress(pair);
}

std::string padded(std::string text, std::size_t width)
{
    if (text.size() < width)
        text.append(width - text.size(), ' ');
    return text;
}

void printSummary(std::ostream& err, const std::vector<UnitReport>& reports, bool withMac)
{
    std::size_t targetWidth = 6;
    for (const auto& report : reports)
        targetWidth = std::max(targetWidth, report.target.size());
    err << "\n"
        << padded("TARGET", targetWidth) << "  " << padded("RESULT", 8) << "  " << padded("TIME", 9)
        << "  ";
    if (withMac)
        err << padded("MAC", 12) << "  ";
    err << "MESSAGE\n";
    std::size_t succeeded = 0;
    for (const auto& report : reports) {
        char seconds[32];
        std::snprintf(seconds, sizeof seconds, "%.2f s", report.seconds);
        err << padded(report.target, targetWidth) << "  " << padded(report.result, 8) << "  "
            << padded(seconds, 9) << "  ";
        if (withMac)
            err << padded(report.mac.value_or("-"), 12) << "  ";
        err << (report.message.empty() ? "-" : report.message) << "\n";
        if (report.succeeded)
            ++succeeded;
    }
    err << succeeded << " of " << reports.size() << " units succeeded.\n";
}

// With --skip-used-macs the units of a run take MAC addresses from one counter, in the order
// they reserve them: a unit whose address another bench holds takes the next one.
class MacCounter {
public:
    explicit MacCounter(const std::string& first) : m_next(splitMacAddress(first)) {}

    std::string take()
    {
        std::lock_guard lock(m_mutex);
        const std::string mac = formatMacAddress(m_next);
        m_next = advanceMacAddress(m_next);
        return mac;
    }
    std::string next() const
    {
        std::lock_guard lock(m_mutex);
        return formatMacAddress(m_next);
    }

private:
    mutable std::mutex m_mutex;
    MacPair m_next;
};

// How many used addresses one unit passes over before it gives up.
constexpr int MacTriesPerUnit = 1000;

// What every unit of one run shares.
struct DownloadRun {
    const CliCommand& command;
    const CliSettings& settings;
    ProgressBoard& board;
    ProductionRecord* record = nullptr; // without --record, none
    std::optional<std::string> fileDigest;
    bool batch = false;
    MacCounter* macCounter = nullptr; // with --skip-used-macs
};

UnitIdentity unitIdentity(const DownloadRun& run, std::size_t index)
{
    const CliCommand& command = run.command;
    UnitIdentity identity;
    identity.sendMac = command.mac.has_value();
    identity.sendSerial = command.serial.has_value();
    identity.serialNumber = command.serial.value_or(0);
    // In a batch the next address is worked out from the whole batch, not per unit.
    identity.autoIncrease = command.autoIncrease && !run.batch;
    if (command.mac)
        identity.macText = macAfter(*command.mac, index);
    return identity;
}

// Every row of this unit carries the same fields; the result and timing change.
RecordEntry unitFields(const DownloadRun& run, const UnitReport& report)
{
    RecordEntry entry;
    entry.target = report.target;
    entry.type = downloadTypeName(run.command.downloadType);
    if (run.command.downloadType != DownloadType::IndividualData) {
        entry.file = run.command.file;
        entry.sha256 = run.fileDigest;
    }
    entry.mac = report.mac;
    entry.serial = run.command.serial;
    return entry;
}

// The MAC is checked and marked pending in one transaction, so no other run (another thread or
// process) can take it before this unit's row is in. False when the MAC must not be sent.
bool reserveMac(const DownloadRun& run, record::UnitRecord& unit, const std::string& mac,
                CliOperator& op)
{
    const Reservation reservation = unit.reserve(run.command.allowReusedMac);
    switch (reservation.status) {
    case Reservation::Status::Reserved: return true;
    case Reservation::Status::Used:
        op.showText(record::macUsedText(mac, *reservation.holder, run.record->location()) +
                    "; not sent (--allow-reused-mac sends it).");
        return false;
    case Reservation::Status::Failed: break;
    }
    op.showText(reservation.error.text() + "; MAC address " + mac + " not sent.");
    return false;
}

// Takes addresses from the run's counter until one is free; nothing when the record fails or
// every address tried is used.
std::optional<std::string> reserveNextFreeMac(const DownloadRun& run, std::size_t index,
                                              record::UnitRecord& unit, CliOperator& op)
{
    std::string first;
    for (int attempt = 0; attempt < MacTriesPerUnit; ++attempt) {
        const std::string mac = run.macCounter->take();
        if (first.empty())
            first = mac;
        unit.setMac(mac);
        const Reservation reservation = unit.reserve(run.command.allowReusedMac);
        if (reservation.status == Reservation::Status::Reserved)
            return mac;
        if (reservation.status == Reservation::Status::Failed) {
            op.showText(reservation.error.text() + "; MAC address " + mac + " not sent.");
            return std::nullopt;
        }
        // Another bench won this address: say so, and try the next.
        run.board.message(index,
                          record::macUsedText(mac, *reservation.holder, run.record->location()) +
                              "; taking the next");
    }
    op.showText("no free MAC address among " + std::to_string(MacTriesPerUnit) + " from " + first +
                "; nothing sent.");
    return std::nullopt;
}

void recordOutcome(const DownloadRun& run, std::size_t index, record::UnitRecord& unit,
                   const RoutineOutcome& outcome, UnitReport& report)
{
    const auto version =
        outcome.version ? std::optional(formatVersion(*outcome.version)) : std::nullopt;
    const auto finished = unit.finish(report.result, report.message, report.seconds, version);
    if (!finished) {
        run.board.message(index, finished.failure().text());
        report.recordFailed = true;
    }
}

// Sends one unit its download and writes its record line.
UnitReport runUnit(const DownloadRun& run, std::size_t index, const std::string& label)
{
    UnitReport report;
    report.target = label;
    const auto started = std::chrono::steady_clock::now();
    CliOperator op(run.board, index, run.settings.deadlines);
    DownloadInputs inputs{run.command.file, run.command.targets[index], unitIdentity(run, index)};
    if (run.command.mac)
        report.mac = inputs.identity.macText;
    std::optional<record::UnitRecord> unit;
    if (run.record)
        unit.emplace(*run.record, unitFields(run, report));

    RoutineOutcome outcome;
    bool refused = false;
    try {
        if (report.mac && unit && run.macCounter) {
            const auto mac = reserveNextFreeMac(run, index, *unit, op);
            refused = !mac;
            if (mac)
                report.mac = inputs.identity.macText = *mac;
        } else if (report.mac && unit) {
            refused = !reserveMac(run, *unit, *report.mac, op);
        }
        if (!refused)
            outcome = runDownload(run.command.downloadType, inputs, op);
    } catch (const std::exception& e) {
        op.showText(std::string("Download stopped: ") + e.what());
        outcome.succeeded = false;
    }
    report.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    report.succeeded = outcome.succeeded;
    report.result = refused ? ResultRefused : outcome.succeeded ? ResultOk : ResultFailed;
    report.message = op.lastMessage();
    report.advancedMac = outcome.advancedMac;
    run.board.finished(index, outcome.succeeded);
    if (unit)
        recordOutcome(run, index, *unit, outcome, report);
    return report;
}

// What to say when the file a download sends cannot be read (the routine's own message, then
// the file and the reason), or nothing when it can. Asked before the record is opened, so a
// wrong name leaves no record file and no row behind.
std::optional<std::string> unreadableFileText(const std::string& path)
{
    RegularFile file;
    const auto opened = file.open(path);
    if (opened)
        return std::nullopt;
    // A file that opened but is not regular fails with no system error of its own.
    const Failure& failure = opened.failure();
    const MessageId id =
        failure.error == ENOENT ? MessageId::NoImageFile : MessageId::CannotOpenImageFile;
    return std::string(messageText(id)) + "\ntolvane-cli: " + path + ": " +
           (failure.error != 0 ? systemErrorText(failure.error) : "not a regular file") + "\n";
}

} // namespace

int runDownloadCommand(const CliCommand& command, std::ostream& out, std::ostream& err,
                       const CliSettings& settings, ProgressStyle style)
{
    const std::size_t count = command.targets.size();
    const bool batch = count > 1;

    if (command.downloadType != DownloadType::IndividualData) {
        if (const auto text = unreadableFileText(command.file)) {
            err << *text;
            return ExitFailure;
        }
    }

    std::unique_ptr<ProductionRecord> record;
    if (command.recordPath) {
        auto opened = record::openProductionRecord(*command.recordPath);
        if (!opened) {
            err << "tolvane-cli: " << opened.failure().text() << "\n";
            return ExitFailure;
        }
        record = std::move(*opened);
    }

    // The record names the file by its digest; a file that fails to read now is reported by the
    // routine.
    std::optional<std::string> fileDigest;
    if (command.downloadType != DownloadType::IndividualData && record) {
        if (auto digest = record::sha256OfFile(command.file))
            fileDigest = std::move(digest).value();
    }

    std::vector<std::string> labels;
    for (const auto& target : command.targets)
        labels.push_back(targetText(target));
    ProgressBoard board(err, style, labels, settings.terminalColumns);
    std::optional<MacCounter> macCounter;
    if (command.skipUsedMacs && command.mac)
        macCounter.emplace(*command.mac);
    const DownloadRun run{command,
                          settings,
                          board,
                          record.get(),
                          fileDigest,
                          batch,
                          macCounter ? &*macCounter : nullptr};

    std::vector<UnitReport> reports(count);
    runBatch(count, command.jobs, [&](std::size_t i) { reports[i] = runUnit(run, i, labels[i]); });
    board.close();

    if (batch && style != ProgressStyle::None)
        printSummary(err, reports, command.mac.has_value());

    if (command.autoIncrease && command.mac) {
        // A failed unit keeps its address: the next unit gets the one after the whole batch.
        if (macCounter)
            out << macCounter->next() << "\n";
        else if (batch)
            out << macAfter(*command.mac, count) << "\n";
        else if (reports[0].advancedMac)
            out << *reports[0].advancedMac << "\n";
        out.flush();
    }

    const bool allSucceeded = std::all_of(reports.begin(), reports.end(), [](const auto& r) {
        return r.succeeded && !r.recordFailed;
    });
    return allSucceeded ? ExitSuccess : ExitFailure;
}

} // namespace tolvane::cli
