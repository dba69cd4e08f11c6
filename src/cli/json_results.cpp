#include "cli/json_results.h"

#include <nlohmann/json.hpp>

#include <cmath>

namespace tolvane::cli {

namespace {

using Json = nlohmann::ordered_json;

template <typename T> Json valueOrNull(const std::optional<T>& value)
{
    return value ? Json(*value) : Json(nullptr);
}

// A recorder's or a file's text may hold bytes that are not UTF-8; they must not end the run.
std::string dumped(const Json& json)
{
    return json.dump(-1, ' ', false, Json::error_handler_t::replace);
}

} // namespace

JsonResults::JsonResults(std::ostream& out, std::vector<std::string> targets)
    : m_out(out), m_targets(std::move(targets))
{
}

void JsonResults::unitFinished(std::size_t unit, const service::UnitOutcome& outcome)
{
    Json line;
    line["target"] = m_targets[unit];
    line["result"] = service::resultName(outcome.result);
    line["message"] = outcome.message;
    line["mac"] = valueOrNull(outcome.mac);
    line["serial"] = valueOrNull(outcome.serial);
    line["seconds"] = std::round(outcome.seconds * 1000) / 1000; // to the millisecond
    writeLine(dumped(line));
}

void JsonResults::summary(const std::vector<service::UnitOutcome>& outcomes,
                          const NextIdentity& next)
{
    Json counts;
    counts["units"] = outcomes.size();
    for (const auto result : {service::UnitResult::Ok, service::UnitResult::Failed,
                              service::UnitResult::Unconfirmed, service::UnitResult::Refused}) {
        std::size_t count = 0;
        for (const auto& outcome : outcomes)
            count += outcome.result == result ? 1 : 0;
        counts[service::resultName(result)] = count;
    }
    counts["next_mac"] = valueOrNull(next.mac);
    counts["next_serial"] = valueOrNull(next.serial);
    writeLine(dumped(Json{{"summary", counts}}));
}

void JsonResults::writeLine(const std::string& line)
{
    std::lock_guard lock(m_mutex);
    m_out << line << "\n";
    m_out.flush();
}

} // namespace tolvane::cli
