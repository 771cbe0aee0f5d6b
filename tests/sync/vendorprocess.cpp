#include "vendorprocess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace vexor::sync {

namespace {

void writeFile(const std::filesystem::path& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
    if (!out)
        throw std::runtime_error("cannot write " + path.string());
}

// Reads the child's standard output until the "listening on ADDR:PORT" line.
int readPort(int fd)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    std::string text;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            throw std::runtime_error("vexor-server did not start listening: " + text);
        pollfd waiting{fd, POLLIN, 0};
        const int ready = ::poll(&waiting, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR)
            continue;
        char buffer[256];
        const ssize_t n = ready > 0 ? ::read(fd, buffer, sizeof buffer) : 0;
        if (ready > 0 && n <= 0)
            throw std::runtime_error("vexor-server ended: " + text);
        text.append(buffer, n > 0 ? static_cast<std::size_t>(n) : 0);
        const std::size_t line = text.find("listening on ");
        const std::size_t end = text.find('\n', line);
        if (line != std::string::npos && end != std::string::npos) {
            const std::size_t colon = text.rfind(':', end);
            return std::stoi(text.substr(colon + 1, end - colon - 1));
        }
    }
}

}  // namespace

std::string ServerLogLine::value(const std::string& key) const
{
    for (const auto& [name, text] : pairs) {
        if (name == key)
            return text;
    }
    return {};
}

std::string BannerImage(const std::string& id, std::size_t bytes)
{
    std::string image = "GIF89a" + id;
    for (std::size_t i = 0; image.size() < bytes; ++i)
        image += static_cast<char>((i * 7 + id.back()) & 0xFF);
    return image;
}

std::string BannerPage(const std::string& id)
{
    return "<html><body><a href=\"http://vendor.example/" + id + "\">banner " + id + "</a></body></html>\r\n";
}

void WriteVendorContent(const std::string& folder, const std::vector<std::string>& lineUps, std::size_t imageBytes)
{
    namespace fs = std::filesystem;
    const fs::path root(folder);
    for (const char* sub : {"lineups", "banners", "languages", "web"})
        fs::create_directories(root / sub);
    writeFile(root / "lang.ini", "[Languages]\r\nEnglish=english.lng\r\nDeutsch=deutsch.lng\r\n");
    writeFile(root / "modl.ini", "[Modules]\r\nNotes=Notes\r\nClock=Clock\r\n");
    writeFile(root / "version.txt", "1.3");
    writeFile(root / "languages" / "english.lng", "[Texts]\r\nMainCaption=Vexor\r\n");
    std::set<std::string> ids;
    for (std::size_t n = 0; n < lineUps.size(); ++n) {
        writeFile(root / "lineups" / (std::to_string(n + 1) + ".txt"), lineUps[n] + "\n");
        std::istringstream words(lineUps[n]);
        std::string word;
        for (int i = 0; i < 10 && words >> word; ++i) {
            if (word != "000000")
                ids.insert(word);
        }
    }
    for (const std::string& id : ids) {
        writeFile(root / "banners" / (id + ".gif"), BannerImage(id, imageBytes));
        writeFile(root / "banners" / (id + ".htm"), BannerPage(id));
    }
}

VendorProcess::VendorProcess(const std::string& executable, const std::string& contentFolder,
                             const std::string& logFile, const std::vector<std::string>& extraArguments)
    : m_logFile(logFile)
{
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe failed");
    std::vector<std::string> arguments = {executable, "--listen", "127.0.0.1", "--port", "0",
                                          "--content", contentFolder, "--log", logFile};
    arguments.insert(arguments.end(), extraArguments.begin(), extraArguments.end());
    std::vector<char*> argv;
    for (std::string& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    const int spawned = ::posix_spawn(&m_pid, executable.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeFds[1]);
    if (spawned != 0) {
        ::close(pipeFds[0]);
        throw std::runtime_error("cannot start " + executable);
    }
    try {
        m_port = readPort(pipeFds[0]);
    } catch (...) {
        ::close(pipeFds[0]);
        ::kill(m_pid, SIGKILL);
        ::waitpid(m_pid, nullptr, 0);
        throw;
    }
    ::close(pipeFds[0]);
}

VendorProcess::~VendorProcess()
{
    ::kill(m_pid, SIGTERM);
    int status = 0;
    while (::waitpid(m_pid, &status, 0) < 0 && errno == EINTR) {
    }
}

std::vector<ServerLogLine> VendorProcess::log() const
{
    std::vector<ServerLogLine> lines;
    std::ifstream in(m_logFile);
    std::string text;
    while (std::getline(in, text)) {
        std::istringstream words(text);
        std::string time, address, word;
        words >> time >> address;
        ServerLogLine line;
        bool script = true;
        while (words >> word) {
            const std::size_t equals = word.find('=');
            if (equals == std::string::npos) {
                script = false;  // "GET /path": not a script request
                break;
            }
            line.pairs.emplace_back(word.substr(0, equals), word.substr(equals + 1));
        }
        if (script && !line.pairs.empty())
            lines.push_back(std::move(line));
    }
    return lines;
}

}  // namespace vexor::sync
