#include "cli/download_command.h"

#include "cli/batch_runner.h"
#include "cli/cli_operator.h"
#include "cli/production_record.h"
#include "cli/sha256.h"
#include "cli/targets.h"
#include "core/image/image_version.h"
#include "core/image/mac_address.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <exception>
#include <memory>

namespace tolvane::cli {

namespace {

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

RoutineOutcome runRoutine(const CliCommand& command, DownloadOperator& op,
                          const DownloadTarget& target, const UnitIdentity& identity)
{
    switch (command.downloadKind) {
    case DownloadKind::Application: return downloadApplicationImage(op, command.file, target);
    case DownloadKind::Integrated:
        return downloadIntegratedImage(op, command.file, target, identity);
    case DownloadKind::Ptz: return downloadPtzImage(op, command.file, target);
    case DownloadKind::Data: return downloadIndividualData(op, target, identity);
    }
    return {};
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

} // namespace

int runDownloadCommand(const CliCommand& command, std::ostream& out, std::ostream& err,
                       const CliSettings& settings, ProgressStyle style)
{
    const std::size_t count = command.targets.size();
    const bool batch = count > 1;

    std::unique_ptr<ProductionRecord> record;
    if (command.recordPath) {
        record = std::make_unique<ProductionRecord>(*command.recordPath);
        std::string error;
        if (!record->checkWritable(&error)) {
            err << error << "\n";
            return ExitFailure;
        }
    }

    // The record names the file by its digest; an unreadable file is reported by the routine.
    std::optional<std::string> fileDigest;
    if (command.downloadKind != DownloadKind::Data && record)
        fileDigest = sha256OfFile(command.file);

    std::vector<std::string> labels;
    for (const auto& target : command.targets)
        labels.push_back(targetText(target));
    ProgressBoard board(err, style, labels, settings.terminalColumns);

    std::vector<UnitReport> reports(count);
    runBatch(count, command.jobs, [&](std::size_t i) {
        UnitReport& report = reports[i];
        report.target = labels[i];
        const auto started = std::chrono::steady_clock::now();
        CliOperator op(board, i, settings.deadlines);

        UnitIdentity identity;
        identity.sendMac = command.mac.has_value();
        identity.sendSerial = command.serial.has_value();
        identity.serialNumber = command.serial.value_or(0);
        // In a batch the next address is worked out from the whole batch, not per unit.
        identity.autoIncrease = command.autoIncrease && !batch;
        if (command.mac) {
            identity.macText = macAfter(*command.mac, i);
            report.mac = identity.macText;
        }

        // Every line of this unit carries the same fields; the result and timing change.
        RecordEntry entry;
        if (record) {
            entry.target = report.target;
            entry.type = downloadTypeName(command.downloadKind);
            if (command.downloadKind != DownloadKind::Data) {
                entry.file = command.file;
                entry.sha256 = fileDigest;
            }
            entry.mac = report.mac;
            entry.serial = command.serial;
        }

        RoutineOutcome outcome;
        bool refused = false;
        try {
            if (record)
                entry.unit = newUnitId();
            // The MAC is checked and marked pending in one step under the record's lock, so no
            // other run (another thread or process) can take it before this unit's line is in.
            if (report.mac && record) {
                RecordEntry pending = entry;
                pending.time = std::chrono::system_clock::now();
                pending.result = ResultPending;
                std::string error;
                const auto reserved = record->reserveMac(pending, command.allowReusedMac, &error);
                if (!reserved) {
                    op.showText(error + "; MAC address " + *report.mac + " not sent.");
                    refused = true;
                } else if (!*reserved) {
                    op.showText("MAC address " + *report.mac + " is already recorded in " +
                                record->path() +
                                " as written to a unit, or as sent by a download that did not "
                                "finish; not sent (--allow-reused-mac sends it).");
                    refused = true;
                }
            }
            if (!refused)
                outcome = runRoutine(command, op, command.targets[i], identity);
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
        board.finished(i, outcome.succeeded);

        if (record) {
            entry.time = std::chrono::system_clock::now();
            if (outcome.version)
                entry.version = formatVersion(*outcome.version);
            entry.result = report.result;
            entry.message = report.message;
            entry.durationSeconds = report.seconds;
            std::string error;
            if (!record->append(entry, &error)) {
                board.message(i, error);
                report.recordFailed = true;
            }
        }
    });
    board.close();

    if (batch && style != ProgressStyle::None)
        printSummary(err, reports, command.mac.has_value());

    if (command.autoIncrease && command.mac) {
        // A failed unit keeps its address: the next unit gets the one after the whole batch.
        if (batch)
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
