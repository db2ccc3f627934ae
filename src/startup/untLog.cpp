#include "untLog.h"

// Placeholder until the log destinations are written: every entry is dropped.
struct TLog::Impl
{
};

TLog::TLog() : d(new Impl) {}
TLog::~TLog()
{
    delete d;
}
TLog& TLog::Instance()
{
    static TLog log;
    return log;
}
void TLog::SetConnections(const QString&) {}
QString TLog::Connections() const
{
    return QString();
}
void TLog::SetEnabled(bool on)
{
    logdetail::gEnabled.store(on, std::memory_order_relaxed);
}
void TLog::SetAppName(const QString&) {}
bool TLog::WriteMemoryTo(QIODevice&)
{
    return false;
}
void TLog::SetScreenshotProvider(std::function<QByteArray()>) {}
void TLog::Write(const QString&, const QString&, const QString&, const QString&) {}
void TLog::WriteScreenshot(const QString&, const QString&) {}

QString TLogSession::ObjectName(const QObject* object, const QString& name)
{
    return object ? QString::fromLatin1(object->metaObject()->className()) + QLatin1Char('.') + name
                  : name;
}
void TLogSession::Emit(const char* kind, const QString& title, const QString& value) const
{
    TLog::Instance().Write(QString::fromLatin1(fName), QString::fromLatin1(kind), title, value);
}
void TLogSession::EmitScreenshot(const QString& title) const
{
    TLog::Instance().WriteScreenshot(QString::fromLatin1(fName), title);
}
