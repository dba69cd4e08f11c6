#include "cli/record_commands.h"

#include "cli/cli.h"
#include "record/json_lines.h"
#include "record/production_record.h"
#include "record/unit_record.h"
#include "service/file_bytes.h"

#include <algorithm>
#include <string_view>

namespace tolvane::cli {

using namespace tolvane::record;

std::unique_ptr<ProductionRecord> openForReading(const CliCommand& command, std::ostream& err,
                                                 RecordOptions options)
{
    options.readOnly = true;
    auto store = openProductionRecord(command.recordPath.value_or(""), options);
    if (!store) {
        err << "tolvane-cli: " << store.failure().text() << "\n";
        return nullptr;
    }
    return std::move(*store);
}

namespace {

RecordFilter filterOf(const CliCommand& command)
{
    RecordFilter filter;
    filter.mac = command.mac;
    if (command.since)
        filter.since = parseIsoUtcTime(*command.since);
    return filter;
}

std::optional<std::vector<RecordEntry>> selectedRows(const CliCommand& command,
                                                     ProductionRecord& store, std::ostream& err)
{
    auto rows = store.rows(filterOf(command));
    if (!rows) {
        err << "tolvane-cli: " << rows.failure().text() << "\n";
        return std::nullopt;
    }
    return std::move(*rows);
}

std::string padded(std::string text, std::size_t width)
{
    if (text.size() < width)
        text.append(width - text.size(), ' ');
    return text;
}

// The rows of a JSON-lines record; lines that are not rows are left out with a warning, but a
// file with no row at all is not a record.
std::optional<std::vector<RecordEntry>> readJsonLinesFile(const std::string& path,
                                                          std::ostream& err)
{
    RegularFile file;
    std::string error;
    if (!service::openOperatorFile(file, path, &error)) {
        err << "tolvane-cli: " << error << "\n";
        return std::nullopt;
    }
    // Read whole: a million units make about 300 MB, so anything far larger is no record.
    constexpr std::uint64_t LargestRecord = std::uint64_t{2} << 30;
    if (file.size() > LargestRecord) {
        err << "tolvane-cli: " << path
            << " is larger than 2 GiB, too large for a production record; nothing imported\n";
        return std::nullopt;
    }
    std::string content;
    if (!service::forEachBlock(
            file,
            [&content](const std::uint8_t* block, std::size_t size) {
                content.append(reinterpret_cast<const char*>(block), size);
                return true;
            },
            &error)) {
        err << "tolvane-cli: " << error << "\n";
        return std::nullopt;
    }
    JsonLinesRecord lines = readJsonLines(content);
    if (!lines.refused.empty()) {
        constexpr std::size_t Shown = 20;
        for (std::size_t i = 0; i < std::min(lines.refused.size(), Shown); ++i)
            err << "tolvane-cli: " << path << " " << lines.refused[i] << "\n";
        if (lines.refused.size() > Shown)
            err << "tolvane-cli: " << path << ": " << lines.refused.size() - Shown
                << " more such lines\n";
        err << "tolvane-cli: " << path
            << ": mend or remove these lines and import again; nothing imported\n";
        return std::nullopt;
    }
    for (const auto& skipped : lines.skipped)
        err << "tolvane-cli: " << path << " " << skipped << "; left out\n";
    if (lines.entries.empty() && !lines.skipped.empty()) {
        err << "tolvane-cli: " << path
            << " is not a JSON-lines production record; nothing imported\n";
        return std::nullopt;
    }
    return std::move(lines.entries);
}

// The units as a table, with a line that counts them.
void printUnitsTable(const std::vector<UnitLine>& lines, std::ostream& out)
{
    std::size_t targetWidth = 6, benchWidth = 5;
    for (const auto& line : lines) {
        targetWidth = std::max(targetWidth, line.target.size());
        benchWidth = std::max(benchWidth, line.bench.value_or("-").size());
    }
    out << padded("MAC", 12) << "  " << padded("SERIAL", 10) << "  " << padded("STATE", 11) << "  "
        << padded("ATTEMPTS", 8) << "  " << padded("FIRST", 24) << "  " << padded("LAST", 24)
        << "  " << padded("TARGET", targetWidth) << "  " << padded("BENCH", benchWidth)
        << "  VERSION\n";
    for (const auto& line : lines) {
        out << padded(line.mac.value_or("-"), 12) << "  "
            << padded(line.serial ? std::to_string(*line.serial) : "-", 10) << "  "
            << padded(line.state, 11) << "  " << padded(std::to_string(line.attempts), 8) << "  "
            << isoUtcTime(line.firstTime) << "  " << isoUtcTime(line.lastTime) << "  "
            << padded(line.target, targetWidth) << "  "
            << padded(line.bench.value_or("-"), benchWidth) << "  " << line.version.value_or("-")
            << "\n";
    }
    out << lines.size() << (lines.size() == 1 ? " unit.\n" : " units.\n");
}

} // namespace

int runRecordShowCommand(const CliCommand& command, std::ostream& out, std::ostream& err)
{
    const auto store = openForReading(command, err);
    const auto rows = store ? selectedRows(command, *store, err) : std::nullopt;
    if (!rows)
        return ExitFailure;
    std::size_t targetWidth = 6;
    for (const auto& row : *rows)
        targetWidth = std::max(targetWidth, row.target.size());
    out << padded("TIME", 24) << "  " << padded("TARGET", targetWidth) << "  " << padded("TYPE", 10)
        << "  " << padded("MAC", 12) << "  " << padded("SERIAL", 10) << "  " << padded("RESULT", 8)
        << "  MESSAGE\n";
    for (const auto& row : *rows) {
        out << isoUtcTime(row.time) << "  " << padded(row.target, targetWidth) << "  "
            << padded(row.type, 10) << "  " << padded(row.mac.value_or("-"), 12) << "  "
            << padded(row.serial ? std::to_string(*row.serial) : "-", 10) << "  "
            << padded(row.result, 8) << "  " << (row.message.empty() ? "-" : row.message) << "\n";
    }
    out << rows->size() << (rows->size() == 1 ? " row.\n" : " rows.\n");
    return ExitSuccess;
}

int runRecordExportCommand(const CliCommand& command, std::ostream& out, std::ostream& err)
{
    const auto store = openForReading(command, err);
    const auto rows = store ? selectedRows(command, *store, err) : std::nullopt;
    if (!rows)
        return ExitFailure;
    const bool csv = command.recordFormat == RecordFormat::Csv;
    if (csv)
        out << csvHeader();
    for (const auto& row : *rows)
        out << (csv ? csvRow(row) : recordLine(row));
    return ExitSuccess;
}

int runRecordUnitsCommand(const CliCommand& command, std::ostream& out, std::ostream& err)
{
    const auto store = openForReading(command, err);
    if (!store)
        return ExitFailure;
    const auto lines = store->units(filterOf(command));
    if (!lines) {
        err << "tolvane-cli: " << lines.failure().text() << "\n";
        return ExitFailure;
    }
    switch (command.recordFormat) {
    case RecordFormat::Table: printUnitsTable(*lines, out); break;
    case RecordFormat::Csv:
        out << unitLinesCsvHeader();
        for (const auto& line : *lines)
            out << unitLineCsv(line);
        break;
    case RecordFormat::Jsonl:
        for (const auto& line : *lines)
            out << unitLineJson(line);
        break;
    }
    return ExitSuccess;
}

int runRecordReleaseCommand(const CliCommand& command, std::ostream& out, std::ostream& err)
{
    const auto store = openProductionRecord(command.recordPath.value_or(""));
    const auto released = store ? releaseMac(**store, *command.mac, command.reason, command.bench)
                                : Result<RecordEntry>(store.failure());
    if (!released) {
        err << "tolvane-cli: " << released.failure().text() << "\n";
        return ExitFailure;
    }
    out << "Released MAC address " << *command.mac << " of "
        << heldByText(*released, (*store)->location()) << ".\n";
    return ExitSuccess;
}

int runRecordImportCommand(const CliCommand& command, std::ostream& out, std::ostream& err)
{
    const auto entries = readJsonLinesFile(command.file, err);
    if (!entries)
        return ExitFailure;
    const auto store = openProductionRecord(command.recordPath.value_or(""));
    const auto report =
        store ? (*store)->importRows(*entries) : Result<ImportReport>(store.failure());
    if (!report) {
        err << "tolvane-cli: " << report.failure().text() << "; nothing imported\n";
        return ExitFailure;
    }
    for (const auto& duplicate : report->duplicates)
        err << "tolvane-cli: duplicate: " << duplicate << "\n";
    out << "Imported " << report->rows << " rows from " << command.file << " into "
        << (*store)->location() << ".\n";
    if (report->duplicates.empty())
        return ExitSuccess;
    err << "tolvane-cli: " << report->duplicates.size()
        << " imported rows name a MAC address that another unit already holds; the first "
           "holder keeps it\n";
    return ExitFailure;
}

} // namespace tolvane::cli
