#pragma once

#include "query.h"

#include <chrono>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace vexor::server {

// What the log records of one request.
struct LogEntry {
    std::chrono::system_clock::time_point time;
    std::string clientAddress;
    std::string method;
    std::string path;
    bool isScriptGet = false; // a GET of the query script: the line shows only the pairs
    std::vector<QueryPair> pairs;
};

// One line per request, for example
//   2026-12-08T17:00:00Z 127.0.0.1 A=LANGL MID=1 MCID=1131 MUID=1 L=English STARTUP=1 INSTALL=True
//   2026-12-08T17:00:05Z 127.0.0.1 GET /update/index.php MID=1 MCID=1131 MUID=1
// Time in UTC, the client's address, then (except for a GET of the query
// script) the method and the path, then every query pair as key=value in the
// order received. Keys, values and the path are written with escapeForLog,
// so a blank in a value shows as %20 and every line splits cleanly at blanks;
// "=" is escaped in keys and the path, and a "/" at the start of a key.
std::string formatLogLine(const LogEntry& entry);

// Appends lines to a file (or standard output), one complete line per write,
// flushed at once. Safe to call from any number of threads.
class RequestLog {
public:
    // Opens `path` for appending, creating it when missing; an empty path
    // writes to standard output. Nothing and an error text on failure.
    static std::unique_ptr<RequestLog> open(const std::string& path, std::string& error);
    ~RequestLog();

    RequestLog(const RequestLog&) = delete;
    RequestLog& operator=(const RequestLog&) = delete;

    void write(const LogEntry& entry);

private:
    RequestLog(std::FILE* file, bool owned);

    std::mutex m_mutex;
    std::FILE* m_file;
    bool m_owned;
};

} // namespace vexor::server
