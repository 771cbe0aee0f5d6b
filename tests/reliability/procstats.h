#pragma once

// The process's own resident memory, thread count and open descriptors, read
// from /proc/self (Linux).

#include <dirent.h>

#include <fstream>
#include <string>

namespace vexor::reliability {

struct ProcStats {
    long rssKb = -1;
    long threads = -1;
    long fds = -1;
};

inline ProcStats readProcStats()
{
    ProcStats stats;
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0)
            stats.rssKb = std::stol(line.substr(6));
        else if (line.rfind("Threads:", 0) == 0)
            stats.threads = std::stol(line.substr(8));
    }
    if (DIR* dir = ::opendir("/proc/self/fd")) {
        stats.fds = 0;
        while (const dirent* entry = ::readdir(dir))
            stats.fds += entry->d_name[0] != '.';
        --stats.fds;  // the descriptor of the listing itself
        ::closedir(dir);
    }
    return stats;
}

}  // namespace vexor::reliability
