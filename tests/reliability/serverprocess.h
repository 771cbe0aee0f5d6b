#pragma once

// vexor-server as a child process on a loopback port of the system's
// choosing, with its request log; stopped (SIGTERM, then waited for) by the
// destructor.

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace vexor::reliability {

class ServerProcess {
public:
    // `folder` receives the port file and the log.
    ServerProcess(const std::string& executable, const std::string& folder) : m_log(folder + "server.log")
    {
        const std::string portFile = folder + "server.port";
        ::unlink(portFile.c_str());
        ::unlink(m_log.c_str());  // the log counts this run's requests only
        std::vector<std::string> args = {executable, "--listen", "127.0.0.1", "--port", "0",
                                         "--port-file", portFile, "--log", m_log};
        std::vector<char*> argv;
        for (std::string& arg : args)
            argv.push_back(arg.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
        const int error = ::posix_spawn(&m_pid, executable.c_str(), &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        if (error != 0)
            throw std::runtime_error("cannot start " + executable);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (m_port == 0 && std::chrono::steady_clock::now() < deadline) {
            std::ifstream in(portFile);
            std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            if (!text.empty() && text.back() == '\n')
                m_port = std::stoi(text);
            else
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        if (m_port == 0) {
            stop();
            throw std::runtime_error("vexor-server did not start");
        }
    }
    ~ServerProcess() { stop(); }
    ServerProcess(const ServerProcess&) = delete;
    ServerProcess& operator=(const ServerProcess&) = delete;

    std::string host() const { return "127.0.0.1:" + std::to_string(m_port); }

    // Log lines that hold " A=<action> ".
    long countAction(const std::string& action) const
    {
        std::ifstream in(m_log);
        long count = 0;
        for (std::string line; std::getline(in, line);)
            count += line.find(" A=" + action + " ") != std::string::npos;
        return count;
    }

private:
    void stop()
    {
        if (m_pid > 0) {
            ::kill(m_pid, SIGTERM);
            ::waitpid(m_pid, nullptr, 0);
            m_pid = -1;
        }
    }

    std::string m_log;
    pid_t m_pid = -1;
    int m_port = 0;
};

}  // namespace vexor::reliability
