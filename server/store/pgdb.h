#pragma once

#include <libpq-fe.h>

#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

// A thin layer over libpq for PgStore: connections that open themselves
// again after the database went away, statements prepared once per
// connection, values always bound as parameters (bytes in binary form), a
// pool shared by the server's threads, and transactions that roll back
// unless committed. A database that cannot be reached, or that ends the
// session (shut down, restarted, too many clients), raises StoreUnavailable;
// every other failure StoreError.
namespace vexor::server::pg {

// True for UTF-8 without NUL characters: what a text parameter may hold.
bool isText(std::string_view text);

// The values of one statement, $1 first. Texts must be UTF-8 without NUL
// bytes (the database checks); bytes go as they are.
class Params {
public:
    Params() = default;
    // The value pointers point into m_owned: a copy would point into the
    // original. A move keeps the deque's elements where they are.
    Params(const Params&) = delete;
    Params& operator=(const Params&) = delete;
    Params(Params&&) = default;
    Params& operator=(Params&&) = default;

    Params& text(std::string_view value);
    Params& bytes(std::string_view value);
    Params& integer(std::int64_t value);
    Params& null();

    int size() const { return static_cast<int>(m_values.size()); }
    const char* const* values() const { return m_values.data(); }
    const int* lengths() const { return m_lengths.data(); }
    const int* formats() const { return m_formats.data(); }

private:
    Params& add(const char* value, std::size_t length, int format);

    std::deque<std::string> m_owned; // a deque never moves what it holds
    std::vector<const char*> m_values;
    std::vector<int> m_lengths;
    std::vector<int> m_formats;
};

// The rows of a statement, in PostgreSQL's text form; a bytea column comes
// back as its bytes.
class Result {
public:
    explicit Result(PGresult* result) : m_result(result, PQclear) {}

    int rows() const { return PQntuples(m_result.get()); }
    bool empty() const { return rows() == 0; }
    std::int64_t integer(int row, int column) const;
    std::string bytes(int row, int column) const;
    bool isNull(int row, int column) const { return PQgetisnull(m_result.get(), row, column) != 0; }

private:
    std::unique_ptr<PGresult, void (*)(PGresult*)> m_result;
};

class Connection {
public:
    // Connects to `location` (a libpq connection string or URL); raises
    // StoreUnavailable with libpq's reason when it cannot.
    explicit Connection(const std::string& location);
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // Makes sure the session is usable: one that broke, or that the server
    // ended while it sat idle in the pool (its socket then has something to
    // read), is opened again. Raises StoreUnavailable when that fails.
    void ensureOpen();

    // `sql` must outlive the connection (a string literal): it keys the
    // prepared statements.
    Result run(const char* sql, const Params& params = {});
    // One or more statements without parameters.
    void exec(const std::string& sql);

private:
    [[noreturn]] void fail(PGresult* result, std::string_view what);
    Result check(PGresult* result, std::string_view what);

    PGconn* m_conn = nullptr;
    std::unordered_map<const char*, std::string> m_prepared;
};

// A transaction on one connection: READ COMMITTED for writes (every upsert
// adds to the row as it is when the lock is granted), a read-only snapshot
// for reads that must see one state. Rolls back at its end unless committed.
class Transaction {
public:
    enum class Kind { Read, Write };
    Transaction(Connection& connection, Kind kind);
    ~Transaction();
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;

    void commit();

private:
    Connection& m_connection;
    bool m_open = true;
};

// Connections for any number of threads: a call takes an idle one (or opens
// a new one), checked with ensureOpen(), and gives it back after.
class Pool {
public:
    explicit Pool(std::string location);

    class Lease {
    public:
        Lease(Pool& pool, std::unique_ptr<Connection> connection);
        ~Lease();
        Lease(Lease&&) = default;
        Connection& operator*() { return *m_connection; }
        Connection* operator->() { return m_connection.get(); }

    private:
        Pool* m_pool;
        std::unique_ptr<Connection> m_connection;
    };

    Lease acquire();

private:
    void release(std::unique_ptr<Connection> connection);

    std::string m_location;
    std::mutex m_mutex;
    std::vector<std::unique_ptr<Connection>> m_idle;
};

} // namespace vexor::server::pg
