#include "sync/proxysettings.h"

namespace vexor::sync {

void ApplyProxySettings(net::THttpClient& client, const vexor::ProxySettings& proxy)
{
    client.Proxy = proxy.ProxyName;
    client.ProxyPort = proxy.ProxyPort;
    client.HeaderInfo.UserId = proxy.ProxyUser;
    client.HeaderInfo.Password = proxy.ProxyPass;
}

}  // namespace vexor::sync
