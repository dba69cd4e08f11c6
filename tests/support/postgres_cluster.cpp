#include "support/postgres_cluster.h"

#include <libpq-fe.h>

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <thread>

namespace tolvane::test {

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr const char* Install = "install the postgresql package (scripts/install-deps)";
constexpr const char* Admin = "tolvane_admin";
constexpr int Port = 5432; // on a socket in a private folder, so any number will do

// The newest version folder that holds the server binaries.
std::optional<std::string> serverBinaries()
{
    std::optional<std::string> best;
    int bestVersion = -1;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/usr/lib/postgresql", error)) {
        const std::string bin = entry.path().string() + "/bin";
        const int version = std::atoi(entry.path().filename().c_str());
        if (version > bestVersion && ::access((bin + "/initdb").c_str(), X_OK) == 0 &&
            ::access((bin + "/postgres").c_str(), X_OK) == 0) {
            best = bin;
            bestVersion = version;
        }
    }
    return best;
}

// Closes every descriptor from 3 up, but keep; safe between fork and exec.
void closeInheritedDescriptors(int keep = -1)
{
    if (keep < 3) {
        if (::close_range(3, ~0u, 0) == 0)
            return;
    } else if ((keep == 3 || ::close_range(3, static_cast<unsigned>(keep) - 1, 0) == 0) &&
               ::close_range(static_cast<unsigned>(keep) + 1, ~0u, 0) == 0) {
        return;
    }
    for (int fd = 3; fd < 4096; ++fd) // kernels before close_range
        if (fd != keep)
            ::close(fd);
}

// Starts args[0] in a session of its own, as uid/gid, in folder, with its output in log.
pid_t spawn(const std::vector<std::string>& args, const std::string& folder, const std::string& log,
            uid_t uid, gid_t gid, std::string* error)
{
    std::vector<char*> argv;
    for (const auto& arg : args)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    const int output = ::open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    const int input = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    const bool drop = ::geteuid() == 0;
    pid_t child = -1;
    if (output >= 0 && input >= 0)
        child = ::fork();
    if (child == 0) {
        // Only async-signal-safe calls from here: other threads may hold locks.
        ::setsid();
        if (::dup2(input, 0) < 0 || ::dup2(output, 1) < 0 || ::dup2(output, 2) < 0)
            ::_exit(126);
        closeInheritedDescriptors();
        if (drop && (::setgroups(0, nullptr) != 0 || ::setgid(gid) != 0 || ::setuid(uid) != 0))
            ::_exit(126);
        if (::chdir(folder.c_str()) != 0)
            ::_exit(126);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    const int saved = errno;
    if (output >= 0)
        ::close(output);
    if (input >= 0)
        ::close(input);
    if (child < 0 && error)
        *error = "cannot start " + args[0] + ": " + std::strerror(saved);
    return child;
}

// The child's wait status, or nullopt when it was still running at the deadline (it is then
// killed).
std::optional<int> waitUntil(pid_t child, Clock::time_point deadline)
{
    for (;;) {
        int status = 0;
        const pid_t done = ::waitpid(child, &status, WNOHANG);
        if (done == child)
            return status;
        if (done < 0 && errno != EINTR)
            return std::nullopt;
        if (Clock::now() >= deadline) {
            ::kill(child, SIGKILL);
            ::waitpid(child, &status, 0);
            return std::nullopt;
        }
        std::this_thread::sleep_for(20ms);
    }
}

std::string tailOf(const std::string& path)
{
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    std::string all = text.str();
    if (all.size() > 1500)
        all = "..." + all.substr(all.size() - 1500);
    return all.empty() ? "(nothing in " + path + ")" : all;
}

// A libpq connection-string value, quoted.
std::string quoted(const std::string& value)
{
    std::string text = "'";
    for (char c : value) {
        if (c == '\'' || c == '\\')
            text += '\\';
        text += c;
    }
    return text + "'";
}

std::string percentEncoded(const std::string& value)
{
    std::string text;
    for (unsigned char c : value) {
        if (std::isalnum(c) || std::strchr("/-._~", c)) {
            text += static_cast<char>(c);
        } else {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%%%02X", c);
            text += hex;
        }
    }
    return text;
}

std::string randomPassword()
{
    std::random_device random;
    char text[17];
    std::snprintf(text, sizeof text, "%08x%08x", random(), random());
    return text;
}

} // namespace

PostgresCluster::PostgresCluster(const PostgresClusterOptions& options)
    : m_options(options), m_owner(::getpid())
{
}

std::unique_ptr<PostgresCluster> PostgresCluster::start(std::string* error,
                                                        const PostgresClusterOptions& options)
{
    std::unique_ptr<PostgresCluster> cluster(new PostgresCluster(options));
    if (!cluster->initialise(error)) {
        if (error)
            *error = "the throwaway PostgreSQL cluster did not start: " + *error;
        return nullptr;
    }
    return cluster;
}

bool PostgresCluster::initialise(std::string* error)
{
    const auto deadline = Clock::now() + PostgresStartTimeout;
    const auto bin = serverBinaries();
    if (!bin) {
        *error = "no server binaries under /usr/lib/postgresql/*/bin; " + std::string(Install);
        return false;
    }
    m_bin = *bin;
    m_uid = ::geteuid();
    m_gid = ::getegid();
    if (m_uid == 0) {
        const passwd* user = ::getpwnam("postgres");
        if (!user) {
            *error = "no postgres system user to run the server as; " + std::string(Install);
            return false;
        }
        m_uid = user->pw_uid;
        m_gid = user->pw_gid;
        if (::chown(m_dir->path().c_str(), m_uid, m_gid) != 0) {
            *error = "chown " + m_dir->path() + ": " + std::strerror(errno);
            return false;
        }
    }

    // The watchdog removes the cluster when this process ends without its destructor running.
    int fds[2];
    // A socket rather than a pipe: sending to a dead watchdog must not raise SIGPIPE here.
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) {
        *error = std::string("socketpair: ") + std::strerror(errno);
        return false;
    }
    const std::string folder = m_dir->path();
    char* const remove[] = {const_cast<char*>("rm"), const_cast<char*>("-rf"),
                            const_cast<char*>("--"), const_cast<char*>(folder.c_str()), nullptr};
    m_watchdog = ::fork();
    if (m_watchdog == 0) {
        ::setsid(); // out of reach of signals sent to this process's group
        closeInheritedDescriptors(fds[0]);
        pid_t server = 0;
        for (;;) {
            pid_t value = 0;
            const ssize_t got = ::read(fds[0], &value, sizeof value);
            if (got == sizeof value)
                server = value;
            else if (!(got < 0 && errno == EINTR))
                break;
        }
        if (server > 0 && ::kill(server, SIGQUIT) == 0) { // as pg_ctl stop -m immediate
            for (int i = 0; i < 200 && ::kill(server, 0) == 0; ++i)
                ::usleep(50'000);
            ::kill(server, SIGKILL);
        }
        ::execv("/bin/rm", remove);
        ::_exit(127);
    }
    ::close(fds[0]);
    if (m_watchdog < 0) {
        ::close(fds[1]);
        *error = std::string("fork: ") + std::strerror(errno);
        return false;
    }
    m_watchdogSocket = fds[1];

    const std::string data = m_dir->file("data");
    const pid_t initdb = spawn({m_bin + "/initdb", "-D", data, "-U", Admin, "-A", "trust", "-N",
                                "-E", "UTF8", "--locale=C", "--no-instructions"},
                               folder, m_dir->file("initdb.log"), m_uid, m_gid, error);
    if (initdb < 0)
        return false;
    tellWatchdog(initdb);
    const auto status = waitUntil(initdb, deadline);
    tellWatchdog(0);
    if (!status || !WIFEXITED(*status) || WEXITSTATUS(*status) != 0) {
        *error = (status ? "initdb failed" : "initdb did not finish within 60 s") +
                 std::string(":\n") + tailOf(m_dir->file("initdb.log"));
        return false;
    }
    // The role under test must give its password; the superuser reaches the socket only from
    // this user, through the folder's own permissions.
    const std::string hba = data + "/pg_hba.conf";
    {
        std::ofstream file(hba, std::ios::trunc);
        file << "local all " << Role << " scram-sha-256\n"
             << "local all " << Admin << " trust\n";
        if (!file.flush()) {
            *error = "cannot write " + hba;
            return false;
        }
    }
    if (::chown(hba.c_str(), m_uid, m_gid) != 0) {
        *error = "chown " + hba + ": " + std::strerror(errno);
        return false;
    }
    if (!startServer(error))
        return false;

    m_password = randomPassword();
    if (!query("postgres",
               std::string("CREATE ROLE ") + Role + " LOGIN PASSWORD '" + m_password + "'", error))
        return false;
    ::setenv("PGPASSWORD", m_password.c_str(), 1);
    return true;
}

PostgresCluster::~PostgresCluster()
{
    if (::getpid() != m_owner) {
        (void)m_dir.release(); // a forked child: the cluster is its parent's
        return;
    }
    std::string ignored;
    stopServer(&ignored);
    if (m_watchdogSocket >= 0)
        ::close(m_watchdogSocket);
    if (m_watchdog > 0)
        waitUntil(m_watchdog, Clock::now() + 15s);
}

void PostgresCluster::tellWatchdog(pid_t server)
{
    if (m_watchdogSocket >= 0 &&
        ::send(m_watchdogSocket, &server, sizeof server, MSG_NOSIGNAL) != sizeof server)
        std::perror("the PostgreSQL cluster's watchdog");
}

bool PostgresCluster::startServer(std::string* error)
{
    if (m_server > 0)
        return true;
    const auto deadline = Clock::now() + PostgresStartTimeout;
    std::vector<std::string> args = {
        m_bin + "/postgres", "-D", m_dir->file("data"), "-k", m_dir->path(), "-p",
        std::to_string(Port), "-c", "listen_addresses=", "-c",
        "shared_buffers=" + std::to_string(m_options.sharedBuffersMiB) + "MB", "-c",
        "max_connections=" + std::to_string(m_options.maxConnections),
        // Segments in the data folder, so they go with it.
        "-c", "dynamic_shared_memory_type=mmap"};
    if (!m_options.durable) {
        for (const char* setting : {"fsync=off", "synchronous_commit=off", "full_page_writes=off"})
            args.insert(args.end(), {"-c", setting});
    }
    const std::string log = m_dir->file("server.log");
    m_server = spawn(args, m_dir->path(), log, m_uid, m_gid, error);
    if (m_server < 0) {
        m_server = 0;
        return false;
    }
    tellWatchdog(m_server);
    const std::string ping = adminConnection("postgres");
    while (Clock::now() < deadline) {
        int status = 0;
        if (::waitpid(m_server, &status, WNOHANG) == m_server) {
            m_server = 0;
            tellWatchdog(0);
            *error = "the server stopped as it started:\n" + tailOf(log);
            return false;
        }
        if (PQping(ping.c_str()) == PQPING_OK)
            return true;
        std::this_thread::sleep_for(50ms);
    }
    stopServer(error);
    *error = "the server did not answer within 60 s:\n" + tailOf(log);
    return false;
}

bool PostgresCluster::stopServer(std::string* error)
{
    if (m_server <= 0)
        return true;
    ::kill(m_server, SIGINT); // fast shutdown: sessions are ended at once
    auto status = waitUntil(m_server, Clock::now() + 30s); // SIGKILL at the deadline
    m_server = 0;
    tellWatchdog(0);
    if (!status || !WIFEXITED(*status) || WEXITSTATUS(*status) != 0) {
        *error = "the server did not stop cleanly:\n" + tailOf(m_dir->file("server.log"));
        return false;
    }
    return true;
}

std::string PostgresCluster::adminConnection(const std::string& database) const
{
    return "host=" + quoted(m_dir->path()) + " port=" + std::to_string(Port) + " user=" + Admin +
           " dbname=" + quoted(database) + " connect_timeout=10";
}

std::string PostgresCluster::location(const std::string& database) const
{
    return std::string("postgresql://") + Role + "@/" + database +
           "?host=" + percentEncoded(m_dir->path()) + "&port=" + std::to_string(Port);
}

std::optional<std::string> PostgresCluster::freshDatabase(std::string* error)
{
    const std::string name = "record_" + std::to_string(++m_databases);
    if (!query("postgres", "CREATE DATABASE " + name + " OWNER " + Role, error))
        return std::nullopt;
    return name;
}

std::optional<SqlRows> PostgresCluster::query(const std::string& database, const std::string& sql,
                                              std::string* error) const
{
    PGconn* connection = PQconnectdb(adminConnection(database).c_str());
    std::optional<SqlRows> rows;
    PGresult* result = nullptr;
    if (PQstatus(connection) == CONNECTION_OK)
        result = PQexec(connection, sql.c_str());
    const auto status = PQresultStatus(result);
    if (result && (status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK)) {
        rows.emplace();
        for (int row = 0; row < PQntuples(result); ++row) {
            auto& values = rows->emplace_back();
            for (int column = 0; column < PQnfields(result); ++column)
                values.push_back(PQgetisnull(result, row, column)
                                     ? std::nullopt
                                     : std::optional<std::string>(PQgetvalue(result, row, column)));
        }
    } else if (error) {
        *error = "SQL on " + database + " (" + sql + "): " + PQerrorMessage(connection);
    }
    PQclear(result);
    PQfinish(connection);
    return rows;
}

PostgresCluster* sharedPostgresCluster(std::string* error)
{
    struct Shared {
        std::unique_ptr<PostgresCluster> cluster;
        std::string failure;
    };
    static Shared shared = [] {
        Shared started;
        started.cluster = PostgresCluster::start(&started.failure);
        return started;
    }();
    if (!shared.cluster && error)
        *error = shared.failure;
    return shared.cluster.get();
}

} // namespace tolvane::test
