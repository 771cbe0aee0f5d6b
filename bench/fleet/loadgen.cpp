#include "loadgen.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <random>
#include <thread>

namespace vexor::fleet {

namespace {

using Clock = std::chrono::steady_clock;
constexpr int Slots = 10;
constexpr const char* EmptySlot = "000000";
constexpr std::size_t LineupAnswerLength = 66;
constexpr std::size_t ErrorSamples = 5;

struct Answer {
    int status = 0;        // 0: no answer
    std::string body;
    std::string error;     // why there is no answer
};

int connectLoopback(std::uint16_t port, std::string& error)
{
    const int sock = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (sock < 0) {
        error = "no socket (too many open files?)";
        return -1;
    }
    // Bounded: a stalled peer costs a request, never the run.
    timeval timeout { 10, 0 };
    ::setsockopt(sock, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    ::setsockopt(sock, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
    int one = 1;
    ::setsockopt(sock, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    sockaddr_in addr {};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(sock, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        error = "connect: refused or failed";
        ::close(sock);
        return -1;
    }
    return sock;
}

// Status and body of a whole answer read to the close; a body shorter than
// its Content-Length is no answer.
Answer parseAnswer(const std::string& raw)
{
    Answer answer;
    const auto headerEnd = raw.find("\r\n\r\n");
    if (!raw.starts_with("HTTP/1.") || raw.size() < 12 || headerEnd == std::string::npos) {
        answer.error = raw.empty() ? "closed without an answer" : "not an HTTP answer";
        return answer;
    }
    answer.body = raw.substr(headerEnd + 4);
    const std::string head = raw.substr(0, headerEnd);
    auto length = head.find("\r\nContent-Length: ");
    if (length == std::string::npos)
        length = head.find("\r\ncontent-length: ");
    if (length != std::string::npos
        && std::strtoull(head.c_str() + length + 18, nullptr, 10) != answer.body.size()) {
        answer.error = "answer cut short";
        return answer;
    }
    answer.status = std::atoi(raw.c_str() + 9);
    return answer;
}

class Requester {
public:
    Requester(const LoadTarget& target, SSL_CTX* context)
        : m_target(target)
        , m_context(context)
    {
    }
    ~Requester()
    {
        if (m_session)
            SSL_SESSION_free(m_session);
    }
    Requester(const Requester&) = delete;
    Requester& operator=(const Requester&) = delete;

    Answer get(const std::string& path, LoadTotals& totals)
    {
        Answer answer;
        const int sock = connectLoopback(m_target.port, answer.error);
        if (sock < 0)
            return answer;
        const std::string request = "GET " + path + " HTTP/1.0\r\nHost: " + m_target.hostName + "\r\n\r\n";
        std::string raw;
        const bool done = m_context ? exchangeTls(sock, request, raw, totals, answer.error)
                                    : exchangePlain(sock, request, raw, answer.error);
        ::close(sock);
        return done ? parseAnswer(raw) : answer;
    }

private:
    static bool exchangePlain(int sock, const std::string& request, std::string& raw, std::string& error)
    {
        if (::send(sock, request.data(), request.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(request.size())) {
            error = "send failed";
            return false;
        }
        char block[16384];
        ssize_t n = 0;
        while ((n = ::recv(sock, block, sizeof block, 0)) > 0)
            raw.append(block, static_cast<std::size_t>(n));
        if (n < 0)
            error = "receive failed";
        return n == 0;
    }

    bool exchangeTls(int sock, const std::string& request, std::string& raw, LoadTotals& totals, std::string& error)
    {
        const std::unique_ptr<SSL, decltype(&SSL_free)> ssl(SSL_new(m_context), SSL_free);
        SSL_set_fd(ssl.get(), sock);
        SSL_set_tlsext_host_name(ssl.get(), m_target.hostName.c_str());
        SSL_set1_host(ssl.get(), m_target.hostName.c_str());
        if (m_target.resumeSessions && m_session)
            SSL_set_session(ssl.get(), m_session);
        if (SSL_connect(ssl.get()) != 1) {
            error = "TLS handshake failed";
            dropSession();
            return false;
        }
        ++totals.handshakes;
        totals.resumed += SSL_session_reused(ssl.get()) ? 1 : 0;
        if (SSL_write(ssl.get(), request.data(), static_cast<int>(request.size())) != static_cast<int>(request.size())) {
            error = "TLS send failed";
            return false;
        }
        char block[16384];
        int n = 0;
        while ((n = SSL_read(ssl.get(), block, sizeof block)) > 0)
            raw.append(block, static_cast<std::size_t>(n));
        const int reason = SSL_get_error(ssl.get(), n);
        // nginx ends with close_notify; a bare close after a whole answer is
        // an end too (the Content-Length check catches a cut).
        if (reason != SSL_ERROR_ZERO_RETURN && reason != SSL_ERROR_SYSCALL) {
            error = "TLS receive failed";
            return false;
        }
        // A session freed without a shutdown is marked not resumable; the
        // quiet one sends nothing to a peer that has closed already.
        SSL_set_quiet_shutdown(ssl.get(), 1);
        SSL_shutdown(ssl.get());
        if (m_target.resumeSessions)
            keepSession(ssl.get());
        ERR_clear_error();
        return true;
    }

    // The session after the answer: a TLS 1.3 ticket arrives after the handshake.
    void keepSession(SSL* ssl)
    {
        SSL_SESSION* session = SSL_get1_session(ssl);
        if (!session)
            return;
        dropSession();
        m_session = session;
    }

    void dropSession()
    {
        if (m_session)
            SSL_SESSION_free(m_session);
        m_session = nullptr;
        ERR_clear_error();
    }

    const LoadTarget& m_target;
    SSL_CTX* m_context;
    SSL_SESSION* m_session = nullptr;
};

std::string hex6(std::uint32_t value)
{
    char text[16];
    std::snprintf(text, sizeof text, "%06X", value);
    return text;
}

struct Installation {
    std::string id;
    std::array<std::string, Slots> slots;
    std::array<std::uint32_t, Slots> counts {};
    std::int64_t startups = 1; // this start's
    bool install = false;
    bool firstCycle = true;
    Clock::time_point notBefore {}; // after a failed cycle: the next one
};

class Worker {
public:
    Worker(const LoadTarget& target, const LoadOptions& options, SSL_CTX* context, unsigned seed,
        std::atomic<std::int64_t>& errorsSoFar)
        : m_requester(target, context)
        , m_options(options)
        , m_rng(seed)
        , m_errorsSoFar(errorsSoFar)
    {
    }

    // One whole cycle; true when every request was answered 200.
    bool cycle(Installation& inst, LoadTotals& totals)
    {
        prepare(inst);
        const std::string prefix = "/cgi-bin/script/vexor_parser.pl?A=";
        const std::string who = "&MID=1&MCID=" + inst.id + "&MUID=1";
        std::string langl = prefix + "LANGL" + who + "&L=English";
        if (inst.startups > 0)
            langl += "&STARTUP=" + std::to_string(inst.startups);
        if (inst.install)
            langl += "&INSTALL=True";
        const Reported languageReport { inst.startups, inst.install ? 1 : 0, 0 };
        if (!send(langl, languageReport, totals))
            return false;
        inst.startups = 0;
        inst.install = false;
        if (!send(prefix + "VERSION" + who + "&L=English", {}, totals)
            || !send(prefix + "MODL" + who + "&L=English", {}, totals))
            return false;
        return lineup(inst, prefix, who, totals);
    }

private:
    // What happened since the last cycle: the banners shown, perhaps a start,
    // perhaps a new line-up in force (the installation's slots are then
    // those of the previous one: every slot differs).
    void prepare(Installation& inst)
    {
        std::uniform_real_distribution<double> share(0, 1);
        if (!inst.firstCycle && share(m_rng) < m_options.newLineupShare) {
            // A slot's count stays with the banner it counted.
            std::rotate(inst.slots.begin(), inst.slots.begin() + 1, inst.slots.end());
            std::rotate(inst.counts.begin(), inst.counts.begin() + 1, inst.counts.end());
        }
        for (int slot = 0; slot < Slots; ++slot) {
            if (inst.slots[slot] != EmptySlot)
                inst.counts[slot] += static_cast<std::uint32_t>(m_rng() % 256);
        }
        if (!inst.firstCycle && m_rng() % 3 == 0)
            ++inst.startups;
    }

    bool lineup(Installation& inst, const std::string& prefix, const std::string& who, LoadTotals& totals)
    {
        std::string ids, log;
        Reported displays;
        for (int slot = 0; slot < Slots; ++slot) {
            ids += inst.slots[slot];
            log += hex6(inst.counts[slot]);
            displays.displays += inst.counts[slot];
        }
        Answer answer;
        if (!send(prefix + "LCOUNT" + who + "&LOGOIDS=" + ids + "&LOG=" + log + "&LF=2", displays, totals, &answer))
            return false;
        inst.counts = {};
        if (answer.body.size() != LineupAnswerLength)
            return true;
        inst.firstCycle = false;
        for (int slot = 0; slot < Slots; ++slot) {
            const std::string id = answer.body.substr(static_cast<std::size_t>(slot) * 6, 6);
            if (id == inst.slots[slot])
                continue;
            if (id != EmptySlot
                && (!send(prefix + "LOGO" + who + "&LOGOID=" + id, {}, totals)
                    || !send(prefix + "HTML" + who + "&LOGOID=" + id, {}, totals)))
                return false;
            inst.slots[slot] = id;
        }
        return true;
    }

    bool send(const std::string& path, const Reported& carried, LoadTotals& totals, Answer* out = nullptr)
    {
        const auto start = Clock::now();
        Answer answer = m_requester.get(path, totals);
        const auto end = Clock::now();
        totals.latencies.push_back(std::chrono::duration<float, std::milli>(end - start).count());
        ++totals.requests;
        if (carried.startups || carried.installs || carried.displays)
            totals.reports.push_back({ start, end, carried });
        if (answer.status == 200) {
            totals.answered += carried;
            if (out)
                *out = std::move(answer);
            return true;
        }
        ++totals.errors;
        ++m_errorsSoFar;
        totals.unavailable += answer.status == 503 ? 1 : 0;
        // A server may have recorded the report before it failed (a 503 of
        // LANGL after its start-ups, nginx's 502 for a server that died).
        totals.unanswered += carried;
        if (totals.errorSamples.size() < ErrorSamples)
            totals.errorSamples.push_back(answer.status ? "HTTP " + std::to_string(answer.status) : answer.error);
        return false;
    }

    Requester m_requester;
    const LoadOptions& m_options;
    std::mt19937 m_rng;
    std::atomic<std::int64_t>& m_errorsSoFar;
};

std::unique_ptr<SSL_CTX, decltype(&SSL_CTX_free)> clientContext(const LoadTarget& target)
{
    std::unique_ptr<SSL_CTX, decltype(&SSL_CTX_free)> context(nullptr, SSL_CTX_free);
    if (!target.tls)
        return context;
    context.reset(SSL_CTX_new(TLS_client_method()));
    SSL_CTX_set_min_proto_version(context.get(), TLS1_2_VERSION);
    SSL_CTX_set_verify(context.get(), SSL_VERIFY_PEER, nullptr);
    if (SSL_CTX_load_verify_locations(context.get(), target.caFile.c_str(), nullptr) != 1)
        throw std::runtime_error("cannot read the authority " + target.caFile);
    // Sessions are kept by the requester itself, one per connection slot.
    SSL_CTX_set_session_cache_mode(context.get(), SSL_SESS_CACHE_CLIENT | SSL_SESS_CACHE_NO_INTERNAL_STORE);
    return context;
}

} // namespace

Reported& Reported::operator+=(const Reported& other)
{
    startups += other.startups;
    installs += other.installs;
    displays += other.displays;
    return *this;
}

double LoadTotals::percentile(double p) const
{
    if (latencies.empty())
        return 0;
    std::vector<float> sorted = latencies;
    const auto at = std::min(sorted.size() - 1, static_cast<std::size_t>(p * static_cast<double>(sorted.size())));
    std::nth_element(sorted.begin(), sorted.begin() + static_cast<std::ptrdiff_t>(at), sorted.end());
    return sorted[at];
}

Reported LoadTotals::carriedBetween(Clock::time_point from, Clock::time_point to) const
{
    Reported carried;
    for (const auto& report : reports) {
        if (report.start <= to && report.end >= from)
            carried += report.carried;
    }
    return carried;
}

FleetLoad::FleetLoad(LoadTarget target, LoadOptions options)
    : m_target(std::move(target))
    , m_options(std::move(options))
{
}

LoadTotals FleetLoad::run()
{
    // A server that dies mid-answer must cost a request, not the process.
    std::signal(SIGPIPE, SIG_IGN);
    const auto context = clientContext(m_target);
    const int threads = std::max(1, std::min(m_options.connections, m_options.installations));
    std::vector<LoadTotals> parts(static_cast<std::size_t>(threads));
    std::vector<std::thread> workers;
    const auto start = Clock::now();
    const auto end = start + std::chrono::duration<double>(m_options.seconds);
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([&, t] {
            std::vector<Installation> mine;
            for (int n = t; n < m_options.installations; n += threads) {
                Installation inst { m_options.clientPrefix + std::to_string(n), {}, {}, 1,
                    m_options.newInstallEvery > 0 && n % m_options.newInstallEvery == 0, true };
                inst.slots.fill(EmptySlot);
                mine.push_back(std::move(inst));
            }
            Worker worker(
                m_target, m_options, context.get(), m_options.seed * 7919 + static_cast<unsigned>(t), m_errorsSoFar);
            auto& totals = parts[static_cast<std::size_t>(t)];
            for (std::size_t i = 0, waiting = 0; !m_stop && Clock::now() < end; i = (i + 1) % mine.size()) {
                auto& inst = mine[i];
                if (inst.notBefore > Clock::now()) {
                    // Every one waiting for its next cycle: so does the thread.
                    if (++waiting >= mine.size())
                        std::this_thread::sleep_for(std::chrono::milliseconds(5));
                    continue;
                }
                waiting = 0;
                if (worker.cycle(inst, totals)) {
                    ++totals.cycles;
                    ++m_cyclesDone;
                } else {
                    inst.notBefore = Clock::now() + m_options.retryAfter;
                }
            }
        });
    }
    for (auto& worker : workers)
        worker.join();
    LoadTotals total;
    total.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    for (auto& part : parts) {
        total.cycles += part.cycles;
        total.requests += part.requests;
        total.errors += part.errors;
        total.unavailable += part.unavailable;
        total.handshakes += part.handshakes;
        total.resumed += part.resumed;
        total.answered += part.answered;
        total.unanswered += part.unanswered;
        total.latencies.insert(total.latencies.end(), part.latencies.begin(), part.latencies.end());
        total.reports.insert(total.reports.end(), part.reports.begin(), part.reports.end());
        for (auto& sample : part.errorSamples) {
            if (total.errorSamples.size() < ErrorSamples)
                total.errorSamples.push_back(std::move(sample));
        }
    }
    return total;
}

} // namespace vexor::fleet
