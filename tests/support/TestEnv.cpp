#include "TestEnv.h"

#include <QDir>

TTestEnv::TTestEnv() : fOldData(qgetenv("XDG_DATA_HOME")), fOldConfig(qgetenv("XDG_CONFIG_HOME"))
{
    QDir().mkpath(DataHome());
    QDir().mkpath(ConfigHome());
    qputenv("XDG_DATA_HOME", DataHome().toUtf8());
    qputenv("XDG_CONFIG_HOME", ConfigHome().toUtf8());
}

TTestEnv::~TTestEnv()
{
    qputenv("XDG_DATA_HOME", fOldData);
    qputenv("XDG_CONFIG_HOME", fOldConfig);
}
