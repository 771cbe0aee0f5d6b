#include "requestlog.h"

#include <cerrno>
#include <cstring>
#include <ctime>

namespace vexor::server {

namespace {

std::string utcTime(std::chrono::system_clock::time_point time)
{
    const std::time_t seconds = std::chrono::system_clock::to_time_t(time);
    std::tm parts {};
    gmtime_r(&seconds, &parts);
    char text[32];
    if (std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts) == 0)
        return "-";
    return text;
}

// A field that is never empty, so that the line keeps its shape.
std::string logField(std::string_view text, std::string_view alsoEscape = {})
{
    return text.empty() ? std::string("-") : escapeForLog(text, alsoEscape);
}

std::string logKey(std::string_view key)
{
    std::string escaped = escapeForLog(key, "=");
    if (escaped.starts_with('/'))
        escaped.replace(0, 1, "%2F");
    return escaped;
}

} // namespace

std::string formatLogLine(const LogEntry& entry)
{
    std::string line = utcTime(entry.time);
    line += ' ';
    line += logField(entry.clientAddress);
    if (!entry.isScriptGet) {
        line += ' ';
        line += logField(entry.method, "=");
        line += ' ';
        line += logField(entry.path, "=");
    }
    for (const auto& pair : entry.pairs) {
        line += ' ';
        line += logKey(pair.key);
        line += '=';
        line += escapeForLog(pair.value);
    }
    return line;
}

std::unique_ptr<RequestLog> RequestLog::open(const std::string& path, std::string& error)
{
    if (path.empty())
        return std::unique_ptr<RequestLog>(new RequestLog(stdout, false));
    std::FILE* file = std::fopen(path.c_str(), "a");
    if (!file) {
        error = "cannot open the log file " + path + ": " + std::strerror(errno);
        return nullptr;
    }
    return std::unique_ptr<RequestLog>(new RequestLog(file, true));
}

RequestLog::RequestLog(std::FILE* file, bool owned)
    : m_file(file)
    , m_owned(owned)
{
}

RequestLog::~RequestLog()
{
    if (m_owned)
        std::fclose(m_file);
}

void RequestLog::write(const LogEntry& entry)
{
    const std::string line = formatLogLine(entry) + '\n';
    const std::lock_guard lock(m_mutex);
    std::fwrite(line.data(), 1, line.size(), m_file);
    std::fflush(m_file);
}

} // namespace vexor::server
