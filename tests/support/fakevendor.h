#pragma once

// An in-process stand-in for the vendor's query script on a loopback port
// chosen by the system, scripted per test: the answers of the seven actions, a
// request that stalls until the test releases it, and a log of every request.
// Unlike VendorServer (the real vexor-server binary) it runs in the test's
// process, so a test can hold a request half-way or cut a page off.

#include "vendorserver.h"

#include <chrono>
#include <condition_variable>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace httplib {
class Server;
}

namespace vexor::testkit {

// A request as the fake vendor saw it.
struct LoggedRequest : ServerLogLine {
    std::string target;         // as received (absolute through a proxy)
    std::string authorization;  // credentials (Proxy-Authorization or Authorization)
};

class FakeVendor {
public:
    struct Answers {
        std::string langList = "[Languages]\r\nEnglish=english.lng\r\nDeutsch=deutsch.lng\r\n";
        std::string version = "1.3";
        std::string modList = "[Modules]\r\nNotes=Notes\r\nClock=Clock\r\n";
        std::string lineUp;  // the LCOUNT body
        // LOGO and HTML bodies for an identifier.
        std::function<std::string(const std::string&)> image = [](const std::string& id) { return "GIF89a " + id; };
        std::function<std::string(const std::string&)> page = [](const std::string& id) {
            return "<html><body>" + id + "</body></html>";
        };
        // The page of this identifier is announced in full (Content-Length)
        // and cut off by a closed connection half-way.
        std::string cutPageOf;
    };

    FakeVendor();
    ~FakeVendor();
    FakeVendor(const FakeVendor&) = delete;
    FakeVendor& operator=(const FakeVendor&) = delete;

    std::string host() const;  // "127.0.0.1:<port>"
    int port() const { return m_port; }

    void setAnswers(Answers answers);
    void setLineUp(const std::string& lineUp);

    // The next request of `action` (and, when given, for `logoId`) waits until
    // release() or the destructor; the test sees it arrive with waitStalled().
    void stallOn(const std::string& action, const std::string& logoId = {});
    bool waitStalled(std::chrono::milliseconds timeout = std::chrono::seconds(10));
    void release();
    // Called on the server's thread when a stalled request arrives.
    std::function<void()> onStalled;

    std::vector<LoggedRequest> log() const;
    std::vector<std::string> actions() const;  // "LANGL", "LOGO:100001", ...
    void clearLog();

private:
    std::string answer(const LoggedRequest& request, bool& cut);

    std::unique_ptr<httplib::Server> m_server;
    std::thread m_listener;
    std::future<void> m_listenerEnded;
    [[noreturn]] static void giveUp(const char* what);
    int m_port = 0;
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    Answers m_answers;
    std::vector<LoggedRequest> m_log;
    std::string m_stallAction, m_stallId;
    bool m_stalled = false;
    bool m_released = false;
};

}  // namespace vexor::testkit
