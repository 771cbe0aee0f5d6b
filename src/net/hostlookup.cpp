#include "net/hostlookup.h"

#include "net/sockerrors.h"
#include "net/wakeup.h"

#include <netdb.h>

#include <cstring>
#include <mutex>
#include <system_error>
#include <thread>

namespace vexor::net {

// Shared by the caller and the helper thread; whichever lets go last frees it,
// so a late answer lands in memory nobody else reads any more.
struct HostLookup::State {
    WakeUp wake;
    mutable std::mutex mutex;
    bool done = false;
    LookupAnswer answer;
};

LookupAnswer SystemResolve(const std::string& name)
{
    LookupAnswer answer;
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    addrinfo* list = nullptr;
    const int rc = ::getaddrinfo(name.c_str(), nullptr, &hints, &list);
    if (rc != 0) {
        answer.error = WinsockErrorFromLookup(rc);
        return answer;
    }
    for (const addrinfo* ai = list; ai; ai = ai->ai_next) {
        if ((ai->ai_family != AF_INET && ai->ai_family != AF_INET6) || ai->ai_addrlen > sizeof(sockaddr_storage))
            continue;
        sockaddr_storage address{};
        std::memcpy(&address, ai->ai_addr, ai->ai_addrlen);
        answer.addresses.push_back(address);
    }
    ::freeaddrinfo(list);
    if (answer.addresses.empty())
        answer.error = ErrNoAddress;
    return answer;
}

HostLookup::HostLookup(std::shared_ptr<State> state) : m_state(std::move(state)) {}

HostLookup::~HostLookup() = default;

std::unique_ptr<HostLookup> HostLookup::Start(const std::string& name, ResolveFunction resolve)
{
    auto state = std::make_shared<State>();
    if (!resolve)
        resolve = SystemResolve;
    try {
        std::thread([state, name, resolve = std::move(resolve)] {
            LookupAnswer answer;
            try {
                answer = resolve(name);
            } catch (...) {
                answer = LookupAnswer{11003, {}};
            }
            std::lock_guard lock(state->mutex);
            state->answer = std::move(answer);
            state->done = true;
            state->wake.Signal();
        }).detach();
    } catch (const std::system_error&) {
        return nullptr;
    }
    return std::unique_ptr<HostLookup>(new HostLookup(std::move(state)));
}

int HostLookup::Descriptor() const
{
    return m_state->wake.Descriptor();
}

bool HostLookup::Done() const
{
    std::lock_guard lock(m_state->mutex);
    return m_state->done;
}

LookupAnswer HostLookup::Answer() const
{
    std::lock_guard lock(m_state->mutex);
    return m_state->answer;
}

}  // namespace vexor::net
