#include "nettestutil.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <unistd.h>

#include <stdexcept>

namespace vexor::net::testing {

std::string Reply(const std::string& status, const std::string& body, const std::string& extraHeaders)
{
    return "HTTP/1.0 " + status + "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n" + extraHeaders
        + "\r\n" + body;
}

std::string ErrorOf(const std::function<void()>& call)
{
    try {
        call();
    } catch (const ESockError& error) {
        return error.what();
    }
    return {};
}

sockaddr_storage AddressOf(const std::string& literal)
{
    sockaddr_storage address{};
    auto* v4 = reinterpret_cast<sockaddr_in*>(&address);
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&address);
    if (::inet_pton(AF_INET, literal.c_str(), &v4->sin_addr) == 1)
        v4->sin_family = AF_INET;
    else if (::inet_pton(AF_INET6, literal.c_str(), &v6->sin6_addr) == 1)
        v6->sin6_family = AF_INET6;
    return address;
}

BlackHole::BlackHole(const std::string& literal, std::uint16_t port)
{
    sockaddr_storage address = AddressOf(literal);
    reinterpret_cast<sockaddr_in*>(&address)->sin_port = htons(port);  // same place in both families
    socklen_t length = address.ss_family == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
    m_listener = ::socket(address.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    // A backlog of 0 holds one connection; the filler takes it.
    if (::bind(m_listener, reinterpret_cast<sockaddr*>(&address), length) != 0 || ::listen(m_listener, 0) != 0
        || ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        throw std::runtime_error("cannot listen on " + literal);
    m_port = ntohs(reinterpret_cast<sockaddr_in*>(&address)->sin_port);
    m_filler = ::socket(address.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (::connect(m_filler, reinterpret_cast<sockaddr*>(&address), length) != 0)
        throw std::runtime_error("cannot fill the backlog on " + literal);
}

BlackHole::~BlackHole()
{
    ::close(m_filler);
    ::close(m_listener);
}

void LoopbackTest::SetUp()
{
    m_server = std::make_unique<LoopbackServer>([this](ServerConnection& connection, int index) {
        LoopbackServer::Script script;
        {
            std::lock_guard lock(m_scriptMutex);
            script = m_script;
        }
        if (script)
            script(connection, index);
    });
}

void LoopbackTest::TearDown()
{
    m_server->stop();
    m_server.reset();
}

void LoopbackTest::Serve(LoopbackServer::Script script)
{
    std::lock_guard lock(m_scriptMutex);
    m_script = std::move(script);
}

std::string LoopbackTest::BaseUrl() const
{
    return "http://127.0.0.1:" + std::to_string(m_server->port());
}

}  // namespace vexor::net::testing
