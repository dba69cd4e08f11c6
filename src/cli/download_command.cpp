#include "cli/download_command.h"

#include "cli/json_results.h"
#include "cli/message_lines.h"
#include "core/base/messages.h"
#include "core/image/mac_address.h"
#include "record/production_record.h"
#include "service/download_service.h"
#include "service/image_file.h"
#include "service/refusal_wording.h"
#include "service/targets.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <utility>

namespace tolvane::cli {

namespace {

using service::UnitOutcome;

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

void printSummary(std::ostream& err, const std::vector<std::string>& targets,
                  const std::vector<UnitOutcome>& outcomes, bool withMac)
{
    std::size_t targetWidth = 6;
    for (const auto& target : targets)
        targetWidth = std::max(targetWidth, target.size());
    // "unconfirmed" is wider than the other results; the column widens only when it is there.
    std::size_t resultWidth = 8;
    for (const auto& outcome : outcomes)
        resultWidth =
            std::max(resultWidth, std::string(service::resultName(outcome.result)).size());
    err << "\n"
        << padded("TARGET", targetWidth) << "  " << padded("RESULT", resultWidth) << "  "
        << padded("TIME", 9) << "  ";
    if (withMac)
        err << padded("MAC", 12) << "  ";
    err << "MESSAGE\n";
    std::size_t succeeded = 0;
    for (std::size_t i = 0; i < outcomes.size(); ++i) {
        const UnitOutcome& outcome = outcomes[i];
        char seconds[32];
        std::snprintf(seconds, sizeof seconds, "%.2f s", outcome.seconds);
        err << padded(targets[i], targetWidth) << "  "
            << padded(service::resultName(outcome.result), resultWidth) << "  "
            << padded(seconds, 9) << "  ";
        if (withMac)
            err << padded(outcome.mac.value_or("-"), 12) << "  ";
        err << (outcome.message.empty() ? "-" : outcome.message) << "\n";
        if (outcome.succeeded())
            ++succeeded;
    }
    err << succeeded << " of " << outcomes.size() << " units succeeded.\n";
}

// Every unit's messages, transfers and end on the progress board, and with --json its result.
class BoardObserver : public service::UnitObserver {
public:
    BoardObserver(ProgressBoard& board, JsonResults* json) : m_board(board), m_json(json) {}

    void message(std::size_t unit, const std::string& text) override
    {
        m_board.message(unit, text);
    }
    void note(std::size_t unit, const std::string& text) override { m_board.message(unit, text); }
    void transferStarted(std::size_t unit, std::uint32_t typeCode) override
    {
        m_board.transferStarted(unit, typeCode);
    }
    void stage(std::size_t unit, int stage) override { m_board.stage(unit, stage); }
    void progress(std::size_t unit, int percent) override { m_board.progress(unit, percent); }
    void unitFinished(std::size_t unit, const UnitOutcome& outcome) override
    {
        m_board.finished(unit, outcome.succeeded());
        if (outcome.recordFailure)
            m_board.message(unit, outcome.recordFailure->text());
        if (m_json)
            m_json->unitFinished(unit, outcome);
    }

private:
    ProgressBoard& m_board;
    JsonResults* m_json;
};

// Each target with its identity: consecutive MAC addresses from --mac, consecutive serial numbers
// from --serial.
std::vector<service::UnitRequest> unitRequests(const CliCommand& command)
{
    std::vector<service::UnitRequest> units;
    for (std::size_t i = 0; i < command.targets.size(); ++i) {
        UnitIdentity identity;
        identity.sendMac = command.mac.has_value();
        identity.sendSerial = command.serial.has_value();
        identity.serialNumber = command.serial.value_or(0) + static_cast<std::uint32_t>(i);
        // In a batch the next address is worked out from the whole batch, not per unit.
        identity.autoIncrease = command.autoIncrease && command.targets.size() == 1;
        if (command.mac)
            identity.macText = macAfter(*command.mac, i);
        units.push_back({command.targets[i], identity});
    }
    return units;
}

service::DownloadPlan downloadPlan(const CliCommand& command, record::ProductionRecord* record)
{
    service::DownloadPlan plan;
    plan.type = command.downloadType;
    plan.file = command.file;
    plan.record = record;
    plan.allowReusedMac = command.allowReusedMac;
    plan.allowReusedSerial = command.allowReusedSerial;
    if (command.skipUsedMacs && command.mac) {
        plan.freeMacsFrom = command.mac;
        plan.freeSerialsFrom = command.serial;
    }
    plan.bench = command.bench;
    plan.wording = service::refusalText;
    return plan;
}

// What to say when the file a download sends cannot be read (the routine's own message, then
// the file and the reason), or nothing when it can. Asked before the record is opened, so a
// wrong name leaves no record file and no row behind.
std::optional<std::string> unreadableFileText(const std::string& path)
{
    const auto readable = service::checkFileReadable(path);
    if (readable)
        return std::nullopt;
    // A file that opened but is not regular fails with no system error of its own.
    const Failure& failure = readable.failure();
    return MessagePrefix +
           std::string(messageText(failure.message.value_or(MessageId::CannotOpenImageFile))) +
           "\n" + MessagePrefix + path + ": " +
           (failure.error != 0 ? systemErrorText(failure.error) : "not a regular file") + "\n";
}

// With --auto-increase, the MAC address for the next unit and, with --serial, its serial number.
NextIdentity nextIdentity(const CliCommand& command, const service::BatchOutcome& batch)
{
    if (!command.autoIncrease || !command.mac)
        return {};
    // The next unit follows the last one whose identity went out (ok or unconfirmed); a failed
    // unit's address is free again, and one never sent (the record refused it) is not spent.
    std::size_t steps = 0;
    for (std::size_t i = 0; i < batch.units.size(); ++i) {
        const auto result = batch.units[i]->result;
        if (result == service::UnitResult::Ok || result == service::UnitResult::Unconfirmed)
            steps = i + 1;
    }
    NextIdentity next;
    if (batch.nextFreeMac)
        next.mac = batch.nextFreeMac;
    else if (batch.units.size() > 1)
        next.mac = macAfter(*command.mac, steps);
    else if (batch.units[0]->advancedMac)
        next.mac = batch.units[0]->advancedMac;
    else
        return {};
    if (command.serial && batch.nextFreeSerial)
        next.serial = batch.nextFreeSerial;
    else if (command.serial)
        next.serial = *command.serial + static_cast<std::uint32_t>(steps);
    return next;
}

// The next identity on stdout, the MAC address on one line and the serial number on a second.
void printNextIdentity(std::ostream& out, const NextIdentity& next)
{
    if (next.mac)
        out << *next.mac << "\n";
    if (next.serial)
        out << *next.serial << "\n";
    out.flush();
}

} // namespace

int runDownloadCommand(const CliCommand& command, std::ostream& out, std::ostream& err,
                       const CliSettings& settings, ProgressStyle style)
{
    if (command.downloadType != DownloadType::IndividualData) {
        if (const auto text = unreadableFileText(command.file)) {
            err << *text;
            return ExitFailure;
        }
    }
    std::unique_ptr<record::ProductionRecord> record;
    if (command.recordPath) {
        auto opened = record::openProductionRecord(*command.recordPath);
        if (!opened) {
            err << "tolvane-cli: " << opened.failure().text() << "\n";
            return ExitFailure;
        }
        record = std::move(*opened);
    }

    std::vector<std::string> labels;
    for (const auto& target : command.targets)
        labels.push_back(targetText(target));
    ProgressBoard board(err, style, labels, settings.terminalColumns);
    std::optional<JsonResults> json;
    if (command.json)
        json.emplace(out, labels);
    BoardObserver observer(board, json ? &*json : nullptr);
    service::DownloadService downloads(downloadPlan(command, record.get()));
    const service::BatchOutcome batch =
        downloads.runBatch(unitRequests(command), {command.jobs, settings.deadlines}, observer);
    board.close();

    // Nothing stops this run, so every unit has its outcome.
    std::vector<UnitOutcome> outcomes;
    for (const auto& unit : batch.units)
        outcomes.push_back(*unit);
    if (labels.size() > 1 && style != ProgressStyle::None)
        printSummary(err, labels, outcomes, command.mac.has_value());
    const NextIdentity next = nextIdentity(command, batch);
    if (json)
        json->summary(outcomes, next);
    else
        printNextIdentity(out, next);
    const bool allSucceeded = std::all_of(outcomes.begin(), outcomes.end(), [](const auto& unit) {
        return unit.succeeded() && !unit.recordFailure;
    });
    return allSucceeded ? ExitSuccess : ExitFailure;
}

} // namespace tolvane::cli
