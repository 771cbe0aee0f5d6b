#include "nettestutil.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <random>
#include <thread>

extern char** environ;

namespace vexor::net::testing {

namespace {

bool accepts(std::uint16_t port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return ok;
}

}  // namespace

PeerProcess::PeerProcess(std::vector<std::string> args, const std::filesystem::path& log)
{
    std::vector<char*> argv;
    for (auto& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    if (posix_spawn(&m_pid, argv[0], &actions, nullptr, argv.data(), environ) != 0)
        m_pid = -1;
    posix_spawn_file_actions_destroy(&actions);
}

PeerProcess::~PeerProcess()
{
    if (m_pid > 0) {
        ::kill(m_pid, SIGTERM);
        ::waitpid(m_pid, nullptr, 0);
    }
}

bool PeerProcess::WaitReady(std::uint16_t port)
{
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (m_pid > 0 && std::chrono::steady_clock::now() < until) {
        if (accepts(port))
            return true;
        if (::waitpid(m_pid, nullptr, WNOHANG) == m_pid) {
            m_pid = -1;
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

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
