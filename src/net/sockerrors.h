#pragma once

// Error numbers of this socket layer. They are the Windows Sockets numbers
// (10061 = connection refused, 11001 = host not found, ...), so that texts and
// numbers stay the same whatever the operating system reports. An errno with
// no Windows Sockets counterpart becomes UnmappedErrnoBase + errno.

#include <cstdint>
#include <string>

namespace vexor::net {

inline constexpr std::int32_t ErrWouldBlock = 10035;
inline constexpr std::int32_t ErrNotConnected = 10057;
inline constexpr std::int32_t ErrConnectionRefused = 10061;
inline constexpr std::int32_t ErrHostNotFound = 11001;
inline constexpr std::int32_t ErrNoAddress = 11004;  // the name exists but has no address
inline constexpr std::int32_t UnmappedErrnoBase = 12000;
// TLS: the handshake or a later record failed; the server's certificate was
// refused (untrusted, expired, another host's).
inline constexpr std::int32_t ErrTlsHandshake = 13001;
inline constexpr std::int32_t ErrTlsCertificate = 13002;
// The stream ended without the server's closing alert before its end.
inline constexpr std::int32_t ErrTlsTruncated = 13003;

// "10061:Connection refused"; "Unknown Error No. N" for a number not in the table.
std::string SocketErrorText(std::int32_t number);

// errno -> Windows Sockets number (0 stays 0).
std::int32_t WinsockErrorFromErrno(int err);

// getaddrinfo's EAI_* -> 11001..11004.
std::int32_t WinsockErrorFromLookup(int gaiError);

}  // namespace vexor::net
