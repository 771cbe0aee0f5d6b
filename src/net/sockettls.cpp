// The TLS side of TSocketTransport: the handshake, and the raw reads and
// writes that every loop of socketio.cpp goes through, plain or TLS.

#include "net/sockettransport.h"

#include "net/tlschannel.h"
#include "net/wakeup.h"

#include <poll.h>

namespace vexor::net {

void TSocketTransport::ReportTlsError(const ETlsError& error)
{
    LastErrorCode = error.Code;
    if (OnSocketError)
        OnSocketError(static_cast<std::int16_t>(error.Code), error.what());
}

void TSocketTransport::StartTls(const std::string& serverName)
{
    StatusMessage("Start TLS", StatusLevel::Trace);
    if (!m_socket.valid())
        SocketError(ENOTCONN);
    TimerOn();
    try {
        m_tls = std::make_unique<TlsChannel>(m_socket.get(), serverName, Port);
        short wait = 0;
        while (!m_tls->Handshake(wait) && WaitFor(m_socket.get(), wait)) {
        }
    } catch (const ETlsError& error) {
        TimerOff();
        ReportTlsError(error);
        if (OnConnectionFailed)
            OnConnectionFailed();
        throw;
    }
    TimerOff();
    if (Canceled.load()) {
        if (OnConnectionFailed)
            OnConnectionFailed();
        CheckAborted("TLS handshake aborted");
    }
}

ssize_t TSocketTransport::ReceiveSome(char* buffer, std::size_t size, bool peek)
{
    if (!m_tls) {
        m_ioWait = POLLIN;
        return ::recv(m_socket.get(), buffer, size, peek ? MSG_PEEK : 0);
    }
    try {
        return m_tls->Read(buffer, size, peek, m_ioWait);
    } catch (const ETlsError& error) {
        ReportTlsError(error);
        throw;
    }
}

ssize_t TSocketTransport::SendSome(const char* data, std::size_t size)
{
    if (!m_tls) {
        m_ioWait = POLLOUT;
        return ::send(m_socket.get(), data, size, MSG_NOSIGNAL);
    }
    try {
        return m_tls->Write(data, size, m_ioWait);
    } catch (const ETlsError& error) {
        ReportTlsError(error);
        throw;
    }
}

}  // namespace vexor::net
