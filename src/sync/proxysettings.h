#pragma once

// The proxy settings as an HTTP client uses them; shared by the download
// thread (at the start of every cycle) and the language download dialog
// (before every download).

#include "app/core/constants.h"
#include "net/httpclient.h"

namespace vexor::sync {

// Proxy host and port, and the proxy user and password as the client's Basic
// credentials. An empty ProxyName means a direct connection.
void ApplyProxySettings(net::THttpClient& client, const vexor::ProxySettings& proxy);

}  // namespace vexor::sync
