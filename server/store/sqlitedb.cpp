#include "sqlitedb.h"

#include "store.h"

#include <chrono>
#include <thread>

namespace vexor::server::sqlite {

namespace {

// How long a writer waits for another one before the request gives up with
// 503; a write here takes well under a millisecond.
constexpr int BusyWaitMs = 5000;
// Connections kept open for reuse; more may be open while a burst lasts.
constexpr std::size_t MaxIdle = 32;

} // namespace

Statement::Statement(Connection& connection, sqlite3_stmt* stmt)
    : m_connection(connection)
    , m_stmt(stmt)
{
}

Statement::~Statement()
{
    sqlite3_reset(m_stmt);
    sqlite3_clear_bindings(m_stmt);
}

Statement& Statement::bind(int index, std::int64_t value)
{
    if (const int rc = sqlite3_bind_int64(m_stmt, index, value); rc != SQLITE_OK)
        m_connection.fail(rc, "bind");
    return *this;
}

Statement& Statement::bindText(int index, std::string_view text)
{
    const int rc = sqlite3_bind_text64(m_stmt, index, text.data(), text.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
    if (rc != SQLITE_OK)
        m_connection.fail(rc, "bind");
    return *this;
}

Statement& Statement::bindBlob(int index, std::string_view bytes)
{
    // A zero-length blob needs a non-null pointer, or SQLite stores NULL.
    const int rc = sqlite3_bind_blob64(m_stmt, index, bytes.empty() ? "" : bytes.data(), bytes.size(), SQLITE_TRANSIENT);
    if (rc != SQLITE_OK)
        m_connection.fail(rc, "bind");
    return *this;
}

Statement& Statement::bindNull(int index)
{
    if (const int rc = sqlite3_bind_null(m_stmt, index); rc != SQLITE_OK)
        m_connection.fail(rc, "bind");
    return *this;
}

bool Statement::step()
{
    const int rc = sqlite3_step(m_stmt);
    if (rc == SQLITE_ROW)
        return true;
    if (rc == SQLITE_DONE)
        return false;
    m_connection.fail(rc, sqlite3_sql(m_stmt));
}

void Statement::run()
{
    while (step()) {
    }
}

std::int64_t Statement::integer(int column) const
{
    return sqlite3_column_int64(m_stmt, column);
}

std::string Statement::bytes(int column) const
{
    const auto* data = static_cast<const char*>(sqlite3_column_blob(m_stmt, column));
    const auto size = static_cast<std::size_t>(sqlite3_column_bytes(m_stmt, column));
    return data ? std::string(data, size) : std::string();
}

bool Statement::isNull(int column) const
{
    return sqlite3_column_type(m_stmt, column) == SQLITE_NULL;
}

Connection::Connection(const std::string& path)
    : m_path(path)
{
    const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX;
    const int rc = sqlite3_open_v2(path.c_str(), &m_db, flags, nullptr);
    if (rc != SQLITE_OK) {
        const std::string reason = m_db ? sqlite3_errmsg(m_db) : sqlite3_errstr(rc);
        sqlite3_close(m_db);
        throw StoreError(path + ": " + reason);
    }
    sqlite3_extended_result_codes(m_db, 1);
    sqlite3_busy_timeout(m_db, BusyWaitMs);
    try {
        // WAL: readers never wait for the writer, and a commit is one append
        // to the log. synchronous=NORMAL syncs the log at checkpoints only: a
        // killed process loses nothing committed (the log is in the page
        // cache); a power cut may lose the last commits, never the file.
        enterWal();
        exec("PRAGMA synchronous=NORMAL; PRAGMA foreign_keys=ON;");
    } catch (...) {
        sqlite3_close(m_db);
        throw;
    }
}

// Switching a new file to WAL needs it to itself, and there SQLite answers
// "database is locked" at once instead of waiting: a second server opening
// the same new file (or the first one's other connections) tries again until
// the usual wait is over. A file already in WAL mode answers at once.
void Connection::enterWal()
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(BusyWaitMs);
    for (;;) {
        try {
            exec("PRAGMA journal_mode=WAL");
            return;
        } catch (const StoreUnavailable&) {
            if (std::chrono::steady_clock::now() >= deadline)
                throw;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

Connection::~Connection()
{
    for (auto& [sql, stmt] : m_statements)
        sqlite3_finalize(stmt);
    sqlite3_close(m_db);
}

Statement Connection::prepare(const char* sql)
{
    auto& stmt = m_statements[sql];
    if (!stmt) {
        const int rc = sqlite3_prepare_v3(m_db, sql, -1, SQLITE_PREPARE_PERSISTENT, &stmt, nullptr);
        if (rc != SQLITE_OK) {
            m_statements.erase(sql);
            fail(rc, sql);
        }
    }
    return Statement(*this, stmt);
}

void Connection::exec(const std::string& sql)
{
    char* message = nullptr;
    const int rc = sqlite3_exec(m_db, sql.c_str(), nullptr, nullptr, &message);
    if (rc != SQLITE_OK) {
        const std::string reason = message ? message : sqlite3_errstr(rc);
        sqlite3_free(message);
        const int primary = rc & 0xFF;
        if (primary == SQLITE_BUSY || primary == SQLITE_LOCKED)
            throw StoreUnavailable(m_path + ": " + reason);
        throw StoreError(m_path + ": " + reason);
    }
}

void Connection::fail(int rc, std::string_view what) const
{
    const std::string reason = m_path + ": " + sqlite3_errmsg(m_db) + " (" + std::string(what.substr(0, 60)) + ")";
    const int primary = rc & 0xFF;
    if (primary == SQLITE_BUSY || primary == SQLITE_LOCKED)
        throw StoreUnavailable(reason);
    throw StoreError(reason);
}

Transaction::Transaction(Connection& connection, Kind kind)
    : m_connection(connection)
{
    m_connection.exec(kind == Kind::Write ? "BEGIN IMMEDIATE" : "BEGIN");
}

Transaction::~Transaction()
{
    if (!m_open)
        return;
    try {
        m_connection.exec("ROLLBACK");
    } catch (const StoreError&) {
        // SQLite has rolled back by itself after some errors; nothing is left open.
    }
}

void Transaction::commit()
{
    m_connection.exec("COMMIT");
    m_open = false;
}

Pool::Pool(std::string path)
    : m_path(std::move(path))
{
}

Pool::Lease::Lease(Pool& pool, std::unique_ptr<Connection> connection)
    : m_pool(&pool)
    , m_connection(std::move(connection))
{
}

Pool::Lease::~Lease()
{
    if (m_connection)
        m_pool->release(std::move(m_connection));
}

Pool::Lease Pool::acquire()
{
    {
        const std::lock_guard lock(m_mutex);
        if (!m_idle.empty()) {
            auto connection = std::move(m_idle.back());
            m_idle.pop_back();
            return Lease(*this, std::move(connection));
        }
    }
    return Lease(*this, std::make_unique<Connection>(m_path));
}

void Pool::release(std::unique_ptr<Connection> connection)
{
    const std::lock_guard lock(m_mutex);
    if (m_idle.size() < MaxIdle)
        m_idle.push_back(std::move(connection));
}

} // namespace vexor::server::sqlite
