#pragma once

// Host name lookup that a caller can abandon: the lookup runs on a helper
// thread and signals a descriptor the caller polls; an abandoned lookup's late
// answer is dropped.

#include <sys/socket.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace vexor::net {

struct LookupAnswer {
    std::int32_t error = 0;                  // 0, or a Windows Sockets number 11001..11004
    std::vector<sockaddr_storage> addresses; // in the resolver's order; port 0
};

// Runs on the helper thread; must not touch the component.
using ResolveFunction = std::function<LookupAnswer(const std::string& name)>;

// getaddrinfo for TCP, IPv4 and IPv6 answers.
LookupAnswer SystemResolve(const std::string& name);

class HostLookup {
public:
    // Starts the lookup. Returns nullptr when no helper thread can be started.
    static std::unique_ptr<HostLookup> Start(const std::string& name, ResolveFunction resolve);
    ~HostLookup();  // abandons the lookup if it still runs
    HostLookup(const HostLookup&) = delete;
    HostLookup& operator=(const HostLookup&) = delete;

    int Descriptor() const;  // readable once the answer is in
    bool Done() const;
    LookupAnswer Answer() const;  // valid once Done()

    struct State;

private:
    explicit HostLookup(std::shared_ptr<State> state);
    std::shared_ptr<State> m_state;
};

}  // namespace vexor::net
