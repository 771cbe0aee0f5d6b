#include "auth.h"
#include "page.h"

// The login and logout pages: the only ones a browser reaches without a
// session.
namespace vexor::server::console {

namespace {

void showLogin(httplib::Response& res, const std::string& user, const std::string& userError,
    const std::string& passwordError, const std::string& message, int status)
{
    const auto page = templateNamed("login").render({ { "user", user }, { "message", message },
        { "messageClass", message.empty() ? "hidden" : "notice error" },
        { "userError", fieldError("user", userError) }, { "passwordError", fieldError("password", passwordError) } });
    res.status = status;
    res.set_content(page.str(), "text/html; charset=utf-8");
}

// Secure when the console serves TLS itself, or when the proxy in front of
// it did (nginx sets X-Forwarded-Proto). A request that claims it falsely
// only gets a cookie its browser keeps for https.
std::string sessionCookie(const ConsoleState& state, const httplib::Request& req, const std::string& token,
    UnixTime maxAge)
{
    const bool secure = state.options.tls || req.get_header_value("X-Forwarded-Proto") == "https";
    return std::string(SessionCookie) + "=" + token + "; Path=/console; Max-Age=" + std::to_string(maxAge)
        + "; HttpOnly; SameSite=Strict" + (secure ? "; Secure" : "");
}

void logInPost(ConsoleState& state, const httplib::Request& req, httplib::Response& res)
{
    const auto user = req.get_param_value("user");
    const auto password = req.get_param_value("password");
    if (user.empty() || password.empty())
        return showLogin(res, user, user.empty() ? "enter your user name" : "",
            password.empty() ? "enter your password" : "", "", 400);
    const auto login = logIn(state.store, user, password, state.now());
    if (login.result == LoginResult::LockedOut)
        return showLogin(res, user, "", "",
            "Too many failed logins for this user: logins are refused for ten minutes.", 429);
    if (login.result == LoginResult::Refused)
        return showLogin(res, user, "", "", "The user name or the password is wrong.", 401);
    res.set_header("Set-Cookie", sessionCookie(state, req, login.session->token, SessionSeconds));
    res.set_redirect("/console/", 303);
}

} // namespace

void addLoginPages(Routes& routes)
{
    auto state = routes.state();
    auto& server = routes.server();
    server.Get("/console/login", [state](const httplib::Request& req, httplib::Response& res) {
        if (sessionOf(*state, req))
            return res.set_redirect("/console/", 303);
        showLogin(res, "", "", "", "", 200);
    });
    server.Post("/console/login", [state](const httplib::Request& req, httplib::Response& res) {
        logInPost(*state, req, res);
    });
    routes.post("/console/logout", [state](Page& page) {
        page.store.deleteSession(page.session.token);
        page.res.set_header("Set-Cookie", sessionCookie(*state, page.req, "", 0));
        page.redirect("/console/login");
    });
}

} // namespace vexor::server::console
