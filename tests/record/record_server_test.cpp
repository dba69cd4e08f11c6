// The record on a PostgreSQL server: the databases and logins it refuses, and a server that stops
// or falls silent under it. The database is read back through libpq as the superuser, not through
// the record.

#include "record_test_support.h"

#include <gmock/gmock.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <set>
#include <thread>

namespace tolvane::record_test {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

struct ServerRecord : RecordFixture {
    void SetUp() override { useServer(); }

    test::SqlRows sql(const std::string& statement)
    {
        std::string error;
        auto rows = cluster->query(database, statement, &error);
        EXPECT_TRUE(rows) << error;
        return rows.value_or(test::SqlRows{});
    }

    int unitRows()
    {
        const auto rows = sql("SELECT count(*) FROM units");
        return rows.empty() ? -1 : std::stoi(rows[0][0].value_or("-1"));
    }

    // Every table of the database with its rows, as text.
    std::string contents()
    {
        std::string text;
        for (const auto& table :
             sql("SELECT tablename FROM pg_tables WHERE schemaname = 'public' ORDER BY 1")) {
            text += *table[0] + ":";
            for (const auto& row : sql("SELECT * FROM " + *table[0] + " ORDER BY 1"))
                for (const auto& value : row)
                    text += " " + value.value_or("NULL");
            text += "\n";
        }
        return text;
    }
};

struct RefusalCase {
    const char* name;
    std::function<void(ServerRecord&)> prepare;
    std::optional<std::string> password; // PGPASSWORD, when not the role's own
    std::string credentials;             // put in the location before '@'
    const char* said;                    // part of the message
    bool readOnly = false;
};

void PrintTo(const RefusalCase& c, std::ostream* out)
{
    *out << c.name;
}

const RefusalCase RefusalCases[] = {
    {"WrongPassword", {}, "wrong-password", "", "password authentication failed"},
    {"WrongPasswordInTheLocation", {}, std::nullopt, ":wrong-password", "password authentication"},
    {"AnotherProgramsUnitsTable",
     [](ServerRecord& f) { f.sql("CREATE TABLE units (name TEXT, phone TEXT)"); }, std::nullopt, "",
     "is not a Tolvane production record"},
    {"NewerSchema",
     [](ServerRecord& f) {
         f.sql("SET ROLE tolvane; CREATE TABLE units (id BIGINT); CREATE TABLE tolvane_record "
               "(schema_version INTEGER NOT NULL); INSERT INTO tolvane_record VALUES (2)");
     },
     std::nullopt, "", "schema version 2"},
    {"NothingToRead", {}, std::nullopt, "", "holds no Tolvane production record", true},
};

class ServerRefusal : public ServerRecord, public ::testing::WithParamInterface<RefusalCase> {};

TEST_P(ServerRefusal, SaysWhyNamesTheServerWithoutPasswordAndWritesNothing)
{
    const RefusalCase& refusal = GetParam();
    if (refusal.prepare)
        refusal.prepare(*this);
    const std::string before = contents();
    const std::string shown = location;
    std::string withCredentials = location;
    withCredentials.insert(withCredentials.find('@'), refusal.credentials);
    std::optional<test::ScopedEnvironment> password;
    if (refusal.password)
        password.emplace("PGPASSWORD", *refusal.password);

    RecordOptions options;
    options.readOnly = refusal.readOnly;
    const auto opened = openProductionRecord(withCredentials, options);
    const std::string error = failureText(opened);
    EXPECT_FALSE(opened);
    EXPECT_THAT(error, HasSubstr(refusal.said));
    EXPECT_THAT(error, HasSubstr(shown));
    EXPECT_THAT(error, Not(HasSubstr("wrong-password")));
    EXPECT_EQ(contents(), before);
}

INSTANTIATE_TEST_SUITE_P(Server, ServerRefusal, ::testing::ValuesIn(RefusalCases),
                         [](const auto& testCase) { return std::string(testCase.param.name); });

std::string macNumber(int i)
{
    char text[16];
    std::snprintf(text, sizeof text, "0012AB%06X", i & 0xFFFFFF);
    return text;
}

TEST_F(ServerRecord, StoppedServerFailsReservationsAndOutcomesAndKeepsEveryReservedMacsRow)
{
    auto record = open();
    ASSERT_TRUE(record);
    // One bench reserves MAC after MAC while the server stops under it.
    std::vector<std::string> reserved;
    Reservation refused;
    std::atomic<bool> giveUp{false};
    std::jthread bench([&] {
        for (int i = 0; !giveUp; ++i) {
            const auto reservation = record->reserveMac(
                unitRow("u" + std::to_string(i), macNumber(i), "pending"), false);
            if (reservation.status != Reservation::Status::Reserved) {
                refused = reservation;
                return;
            }
            reserved.push_back(macNumber(i));
        }
    });
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < deadline && unitRows() < 20)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::string error;
    const bool stopped = cluster->stopServer(&error);
    giveUp = true;
    bench.join();
    ASSERT_TRUE(stopped) << error;

    EXPECT_EQ(refused.status, Reservation::Status::Failed);
    EXPECT_THAT(refused.error.text(), HasSubstr(location));
    const auto written = record->writeOutcome(unitRow("u0", macNumber(0), "ok"));
    EXPECT_FALSE(written);
    EXPECT_THAT(failureText(written), HasSubstr(location));
    record.reset();

    ASSERT_TRUE(cluster->startServer(&error)) << error;
    std::set<std::string> held;
    for (const auto& row : sql("SELECT mac FROM units WHERE result = 'pending' AND mac_in_use = 1"))
        held.insert(*row[0]);
    EXPECT_GE(reserved.size(), 20u);
    for (const auto& mac : reserved)
        EXPECT_TRUE(held.count(mac)) << mac << " was reported reserved without its pending row";
    // At most the one whose commit reached the server as it stopped, reported failed.
    EXPECT_LE(held.size(), reserved.size() + 1);
    EXPECT_EQ(unitRows(), static_cast<int>(held.size()));
}

// A server on 127.0.0.1 that lets libpq log in, then reads every query and never answers; a
// cancel request is held open unanswered too.
class SilentServer {
public:
    SilentServer()
    {
        m_listener = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        if (m_listener < 0 || bind(m_listener, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
            listen(m_listener, 8) != 0 ||
            getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &size) != 0)
            return;
        m_port = ntohs(address.sin_port);
        m_thread = std::jthread([this](std::stop_token stop) { serve(stop); });
    }
    ~SilentServer()
    {
        if (m_thread.joinable()) {
            m_thread.request_stop();
            m_thread.join();
        }
        for (const int session : m_sessions)
            close(session);
        if (m_listener >= 0)
            close(m_listener);
    }
    SilentServer(const SilentServer&) = delete;
    SilentServer& operator=(const SilentServer&) = delete;

    int port() const { return m_port; }
    int logins() const { return m_logins; }

private:
    static bool receive(int socket, char* data, std::size_t size)
    {
        while (size > 0) {
            const auto got = recv(socket, data, size, 0);
            if (got <= 0)
                return false;
            data += got;
            size -= static_cast<std::size_t>(got);
        }
        return true;
    }
    static std::uint32_t bigEndian(const char* data)
    {
        std::uint32_t value = 0;
        for (int i = 0; i < 4; ++i)
            value = value << 8 | static_cast<unsigned char>(data[i]);
        return value;
    }
    static std::string int32(std::uint32_t value)
    {
        return {static_cast<char>(value >> 24), static_cast<char>(value >> 16),
                static_cast<char>(value >> 8), static_cast<char>(value)};
    }
    static std::string message(char type, const std::string& body)
    {
        return type + int32(static_cast<std::uint32_t>(body.size() + 4)) + body;
    }

    // Reads the startup packet and logs the client in; a cancel request gets no answer.
    void greet(int session)
    {
        const timeval limit{5, 0};
        setsockopt(session, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
        for (;;) {
            char head[8];
            if (!receive(session, head, sizeof head))
                return;
            std::string rest(bigEndian(head) - 8, '\0');
            if (!receive(session, rest.data(), rest.size()))
                return;
            const std::uint32_t code = bigEndian(head + 4);
            if (code == 80877102) // CancelRequest
                return;
            if (code != 80877103 && code != 80877104) // not an SSL or GSS encryption request
                break;
            send(session, "N", 1, MSG_NOSIGNAL);
        }
        std::string reply = message('R', int32(0));
        for (const auto& [name, value] : {std::pair{"server_version", "15.0"},
                                          {"client_encoding", "UTF8"},
                                          {"standard_conforming_strings", "on"},
                                          {"integer_datetimes", "on"},
                                          {"DateStyle", "ISO, MDY"}})
            reply += message('S', std::string(name) + '\0' + value + '\0');
        reply += message('K', int32(4242) + int32(777));
        reply += message('Z', "I");
        send(session, reply.data(), reply.size(), MSG_NOSIGNAL);
        ++m_logins;
    }

    void serve(std::stop_token stop)
    {
        while (!stop.stop_requested()) {
            std::vector<pollfd> watched{{m_listener, POLLIN, 0}};
            for (const int session : m_sessions)
                watched.push_back({session, POLLIN, 0});
            if (poll(watched.data(), watched.size(), 50) <= 0)
                continue;
            for (std::size_t i = 1; i < watched.size(); ++i) {
                char discarded[4096];
                if (watched[i].revents &&
                    recv(watched[i].fd, discarded, sizeof discarded, 0) <= 0) {
                    std::erase(m_sessions, watched[i].fd);
                    close(watched[i].fd);
                }
            }
            if (watched[0].revents & POLLIN) {
                const int session = accept(m_listener, nullptr, nullptr);
                if (session >= 0) {
                    greet(session);
                    m_sessions.push_back(session);
                }
            }
        }
    }

    int m_listener = -1;
    int m_port = 0;
    std::atomic<int> m_logins{0};
    std::vector<int> m_sessions;
    std::jthread m_thread;
};

TEST(SilentServer, TheFirstQueryFailsWithinItsDeadlineNamingTheServerWithoutPassword)
{
    SilentServer server;
    ASSERT_NE(server.port(), 0) << "no listener on 127.0.0.1";
    const std::string place =
        "127.0.0.1:" + std::to_string(server.port()) + "/units?sslmode=disable&gssencmode=disable";
    RecordOptions options;
    options.busyTimeout = std::chrono::milliseconds(700);
    options.answerTimeout = std::chrono::milliseconds(800);

    const auto start = std::chrono::steady_clock::now();
    const auto opened = openProductionRecord("postgresql://tolvane:s3cret@" + place, options);
    const auto took = std::chrono::steady_clock::now() - start;
    const std::string error = failureText(opened);
    EXPECT_FALSE(opened);

    EXPECT_EQ(server.logins(), 1);
    EXPECT_THAT(error, HasSubstr("the record server at postgresql://tolvane@" + place +
                                 " did not answer within 1.5 s"));
    EXPECT_THAT(error, Not(HasSubstr("s3cret")));
    // 1.5 s, the cancel request's own limit and slack for a loaded machine; an upper bound only.
    EXPECT_LT(took, std::chrono::seconds(8));
}

} // namespace
} // namespace tolvane::record_test
