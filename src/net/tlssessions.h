#pragma once

// The TLS sessions the client keeps for resumption, by server: a resumed
// handshake costs the server no public-key operation, and a cycle opens one
// connection per request to the same host.
//
// A key names everything a session must not be mixed across: the host name
// as the certificate was checked against it, the port and the trust settings
// (TlsChannel builds it). A session is offered only for its own key, so it
// never reaches another host name. TLS 1.3 tickets are used once (RFC 8446,
// C.4: a reused ticket lets an observer link the connections), each host
// keeping the last few the server sent; a TLS 1.2 session stays until the
// server gives a new one or a handshake fails.
//
// Thread-safe: the download thread and the GUI thread's clients share the
// one cache. It holds OpenSSL's sessions but calls OpenSSL only through the
// release function each session comes with, so it does not load the library.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>

struct ssl_session_st;

namespace vexor::net {

class TlsSessionCache {
public:
    using Release = void (*)(ssl_session_st*);
    // Hosts kept; the one used longest ago makes room for a new one.
    static constexpr std::size_t MaxHosts = 16;
    // TLS 1.3 tickets kept per host (servers send two after a full handshake).
    static constexpr std::size_t MaxTicketsPerHost = 4;

    TlsSessionCache() = default;
    ~TlsSessionCache() = default;  // releases every session
    TlsSessionCache(const TlsSessionCache&) = delete;
    TlsSessionCache& operator=(const TlsSessionCache&) = delete;

    // Calls `use` with the newest session of `key`, under the cache's lock
    // (`use` must not call the cache; SSL_set_session takes its own
    // reference). A ticket leaves the cache with that. False when there is
    // none.
    bool offer(const std::string& key, const std::function<void(ssl_session_st*)>& use);
    // Takes `session` over (released with `release`). `ticket`: a TLS 1.3
    // ticket, added to the host's others; anything else replaces them.
    // `replace` drops what the host had first: its server did not take it.
    void keep(const std::string& key, ssl_session_st* session, Release release, bool ticket, bool replace);
    // Forgets every session of `key` (a failed handshake).
    void drop(const std::string& key);
    // Sessions held for `key`.
    std::size_t count(const std::string& key) const;

private:
    struct Held {
        std::unique_ptr<ssl_session_st, Release> session;
        bool ticket;
    };
    struct Host {
        std::deque<Held> sessions;  // oldest first
        std::uint64_t lastUse = 0;
    };
    void makeRoom();

    mutable std::mutex m_mutex;
    std::map<std::string, Host> m_hosts;
    std::uint64_t m_clock = 0;
};

// Handshakes completed by every channel of the process, and how many of
// them resumed a session (benchmarks, tests).
struct TlsHandshakeCounts {
    std::uint64_t completed = 0;
    std::uint64_t resumed = 0;
};
TlsHandshakeCounts tlsHandshakeCounts();
void countTlsHandshake(bool resumed);

}  // namespace vexor::net
