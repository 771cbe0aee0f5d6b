#include "peers.h"

#include "loopbackserver.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <sstream>
#include <thread>

extern char** environ;

namespace vexor::net::testing {

namespace {

namespace fs = std::filesystem;

const char* const ApacheBinary = "/usr/sbin/apache2";
const char* const ApacheModules = "/usr/lib/apache2/modules";
const char* const SquidBinary = "/usr/sbin/squid";
const char* const NcsaHelper = "/usr/lib/squid/basic_ncsa_auth";
const char* const HtpasswdBinary = "/usr/bin/htpasswd";

// The vendor's script as the tests need it. Python 3 comes with Debian.
const char* const QueryScript = R"(#!/usr/bin/python3
import os, sys, urllib.parse
www = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")
content = os.path.join(www, "content")
pairs = urllib.parse.parse_qsl(os.environ.get("QUERY_STRING", ""), keep_blank_values=True, encoding="latin-1")
with open(os.path.join(www, "..", "queries.log"), "ab") as log:
    log.write("\t".join(k + "=" + v for k, v in pairs).encode("latin-1") + b"\n")
query = dict(pairs)
action = query.get("A", "")
def static(name):
    sys.stdout.write("Location: /content/" + name + "\r\n\r\n")
def text(name):
    with open(os.path.join(content, name), "rb") as f:
        body = f.read()
    sys.stdout.buffer.write(b"Content-Type: text/plain\r\n\r\n" + body)
if action in ("LANGL", "MODL"):
    static({"LANGL": "lang.ini", "MODL": "modl.ini"}[action])
elif action in ("LOGO", "HTML"):
    static(os.path.basename(query.get("LOGOID", "")) + (".gif" if action == "LOGO" else ".htm"))
elif action in ("VERSION", "LCOUNT"):
    text({"VERSION": "version.txt", "LCOUNT": "lineup.txt"}[action])
elif action == "LANGC":
    text(os.path.join("languages", os.path.basename(query.get("L", ""))))
else:
    sys.stdout.write("Status: 400 Bad Request\r\nContent-Type: text/plain\r\n\r\nunknown action\n")
)";

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

bool runsAsRoot()
{
    return ::geteuid() == 0;
}

std::string readText(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Written readable (and, for logs the peer writes as "nobody", writable) by all.
void writeText(const fs::path& path, const std::string& text, fs::perms perms = fs::perms(0644))
{
    std::ofstream(path, std::ios::binary) << text;
    fs::permissions(path, perms);
}

// Starts `args` with standard output and error in `out`; in a process group
// of its own when `ownGroup`. Returns the pid, -1 when nothing started.
pid_t spawn(std::vector<std::string>& args, const char* out, int openFlags, bool ownGroup)
{
    std::vector<char*> argv;
    for (auto& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, out, openFlags, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    if (ownGroup) {
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
        posix_spawnattr_setpgroup(&attributes, 0);
    }
    pid_t pid = -1;
    if (posix_spawn(&pid, argv[0], &actions, &attributes, argv.data(), environ) != 0)
        pid = -1;
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

bool runToEnd(std::vector<std::string> args)
{
    const pid_t pid = spawn(args, "/dev/null", O_WRONLY, false);
    int status = 0;
    return pid > 0 && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// The peer drops to "nobody" as root: every folder on the way must be open to it.
void openForPeer(const fs::path& folder)
{
    fs::create_directories(folder);
    if (runsAsRoot())
        fs::permissions(folder, fs::perms(0755));
}

}  // namespace

PeerProcess::PeerProcess(std::vector<std::string> args, const fs::path& log)
{
    // A process group of its own: Apache ends by signalling its whole group,
    // which would otherwise include the test.
    m_pid = spawn(args, log.c_str(), O_WRONLY | O_CREAT | O_APPEND, true);
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
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
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

bool ApachePeer::Available()
{
    return ::access(ApacheBinary, X_OK) == 0 && fs::exists(fs::path(ApacheModules) / "mod_cgi.so")
        && ::access("/usr/bin/python3", X_OK) == 0;
}

ApachePeer::ApachePeer(const fs::path& folder) : m_folder(folder)
{
    openForPeer(folder);
    for (const char* sub : {"www", "www/cgi-bin", "www/cgi-bin/script", "www/content", "www/content/languages"})
        openForPeer(folder / sub);
    writeText(folder / "www/cgi-bin/script/vexor_parser.pl", QueryScript, fs::perms(0755));
    writeText(folder / "queries.log", "", fs::perms(0666));
    m_port = FreePort();
    const std::string d = folder.string();
    const std::string modules = ApacheModules;
    std::ostringstream conf;
    conf << "ServerRoot " << d << "\nServerName 127.0.0.1\nListen 127.0.0.1:" << m_port << "\n";
    for (const char* module : {"mpm_prefork", "authz_core", "mime", "cgi"})
        conf << "LoadModule " << module << "_module " << modules << "/mod_" << module << ".so\n";
    // Apache refuses to serve as root; a normal user's start ignores these.
    if (runsAsRoot())
        conf << "User nobody\nGroup nogroup\n";
    conf << "PidFile " << d << "/httpd.pid\nErrorLog " << d << "/httpd-error.log\nMutex file:" << d << " default\n"
         << "TypesConfig /etc/mime.types\nDocumentRoot " << d << "/www\n"
         << "StartServers 2\nMinSpareServers 2\nMaxSpareServers 4\nKeepAlive On\n"
         << "<Directory " << d << "/www/cgi-bin>\n  Options +ExecCGI\n  SetHandler cgi-script\n</Directory>\n";
    writeText(folder / "httpd.conf", conf.str());
    m_process = std::make_unique<PeerProcess>(
        std::vector<std::string>{ApacheBinary, "-f", d + "/httpd.conf", "-DFOREGROUND"}, folder / "httpd.out");
    m_ready = m_process->WaitReady(m_port);
}

std::string ApachePeer::Diagnostics() const
{
    return readText(m_folder / "httpd.out") + readText(m_folder / "httpd-error.log");
}

std::string ApachePeer::Host() const
{
    return "127.0.0.1:" + std::to_string(m_port);
}

std::vector<std::string> ApachePeer::Queries() const
{
    std::vector<std::string> lines;
    std::istringstream in(readText(m_folder / "queries.log"));
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

bool SquidPeer::Available()
{
    return ::access(SquidBinary, X_OK) == 0 && ::access(NcsaHelper, X_OK) == 0
        && ::access(HtpasswdBinary, X_OK) == 0;
}

SquidPeer::SquidPeer(const fs::path& folder, const std::string& user, const std::string& password)
    : m_folder(folder)
{
    openForPeer(folder);
    const std::string d = folder.string();
    if (!runToEnd({HtpasswdBinary, "-b", "-c", "-m", d + "/squid.passwd", user, password}))
        return;
    fs::permissions(folder / "squid.passwd", fs::perms(0644));
    for (const char* log : {"squid-cache.log", "squid-access.log"})
        writeText(folder / log, "", fs::perms(0666));
    m_port = FreePort();
    std::ostringstream conf;
    conf << "http_port 127.0.0.1:" << m_port << "\n";
    // Squid drops root for this user; a normal user's start ignores it.
    if (runsAsRoot())
        conf << "cache_effective_user nobody\n";
    conf << "pid_filename " << d << "/squid.pid\ncache_log " << d << "/squid-cache.log\n"
         << "access_log stdio:" << d << "/squid-access.log\ncoredump_dir " << d << "\n"
         << "cache deny all\ncache_mem 8 MB\nnetdb_filename none\npinger_enable off\n"
         << "shutdown_lifetime 0 seconds\n"
         << "auth_param basic program " << NcsaHelper << " " << d << "/squid.passwd\n"
         << "auth_param basic children 2 startup=1\nauth_param basic realm vexor\n"
         << "acl users proxy_auth REQUIRED\nhttp_access allow users\nhttp_access deny all\n";
    writeText(folder / "squid.conf", conf.str());
    m_process = std::make_unique<PeerProcess>(
        std::vector<std::string>{SquidBinary, "-N", "-f", d + "/squid.conf"}, folder / "squid.out");
    m_ready = m_process->WaitReady(m_port);
}

std::string SquidPeer::Diagnostics() const
{
    return readText(m_folder / "squid.out") + readText(m_folder / "squid-cache.log");
}

}  // namespace vexor::net::testing
