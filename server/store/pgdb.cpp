#include "pgdb.h"

#include "reports.h"
#include "store.h"

#include <poll.h>

#include <algorithm>
#include <array>
#include <cstdlib>

namespace vexor::server::pg {

namespace {

// Connections kept open for reuse; more may be open while a burst lasts.
constexpr std::size_t MaxIdle = 32;
// PostgreSQL's type number of bytea (pg_type.oid), which comes back escaped.
constexpr Oid ByteaOid = 17;

std::string firstLine(const char* message)
{
    std::string text = message ? message : "";
    if (const auto end = text.find('\n'); end != std::string::npos)
        text.erase(end);
    return "PostgreSQL: " + (text.empty() ? std::string("unknown error") : text);
}

// The states in which retrying later can succeed: the connection
// (class 08), the server going down or starting (57P01 to 57P03), too many
// clients (53300), and a transaction the server gave up to break a
// deadlock or a conflict (40001, 40P01).
bool isTransient(std::string_view state)
{
    static constexpr std::array<std::string_view, 6> States { "57P01", "57P02", "57P03", "53300", "40001", "40P01" };
    return state.starts_with("08") || std::find(States.begin(), States.end(), state) != States.end();
}

} // namespace

bool isText(std::string_view text)
{
    return isUtf8Text(text);
}

Params& Params::add(const char* value, std::size_t length, int format)
{
    m_values.push_back(value);
    m_lengths.push_back(static_cast<int>(length));
    m_formats.push_back(format);
    return *this;
}

Params& Params::text(std::string_view value)
{
    // The text form is read up to its NUL, so a value must not hold one.
    if (!isText(value))
        throw StoreRejected("a text must be UTF-8 without NUL characters");
    const auto& owned = m_owned.emplace_back(value);
    return add(owned.c_str(), owned.size(), 0);
}

Params& Params::bytes(std::string_view value)
{
    // Binary form: the bytes as they are; an empty value still needs a
    // pointer, or it would be NULL.
    const auto& owned = m_owned.emplace_back(value);
    return add(owned.data(), owned.size(), 1);
}

Params& Params::integer(std::int64_t value)
{
    const auto& owned = m_owned.emplace_back(std::to_string(value));
    return add(owned.c_str(), owned.size(), 0);
}

Params& Params::null()
{
    return add(nullptr, 0, 0);
}

std::int64_t Result::integer(int row, int column) const
{
    return std::strtoll(PQgetvalue(m_result.get(), row, column), nullptr, 10);
}

std::string Result::bytes(int row, int column) const
{
    const char* value = PQgetvalue(m_result.get(), row, column);
    if (PQftype(m_result.get(), column) != ByteaOid)
        return std::string(value, static_cast<std::size_t>(PQgetlength(m_result.get(), row, column)));
    std::size_t length = 0;
    unsigned char* raw = PQunescapeBytea(reinterpret_cast<const unsigned char*>(value), &length);
    if (!raw)
        throw StoreError("PostgreSQL: out of memory");
    std::string out(reinterpret_cast<const char*>(raw), length);
    PQfreemem(raw);
    return out;
}

Connection::Connection(const std::string& location)
{
    // Keywords are read in order and the last one wins: the location may
    // set its own time-out, never another client encoding (texts are sent
    // as UTF-8).
    const char* const keys[] = { "connect_timeout", "application_name", "dbname", "client_encoding", nullptr };
    const char* const values[] = { "10", "vexor-server", location.c_str(), "UTF8", nullptr };
    m_conn = PQconnectdbParams(keys, values, 1);
    if (!m_conn)
        throw StoreUnavailable("PostgreSQL: out of memory");
    if (PQstatus(m_conn) != CONNECTION_OK) {
        const std::string reason = firstLine(PQerrorMessage(m_conn));
        PQfinish(m_conn);
        throw StoreUnavailable(reason);
    }
    // Notices ("relation ... already exists, skipping" at every start) would
    // go to standard error, line after line; they never mean a failure.
    PQsetNoticeProcessor(m_conn, [](void*, const char*) {}, nullptr);
}

Connection::~Connection()
{
    PQfinish(m_conn);
}

void Connection::ensureOpen()
{
    pollfd idle { PQsocket(m_conn), POLLIN, 0 };
    const bool spoken = idle.fd < 0 || ::poll(&idle, 1, 0) != 0;
    if (PQstatus(m_conn) == CONNECTION_OK && PQtransactionStatus(m_conn) == PQTRANS_IDLE && !spoken)
        return;
    // The server says something to an idle session only when it ends it
    // (shutdown, restart, a terminated backend): start a new one.
    m_prepared.clear();
    PQreset(m_conn);
    if (PQstatus(m_conn) != CONNECTION_OK)
        throw StoreUnavailable(firstLine(PQerrorMessage(m_conn)));
}

Result Connection::run(const char* sql, const Params& params)
{
    auto it = m_prepared.find(sql);
    if (it == m_prepared.end()) {
        std::string name = "s" + std::to_string(m_prepared.size());
        check(PQprepare(m_conn, name.c_str(), sql, 0, nullptr), sql);
        it = m_prepared.emplace(sql, std::move(name)).first;
    }
    return check(PQexecPrepared(m_conn, it->second.c_str(), params.size(), params.values(), params.lengths(),
                     params.formats(), 0),
        sql);
}

void Connection::exec(const std::string& sql)
{
    check(PQexec(m_conn, sql.c_str()), sql);
}

Result Connection::check(PGresult* result, std::string_view what)
{
    const auto status = PQresultStatus(result);
    if (result && (status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK))
        return Result(result);
    fail(result, what);
}

void Connection::fail(PGresult* result, std::string_view what)
{
    const std::string reason = firstLine(result ? PQresultErrorMessage(result) : PQerrorMessage(m_conn)) + " ("
        + std::string(what.substr(0, 60)) + ")";
    const char* state = result ? PQresultErrorField(result, PG_DIAG_SQLSTATE) : nullptr;
    const bool transient = PQstatus(m_conn) != CONNECTION_OK || !state || isTransient(state);
    PQclear(result);
    if (transient)
        throw StoreUnavailable(reason);
    throw StoreError(reason);
}

Transaction::Transaction(Connection& connection, Kind kind)
    : m_connection(connection)
{
    m_connection.exec(kind == Kind::Write ? "BEGIN" : "BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY");
}

Transaction::~Transaction()
{
    if (!m_open)
        return;
    try {
        m_connection.exec("ROLLBACK");
    } catch (const StoreError&) {
        // A broken session has no transaction left; the pool opens it anew.
    }
}

void Transaction::commit()
{
    m_connection.exec("COMMIT");
    m_open = false;
}

Pool::Pool(std::string location)
    : m_location(std::move(location))
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
    std::unique_ptr<Connection> connection;
    {
        const std::lock_guard lock(m_mutex);
        if (!m_idle.empty()) {
            connection = std::move(m_idle.back());
            m_idle.pop_back();
        }
    }
    if (!connection)
        return Lease(*this, std::make_unique<Connection>(m_location));
    Lease lease(*this, std::move(connection));
    lease->ensureOpen();
    return lease;
}

void Pool::release(std::unique_ptr<Connection> connection)
{
    const std::lock_guard lock(m_mutex);
    if (m_idle.size() < MaxIdle)
        m_idle.push_back(std::move(connection));
}

} // namespace vexor::server::pg
