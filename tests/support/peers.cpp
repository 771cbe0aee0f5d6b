#include "peers.h"

#include "loopbackserver.h"
#include "tempdir.h"

#include <unistd.h>

#include <fstream>
#include <random>
#include <sstream>

namespace vexor::testkit {

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

bool runsAsRoot()
{
    return ::geteuid() == 0;
}

// Written readable (and, for logs the peer writes as "nobody", writable) by all.
void writeText(const fs::path& path, const std::string& text, fs::perms perms = fs::perms(0644))
{
    std::ofstream(path, std::ios::binary) << text;
    fs::permissions(path, perms);
}

bool runToSuccess(std::vector<std::string> args)
{
    return runToEnd(std::move(args)).exitStatus == 0;
}

// The peer drops to "nobody" as root: every folder on the way must be open to it.
void openForPeer(const fs::path& folder)
{
    fs::create_directories(folder);
    if (runsAsRoot())
        fs::permissions(folder, fs::perms(0755));
}

}  // namespace

std::unique_ptr<ChildProcess> startPeer(std::vector<std::string> args, const std::string& log)
{
    ChildProcess::Options options;
    options.outFile = log;
    options.append = true;
    options.ownGroup = true;
    return std::make_unique<ChildProcess>(std::move(args), options);
}

bool ApachePeer::available()
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
    m_port = freePort();
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
    m_process = startPeer({ApacheBinary, "-f", d + "/httpd.conf", "-DFOREGROUND"}, folder / "httpd.out");
    m_ready = m_process->waitAccepts(m_port);
}

std::string ApachePeer::diagnostics() const
{
    return readFile(m_folder / "httpd.out") + readFile(m_folder / "httpd-error.log");
}

std::string ApachePeer::host() const
{
    return "127.0.0.1:" + std::to_string(m_port);
}

std::vector<std::string> ApachePeer::queries() const
{
    return readLines(m_folder / "queries.log");
}

bool SquidPeer::available()
{
    return ::access(SquidBinary, X_OK) == 0 && ::access(NcsaHelper, X_OK) == 0
        && ::access(HtpasswdBinary, X_OK) == 0;
}

SquidPeer::SquidPeer(const fs::path& folder, const std::string& user, const std::string& password)
    : m_folder(folder)
{
    openForPeer(folder);
    const std::string d = folder.string();
    if (!runToSuccess({HtpasswdBinary, "-b", "-c", "-m", d + "/squid.passwd", user, password}))
        return;
    fs::permissions(folder / "squid.passwd", fs::perms(0644));
    for (const char* log : {"squid-cache.log", "squid-access.log"})
        writeText(folder / log, "", fs::perms(0666));
    m_port = freePort();
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
    m_process = startPeer({SquidBinary, "-N", "-f", d + "/squid.conf"}, folder / "squid.out");
    m_ready = m_process->waitAccepts(m_port);
}

std::string SquidPeer::diagnostics() const
{
    return readFile(m_folder / "squid.out") + readFile(m_folder / "squid-cache.log");
}

std::string writeNginxSite(const std::filesystem::path& dir, unsigned seed)
{
    writeFile(dir / "www/small.txt", "small file\n");
    std::mt19937 random(seed);
    std::string big(3u << 20, '\0');
    for (char& c : big)
        c = static_cast<char>(random());
    writeFile(dir / "www/big.bin", big);
    return big;
}

std::unique_ptr<ChildProcess> startNginx(const std::filesystem::path& dir, const std::string& servers)
{
    const std::string d = dir.string();
    writeText(dir / "nginx.conf",
              "daemon off;\nmaster_process off;\nworker_processes 1;\npid " + d + "/nginx.pid;\n"
              "error_log " + d + "/nginx-error.log;\nevents { worker_connections 64; }\nhttp {\n"
              "  access_log " + d + "/nginx-access.log;\n"
              "  client_body_temp_path " + d + "/body;\n  proxy_temp_path " + d + "/proxy;\n"
              "  fastcgi_temp_path " + d + "/fastcgi;\n  uwsgi_temp_path " + d + "/uwsgi;\n"
              "  scgi_temp_path " + d + "/scgi;\n" + servers + "}\n");
    return startPeer({NginxBinary, "-p", d, "-c", d + "/nginx.conf"}, d + "/nginx.out");
}

std::unique_ptr<ChildProcess> startTinyproxy(const std::filesystem::path& dir, std::uint16_t port)
{
    const std::string d = dir.string();
    writeText(dir / "tinyproxy.conf",
              "Port " + std::to_string(port) + "\nListen 127.0.0.1\nTimeout 10\nMaxClients 10\n"
              "BasicAuth vexor s3cret-pass\nPidFile \"" + d + "/tinyproxy.pid\"\n"
              "LogFile \"" + d + "/tinyproxy.log\"\nLogLevel Info\n");
    auto proxy = startPeer({"/usr/bin/tinyproxy", "-d", "-c", d + "/tinyproxy.conf"}, d + "/tinyproxy.out");
    if (!proxy->waitAccepts(port))
        return nullptr;
    return proxy;
}

}  // namespace vexor::testkit
