#pragma once

#include <QString>

// The process-wide proxy settings: written on the user-interface thread, read by every fetch.
struct TProxySettings
{
    bool useProxy = false;
    QString server;
    QString port; // decimal text as typed; read as a number at each fetch
};

namespace ProxySettings {
// A consistent copy of all three values (never a mix of an old and a new one).
TProxySettings Current();
void SetCurrent(const TProxySettings& settings);

// Reads the proxy key without creating it; absent values keep their defaults (off, empty).
// The result also becomes the current settings.
TProxySettings Load();
// Writes all three values to the proxy key (created when missing) and makes them current.
void Store(const TProxySettings& settings);
} // namespace ProxySettings
