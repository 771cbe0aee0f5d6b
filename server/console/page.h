#pragma once

#include "console.h"
#include "html.h"

#include <functional>
#include <memory>
#include <string>
#include <string_view>

// What every console page handler works with, and the table of routes the
// page files fill. Internal to the console.
namespace vexor::server::console {

struct Page {
    const httplib::Request& req;
    httplib::Response& res;
    Store& store;
    const ConsoleSession& session;
    UnixTime now;
    const ConsoleOptions& options;

    // A form field of the body (URL-encoded or multipart), else "".
    std::string field(const std::string& name) const;
    // An uploaded file of a multipart body; nullptr when none was chosen.
    const httplib::MultipartFormData* upload(const std::string& name) const;
    // A value of the query string, else "".
    std::string param(const std::string& name) const;

    // Answers with `body` inside the console's layout; `section` marks the
    // navigation entry ("overview", "banners", ...).
    void show(std::string_view title, std::string_view section, const Html& body, int status = 200);
    // 303 to a console path, the answer to a form that changed something.
    void redirect(const std::string& path);
};

using PageHandler = std::function<void(Page&)>;

// The store and options every handler shares; kept alive by the handlers.
struct ConsoleState {
    Store& store;
    ConsoleOptions options;
    std::string chartScript; // the Chart.js file's text; empty when missing
    UnixTime now() const;
};

class Routes {
public:
    Routes(httplib::Server& server, std::shared_ptr<ConsoleState> state)
        : m_server(server)
        , m_state(std::move(state))
    {
    }

    // Needs a session; without one the browser goes to the login page.
    void get(const std::string& pattern, PageHandler handler);
    // Needs a session and the session's CSRF token in the field "csrf"
    // (403 without it).
    void post(const std::string& pattern, PageHandler handler);

    httplib::Server& server() { return m_server; }
    const std::shared_ptr<ConsoleState>& state() const { return m_state; }

private:
    httplib::Server& m_server;
    std::shared_ptr<ConsoleState> m_state;
};

// The session named by the request's cookie, if it is live.
std::optional<ConsoleSession> sessionOf(ConsoleState& state, const httplib::Request& req);

// A message beside a form field (id "<field>-error"); nothing when empty.
Html fieldError(std::string_view field, std::string_view message);
// The hidden CSRF field of a changing form.
Html csrfField(const Page& page);
// "12.34 %" for clicks per display; "–" without displays.
std::string rateText(std::int64_t clicks, std::int64_t displays);

void addLoginPages(Routes& routes);
void addOverviewPages(Routes& routes);
void addBannerPages(Routes& routes);
void addLineupPages(Routes& routes);
void addListPages(Routes& routes);
void addStatisticsPages(Routes& routes);

} // namespace vexor::server::console
