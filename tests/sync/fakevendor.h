#pragma once

// An in-process stand-in for the vendor's query script on a loopback port
// chosen by the system, scripted per test: the answers of the seven actions, a
// request that stalls until the test releases it, and a log of every request.
// Also a listener that accepts connections and never answers, and the main
// thread side of the download thread (FakeMainThread).

#include "app/constants.h"
#include "sync/downloadthread.h"
#include "sync/synchost.h"

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace httplib {
class Server;
}

namespace vexor::sync {

struct LoggedRequest {
    std::string action;                        // value of A
    std::vector<std::pair<std::string, std::string>> pairs;  // every query pair, in order
    std::string target;                        // as received (absolute through a proxy)
    std::string authorization;                 // credentials (Proxy-Authorization or Authorization)

    std::string value(const std::string& key) const;
    std::string keys() const;  // "A,MID,MCID,..." in order
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
    int m_port = 0;
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    Answers m_answers;
    std::vector<LoggedRequest> m_log;
    std::string m_stallAction, m_stallId;
    bool m_stalled = false;
    bool m_released = false;
};

// A listening loopback socket that never accepts: connections complete in the
// kernel's queue and then hear nothing.
class SilentServer {
public:
    SilentServer();
    ~SilentServer();
    std::string host() const;

private:
    int m_socket = -1;
    int m_port = 0;
};

// A loopback port with nothing listening on it.
std::string closedHost();

// The main window's side: the test thread plays the main thread and runs the
// worker's steps in serveUntil(). PrepareSync copies `shared` (language
// "English"); FinishSync hands back and clears StartUps and InstallFlag, as
// the main window does.
class FakeMainThread : public SyncHost {
public:
    explicit FakeMainThread(vexor::Constants& shared) : m_shared(shared) {}

    void attach(TDownloadThread* thread);

    void RequestMainThreadTurn() override;
    void PrepareSync(TDownloadThread& thread) override;
    void FinishSync(TDownloadThread& thread) override;
    void CycleEnded(TDownloadThread& thread) override;

    // Runs pending steps until `done` holds; false when the time ran out.
    bool serveUntil(const std::function<bool()>& done,
                    std::chrono::milliseconds timeout = std::chrono::seconds(20));
    // Starts one cycle and serves it to its end.
    bool runCycle(std::chrono::milliseconds timeout = std::chrono::seconds(20));

    // Wakes serveUntil() to look at its condition again (any thread).
    void poke();

    // Waits (without serving) until the worker asks for a main-thread turn.
    bool waitTurnRequested(std::chrono::milliseconds timeout = std::chrono::seconds(10));

    int prepares() const;
    int finishes() const;
    int cyclesEnded() const;

    std::string language = "English";
    std::function<void(TDownloadThread&)> afterPrepare;  // e.g. count displays meanwhile
    std::function<void(TDownloadThread&)> inFinish;      // before the hand-back

private:
    vexor::Constants& m_shared;
    TDownloadThread* m_thread = nullptr;
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    int m_turnsRequested = 0;
    int m_turnsServed = 0;
    int m_prepares = 0;
    int m_finishes = 0;
    int m_cyclesEnded = 0;
    int m_events = 0;
};

}  // namespace vexor::sync
