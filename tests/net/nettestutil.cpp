#include "nettestutil.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>

namespace vexor::net::testing {

std::string NginxConfig(const std::filesystem::path& dir, const std::string& servers)
{
    const std::string d = dir.string();
    return "daemon off;\nmaster_process off;\nworker_processes 1;\npid " + d + "/nginx.pid;\n"
           "error_log " + d + "/nginx-error.log;\nevents { worker_connections 64; }\nhttp {\n"
           "  access_log " + d + "/nginx-access.log;\n"
           "  client_body_temp_path " + d + "/body;\n  proxy_temp_path " + d + "/proxy;\n"
           "  fastcgi_temp_path " + d + "/fastcgi;\n  uwsgi_temp_path " + d + "/uwsgi;\n"
           "  scgi_temp_path " + d + "/scgi;\n" + servers + "}\n";
}

std::unique_ptr<PeerProcess> StartTinyproxy(const std::filesystem::path& dir, std::uint16_t port)
{
    const std::string d = dir.string();
    WriteFileText(dir / "tinyproxy.conf",
                  "Port " + std::to_string(port) + "\nListen 127.0.0.1\nTimeout 10\nMaxClients 10\n"
                  "BasicAuth vexor s3cret-pass\nPidFile \"" + d + "/tinyproxy.pid\"\n"
                  "LogFile \"" + d + "/tinyproxy.log\"\nLogLevel Info\n");
    auto proxy = std::make_unique<PeerProcess>(
        std::vector<std::string>{"/usr/bin/tinyproxy", "-d", "-c", d + "/tinyproxy.conf"}, dir / "tinyproxy.out");
    if (!proxy->WaitReady(port))
        return nullptr;
    return proxy;
}

std::string Reply(const std::string& status, const std::string& body, const std::string& extraHeaders)
{
    return "HTTP/1.0 " + status + "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n" + extraHeaders
        + "\r\n" + body;
}

std::string ReadFileText(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteFileText(const std::filesystem::path& path, const std::string& text)
{
    std::ofstream(path, std::ios::binary) << text;
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

TempDir::TempDir()
{
    std::random_device random;
    m_path = std::filesystem::temp_directory_path()
        / ("vexor-net-" + std::to_string(::getpid()) + "-" + std::to_string(random()));
    std::filesystem::create_directories(m_path);
}

TempDir::~TempDir()
{
    std::error_code ignored;
    std::filesystem::remove_all(m_path, ignored);
}

void LoopbackTest::SetUp()
{
    m_dir = std::make_unique<TempDir>();
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
    m_server->Stop();
    m_server.reset();
    m_dir.reset();
}

void LoopbackTest::Serve(LoopbackServer::Script script)
{
    std::lock_guard lock(m_scriptMutex);
    m_script = std::move(script);
}

std::string LoopbackTest::BaseUrl() const
{
    return "http://127.0.0.1:" + std::to_string(m_server->Port());
}

}  // namespace vexor::net::testing
