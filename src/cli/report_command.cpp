#include "cli/report_command.h"

#include "cli/cli.h"
#include "cli/record_commands.h"
#include "core/base/atomic_file.h"
#include "report/report_page.h"

namespace tolvane::cli {

namespace {

std::optional<std::chrono::system_clock::time_point> timeOf(const std::optional<std::string>& text)
{
    return text ? record::parseIsoUtcTime(*text) : std::nullopt;
}

// A record server counts a report's one statement over a large record for longer than it takes
// to answer a reservation.
record::RecordOptions reportOptions()
{
    record::RecordOptions options;
    options.answerTimeout = std::chrono::minutes(5);
    return options;
}

int told(std::ostream& err, const Failure& failure)
{
    err << "tolvane-cli: " << failure.text() << "\n";
    return ExitFailure;
}

} // namespace

int runRecordReportCommand(const CliCommand& command, std::ostream& out, std::ostream& err)
{
    // The page's file and Chart.js first: a report that cannot be written is told before the
    // record is read.
    std::optional<AtomicFile> page;
    std::string chartScript;
    if (command.htmlPath) {
        page.emplace(*command.htmlPath);
        if (auto opened = page->open(); !opened)
            return told(err, opened.failure());
        auto script = report::readChartScript();
        if (!script)
            return told(err, script.failure());
        chartScript = std::move(*script);
    }
    const auto store = openForReading(command, err, reportOptions());
    if (!store)
        return ExitFailure;
    const report::ReportContext context{store->location(),
                                        {timeOf(command.since), timeOf(command.until)},
                                        std::chrono::system_clock::now()};
    const auto figures = store->reportFigures(context.period);
    if (!figures)
        return told(err, figures.failure());
    if (!page) {
        out << report::reportJson(*figures, context);
        return ExitSuccess;
    }
    const std::string html = report::reportPage(*figures, context, chartScript);
    if (auto written = page->write(html.data(), html.size()); !written)
        return told(err, written.failure());
    if (auto committed = page->commit(); !committed)
        return told(err, committed.failure());
    out << "Wrote the report of " << figures->totals.units
        << (figures->totals.units == 1 ? " unit" : " units") << " to " << *command.htmlPath
        << ".\n";
    return ExitSuccess;
}

} // namespace tolvane::cli
