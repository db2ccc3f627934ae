#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

#include <atomic>
#include <functional>

class QIODevice;

// Default TCP port of the log viewer on 127.0.0.1 ("tcp()"; "tcp(port=N)" picks another). Any
// line-reading listener serves, for example `nc -lk 127.0.0.1 4228`: one UTF-8 text line per entry,
// after a first line "# <application name> log".
inline constexpr quint16 kLogViewerPort = 4228;

namespace logdetail {
// The switch every call tests first; off means a call returns before any text is formatted.
inline std::atomic<bool> gEnabled{false};
} // namespace logdetail

// The process's one log: its destination ("connections") and its on/off switch.
class TLog
{
public:
    static TLog& Instance();

    // "tcp()" / "tcp(port=N)": lines to a viewer on 127.0.0.1; "mem(maxsize=KB)": a byte-capped
    // ring in memory, oldest entries dropped first; anything else ("pipe(...)"): no destination.
    void SetConnections(const QString& connections);
    QString Connections() const;

    void SetEnabled(bool on);
    static bool Enabled() noexcept { return logdetail::gEnabled.load(std::memory_order_relaxed); }

    void SetAppName(const QString& name);

    // Writes the memory destination's entries into the open device; false (and nothing written)
    // when there is no memory destination. Never throws.
    bool WriteMemoryTo(QIODevice& device);
    // The same into a file descriptor, for the fatal-signal path: allocates nothing and gives up
    // (false) rather than wait for the log's lock.
    bool WriteMemoryToFd(int fd) noexcept;
    // Bytes the memory destination holds now (the sum of its lines).
    qint64 MemoryBytes() const;

    // The program with a screen installs the desktop grab (JPEG bytes); without one, a
    // screenshot entry records only its title and a note.
    void SetScreenshotProvider(std::function<QByteArray()> provider);

    // One formatted entry from a session; the sessions call this only while the log is on.
    void Write(const QString& session, const QString& kind, const QString& title,
               const QString& value);
    void WriteScreenshot(const QString& session, const QString& title);

private:
    TLog();
    ~TLog();
    struct Impl;
    Impl* d;
};

// A named session; every entry of the program goes through siMain ("Main"). Each call tests the
// switch before it converts or formats anything, so arguments built with QStringBuilder (`"a" +
// b`) stay unevaluated while the log is off.
class TLogSession
{
public:
    explicit constexpr TLogSession(const char* name) : fName(name) {}

    static bool On() noexcept { return TLog::Enabled(); }

    template <class S> void EnterMethod(const S& name) const
    {
        if (On())
            Emit("EnterMethod", QString(name), QString());
    }
    template <class S> void LeaveMethod(const S& name) const
    {
        if (On())
            Emit("LeaveMethod", QString(name), QString());
    }
    // Object form: the entry reads "ClassName.name".
    template <class S> void EnterMethod(const QObject* object, const S& name) const
    {
        if (On())
            Emit("EnterMethod", ObjectName(object, QString(name)), QString());
    }
    template <class S> void LeaveMethod(const QObject* object, const S& name) const
    {
        if (On())
            Emit("LeaveMethod", ObjectName(object, QString(name)), QString());
    }
    template <class S> void LogMessage(const S& text) const
    {
        if (On())
            Emit("Message", QString(text), QString());
    }
    template <class T, class S> void LogString(const T& title, const S& value) const
    {
        if (On())
            Emit("String", QString(title), QString(value));
    }
    template <class T> void LogBool(const T& title, bool value) const
    {
        if (On())
            Emit("Boolean", QString(title),
                 value ? QStringLiteral("True") : QStringLiteral("False"));
    }
    template <class T> void LogInt(const T& title, qint32 value) const
    {
        if (On())
            Emit("Integer", QString(title), QString::number(value));
    }
    template <class T> void LogInt64(const T& title, qint64 value) const
    {
        if (On())
            Emit("Int64", QString(title), QString::number(value));
    }
    template <class T> void WatchInt(const T& name, qint32 value) const
    {
        if (On())
            Emit("Watch", QString(name), QString::number(value));
    }
    void LogSeparator() const
    {
        if (On())
            Emit("Separator", QString(), QString());
    }
    template <class T> void LogScreenshot(const T& title) const
    {
        if (On())
            EmitScreenshot(QString(title));
    }

private:
    static QString ObjectName(const QObject* object, const QString& name);
    void Emit(const char* kind, const QString& title, const QString& value) const;
    void EmitScreenshot(const QString& title) const;

    const char* fName;
};

inline constexpr TLogSession siMain{"Main"};
