#pragma once

// Child processes for the tests: peers (Apache, Squid, vexor-server), the
// built tools and the client, started with posix_spawn and always reaped.

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace vexor::testkit {

class ChildProcess {
public:
    struct Options {
        // Standard output (and, without errFile, standard error) goes to this
        // file; without it to /dev/null, standard error then stays the test's.
        std::string outFile;
        bool append = false;
        std::string errFile;   // standard error alone, truncated
        bool pipeOut = false;  // standard output into a pipe, read with readOutput()
        // A process group of its own: Apache ends by signalling its whole
        // group, which would otherwise include the test.
        bool ownGroup = false;
        std::vector<std::string> environment;  // "NAME=value"; empty: the test's own
    };

    // `args[0]` is the program's path. started() is false when it did not start.
    ChildProcess(std::vector<std::string> args, Options options);
    ~ChildProcess();  // SIGTERM and wait when it still runs
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool started() const { return m_started; }
    pid_t pid() const { return m_pid; }
    bool running();

    // Waits for the end (SIGKILL after `timeout`); the exit status, or -1 when
    // it was killed, ended by a signal or was not running.
    int wait(std::chrono::milliseconds timeout = std::chrono::seconds(10));
    int stop(int signal, std::chrono::milliseconds timeout = std::chrono::seconds(10));

    // Appends what standard output offers until `timeout`, its end, or (with
    // `untilNewline`) a line end to `out`; true when the output ended.
    bool readOutput(std::string& out, std::chrono::milliseconds timeout, bool untilNewline);

    // Waits until something accepts on 127.0.0.1:`port`; false when the
    // process ended first or `timeout` passed.
    bool waitAccepts(std::uint16_t port, std::chrono::milliseconds timeout = std::chrono::seconds(10));

private:
    pid_t m_pid = -1;
    bool m_started = false;
    int m_out = -1;
};

struct RunResult {
    int exitStatus = -1;  // -1: killed after the time-out, or ended by a signal
    std::string out;
    std::string err;
};

// Runs `args` to its end, standard output and error caught.
RunResult runToEnd(std::vector<std::string> args, std::chrono::milliseconds timeout = std::chrono::seconds(30),
                   std::vector<std::string> environment = {});

// The test's environment without the variables named in `drop`.
std::vector<std::string> environmentWithout(const std::vector<std::string>& drop);

}  // namespace vexor::testkit
