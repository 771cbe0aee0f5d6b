#include "net/address.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <algorithm>

namespace vexor::net {

std::string unbracketed(const std::string& name)
{
    if (name.size() >= 2 && name.front() == '[' && name.back() == ']')
        return name.substr(1, name.size() - 2);
    return name;
}

bool parseIpLiteral(const std::string& name, sockaddr_storage& address)
{
    address = {};
    auto* v4 = reinterpret_cast<sockaddr_in*>(&address);
    if (::inet_pton(AF_INET, name.c_str(), &v4->sin_addr) == 1) {
        v4->sin_family = AF_INET;
        return true;
    }
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&address);
    if (::inet_pton(AF_INET6, unbracketed(name).c_str(), &v6->sin6_addr) == 1) {
        v6->sin6_family = AF_INET6;
        return true;
    }
    address = {};
    return false;
}

bool isIpLiteral(const std::string& name)
{
    sockaddr_storage address{};
    return parseIpLiteral(name, address);
}

socklen_t addressLength(const sockaddr_storage& address)
{
    return address.ss_family == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
}

bool validUrlHost(const std::string& host)
{
    if (host.size() > 2 && host.front() == '[') {
        in6_addr v6{};
        return host.back() == ']' && ::inet_pton(AF_INET6, unbracketed(host).c_str(), &v6) == 1;
    }
    return !host.empty() && std::all_of(host.begin(), host.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_'
            || c == '.';
    });
}

}  // namespace vexor::net
