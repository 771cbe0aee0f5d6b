#pragma once

// Helpers shared by the network tests: a fixture whose loopback server runs
// the script the test case sets, replies, errors and addresses.

#include "loopbackserver.h"
#include "net/httpclient.h"
#include "peers.h"
#include "scopedenv.h"
#include "tempdir.h"

#include <gtest/gtest.h>

#include <sys/socket.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <sys/types.h>

namespace vexor::net::testing {

using namespace vexor::testkit;

// An HTTP reply with a Content-Length line for `body`.
std::string Reply(const std::string& status, const std::string& body, const std::string& extraHeaders = "");

// Runs `call` and returns the text of the ESockError it raised ("" if none).
std::string ErrorOf(const std::function<void()>& call);

// A numeric IPv4 or IPv6 address, port 0, as a resolver answers it.
sockaddr_storage AddressOf(const std::string& literal);

// A listener on `literal`:`port` (0: any free port) whose backlog is full, so
// a connect to it neither succeeds nor fails: the packets seem to go nowhere.
class BlackHole {
public:
    explicit BlackHole(const std::string& literal = "127.0.0.1", std::uint16_t port = 0);
    ~BlackHole();
    BlackHole(const BlackHole&) = delete;
    BlackHole& operator=(const BlackHole&) = delete;
    std::uint16_t port() const { return m_port; }

private:
    int m_listener = -1;
    int m_filler = -1;
    std::uint16_t m_port = 0;
};

class LoopbackTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // The script for the connections of this case (server thread).
    void Serve(LoopbackServer::Script script);
    std::string BaseUrl() const;  // "http://127.0.0.1:<port>"

    std::unique_ptr<LoopbackServer> m_server;
    TempDir m_dir;

private:
    std::mutex m_scriptMutex;
    LoopbackServer::Script m_script;
};

}  // namespace vexor::net::testing
