#include "record/postgres_connection.h"

#include <poll.h>

#include <cerrno>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

namespace tolvane::record {

namespace {

// How long a cancel request for a query the server never answered may take.
constexpr std::chrono::seconds CancelLimit{2};

// "10", "10.5": a limit as messages show it, in seconds.
std::string secondsText(std::chrono::milliseconds limit)
{
    std::string text = std::to_string(limit.count() / 1000);
    if (const auto rest = limit.count() % 1000) {
        std::string fraction = std::to_string(1000 + rest).substr(1);
        fraction.erase(fraction.find_last_not_of('0') + 1);
        text += "." + fraction;
    }
    return text;
}

// A parameter as libpq takes it: text, or null.
std::optional<std::string> parameterText(const SqlValue& value)
{
    if (const auto* real = std::get_if<double>(&value))
        return std::to_string(*real);
    return sqlText(value);
}

bool succeeded(const PGresult* result)
{
    const auto status = PQresultStatus(result);
    return status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK;
}

} // namespace

std::string oneLine(const std::string& text)
{
    std::string line;
    bool space = false;
    for (const char c : text) {
        if (c == '\n' || c == '\t' || c == '\r' || c == ' ') {
            space = !line.empty();
            continue;
        }
        if (space)
            line += ' ';
        space = false;
        line += c;
    }
    return line;
}

PostgresConnection::PostgresConnection(std::string location, PGconn* connection,
                                       std::chrono::milliseconds answerLimit)
    : m_location(std::move(location)), m_connection(connection), m_answerLimit(answerLimit)
{
}

PostgresConnection::~PostgresConnection()
{
    PQfinish(m_connection);
}

Result<void> PostgresConnection::execute(const std::string& script)
{
    if (!succeeded(run(script, {}).get()))
        return failure();
    return {};
}

Result<SqlRows> PostgresConnection::query(const std::string& statement,
                                          const std::vector<SqlValue>& parameters)
{
    const Answer answer = run(statement, parameters);
    if (!succeeded(answer.get()))
        return failure();
    SqlRows rows(static_cast<std::size_t>(PQntuples(answer.get())));
    for (int row = 0; row < PQntuples(answer.get()); ++row) {
        for (int column = 0; column < PQnfields(answer.get()); ++column) {
            if (PQgetisnull(answer.get(), row, column))
                rows[row].emplace_back();
            else
                rows[row].emplace_back(
                    std::string(PQgetvalue(answer.get(), row, column),
                                static_cast<std::size_t>(PQgetlength(answer.get(), row, column))));
        }
    }
    return rows;
}

Failure PostgresConnection::failure() const
{
    if (!m_silent.empty())
        return {0, m_silent};
    return {0, "record " + m_location + ": " + oneLine(PQerrorMessage(m_connection))};
}

PostgresConnection::Answer PostgresConnection::run(const std::string& statement,
                                                   const std::vector<SqlValue>& parameters)
{
    if (!m_silent.empty() || !send(statement, parameters))
        return nullptr;
    const auto deadline = std::chrono::steady_clock::now() + m_answerLimit;
    for (int flushed; (flushed = PQflush(m_connection)) != 0;) {
        if (flushed < 0)
            return nullptr;
        const short ready = wait(POLLIN | POLLOUT, deadline);
        if (ready == 0)
            return silent();
        // The server may answer (an error) before it has read the whole query.
        if ((ready & POLLIN) && !PQconsumeInput(m_connection))
            break;
    }
    return lastResult(deadline);
}

bool PostgresConnection::send(const std::string& statement, const std::vector<SqlValue>& parameters)
{
    // Only the simple protocol runs several statements at once, as the schema does.
    if (parameters.empty())
        return PQsendQuery(m_connection, statement.c_str()) != 0;
    std::vector<std::optional<std::string>> texts;
    std::vector<const char*> values;
    for (const auto& parameter : parameters)
        texts.push_back(parameterText(parameter));
    for (const auto& text : texts)
        values.push_back(text ? text->c_str() : nullptr);
    return PQsendQueryParams(m_connection, statement.c_str(), static_cast<int>(values.size()),
                             nullptr, values.data(), nullptr, nullptr, 0) != 0;
}

PostgresConnection::Answer
PostgresConnection::lastResult(std::chrono::steady_clock::time_point deadline)
{
    Answer last;
    for (;;) {
        while (PQisBusy(m_connection)) {
            if (wait(POLLIN, deadline) == 0)
                return silent();
            if (!PQconsumeInput(m_connection))
                break;
        }
        // Still busy after a failed read: PQgetResult would block.
        if (PQisBusy(m_connection))
            break;
        PGresult* result = PQgetResult(m_connection);
        if (!result)
            break;
        last.reset(result);
        if (PQstatus(m_connection) == CONNECTION_BAD)
            break;
    }
    return last;
}

short PostgresConnection::wait(short events, std::chrono::steady_clock::time_point deadline) const
{
    pollfd watched{PQsocket(m_connection), events, 0};
    // Without a socket, libpq's next call tells why.
    if (watched.fd < 0)
        return events;
    for (;;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return 0;
        const int ready = poll(&watched, 1, static_cast<int>(left.count()));
        if (ready > 0)
            return watched.revents;
        if (ready < 0 && errno != EINTR)
            return events;
    }
}

PostgresConnection::Answer PostgresConnection::silent()
{
    cancel();
    m_silent = "the record server at " + m_location + " did not answer within " +
               secondsText(m_answerLimit) + " s";
    return nullptr;
}

// PQcancel waits for the server to close the request's connection, which a silent one may never
// do: it runs on a thread of its own, and is waited for up to CancelLimit.
void PostgresConnection::cancel()
{
    PGcancel* request = PQgetCancel(m_connection);
    if (!request)
        return;
    struct Done {
        std::mutex mutex;
        std::condition_variable changed;
        bool done = false;
    };
    const auto state = std::make_shared<Done>();
    try {
        std::thread([request, state] {
            char ignored[256];
            PQcancel(request, ignored, sizeof ignored);
            PQfreeCancel(request);
            const std::lock_guard lock(state->mutex);
            state->done = true;
            state->changed.notify_all();
        }).detach();
    } catch (const std::system_error&) {
        PQfreeCancel(request);
        return;
    }
    std::unique_lock lock(state->mutex);
    state->changed.wait_for(lock, CancelLimit, [&] { return state->done; });
}

} // namespace tolvane::record
