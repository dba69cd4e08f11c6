#pragma once

// A throwaway PostgreSQL cluster for tests and benchmarks: Debian's server binaries, initdb into a
// private temporary folder, a server that listens only on a Unix socket in that folder. Run as the
// `postgres` system user when this process is root (the server refuses root), else as this user.

#include "support/temp_dir.h"

#include <sys/types.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tolvane::test {

struct PostgresClusterOptions {
    // Off for tests, whose data is thrown away; on for figures a real server would give.
    bool durable = false;
    int sharedBuffersMiB = 16;
    int maxConnections = 30;
};

// Rows of a query as text; nullopt stands for NULL.
using SqlRows = std::vector<std::vector<std::optional<std::string>>>;

class PostgresCluster {
public:
    // The role the code under test logs in as, with a password and scram-sha-256. The password
    // is put in PGPASSWORD for this process, never on a command line.
    static constexpr const char* Role = "tolvane";

    // initdb, then the server, within PostgresStartTimeout. Null with the reason in *error.
    static std::unique_ptr<PostgresCluster> start(std::string* error,
                                                  const PostgresClusterOptions& options = {});
    // Stops the server and removes the folder.
    ~PostgresCluster();
    PostgresCluster(const PostgresCluster&) = delete;
    PostgresCluster& operator=(const PostgresCluster&) = delete;

    // The name of a new empty database owned by Role.
    std::optional<std::string> freshDatabase(std::string* error);
    // Where openProductionRecord finds database: postgresql://ROLE@/DATABASE?host=FOLDER&port=PORT
    std::string location(const std::string& database) const;
    const std::string& password() const { return m_password; }

    // Runs sql as the cluster's superuser, through libpq (not through the code under test).
    std::optional<SqlRows> query(const std::string& database, const std::string& sql,
                                 std::string* error) const;

    // Fast shutdown (sessions are ended), keeping the folder; start it again with startServer.
    bool stopServer(std::string* error);
    bool startServer(std::string* error);

private:
    PostgresCluster(const PostgresClusterOptions& options);
    bool initialise(std::string* error);
    void tellWatchdog(pid_t server);
    std::string adminConnection(const std::string& database) const;

    PostgresClusterOptions m_options;
    std::unique_ptr<TempDir> m_dir = std::make_unique<TempDir>();
    std::string m_bin; // the version's bin folder
    uid_t m_uid = 0;   // who runs the server
    gid_t m_gid = 0;
    pid_t m_owner = 0;  // forked children must not stop the cluster
    pid_t m_server = 0; // the postmaster, while it runs
    pid_t m_watchdog = 0;
    int m_watchdogSocket = -1; // closed by this process's end, however it ends
    int m_databases = 0;
    std::string m_password;
};

inline constexpr std::chrono::seconds PostgresStartTimeout{60};

// The one cluster of this program, started at first use and stopped at exit. Null with the
// reason in *error when it cannot start (the reason stays for later calls).
PostgresCluster* sharedPostgresCluster(std::string* error);

} // namespace tolvane::test
