#include "nettestutil.h"

#include <unistd.h>

#include <fstream>
#include <iterator>
#include <random>

namespace vexor::net::testing {

std::string Reply(const std::string& status, const std::string& body, const std::string& extraHeaders)
{
    return "HTTP/1.0 " + status + "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n" + extraHeaders
        + "\r\n" + body;
}

std::string ReadFileText(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteFileText(const std::filesystem::path& path, const std::string& text)
{
    std::ofstream(path, std::ios::binary) << text;
}

std::string ErrorOf(const std::function<void()>& call)
{
    try {
        call();
    } catch (const ESockError& error) {
        return error.what();
    }
    return {};
}

TempDir::TempDir()
{
    std::random_device random;
    m_path = std::filesystem::temp_directory_path()
        / ("vexor-net-" + std::to_string(::getpid()) + "-" + std::to_string(random()));
    std::filesystem::create_directories(m_path);
}

TempDir::~TempDir()
{
    std::error_code ignored;
    std::filesystem::remove_all(m_path, ignored);
}

void LoopbackTest::SetUp()
{
    m_dir = std::make_unique<TempDir>();
    m_server = std::make_unique<LoopbackServer>([this](ServerConnection& connection, int index) {
        LoopbackServer::Script script;
        {
            std::lock_guard lock(m_scriptMutex);
            script = m_script;
        }
        if (script)
            script(connection, index);
    });
}

void LoopbackTest::TearDown()
{
    m_server->Stop();
    m_server.reset();
    m_dir.reset();
}

void LoopbackTest::Serve(LoopbackServer::Script script)
{
    std::lock_guard lock(m_scriptMutex);
    m_script = std::move(script);
}

std::string LoopbackTest::BaseUrl() const
{
    return "http://127.0.0.1:" + std::to_string(m_server->Port());
}

}  // namespace vexor::net::testing
