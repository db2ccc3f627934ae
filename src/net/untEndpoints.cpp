#include "untEndpoints.h"

#include "untSettings.h"

namespace Endpoints {
QString Address(const QString& baseUrl, const QString& path)
{
    QString base = baseUrl;
    while (base.endsWith(QLatin1Char('/')))
        base.chop(1);
    return base + path;
}

QString Address(const QString& path)
{
    return Address(Settings::ServiceBaseUrl(), path);
}
} // namespace Endpoints
