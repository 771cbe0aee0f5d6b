#pragma once

// THttpClient: an HTTP/1.0 client, one TCP connection per request. The body
// ends at the reply's Content-Length (bytes past it are ignored) or, without
// one, when the server closes; the connection is closed after it.
// "https://" URLs (port 443 by default) speak TLS (TSocketTransport::StartTls)
// to the URL's host; through a proxy they go through a CONNECT tunnel, with
// the proxy credentials on the CONNECT.
//
// Get(url) blocks the calling thread until the transaction has ended. On
// return ReplyCode holds the status code, Header the status and header lines
// (each with CR LF, the final empty line included; with OutputFileMode they
// went to the file named by Header) and Body the body (with InputFileMode it
// went to the file named by Body, created only once the reply's header was
// read). A status of 400 or above does not raise: OnFailure fires.
//
// Only a whole reply succeeds: a status line "HTTP/d.d ddd", header lines
// up to an empty one, a Content-Length of digits (two must agree), no
// transfer coding, and a body of the announced length; without a length,
// over TLS, the server's closing alert must end the body. Anything else
// raises before OnSuccess, and in file mode the body file keeps its old
// contents (or does not appear): the body goes to a temporary beside it
// first.
//
// Raises:
//   vexor::Exception  URL errors before any connection ("Empty URL", a bad
//                     port, "Request line longer than 8192 bytes", ...);
//   ESockError        transport failures with the texts of TSocketTransport
//                     ("Null Remote Address", "Connection Failed", ...),
//                     "Invalid reply from server", "Transfer-Encoding not
//                     supported", "Transfer incomplete", "Transfer too slow"
//                     (the limits of TSocketTransport, watched over the
//                     whole request), a reply that breaks the limits (a line over 65536 bytes,
//                     more than 100 header lines, a body in memory over
//                     MaxCaptureBytes), a file that cannot be created, a
//                     failed TLS handshake or certificate check, a proxy
//                     that refuses the tunnel, a redirect from https to a
//                     plain URL (refused before its body is read);
//   EAbortError       Abort/Cancel/time-out during a send or a read.
// The connection is closed before any of these leaves the call.
//
// Redirects (300-303, 307, 308 with a Location) are followed at most
// MaxRedirects times; after that, or without a usable Location, the 3xx
// reply is final. A relative Location is resolved against the current URL.

#include "net/headerlist.h"
#include "net/sockettransport.h"

#include <cstdint>
#include <functional>
#include <string>

namespace vexor::net {

enum class CmdType : std::uint8_t {
    Get = 0, Options, Head, Post, Put, Patch, Copy, Move, Delete, Link, Unlink, Trace, RawRequest
};

// Optional request header values; an empty one sends no line. UserId and
// Password are the proxy's: both set, they go to the proxy alone as Basic
// "Proxy-Authorization" (on the CONNECT of a tunnel), never to the origin.
// A Cookie that a redirect over https set is sent over https only.
struct THeaderInfo {
    std::string LocalMailAddress, LocalProgram, Cookie, Referer, UserId, Password;
};

class THttpClient : public TSocketTransport {
public:
    static constexpr int MaxRedirects = 20;
    static constexpr std::size_t MaxRequestLine = 8192;
    static constexpr std::size_t MaxHeaderLines = 100;
    // Longest Location or Set-Cookie value taken from a reply.
    static constexpr std::size_t MaxHeaderValue = 8192;
    static constexpr const char* InvalidReplyText = "Invalid reply from server";
    static constexpr const char* TransferIncompleteText = "Transfer incomplete";

    THttpClient();
    ~THttpClient() override;

    std::string Body = "Default.htm";  // body, or the body file's name with InputFileMode
    std::string Header = "Head.txt";   // header text, or its file's name with OutputFileMode
    bool InputFileMode = false;
    bool OutputFileMode = false;
    THeaderInfo HeaderInfo;

    std::string RequestPath;       // path of Url for a direct request
    THeaderList RequestHeader;     // rebuilt for each request
    std::string RedirectLocation;  // last Location value read (kept between requests)
    std::string ReceivedCookie;    // last Set-Cookie value of the current reply
    const bool EncodeFormData = true;
    std::string SendData;          // data (or with OutputFileMode its file name) sent after the header
    std::string ExtraHeaderValue;  // destination of Copy/Move, link of Link/Unlink
    std::string Url;               // URL of the running request; redirects replace it
    CmdType Command = CmdType::Get;

    std::function<void(CmdType)> OnSuccess;  // status below 299 (0 included)
    std::function<void(CmdType)> OnFailure;  // status 400 or above
    std::function<void()> OnAboutToSend;     // header built, not yet connected
    std::function<void(bool& Handled)> OnRedirect;  // Handled = true stops at this reply
    std::function<void()> OnAuthenticationNeeded;   // status 401

    // Any thread. Sets AsyncDone, then cancels. Before the first connect of a
    // request it has no effect (the connect clears it); between the hops of a
    // redirect it ends the request at the next wait.
    void Abort() override;

    void Get(const std::string& url);
    void Options(const std::string& url);
    void Head(const std::string& url);
    void Post(const std::string& url, const std::string& data);
    void Put(const std::string& url, const std::string& data);
    void Patch(const std::string& url, const std::string& data);
    void Copy(const std::string& url, const std::string& destination);
    void Move(const std::string& url, const std::string& destination);
    void Delete(const std::string& url);
    void Link(const std::string& url, const std::string& link);
    void Unlink(const std::string& url, const std::string& link);
    void Trace(const std::string& url, const std::string& data);
    void RawRequest(const std::string& url, const std::string& data);

    // The steps of one request, public for tests and fuzzing.
    virtual void RunRequest();
    virtual void ParseUrl();     // Url -> Host, Port, RequestPath
    virtual void BuildHeader();  // -> RequestHeader
    virtual void SendRequest();
    virtual void ReadHeader();   // -> ReplyCode, Header, ContentLength, cookie, location

private:
    void Run(CmdType command, const std::string& url);
    void RunHops();
    void ReceiveBody();
    void CheckBodyWhole(std::int64_t limit) const;
    std::int64_t BodyLimit() const;
    void FollowRedirect();
    bool RedirectWanted(int status) const;
    // https: the tunnel through a proxy, then the TLS handshake.
    void SecureConnection();
    void OpenTunnel();
    void RefuseInsecureRedirect(int hops);
    // A proxy that gets the whole URL (plain http); https goes through a tunnel.
    bool Forwarding() const { return !Proxy.empty() && !m_secure; }
    bool m_secure = false;
    void NoteHeaderLine(const std::string& line);
    bool m_locationInReply = false;
    bool m_lengthAnnounced = false;  // the reply has a Content-Length line
    // HeaderInfo.Cookie as an https reply set it: never sent in the clear.
    std::string m_secureCookie;
};

}  // namespace vexor::net
