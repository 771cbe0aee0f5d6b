#pragma once

// PostgreSQL from the distribution for the store's tests: a cluster made
// with initdb in the caller's folder and run with pg_ctl on a free loopback
// port, as a normal user would (trust authentication, superuser "vexor",
// its unix socket in the same folder). Run as root (CI), the server runs as
// "nobody", which owns the cluster's folder. Stopped when the object goes.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace vexor::testkit {

class PostgresCluster {
public:
    // The server's programs (initdb, pg_ctl, postgres, createdb) of the
    // newest installed major version, "" when PostgreSQL is not installed.
    // Debian keeps them in /usr/lib/postgresql/<major>/bin, off the PATH.
    static std::filesystem::path binaries();

    // Makes the cluster in `folder`/data and starts it.
    explicit PostgresCluster(const std::filesystem::path& folder);
    ~PostgresCluster();
    PostgresCluster(const PostgresCluster&) = delete;
    PostgresCluster& operator=(const PostgresCluster&) = delete;

    bool ready() const { return m_ready; }
    std::string diagnostics() const; // what initdb, pg_ctl and the server said
    std::uint16_t port() const { return m_port; }
    // The postmaster's process id (its backends are its children); 0 when
    // it does not run.
    int serverPid() const;

    // A URL for `database` as libpq takes it.
    std::string url(const std::string& database = "postgres") const;
    // Creates a new empty database; its URL, or "" when that failed.
    std::string createDatabase();

    // Stops the server (fast shutdown: sessions are ended) and starts it
    // again on the same port; true when it did.
    bool stop();
    bool start();

private:
    bool runAsOwner(const std::string& program, std::vector<std::string> args);

    std::filesystem::path m_folder; // the cluster's own, owned by its user
    std::string m_said;
    std::filesystem::path m_bin;
    std::uint16_t m_port = 0;
    int m_databases = 0;
    bool m_ready = false;
    bool m_running = false;
};

} // namespace vexor::testkit
