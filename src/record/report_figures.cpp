#include "record/report_figures.h"

#include "record/record_entry.h"
#include "record/record_schema.h"

#include <algorithm>
#include <cstdio>
#include <functional>
#include <map>
#include <tuple>

namespace tolvane::record {

namespace {

// Each unit of the period once, by the row that tells its state: its outcome (an unconfirmed one
// only while no later outcome followed it; "released" once it was released), a pending row that
// still holds what it reserved, or the release of a unit that never had an outcome. Found in one
// pass over the period's rows, looking up other rows of the unit only for the few unconfirmed and
// released ones; materialised once, every figure is grouped from it. The texts only the failures
// and the held MACs show are kept for those rows alone, so the table stays narrow.
const std::string UnitStates = R"(
unit_rows AS NOT MATERIALIZED (SELECT * FROM SOURCE),
states AS MATERIALIZED (
    SELECT id, COALESCE(mac, CAST(serial AS TEXT), unit) AS device, mac, serial,
        COALESCE(bench, '') AS bench, version, sha256, duration_s, mac_in_use,
        substr(time, 1, 13) AS hour,
        CASE WHEN result IN ('failed', 'unconfirmed') THEN message END AS message,
        CASE WHEN result = 'unconfirmed' THEN unit END AS unit,
        CASE WHEN result = 'unconfirmed' THEN target END AS target,
        CASE WHEN result = 'unconfirmed' THEN time END AS time,
        CASE WHEN result = 'unconfirmed' AND EXISTS (SELECT 1 FROM unit_rows AS later
                WHERE later.unit = row.unit AND later.result = 'released') THEN 'released'
            ELSE result END AS state
    FROM unit_rows AS row
    WHERE (CAST($1 AS TEXT) IS NULL OR row.time >= $1)
        AND (CAST($2 AS TEXT) IS NULL OR row.time < $2)
        AND ((result NOT IN ('pending', 'released') AND NOT (result = 'unconfirmed'
                AND EXISTS (SELECT 1 FROM unit_rows AS later WHERE later.unit = row.unit
                    AND later.id > row.id AND later.result NOT IN ('pending', 'released'))))
            OR (result = 'pending' AND (mac_in_use = 1 OR serial_in_use = 1))
            OR (result = 'released' AND NOT EXISTS (SELECT 1 FROM unit_rows AS outcome
                WHERE outcome.unit = row.unit AND outcome.result NOT IN ('pending', 'released'))))),
)";

// The figures that build on the states, and the statement's rows: a section name, four texts,
// two whole numbers and a real number, whichever the section needs. Durations are counted to a
// tenth of a second, so a median comes from a short table of them.
const std::string Figures = R"(
cube AS MATERIALIZED (
    SELECT hour, state, bench, count(*) AS units FROM states GROUP BY hour, state, bench),
devices AS (
    SELECT min(id) AS first_id, min(CASE WHEN state = 'ok' THEN id END) AS first_ok
    FROM states WHERE state NOT IN ('refused', 'pending')
    GROUP BY device),
histogram AS (
    SELECT bench, round(duration_s * 10) / CAST(10 AS DOUBLE PRECISION) AS seconds,
        count(*) AS units
    FROM states WHERE state NOT IN ('refused', 'pending')
    GROUP BY bench, round(duration_s * 10) / CAST(10 AS DOUBLE PRECISION)),
cumulative AS (
    SELECT bench, seconds,
        CAST(sum(units) OVER (PARTITION BY bench ORDER BY seconds) AS BIGINT) AS upto,
        CAST(sum(units) OVER (PARTITION BY bench) AS BIGINT) AS sent
    FROM histogram),
medians AS (
    SELECT bench, (min(CASE WHEN upto >= (sent + 1) / 2 THEN seconds END)
        + min(CASE WHEN upto >= (sent + 2) / 2 THEN seconds END)) / 2 AS median
    FROM cumulative GROUP BY bench),
macs AS (SELECT DISTINCT mac FROM states WHERE mac IS NOT NULL AND state != 'refused'),
islands AS (SELECT mac, MAC_NUMBER - ROW_NUMBER() OVER (ORDER BY mac) AS island FROM macs),
ranges AS MATERIALIZED (SELECT min(mac) AS first_mac, max(mac) AS last_mac, count(*) AS macs
    FROM islands GROUP BY island),
held AS MATERIALIZED (SELECT mac, unit, target, time, serial FROM states
    WHERE state = 'unconfirmed' AND mac_in_use = 1 AND mac IS NOT NULL)
SELECT CAST('state' AS TEXT) AS section, state AS a, CAST(NULL AS TEXT) AS b,
    CAST(NULL AS TEXT) AS c, CAST(NULL AS TEXT) AS d, CAST(sum(units) AS BIGINT) AS n,
    CAST(NULL AS BIGINT) AS m, CAST(NULL AS DOUBLE PRECISION) AS x
FROM cube GROUP BY state
UNION ALL SELECT 'first_pass', NULL, NULL, NULL, NULL, count(*),
    sum(CASE WHEN first_ok = first_id THEN 1 ELSE 0 END), NULL FROM devices
UNION ALL SELECT 'hour', hour, state, NULL, NULL, CAST(sum(units) AS BIGINT), NULL, NULL
    FROM cube GROUP BY hour, state
UNION ALL SELECT * FROM (SELECT 'failure', message, NULL, NULL, NULL, count(*), NULL_M, NULL_X
    FROM states WHERE state IN ('failed', 'unconfirmed') GROUP BY message
    ORDER BY count(*) DESC, message LIMIT MAX_MESSAGES) AS failures
UNION ALL SELECT 'bench', cube.bench, NULL, NULL, NULL, CAST(sum(cube.units) AS BIGINT),
    CAST(sum(CASE WHEN cube.state = 'ok' THEN cube.units ELSE 0 END) AS BIGINT), medians.median
    FROM cube LEFT JOIN medians ON medians.bench = cube.bench
    GROUP BY cube.bench, medians.median
UNION ALL SELECT * FROM (SELECT 'image', version, sha256, NULL, NULL, count(*), NULL_M, NULL_X
    FROM states WHERE version IS NOT NULL OR sha256 IS NOT NULL GROUP BY version, sha256
    ORDER BY count(*) DESC, version LIMIT MAX_LISTED) AS images
UNION ALL SELECT * FROM (SELECT 'mac_range', first_mac, last_mac, NULL, NULL, macs, NULL_M, NULL_X
    FROM ranges ORDER BY first_mac LIMIT MAX_LISTED) AS listed_ranges
UNION ALL SELECT 'mac_ranges', NULL, NULL, NULL, NULL, count(*), NULL, NULL FROM ranges
UNION ALL SELECT * FROM (SELECT 'held', mac, unit, target, time, serial, NULL_M, NULL_X
    FROM held ORDER BY mac LIMIT MAX_LISTED) AS listed_held
UNION ALL SELECT 'held_count', NULL, NULL, NULL, NULL, count(*), NULL, NULL FROM held)";

// The twelve hex digits of mac as a number, by the dialect's function that finds a text in
// another (its place from 1, 0 when absent).
std::string macNumberExpression(const SqlDialect& dialect)
{
    std::string sum;
    for (int digit = 1; digit <= 12; ++digit) {
        const std::uint64_t weight = std::uint64_t{1} << (4 * (12 - digit));
        sum += std::string(digit > 1 ? " + " : "") + "(" + dialect.findText +
               "('0123456789ABCDEF', substr(mac, " + std::to_string(digit) + ", 1)) - 1) * CAST(" +
               std::to_string(weight) + " AS BIGINT)";
    }
    return "(" + sum + ")";
}

void replaceAll(std::string& text, const std::string& word, const std::string& by)
{
    for (auto at = text.find(word); at != std::string::npos; at = text.find(word, at + by.size()))
        text.replace(at, word.size(), by);
}

std::string figuresStatement(const SqlDialect& dialect, int schemaVersion)
{
    std::string statement = "WITH" + UnitStates + Figures;
    replaceAll(statement, "MAC_NUMBER", macNumberExpression(dialect));
    // A subquery's NULL would be read as text, which the numbers of the other rows do not match.
    replaceAll(statement, "NULL_M", "CAST(NULL AS BIGINT)");
    replaceAll(statement, "NULL_X", "CAST(NULL AS DOUBLE PRECISION)");
    replaceAll(statement, "MAX_MESSAGES", std::to_string(ReportFigures::MaxMessages));
    replaceAll(statement, "MAX_LISTED", std::to_string(ReportFigures::MaxListed));
    replaceAll(statement, "FROM SOURCE", "FROM " + unitsSource(schemaVersion));
    return withParameterMarks(statement, dialect);
}

std::uint64_t macNumber(const std::string& mac)
{
    return std::stoull(mac, nullptr, 16);
}

std::string macText(std::uint64_t number)
{
    char text[13];
    std::snprintf(text, sizeof text, "%012llX", static_cast<unsigned long long>(number));
    return text;
}

std::string text(const SqlValue& value)
{
    return sqlText(value).value_or("");
}

std::int64_t number(const SqlValue& value)
{
    return sqlInteger(value).value_or(0);
}

// Where each section's rows go. The columns: 0 section, 1-4 texts, 5-6 whole numbers, 7 real.
using SectionReader = std::function<void(ReportFigures&, const SqlRow&)>;

std::int64_t* totalOf(ReportFigures::Totals& totals, const std::string& state)
{
    const std::map<std::string, std::int64_t ReportFigures::Totals::*> fields = {
        {ResultOk, &ReportFigures::Totals::ok},
        {ResultFailed, &ReportFigures::Totals::failed},
        {ResultUnconfirmed, &ReportFigures::Totals::unconfirmed},
        {ResultRefused, &ReportFigures::Totals::refused},
        {ResultReleased, &ReportFigures::Totals::released},
        {ResultPending, &ReportFigures::Totals::pending}};
    const auto field = fields.find(state);
    return field == fields.end() ? nullptr : &(totals.*(field->second));
}

const std::map<std::string, SectionReader>& sectionReaders()
{
    static const std::map<std::string, SectionReader> readers = {
        {"state",
         [](ReportFigures& f, const SqlRow& row) {
             f.totals.units += number(row[5]);
             if (auto* total = totalOf(f.totals, text(row[1])))
                 *total += number(row[5]);
         }},
        {"first_pass",
         [](ReportFigures& f, const SqlRow& row) {
             f.firstPassDevices = number(row[5]);
             f.firstPassOk = number(row[6]);
         }},
        {"hour",
         [](ReportFigures& f, const SqlRow& row) {
             f.hours.push_back({text(row[1]), text(row[2]), number(row[5])});
         }},
        {"failure",
         [](ReportFigures& f, const SqlRow& row) {
             f.failures.push_back({text(row[1]), number(row[5])});
         }},
        {"bench",
         [](ReportFigures& f, const SqlRow& row) {
             const bool timed = !std::holds_alternative<std::monostate>(row[7]);
             f.benches.push_back({text(row[1]), number(row[5]), number(row[6]),
                                  timed ? std::optional(sqlReal(row[7])) : std::nullopt});
         }},
        {"image",
         [](ReportFigures& f, const SqlRow& row) {
             f.images.push_back({sqlText(row[1]), sqlText(row[2]), number(row[5])});
         }},
        {"mac_range",
         [](ReportFigures& f, const SqlRow& row) {
             f.macRanges.push_back({text(row[1]), text(row[2]), number(row[5])});
         }},
        {"mac_ranges",
         [](ReportFigures& f, const SqlRow& row) { f.macRangeCount = number(row[5]); }},
        {"held",
         [](ReportFigures& f, const SqlRow& row) {
             const auto serial = sqlInteger(row[5]);
             f.held.push_back(
                 {text(row[1]),
                  serial ? std::optional(static_cast<std::uint32_t>(*serial)) : std::nullopt,
                  text(row[2]), text(row[3]), text(row[4])});
         }},
        {"held_count", [](ReportFigures& f, const SqlRow& row) { f.heldCount = number(row[5]); }},
    };
    return readers;
}

// The addresses between one listed range and the next.
std::vector<ReportFigures::MacRange> gapsBetween(const std::vector<ReportFigures::MacRange>& ranges)
{
    std::vector<ReportFigures::MacRange> gaps;
    for (std::size_t i = 1; i < ranges.size(); ++i) {
        const std::uint64_t first = macNumber(ranges[i - 1].last) + 1;
        const std::uint64_t last = macNumber(ranges[i].first) - 1;
        if (first <= last)
            gaps.push_back(
                {macText(first), macText(last), static_cast<std::int64_t>(last - first + 1)});
    }
    return gaps;
}

// The sections come in the database's order; hours and benches are shown in theirs.
void sortFigures(ReportFigures& figures)
{
    std::sort(figures.hours.begin(), figures.hours.end(), [](const auto& a, const auto& b) {
        return std::tie(a.hour, a.state) < std::tie(b.hour, b.state);
    });
    std::sort(figures.benches.begin(), figures.benches.end(),
              [](const auto& a, const auto& b) { return a.name < b.name; });
}

} // namespace

Result<ReportFigures> readReportFigures(SqlConnection& db, int schemaVersion,
                                        const ReportPeriod& period)
{
    const auto bound = [](const auto& time) {
        return time ? SqlValue(isoUtcTime(*time)) : SqlValue();
    };
    const auto rows = db.query(figuresStatement(db.dialect(), schemaVersion),
                               {bound(period.since), bound(period.until)});
    if (!rows)
        return rows.failure();
    ReportFigures figures;
    const auto& readers = sectionReaders();
    for (const auto& row : *rows) {
        if (const auto reader = readers.find(text(row[0])); reader != readers.end())
            reader->second(figures, row);
    }
    sortFigures(figures);
    figures.macGaps = gapsBetween(figures.macRanges);
    return figures;
}

} // namespace tolvane::record
