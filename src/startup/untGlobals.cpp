#include "untGlobals.h"

#include "untLog.h"
#include "untSettings.h"

#include <QDir>
#include <QFileInfo>
#include <QUrl>

QString gbSavePath;
const QString gbAppName = QStringLiteral("Bidlark");
QString gbAppTitle;
QString gbWebHost;
QString gbWebBase;
QString gbTemplateFile;

namespace {
QString WithDelimiter(const QString& folder)
{
    return folder.endsWith(QDir::separator()) || folder.endsWith(QLatin1Char('/'))
               ? folder
               : folder + QDir::separator();
}

// The roaming application-data folder of the user; empty when the platform names none.
QString PerUserBase()
{
#ifdef Q_OS_WIN
    return qEnvironmentVariable("APPDATA");
#else
    const QString xdg = qEnvironmentVariable("XDG_DATA_HOME");
    if (!xdg.isEmpty())
        return xdg;
    const QString home = QDir::homePath();
    return home.isEmpty() ? QString() : home + QStringLiteral("/.local/share");
#endif
}
} // namespace

QString GetDataFolder()
{
    QString result = QDir::currentPath();
    const QString base = PerUserBase();
    if (!base.isEmpty() && QFileInfo(base).isDir())
        result = QDir::toNativeSeparators(WithDelimiter(base) + QStringLiteral("Vendaro/Bidlark/"));
    else
        result = QDir::toNativeSeparators(WithDelimiter(result));
    QDir().mkpath(result);
    siMain.LogString("gbSavePath", result);
    return result;
}

void SetGlobalTexts()
{
    gbAppTitle = QStringLiteral("Bidlark");
    gbWebBase = Settings::ServiceBaseUrl();
    const QUrl url(gbWebBase);
    const QString authority = url.host(QUrl::FullyEncoded).isEmpty()
                                  ? QString()
                                  : url.adjusted(QUrl::RemoveUserInfo | QUrl::RemovePath |
                                                 QUrl::RemoveQuery | QUrl::RemoveFragment)
                                        .authority();
    gbWebHost = url.isValid() && !authority.isEmpty() ? authority : gbWebBase;
    gbTemplateFile = QStringLiteral("_mytmpf.dat");
}

void SetLogDestination(const QStringList& arguments)
{
    if (arguments.isEmpty())
        return;
    const QString& first = arguments.first();
    if (first == u"-dev") {
        TLog::Instance().SetConnections(QStringLiteral("tcp()"));
        TLog::Instance().SetEnabled(true);
    } else if (first != u"-minimize") {
        TLog::Instance().SetConnections(QStringLiteral("mem(maxsize=2048)"));
        TLog::Instance().SetEnabled(true);
    }
}

bool StartsMinimized(const QStringList& arguments)
{
    return !arguments.isEmpty() && arguments.first() == u"-minimize";
}
