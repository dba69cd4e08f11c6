#include "record/report_figures.h"

#include "record/record_entry.h"
#include "record/record_schema.h"
#include "record/report_counter.h"
#include "record/sql_transaction.h"

#include <algorithm>
#include <functional>
#include <map>
#include <tuple>

namespace tolvane::record {

namespace {

// Each unit of the period once, by the row that tells its state: its outcome (an unconfirmed one
// only while no later outcome followed it; "released" once it was released), a pending row that
// still holds what it reserved, or the release of a unit that never had an outcome. Found in one
// pass over the period's rows, looking up other rows of the unit only for the few unconfirmed and
// released ones. A server materialises them once and groups every figure from them; a database in
// this program hands them to a ReportCounter as they come. The texts only the failures and the
// held MACs show are kept for those rows alone, so the rows stay narrow.
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
        CASE WHEN result = 'unconfirmed' AND (SELECT 1 FROM unit_rows AS later
                WHERE later.unit = row.unit AND later.result = 'released' LIMIT 1) = 1
            THEN 'released' ELSE result END AS state
    FROM unit_rows AS row
    WHERE IN_PERIOD
        AND ((result NOT IN ('pending', 'released') AND NOT (result = 'unconfirmed'
                AND EXISTS (SELECT 1 FROM unit_rows AS later WHERE later.unit = row.unit
                    AND later.id > row.id AND later.result NOT IN ('pending', 'released'))))
            OR (result = 'pending' AND (mac_in_use = 1 OR serial_in_use = 1))
            OR (result = 'released' AND NOT EXISTS (SELECT 1 FROM unit_rows AS outcome
                WHERE outcome.unit = row.unit AND outcome.result NOT IN ('pending', 'released')))))
)";

// The figures that build on the states, grouped by a database server (PostgreSQL: a MAC's number
// is read through a bit string, once it is known to be twelve hex digits), and the statement's
// rows: a section name, four texts, two whole numbers and a real number, whichever the section
// needs. Durations are counted to the nearest tenth of a second (a half up, as the program
// counts them), so a median comes from a short table of them. Each device (a MAC, else a serial,
// else the unit) is grouped once, for the first-pass yield and for the runs of MACs handed out.
const std::string Figures = R"(,
cube AS MATERIALIZED (
    SELECT hour, state, bench, floor(duration_s * 10 + 0.5) AS tenths, count(*) AS units
    FROM states GROUP BY hour, state, bench, floor(duration_s * 10 + 0.5)),
devices AS MATERIALIZED (
    SELECT mac, min(CASE WHEN state NOT IN ('refused', 'pending') THEN id END) AS first_id,
        min(CASE WHEN state = 'ok' THEN id END) AS first_ok,
        max(CASE WHEN state != 'refused' THEN 1 ELSE 0 END) AS handed_out
    FROM states GROUP BY device, mac),
histogram AS (
    SELECT bench, tenths, sum(units) AS units
    FROM cube WHERE state NOT IN ('refused', 'pending') GROUP BY bench, tenths),
cumulative AS (
    SELECT bench, tenths,
        CAST(sum(units) OVER (PARTITION BY bench ORDER BY tenths) AS BIGINT) AS upto,
        CAST(sum(units) OVER (PARTITION BY bench) AS BIGINT) AS sent
    FROM histogram),
medians AS (
    SELECT bench, (min(CASE WHEN upto >= (sent + 1) / 2 THEN tenths END)
        + min(CASE WHEN upto >= (sent + 2) / 2 THEN tenths END)) / 20 AS median
    FROM cumulative GROUP BY bench),
islands AS (
    SELECT number, number - ROW_NUMBER() OVER (ORDER BY number) AS island
    FROM (SELECT CAST(CAST('x' || mac AS BIT(48)) AS BIGINT) AS number FROM devices
        WHERE handed_out = 1 AND length(mac) = 12 AND ltrim(mac, '0123456789ABCDEF') = '')
        AS macs),
ranges AS MATERIALIZED (SELECT min(number) AS first_mac, max(number) AS last_mac
    FROM islands GROUP BY island),
held AS MATERIALIZED (SELECT mac, unit, target, time, serial FROM states
    WHERE state = 'unconfirmed' AND mac_in_use = 1 AND mac IS NOT NULL)
SELECT CAST('state' AS TEXT) AS section, state AS a, CAST(NULL AS TEXT) AS b,
    CAST(NULL AS TEXT) AS c, CAST(NULL AS TEXT) AS d, CAST(sum(units) AS BIGINT) AS n,
    CAST(NULL AS BIGINT) AS m, CAST(NULL AS DOUBLE PRECISION) AS x
FROM cube GROUP BY state
UNION ALL SELECT 'first_pass', NULL, NULL, NULL, NULL, count(first_id),
    sum(CASE WHEN first_ok = first_id THEN 1 ELSE 0 END), NULL FROM devices
UNION ALL SELECT 'hour', hour, state, NULL, NULL, CAST(sum(units) AS BIGINT), NULL, NULL
    FROM cube GROUP BY hour, state
UNION ALL SELECT * FROM (SELECT 'failure', message, NULL, NULL, NULL, count(*), NULL_M, NULL_X
    FROM states WHERE state IN ('failed', 'unconfirmed') GROUP BY message
    ORDER BY count(*) DESC, message COLLATE "C" LIMIT MAX_MESSAGES) AS failures
UNION ALL SELECT 'bench', cube.bench, NULL, NULL, NULL, CAST(sum(cube.units) AS BIGINT),
    CAST(sum(CASE WHEN cube.state = 'ok' THEN cube.units ELSE 0 END) AS BIGINT), medians.median
    FROM cube LEFT JOIN medians ON medians.bench = cube.bench
    GROUP BY cube.bench, medians.median
UNION ALL SELECT * FROM (SELECT 'image', version, sha256, NULL, NULL, count(*), NULL_M, NULL_X
    FROM states WHERE version IS NOT NULL OR sha256 IS NOT NULL GROUP BY version, sha256
    ORDER BY count(*) DESC, version COLLATE "C" NULLS FIRST, sha256 COLLATE "C" NULLS FIRST
    LIMIT MAX_LISTED) AS images
UNION ALL SELECT * FROM (SELECT 'mac_range', NULL, NULL, NULL, NULL, first_mac, last_mac, NULL_X
    FROM ranges ORDER BY first_mac LIMIT MAX_LISTED) AS listed_ranges
UNION ALL SELECT 'mac_ranges', NULL, NULL, NULL, NULL, count(*), NULL, NULL FROM ranges
UNION ALL SELECT * FROM (SELECT 'held', mac, unit, target, time, serial, NULL_M, NULL_X
    FROM held ORDER BY mac COLLATE "C" LIMIT MAX_LISTED) AS listed_held
UNION ALL SELECT 'held_count', NULL, NULL, NULL, NULL, count(*), NULL, NULL FROM held)";

void replaceAll(std::string& text, const std::string& word, const std::string& by)
{
    for (auto at = text.find(word); at != std::string::npos; at = text.find(word, at + by.size()))
        text.replace(at, word.size(), by);
}

// The period's unit states, to start a statement with. A bound of the period is written out only
// when it is given, so the database can find the period's rows through its index on time.
std::string withUnitStates(int schemaVersion, const ReportPeriod& period)
{
    std::string statement = "WITH" + UnitStates;
    replaceAll(statement, "FROM SOURCE", "FROM " + unitsSource(schemaVersion));
    replaceAll(statement, "IN_PERIOD",
               std::string(period.since ? "row.time >= $1" : "CAST($1 AS TEXT) IS NULL") + " AND " +
                   (period.until ? "row.time < $2" : "CAST($2 AS TEXT) IS NULL"));
    return statement;
}

std::string figuresStatement(const SqlDialect& dialect, int schemaVersion,
                             const ReportPeriod& period)
{
    std::string statement = withUnitStates(schemaVersion, period) + Figures;
    // A subquery's NULL would be read as text, which the numbers of the other rows do not match.
    replaceAll(statement, "NULL_M", "CAST(NULL AS BIGINT)");
    replaceAll(statement, "NULL_X", "CAST(NULL AS DOUBLE PRECISION)");
    replaceAll(statement, "MAX_MESSAGES", std::to_string(ReportFigures::MaxMessages));
    replaceAll(statement, "MAX_LISTED", std::to_string(ReportFigures::MaxListed));
    return withParameterMarks(statement, dialect);
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
             const auto first = static_cast<std::uint64_t>(number(row[5]));
             const auto last = static_cast<std::uint64_t>(number(row[6]));
             f.macRanges.push_back(
                 {macText(first), macText(last), static_cast<std::int64_t>(last - first + 1)});
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
        const std::uint64_t first = macNumber(ranges[i - 1].last).value_or(0) + 1;
        const std::uint64_t last = macNumber(ranges[i].first).value_or(0) - 1;
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

// The states of the period's units, a row each, as they come.
std::string statesStatement(const SqlDialect& dialect, int schemaVersion,
                            const ReportPeriod& period)
{
    std::string statement = withUnitStates(schemaVersion, period) +
                            "SELECT id, mac, serial, bench, hour, state, duration_s, message, "
                            "version, sha256, mac_in_use, unit, target, time, device FROM states";
    replaceAll(statement, "states AS MATERIALIZED", "states AS NOT MATERIALIZED");
    return withParameterMarks(statement, dialect);
}

std::optional<std::string_view> optionalText(const SqlRowView& row, int column)
{
    return row.isNull(column) ? std::nullopt : std::optional(row.text(column));
}

Result<ReportFigures> countInProgram(SqlConnection& db, int schemaVersion,
                                     const ReportPeriod& period,
                                     const std::vector<SqlValue>& bounds)
{
    ReportCounter counter;
    const auto read = db.forEachRow(statesStatement(db.dialect(), schemaVersion, period), bounds,
                                    [&counter](const SqlRowView& row) {
                                        UnitState unit;
                                        unit.id = row.integer(0);
                                        unit.mac = optionalText(row, 1);
                                        unit.serial = row.isNull(2) ? std::nullopt
                                                                    : std::optional(row.integer(2));
                                        unit.bench = row.text(3);
                                        unit.hour = row.text(4);
                                        unit.state = row.text(5);
                                        unit.durationSeconds = row.real(6);
                                        unit.message = row.text(7);
                                        unit.version = optionalText(row, 8);
                                        unit.sha256 = optionalText(row, 9);
                                        unit.macInUse = row.integer(10) == 1;
                                        unit.unit = row.text(11);
                                        unit.target = row.text(12);
                                        unit.time = row.text(13);
                                        unit.device = row.text(14);
                                        counter.add(unit);
                                    });
    if (!read)
        return read.failure();
    return counter.figures();
}

Result<ReportFigures> groupOnServer(SqlConnection& db, int schemaVersion,
                                    const ReportPeriod& period, const std::vector<SqlValue>& bounds)
{
    const auto transaction = SqlTransaction::begin(db, "BEGIN");
    if (!transaction)
        return transaction.failure();
    if (*db.dialect().groupingSettings) {
        if (const auto set = db.execute(db.dialect().groupingSettings); !set)
            return set.failure();
    }
    const auto rows = db.query(figuresStatement(db.dialect(), schemaVersion, period), bounds);
    if (!rows)
        return rows.failure();
    ReportFigures figures;
    const auto& readers = sectionReaders();
    for (const auto& row : *rows) {
        if (const auto reader = readers.find(text(row[0])); reader != readers.end())
            reader->second(figures, row);
    }
    return figures;
}

} // namespace

Result<ReportFigures> readReportFigures(SqlConnection& db, int schemaVersion,
                                        const ReportPeriod& period)
{
    const auto bound = [](const auto& time) {
        return time ? SqlValue(isoUtcTime(*time)) : SqlValue();
    };
    const std::vector<SqlValue> bounds = {bound(period.since), bound(period.until)};
    auto figures = db.dialect().readsInProcess ? countInProgram(db, schemaVersion, period, bounds)
                                               : groupOnServer(db, schemaVersion, period, bounds);
    if (!figures)
        return figures;
    sortFigures(*figures);
    figures->macGaps = gapsBetween(figures->macRanges);
    return figures;
}

} // namespace tolvane::record
