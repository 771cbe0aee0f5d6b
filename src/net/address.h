#pragma once

// Host names and IP literals as the transport and the TLS layer read them.

#include <sys/socket.h>

#include <string>

namespace vexor::net {

// "[::1]" -> "::1"; other names unchanged.
std::string unbracketed(const std::string& name);

// A dotted IPv4 address or an IPv6 literal (brackets allowed) into `address`
// (port 0); false for anything else.
bool parseIpLiteral(const std::string& name, sockaddr_storage& address);
bool isIpLiteral(const std::string& name);

// The length of the socket address of `address`'s family (IPv4 or IPv6).
socklen_t addressLength(const sockaddr_storage& address);

// A host as a URL may name it: a host name (letters, digits, "-", "_", ".")
// or a dotted IPv4 address, or an IPv6 literal in brackets.
bool validUrlHost(const std::string& host);

}  // namespace vexor::net
