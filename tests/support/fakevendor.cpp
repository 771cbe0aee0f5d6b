#include "fakevendor.h"

#include <httplib.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <thread>

namespace vexor::testkit {

namespace {

// The query pairs in the order they were sent (httplib keeps them sorted).
std::vector<std::pair<std::string, std::string>> pairsInOrder(const std::string& target)
{
    std::vector<std::pair<std::string, std::string>> pairs;
    const std::size_t query = target.find('?');
    if (query == std::string::npos)
        return pairs;
    std::size_t at = query + 1;
    while (at <= target.size()) {
        std::size_t end = target.find('&', at);
        if (end == std::string::npos)
            end = target.size();
        const std::string pair = target.substr(at, end - at);
        const std::size_t equals = pair.find('=');
        pairs.emplace_back(pair.substr(0, equals), equals == std::string::npos ? "" : pair.substr(equals + 1));
        at = end + 1;
    }
    return pairs;
}

}  // namespace

FakeVendor::FakeVendor() : m_server(std::make_unique<httplib::Server>())
{
    // Every path is answered here, so a request through a proxy (an absolute
    // target) reaches the script as well.
    m_server->set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
        LoggedRequest request;
        request.target = req.target;
        request.pairs = pairsInOrder(req.target);
        // Credentials for a proxy go out as Proxy-Authorization.
        request.authorization = req.has_header("Proxy-Authorization") ? req.get_header_value("Proxy-Authorization")
                                                                       : req.get_header_value("Authorization");
        bool cut = false;
        const std::string body = answer(request, cut);
        if (!cut) {
            res.set_content(body, "text/plain");
        } else {
            const std::string half = body.substr(0, body.size() / 2);
            res.set_content_provider(body.size(), "text/html",
                                     [half](std::size_t, std::size_t, httplib::DataSink& sink) {
                                         sink.write(half.data(), half.size());
                                         return false;  // closes the connection mid-body
                                     });
        }
        return httplib::Server::HandlerResponse::Handled;
    });
    m_port = m_server->bind_to_any_port("127.0.0.1");
    if (m_port <= 0)
        throw std::runtime_error("cannot bind the fake vendor");
    std::promise<void> ended;
    m_listenerEnded = ended.get_future();
    m_listener = std::thread([this, ended = std::move(ended)]() mutable {
        m_server->listen_after_bind();
        ended.set_value();
    });
    // httplib's stop() does nothing before listening has begun: a test that
    // ends that soon would wait for ever on the listener in the destructor.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!m_server->is_running()) {
        if (std::chrono::steady_clock::now() > deadline)
            giveUp("did not start listening within 10 s");
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

FakeVendor::~FakeVendor()
{
    release();
    m_server->stop();
    if (m_listenerEnded.wait_for(std::chrono::seconds(20)) != std::future_status::ready)
        giveUp("did not end within 20 s of stop() (a stop that came before it listened is lost)");
    m_listener.join();
}

// Neither a half-made server nor a thread that never ends can be cleaned up:
// the test process ends with the cause instead of a silent ctest time-out.
void FakeVendor::giveUp(const char* what)
{
    std::fprintf(stderr, "FakeVendor: the server thread %s\n", what);
    std::abort();
}

std::string FakeVendor::host() const
{
    return "127.0.0.1:" + std::to_string(m_port);
}

void FakeVendor::setAnswers(Answers answers)
{
    std::lock_guard lock(m_mutex);
    m_answers = std::move(answers);
}

void FakeVendor::setLineUp(const std::string& lineUp)
{
    std::lock_guard lock(m_mutex);
    m_answers.lineUp = lineUp;
}

void FakeVendor::stallOn(const std::string& action, const std::string& logoId)
{
    std::lock_guard lock(m_mutex);
    m_stallAction = action;
    m_stallId = logoId;
    m_stalled = false;
    m_released = false;
}

bool FakeVendor::waitStalled(std::chrono::milliseconds timeout)
{
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, timeout, [this] { return m_stalled; });
}

void FakeVendor::release()
{
    {
        std::lock_guard lock(m_mutex);
        m_released = true;
        m_stallAction.clear();
    }
    m_changed.notify_all();
}

std::vector<LoggedRequest> FakeVendor::log() const
{
    std::lock_guard lock(m_mutex);
    return m_log;
}

std::vector<std::string> FakeVendor::actions() const
{
    return actionNames(log());
}

void FakeVendor::clearLog()
{
    std::lock_guard lock(m_mutex);
    m_log.clear();
}

std::string FakeVendor::answer(const LoggedRequest& request, bool& cut)
{
    std::unique_lock lock(m_mutex);
    m_log.push_back(request);
    const std::string id = request.value("LOGOID");
    if (!m_stallAction.empty() && request.action() == m_stallAction && (m_stallId.empty() || id == m_stallId)) {
        m_stalled = true;
        m_changed.notify_all();
        if (onStalled)
            onStalled();
        // Bounded, so a test that forgets to release cannot hang the suite.
        m_changed.wait_for(lock, std::chrono::seconds(30), [this] { return m_released; });
    }
    const Answers& a = m_answers;
    if (request.action() == "LANGL")
        return a.langList;
    if (request.action() == "VERSION")
        return a.version;
    if (request.action() == "MODL")
        return a.modList;
    if (request.action() == "LCOUNT")
        return a.lineUp;
    if (request.action() == "LOGO")
        return a.image(id);
    if (request.action() == "HTML") {
        cut = !a.cutPageOf.empty() && id == a.cutPageOf;
        return a.page(id);
    }
    return "unknown action";
}

}  // namespace vexor::testkit
