#pragma once

#include <QString>
#include <QTemporaryDir>

// Gives a test its own data folder and settings store: XDG_DATA_HOME and XDG_CONFIG_HOME point
// into a fresh temporary folder for the object's life.
class TTestEnv
{
public:
    TTestEnv();
    ~TTestEnv();

    QString Root() const { return fDir.path(); }
    QString DataHome() const { return fDir.path() + QStringLiteral("/data"); }
    QString ConfigHome() const { return fDir.path() + QStringLiteral("/config"); }

private:
    QTemporaryDir fDir;
    QByteArray fOldData;
    QByteArray fOldConfig;
};
