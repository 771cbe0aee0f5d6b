#include "net/httpclient.h"

#include "net/httpparse.h"
#include "net/urlencoder.h"
#include "platform/fileops.h"
#include "platform/uniquefd.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <filesystem>

namespace vexor::net {

namespace {

bool endsHeader(const std::string& line)
{
    return line.empty() || line == "\n" || line == "\r\n";
}

// Receives the header lines: appended to a text, or written to a file that
// is closed in every case.
class HeaderSink {
public:
    HeaderSink(bool toFile, std::string& target) : m_target(target)
    {
        if (!toFile) {
            m_target.clear();
            return;
        }
        m_fd.reset(::open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
        if (!m_fd.valid())
            throw ESockError(vexor::formatMessage("Cannot create file %s", target));
    }

    void Store(const std::string& line)
    {
        if (!m_fd.valid()) {
            m_target += line;
            return;
        }
        if (!platform::writeAll(m_fd.get(), line.data(), line.size()))
            throw ESockError(vexor::formatMessage("Cannot write to file %s", m_target));
    }

private:
    std::string& m_target;
    platform::UniqueFd m_fd;
};

// A client killed during a download leaves its temporary file behind. The
// next download of the same file removes the ones older than an hour: no
// transfer lives that long (the download thread's cap is ten minutes), so
// none of them is still being written.
void RemoveStaleParts(const std::string& folder, const std::string& prefix)
{
    namespace fs = std::filesystem;
    std::error_code error;
    const auto before = fs::file_time_type::clock::now() - std::chrono::hours(1);
    const fs::directory_iterator end;
    for (fs::directory_iterator it(folder.empty() ? "." : folder, error); !error && it != end; it.increment(error)) {
        const std::string name = it->path().filename().string();
        if (name.size() != prefix.size() + 6 || name.compare(0, prefix.size(), prefix) != 0)
            continue;
        std::error_code fileError;
        if (it->is_regular_file(fileError) && it->last_write_time(fileError) < before && !fileError)
            fs::remove(it->path(), fileError);
    }
}

// The body file of a request: written under a temporary name beside it and
// put in its place only once the body is whole, so that a failed transfer
// leaves no file, or the file that was there before.
class BodyFile {
public:
    explicit BodyFile(const std::string& target) : m_target(target)
    {
        const auto slash = target.rfind('/');
        const std::size_t base = slash == std::string::npos ? 0 : slash + 1;
        const std::string prefix = "." + target.substr(base) + ".part-";
        RemoveStaleParts(target.substr(0, base), prefix);
        m_temp = target.substr(0, base) + prefix + "XXXXXX";
        m_fd.reset(::mkostemp(m_temp.data(), O_CLOEXEC));
        if (!m_fd.valid() || ::fchmod(m_fd.get(), 0644) != 0)
            throw ESockError(vexor::formatMessage("Cannot create file %s", target));
    }
    ~BodyFile()
    {
        if (!m_temp.empty())
            ::unlink(m_temp.c_str());
    }
    BodyFile(const BodyFile&) = delete;
    BodyFile& operator=(const BodyFile&) = delete;

    int Descriptor() const { return m_fd.get(); }

    void Commit()
    {
        if (!m_fd.close() || ::rename(m_temp.c_str(), m_target.c_str()) != 0)
            throw ESockError(vexor::formatMessage("Cannot write to file %s", m_target));
        m_temp.clear();
    }

private:
    std::string m_target, m_temp;
    platform::UniqueFd m_fd;
};

}  // namespace

THttpClient::THttpClient() = default;

THttpClient::~THttpClient() = default;

void THttpClient::Abort()
{
    AsyncDone.store(true);
    Cancel();
}

void THttpClient::Run(CmdType command, const std::string& url)
{
    Url = url;
    Command = command;
    RunRequest();
}

void THttpClient::Get(const std::string& url) { Run(CmdType::Get, url); }
void THttpClient::Options(const std::string& url) { Run(CmdType::Options, url); }
void THttpClient::Head(const std::string& url) { Run(CmdType::Head, url); }
void THttpClient::Delete(const std::string& url) { Run(CmdType::Delete, url); }

void THttpClient::Post(const std::string& url, const std::string& data)
{
    if (EncodeFormData && !OutputFileMode) {
        TUrlEncoder encoder;
        encoder.InputString = data;
        SendData = encoder.EncodedString();
    } else {
        SendData = data;
    }
    Run(CmdType::Post, url);
}

void THttpClient::Put(const std::string& url, const std::string& data) { SendData = data; Run(CmdType::Put, url); }
void THttpClient::Patch(const std::string& url, const std::string& data) { SendData = data; Run(CmdType::Patch, url); }
void THttpClient::Trace(const std::string& url, const std::string& data) { SendData = data; Run(CmdType::Trace, url); }

void THttpClient::RawRequest(const std::string& url, const std::string& data)
{
    SendData = data;
    Run(CmdType::RawRequest, url);
}

void THttpClient::Copy(const std::string& url, const std::string& destination)
{
    ExtraHeaderValue = destination;
    Run(CmdType::Copy, url);
}

void THttpClient::Move(const std::string& url, const std::string& destination)
{
    ExtraHeaderValue = destination;
    Run(CmdType::Move, url);
}

void THttpClient::Link(const std::string& url, const std::string& link)
{
    ExtraHeaderValue = link;
    SendData = "Send.dat";
    Run(CmdType::Link, url);
}

void THttpClient::Unlink(const std::string& url, const std::string& link)
{
    ExtraHeaderValue = link;
    SendData = "Send.dat";
    Run(CmdType::Unlink, url);
}

// One connection per hop. Redirects are followed at most MaxRedirects times;
// every other reply, and a 3xx that cannot or may not be followed, is final.
void THttpClient::RunRequest()
{
    WatchTransfer();
    try {
        RunHops();
    } catch (...) {
        EndTransferWatch();
        throw;
    }
    EndTransferWatch();
}

void THttpClient::RunHops()
{
    for (int hops = 0;; ++hops) {
        ParseUrl();
        BuildHeader();
        if (OnAboutToSend)
            OnAboutToSend();
        // An Abort that arrives between two hops must end the request.
        m_keepCancel = hops > 0;
        try {
            Connect();
            m_keepCancel = false;
            if (m_secure)
                SecureConnection();
            SendRequest();
            ReplyCode = 0;
            ReadHeader();
            RefuseInsecureRedirect(hops);
            ReceiveBody();
            if (ReplyCode < 299) {
                if (OnSuccess)
                    OnSuccess(Command);
                StatusMessage("Transaction Completed", StatusLevel::Transaction);
            } else if (ReplyCode >= 400) {
                if (OnFailure)
                    OnFailure(Command);
            }
        } catch (...) {
            m_keepCancel = false;
            try {
                Disconnect();
            } catch (...) {
                // The error that ended the request is the one to report.
            }
            throw;
        }
        Disconnect();
        if (hops < MaxRedirects && RedirectWanted(ReplyCode)) {
            if (!ReceivedCookie.empty()) {
                HeaderInfo.Cookie = ReceivedCookie;
                m_secureCookie = m_secure ? ReceivedCookie : std::string();
            }
            FollowRedirect();
            bool handled = false;
            if (OnRedirect)
                OnRedirect(handled);
            if (handled)
                return;
            continue;
        }
        if (ReplyCode == 401 && OnAuthenticationNeeded)
            OnAuthenticationNeeded();
        return;
    }
}

bool THttpClient::RedirectWanted(int status) const
{
    const bool redirect = (status >= 300 && status <= 303) || status == 307 || status == 308;
    return redirect && m_locationInReply;
}

void THttpClient::FollowRedirect()
{
    Url = http::ResolveLocation(RedirectLocation, Host, Port, RequestPath, m_secure);
    // "See other": the answer is fetched, not the data sent again.
    if (ReplyCode == 303 && Command != CmdType::Get && Command != CmdType::Head)
        Command = CmdType::Get;
}

void THttpClient::SendRequest()
{
    Write(RequestHeader.Text());
    Writeln("");
    switch (Command) {
    case CmdType::Post:
    case CmdType::Put:
    case CmdType::Patch:
    case CmdType::Trace:
    case CmdType::RawRequest:
        if (OutputFileMode)
            SendFile(SendData);
        else
            Write(SendData);
        break;
    default:
        break;
    }
}

// The reply must be whole and framed as this client reads it: a status line,
// header lines up to an empty one, a body of its Content-Length (or up to the
// close) in no transfer coding.
void THttpClient::ReadHeader()
{
    ContentLength = 0;
    ReceivedCookie.clear();
    m_locationInReply = false;
    m_lengthAnnounced = false;
    HeaderSink sink(OutputFileMode, Header);
    std::string line = ReadLn();
    sink.Store(line);
    const int status = http::StatusOfLine(line);
    if (status < 0)
        throw ESockError(InvalidReplyText);
    ReplyCode = static_cast<std::int16_t>(status);
    for (std::size_t count = 0;; ++count) {
        line = ReadLn();
        if (line.empty())
            throw ESockError(TransferIncompleteText);  // closed inside the header
        if (endsHeader(line)) {
            sink.Store(line);
            return;
        }
        if (count == MaxHeaderLines)
            throw ESockError("Reply header has more than " + std::to_string(MaxHeaderLines) + " lines");
        NoteHeaderLine(line);
        sink.Store(line);
    }
}

// Set-Cookie and Location match only when a blank follows their colon, and
// the later line wins; the lines that frame the body match by name alone,
// and must not contradict each other.
void THttpClient::NoteHeaderLine(const std::string& line)
{
    const http::HeaderField field = http::FieldOf(line);
    if (field.name == "CONTENT-LENGTH") {
        const std::int64_t length = http::ContentLengthValue(field.value);
        if (length < 0 || (m_lengthAnnounced && length != ContentLength))
            throw ESockError(InvalidReplyText);
        ContentLength = length;
        m_lengthAnnounced = true;
        return;
    }
    if (field.name == "TRANSFER-ENCODING") {
        if (http::UpperAscii(field.value) != "IDENTITY")
            throw ESockError("Transfer-Encoding not supported");
        return;
    }
    const std::string upper = http::UpperAscii(line);
    const std::string name = upper.substr(0, upper.find(' '));
    const std::string limit = std::to_string(MaxHeaderValue);
    if (name == "SET-COOKIE:") {
        const auto value = http::WithoutLineEnd(line).substr(12);
        if (value.size() > MaxHeaderValue)
            throw ESockError("Set-Cookie header longer than " + limit + " bytes");
        ReceivedCookie = value;
    } else if (name == "LOCATION:") {
        const auto value = http::WithoutLineEnd(line).substr(10);
        if (value.size() > MaxHeaderValue)
            throw ESockError("Location header longer than " + limit + " bytes");
        RedirectLocation = value;
        m_locationInReply = value.find_first_not_of(" \t") != std::string_view::npos;
    }
}

// Bytes of the body to read, -1 for "until the server closes". A proxy that
// honours "Proxy-Connection: Keep-Alive" keeps the connection open after a
// reply with a Content-Length, so the body must end there. The reply to HEAD
// announces the length of a body it never sends.
std::int64_t THttpClient::BodyLimit() const
{
    if (Command == CmdType::Head)
        return 0;
    return m_lengthAnnounced ? ContentLength : -1;
}

// A body without a length ends at the close: over TLS the channel accepts
// only the server's closing alert as that end.
void THttpClient::ReceiveBody()
{
    const std::int64_t limit = BodyLimit();
    if (InputFileMode) {
        BodyFile file(Body);
        BytesReceived = 0;
        CaptureToFile(file.Descriptor(), Body, limit);
        CheckBodyWhole(limit);
        file.Commit();
        return;
    }
    // One allocation of the announced size instead of a doubling string that
    // copies itself and touches twice the memory; the cap still rules, and a
    // reply shorter than announced gives the spare room back.
    Body.clear();
    if (ContentLength > 0)
        Body.reserve(static_cast<std::size_t>(std::min<std::int64_t>(ContentLength, MaxCaptureBytes)));
    CaptureString(Body, limit);
    if (Body.capacity() > 2 * Body.size() + TSocketTransport::BlockSize)
        Body.shrink_to_fit();
    CheckBodyWhole(limit);
}

void THttpClient::CheckBodyWhole(std::int64_t limit) const
{
    if (limit > 0 && BytesReceived < limit)
        throw ESockError(TransferIncompleteText);
}

}  // namespace vexor::net
