#include "net/tlssessions.h"

#include <algorithm>
#include <atomic>

namespace vexor::net {

namespace {

std::atomic<std::uint64_t> completedHandshakes{0};
std::atomic<std::uint64_t> resumedHandshakes{0};

}  // namespace

bool TlsSessionCache::offer(const std::string& key, const std::function<void(ssl_session_st*)>& use)
{
    std::lock_guard lock(m_mutex);
    const auto found = m_hosts.find(key);
    if (found == m_hosts.end() || found->second.sessions.empty())
        return false;
    Host& host = found->second;
    host.lastUse = ++m_clock;
    use(host.sessions.back().session.get());
    if (host.sessions.back().ticket)
        host.sessions.pop_back();
    return true;
}

void TlsSessionCache::keep(const std::string& key, ssl_session_st* session, Release release, bool ticket,
                           bool replace)
{
    Held held{{session, release}, ticket};
    std::lock_guard lock(m_mutex);
    if (m_hosts.find(key) == m_hosts.end())
        makeRoom();
    Host& host = m_hosts[key];
    host.lastUse = ++m_clock;
    if (replace || !ticket || (!host.sessions.empty() && !host.sessions.front().ticket))
        host.sessions.clear();
    host.sessions.push_back(std::move(held));
    if (host.sessions.size() > MaxTicketsPerHost)
        host.sessions.pop_front();
}

void TlsSessionCache::drop(const std::string& key)
{
    std::lock_guard lock(m_mutex);
    m_hosts.erase(key);
}

std::size_t TlsSessionCache::count(const std::string& key) const
{
    std::lock_guard lock(m_mutex);
    const auto found = m_hosts.find(key);
    return found == m_hosts.end() ? 0 : found->second.sessions.size();
}

void TlsSessionCache::makeRoom()
{
    if (m_hosts.size() < MaxHosts)
        return;
    const auto oldest = std::min_element(m_hosts.begin(), m_hosts.end(), [](const auto& a, const auto& b) {
        return a.second.lastUse < b.second.lastUse;
    });
    m_hosts.erase(oldest);
}

TlsHandshakeCounts tlsHandshakeCounts()
{
    return {completedHandshakes.load(), resumedHandshakes.load()};
}

void countTlsHandshake(bool resumed)
{
    ++completedHandshakes;
    if (resumed)
        ++resumedHandshakes;
}

}  // namespace vexor::net
