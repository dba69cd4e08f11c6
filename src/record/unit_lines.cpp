#include "record/unit_lines.h"

namespace tolvane::record {

std::string unitLinesStatement(const std::string& source)
{
    // The row that decides a line is the one holding its identity, else the latest.
    return R"(
WITH keyed AS (
    SELECT id, time, target, bench, version, mac, serial, unit, result,
        CASE WHEN mac IS NULL THEN serial_in_use ELSE mac_in_use END AS holds,
        COALESCE(mac, 'serial ' || CAST(serial AS TEXT)) AS identity
    FROM )" +
           source +
           R"( WHERE mac IS NOT NULL OR serial IS NOT NULL),
lines AS (
    SELECT identity, count(DISTINCT unit) AS attempts, min(time) AS first_time,
        max(time) AS last_time, COALESCE(max(CASE WHEN holds = 1 THEN id END), max(id)) AS decides
    FROM keyed GROUP BY identity)
SELECT keyed.mac, keyed.serial, keyed.result, lines.attempts, lines.first_time, lines.last_time,
    keyed.target, keyed.bench, keyed.version
FROM lines JOIN keyed ON keyed.id = lines.decides
WHERE (CAST($1 AS TEXT) IS NULL OR lines.identity = $1)
    AND (CAST($2 AS TEXT) IS NULL OR lines.last_time >= $2)
ORDER BY lines.first_time, lines.decides)";
}

UnitLine readUnitLine(const SqlRow& row)
{
    const auto time = [&](std::size_t column) {
        return parseIsoUtcTime(sqlText(row[column]).value_or(""))
            .value_or(std::chrono::system_clock::time_point{});
    };
    UnitLine line;
    line.mac = sqlText(row[0]);
    if (const auto serial = sqlInteger(row[1]))
        line.serial = static_cast<std::uint32_t>(*serial);
    line.state = sqlText(row[2]).value_or("");
    line.attempts = static_cast<int>(sqlInteger(row[3]).value_or(0));
    line.firstTime = time(4);
    line.lastTime = time(5);
    line.target = sqlText(row[6]).value_or("");
    line.bench = sqlText(row[7]);
    line.version = sqlText(row[8]);
    return line;
}

} // namespace tolvane::record
