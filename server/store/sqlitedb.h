#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

// A thin layer over the SQLite C API for SqliteStore: connections with their
// prepared statements kept, a pool of them shared by the server's threads,
// and transactions that roll back unless committed. Every failure raises
// StoreError (StoreUnavailable when the database stayed locked past the wait).
namespace vexor::server::sqlite {

class Connection;

// A prepared statement of a connection's cache. Bound values stay until the
// statement goes back to the cache (the Statement's end), which resets it.
class Statement {
public:
    Statement(Connection& connection, sqlite3_stmt* stmt);
    ~Statement();
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    // Parameters count from 1, as in the SQL text's "?" order.
    Statement& bind(int index, std::int64_t value);
    Statement& bindText(int index, std::string_view text);
    // Bytes that need not be UTF-8 (pages, images, client ids): compared
    // byte for byte, so a value must always be bound the same way.
    Statement& bindBlob(int index, std::string_view bytes);
    Statement& bindNull(int index);

    // The next row: true while there is one.
    bool step();
    // Runs a statement that returns no rows.
    void run();

    std::int64_t integer(int column) const;
    std::string bytes(int column) const; // text or blob alike
    bool isNull(int column) const;

private:
    Connection& m_connection;
    sqlite3_stmt* m_stmt;
};

class Connection {
public:
    // Opens (creating when missing) the file and sets what every connection
    // needs: write-ahead log, foreign keys, the busy wait.
    explicit Connection(const std::string& path);
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // `sql` must outlive the connection (a string literal): it keys the cache.
    Statement prepare(const char* sql);
    // Runs one or more statements without parameters.
    void exec(const std::string& sql);
    int changes() const { return sqlite3_changes(m_db); }

    // Raises for `rc` when it is an error, naming `what`.
    [[noreturn]] void fail(int rc, std::string_view what) const;

private:
    void enterWal();

    sqlite3* m_db = nullptr;
    std::string m_path;
    std::unordered_map<const char*, sqlite3_stmt*> m_statements;
};

// BEGIN IMMEDIATE for writes (the write lock is taken at once, so the busy
// wait applies and no reader has to be upgraded later), BEGIN for reads that
// must see one state. Rolls back at its end unless commit() was called.
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
// a new one) and gives it back after. SQLite lets many readers and one writer
// work at once on a file in WAL mode; the busy wait orders the writers.
class Pool {
public:
    explicit Pool(std::string path);

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

    std::string m_path;
    std::mutex m_mutex;
    std::vector<std::unique_ptr<Connection>> m_idle;
};

} // namespace vexor::server::sqlite
