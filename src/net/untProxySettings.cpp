#include "untProxySettings.h"

#include "untSettings.h"

#include <mutex>

namespace {
std::mutex gMutex;
TProxySettings gCurrent;
} // namespace

namespace ProxySettings {
TProxySettings Current()
{
    std::lock_guard lock(gMutex);
    return gCurrent;
}

void SetCurrent(const TProxySettings& settings)
{
    std::lock_guard lock(gMutex);
    gCurrent = settings;
}

TProxySettings Load()
{
    const Settings::ProxyValues values = Settings::ReadProxy();
    TProxySettings settings;
    settings.useProxy = values.useProxy.value_or(false);
    settings.server = values.server.value_or(QString());
    settings.port = values.port.value_or(QString());
    SetCurrent(settings);
    return settings;
}

void Store(const TProxySettings& settings)
{
    Settings::WriteProxy(settings.useProxy, settings.server, settings.port);
    SetCurrent(settings);
}
} // namespace ProxySettings
