#pragma once

// Simulated installations of the client against a vendor's server (or nginx
// in front of several): each has its own client id, its banner line-up and
// its counters, and runs whole synchronisation cycles as the client does:
// LANGL (with STARTUP, sometimes INSTALL), VERSION, MODL, LCOUNT (the ids of
// its line-up and the displays since its last answered report), then LOGO
// and HTML for every slot the answer changed. A request that gets no 200
// answer ends the cycle; what it carried is sent again at the next one, as
// the client does. Every request is a new connection (HTTP/1.0, or TLS with
// OpenSSL), loopback only.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace vexor::fleet {

struct LoadTarget {
    std::uint16_t port = 0;        // on 127.0.0.1
    bool tls = false;
    std::string caFile;            // the authority to trust over TLS
    std::string hostName = "localhost"; // checked against the certificate, sent as SNI
    bool resumeSessions = false;   // keep each connection slot's TLS session and offer it again
};

struct LoadOptions {
    int installations = 200;
    int connections = 8;           // at most this many requests at once
    double seconds = 5;
    unsigned seed = 1;
    std::string clientPrefix = "F"; // client ids are prefix + number
    // The share of cycles that find a new line-up in force (all ten slots
    // change: 24 requests); the others change nothing (4 requests). An
    // installation's first cycle always fetches all ten.
    double newLineupShare = 1.0;
    int newInstallEvery = 10;      // every n-th installation reports INSTALL in its first cycle
    // An installation whose cycle failed starts its next one this much later.
    std::chrono::milliseconds retryAfter { 1000 };
};

// What the installations sent, split by whether the request was answered
// (200) or not: only answered reports can be asked of the store.
struct Reported {
    std::int64_t startups = 0;
    std::int64_t installs = 0;
    std::int64_t displays = 0;

    Reported& operator+=(const Reported& other);
};

// One request that carried a report, and when it was under way.
struct ReportSent {
    std::chrono::steady_clock::time_point start;
    std::chrono::steady_clock::time_point end;
    Reported carried;
};

struct LoadTotals {
    double seconds = 0;
    std::int64_t cycles = 0;          // completed: every request answered 200
    std::int64_t requests = 0;
    std::int64_t errors = 0;          // no answer, or not 200
    std::int64_t unavailable = 0;     // of them, 503: the store was away
    std::int64_t handshakes = 0;      // TLS connections
    std::int64_t resumed = 0;         // of them, resumed sessions
    Reported answered;                // in requests answered 200
    Reported unanswered;              // in requests without a 200 answer: stored or not, nobody knows
    std::vector<float> latencies;     // milliseconds, every request
    std::vector<std::string> errorSamples; // the first few errors, for the log
    std::vector<ReportSent> reports;  // every request that carried a report

    // What the requests under way at some moment between `from` and `to`
    // carried: what a server killed then may have recorded without its
    // client knowing (nginx passes a failed request to the other server).
    Reported carriedBetween(std::chrono::steady_clock::time_point from, std::chrono::steady_clock::time_point to) const;

    double percentile(double p) const;
    double cyclesPerSecond() const { return seconds > 0 ? static_cast<double>(cycles) / seconds : 0; }
};

// Runs the installations from `connections` threads, each with its own share
// of them, until the time is up or stop() is called.
class FleetLoad {
public:
    FleetLoad(LoadTarget target, LoadOptions options);

    LoadTotals run();
    // From any thread: every thread ends after its request in flight.
    void stop() { m_stop = true; }
    // Completed cycles so far, from any thread.
    std::int64_t cyclesDone() const { return m_cyclesDone.load(); }
    // Requests without a 200 answer so far, from any thread.
    std::int64_t errorsSoFar() const { return m_errorsSoFar.load(); }

private:
    LoadTarget m_target;
    LoadOptions m_options;
    std::atomic<bool> m_stop { false };
    std::atomic<std::int64_t> m_cyclesDone { 0 };
    std::atomic<std::int64_t> m_errorsSoFar { 0 };
};

} // namespace vexor::fleet
