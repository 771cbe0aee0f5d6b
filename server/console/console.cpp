#include "console.h"

#include "auth.h"
#include "embedded.h"
#include "page.h"

#include <chrono>
#include <fstream>
#include <iostream>
#include <sstream>

namespace vexor::server::console {

namespace {

// Only the console's own files: no inline script or style, nothing from
// elsewhere; frames only from the console itself (the banner previews,
// which carry their own sandbox).
constexpr const char* PagePolicy =
    "default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self'; frame-src 'self'; "
    "form-action 'self'; frame-ancestors 'none'; base-uri 'none'";

void setSecurityHeaders(const httplib::Request& req, httplib::Response& res)
{
    // A banner preview sets its own, stricter policy (banners.cpp).
    if (!res.has_header("Content-Security-Policy"))
        res.set_header("Content-Security-Policy", PagePolicy);
    res.set_header("X-Content-Type-Options", "nosniff");
    res.set_header("Referrer-Policy", "no-referrer");
    if (!req.path.starts_with("/console/static/"))
        res.set_header("Cache-Control", "no-store");
}

std::string cookieValue(const httplib::Request& req, std::string_view name)
{
    const auto header = req.get_header_value("Cookie");
    std::size_t at = 0;
    while (at < header.size()) {
        const auto end = std::min(header.find(';', at), header.size());
        auto pair = std::string_view(header).substr(at, end - at);
        while (!pair.empty() && pair.front() == ' ')
            pair.remove_prefix(1);
        if (pair.size() > name.size() && pair.starts_with(name) && pair[name.size()] == '=')
            return std::string(pair.substr(name.size() + 1));
        at = end + 1;
    }
    return {};
}

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return in ? text.str() : std::string();
}

const char* staticType(std::string_view name)
{
    if (name.ends_with(".css"))
        return "text/css; charset=utf-8";
    if (name.ends_with(".js"))
        return "text/javascript; charset=utf-8";
    if (name.ends_with(".svg"))
        return "image/svg+xml";
    return "application/octet-stream";
}

void addStaticFiles(httplib::Server& server, const std::shared_ptr<ConsoleState>& state)
{
    server.Get(R"(/console/static/([A-Za-z0-9._-]+))", [state](const httplib::Request& req, httplib::Response& res) {
        const std::string name = req.matches[1];
        res.set_header("Cache-Control", "max-age=3600");
        if (name == "chart.min.js" && !state->chartScript.empty())
            return res.set_content(state->chartScript, staticType(name));
        for (const auto& file : staticFiles()) {
            if (file.name == name)
                return res.set_content(std::string(file.text), staticType(name));
        }
        res.status = 404;
        res.set_content("not found\n", "text/plain");
    });
}

void setUpServer(httplib::Server& server)
{
    // One request per connection. A kept connection holds one of the
    // library's eight threads while it idles (five seconds), and a browser
    // opens more than eight to one page: its own six, and more for the
    // sandboxed preview frames, which it keeps apart. A connection past the
    // threads then waited for an idle one to time out, and a preview stayed
    // blank. The console's few requests per page cost nothing to connect.
    server.set_keep_alive_max_count(1);
    server.set_payload_max_length(MaxBodyBytes);
    server.set_post_routing_handler(setSecurityHeaders);
    using Server = httplib::Server;
    // Called for every answer of 400 and above: only those without a body of
    // their own (the library's, a route that is not there) get a text here.
    server.set_error_handler(Server::HandlerWithResponse([](const httplib::Request&, httplib::Response& res) {
        if (!res.body.empty())
            return Server::HandlerResponse::Unhandled;
        const char* text = res.status == 413 ? "The upload is larger than 2 MiB; nothing was changed.\n"
            : res.status == 404              ? "Not found.\n"
                                             : "The request was refused.\n";
        res.set_content(text, "text/plain; charset=utf-8");
        return Server::HandlerResponse::Handled;
    }));
    server.set_exception_handler([](const httplib::Request&, httplib::Response& res, std::exception_ptr error) {
        res.status = 500;
        try {
            std::rethrow_exception(error);
        } catch (const StoreUnavailable&) {
            // The database is away (PostgreSQL restarting, SQLite locked
            // past its wait): a page that says so, not a bare status.
            res.status = 503;
            res.set_content(templateNamed("unavailable").render().str(), "text/html; charset=utf-8");
            return;
        } catch (const std::exception& e) {
            std::cerr << "vexor-server: console: " << e.what() << '\n';
        }
        res.set_content("The console could not do that.\n", "text/plain; charset=utf-8");
    });
    server.Get("/", [](const httplib::Request&, httplib::Response& res) { res.set_redirect("/console/", 303); });
    server.Get("/console", [](const httplib::Request&, httplib::Response& res) { res.set_redirect("/console/", 303); });
}

} // namespace

UnixTime ConsoleState::now() const
{
    if (options.clock)
        return options.clock();
    return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
}

std::optional<ConsoleSession> sessionOf(ConsoleState& state, const httplib::Request& req)
{
    const auto token = cookieValue(req, SessionCookie);
    if (token.size() != 64)
        return std::nullopt;
    return state.store.session(token, state.now());
}

std::string Page::field(const std::string& name) const
{
    if (req.has_param(name.c_str()))
        return req.get_param_value(name.c_str());
    if (req.has_file(name.c_str())) {
        const auto part = req.get_file_value(name.c_str());
        if (part.filename.empty())
            return part.content;
    }
    return {};
}

const httplib::MultipartFormData* Page::upload(const std::string& name) const
{
    const auto found = req.files.find(name);
    if (found == req.files.end() || found->second.filename.empty())
        return nullptr;
    return &found->second;
}

std::string Page::param(const std::string& name) const
{
    return req.has_param(name.c_str()) ? req.get_param_value(name.c_str()) : std::string();
}

void Page::show(std::string_view title, std::string_view section, const Html& body, int status)
{
    static constexpr std::pair<const char*, const char*> Sections[] = {
        { "overview", "Overview" }, { "banners", "Banners" }, { "lineups", "Line-ups" },
        { "lists", "Languages, modules, version" }, { "statistics", "Statistics" } };
    Html nav;
    for (const auto& [key, caption] : Sections) {
        const std::string path = std::string("/console/") + (std::string_view(key) == "overview" ? "" : key);
        nav += templateNamed("layout.navitem").render({ { "path", path }, { "caption", caption },
            { "current", section == key ? "page" : "false" } });
    }
    const auto page = templateNamed("layout").render({ { "title", std::string(title) }, { "nav", nav },
        { "user", session.user }, { "csrf", session.csrfToken }, { "body", body } });
    res.status = status;
    res.set_content(page.str(), "text/html; charset=utf-8");
}

void Page::redirect(const std::string& path)
{
    res.set_redirect(path, 303);
}

void Routes::get(const std::string& pattern, PageHandler handler)
{
    m_server.Get(pattern, [state = m_state, handler](const httplib::Request& req, httplib::Response& res) {
        const auto session = sessionOf(*state, req);
        if (!session)
            return res.set_redirect("/console/login", 303);
        Page page { req, res, state->store, *session, state->now(), state->options };
        handler(page);
    });
}

void Routes::post(const std::string& pattern, PageHandler handler)
{
    m_server.Post(pattern, [state = m_state, handler](const httplib::Request& req, httplib::Response& res) {
        const auto session = sessionOf(*state, req);
        if (!session)
            return res.set_redirect("/console/login", 303);
        Page page { req, res, state->store, *session, state->now(), state->options };
        if (!tokensEqual(page.field("csrf"), session->csrfToken)) {
            res.status = 403;
            return res.set_content("The form is out of date or did not come from the console: reload the page and try again.\n",
                "text/plain; charset=utf-8");
        }
        handler(page);
    });
}

Html fieldError(std::string_view field, std::string_view message)
{
    if (message.empty())
        return {};
    return templateNamed("layout.error").render({ { "field", std::string(field) }, { "message", std::string(message) } });
}

Html csrfField(const Page& page)
{
    return templateNamed("layout.csrf").render({ { "csrf", page.session.csrfToken } });
}

std::string rateText(std::int64_t clicks, std::int64_t displays)
{
    if (displays <= 0)
        return "–";
    char text[32];
    std::snprintf(text, sizeof text, "%.2f %%", 100.0 * double(clicks) / double(displays));
    return text;
}

void mountConsole(httplib::Server& server, Store& store, ConsoleOptions options)
{
    auto state = std::make_shared<ConsoleState>(ConsoleState { store, std::move(options), {} });
    state->chartScript = readFile(state->options.chartScript);
    if (state->chartScript.empty())
        std::cerr << "vexor-server: console: " << state->options.chartScript
                  << " is missing (Debian package libjs-chart.js): the pages show tables without charts\n";
    setUpServer(server);
    addStaticFiles(server, state);
    Routes routes(server, state);
    addLoginPages(routes);
    addOverviewPages(routes);
    addBannerPages(routes);
    addLineupPages(routes);
    addListPages(routes);
    addStatisticsPages(routes);
}

} // namespace vexor::server::console
