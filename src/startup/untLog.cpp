#include "untLog.h"

#include <QDateTime>
#include <QIODevice>
#include <QRegularExpression>

#include <chrono>
#include <cstring>
#include <deque>
#include <mutex>

#ifdef Q_OS_WIN
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

// Line format, one line per entry (what a viewer and CrashLog.sil show):
//
//   2026-12-11 13:20:01.123 T1 Main Message     Compact and Repair OK
//   2026-12-11 13:20:01.124 T2 Main EnterMethod > TFetchWorker.Thread Execute
//   2026-12-11 13:20:01.130 T2 Main String        Search URL = http://...
//   2026-12-11 13:20:01.190 T2 Main LeaveMethod < TFetchWorker.Thread Execute
//
// Time (local), thread (T1 is the first thread that logged), session, kind, then the body,
// indented by two blanks per open method of that thread. Line breaks inside a value are written as
// the two characters "\n" (and "\r"), so that an entry always stays one line.

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kDefaultMemKb = 2048;
constexpr auto kReconnectPause = std::chrono::seconds(3);
constexpr int kConnectWaitMs = 200;
constexpr int kSendWaitMs = 100;

#ifdef Q_OS_WIN
using Socket = SOCKET;
const Socket kNoSocket = INVALID_SOCKET;
void CloseSocket(Socket s)
{
    closesocket(s);
}
#else
using Socket = int;
constexpr Socket kNoSocket = -1;
void CloseSocket(Socket s)
{
    ::close(s);
}
#endif

std::atomic<int> gNextThreadNumber{1};
thread_local int tThreadNumber = 0;
thread_local int tDepth = 0;

int ThreadNumber()
{
    if (tThreadNumber == 0)
        tThreadNumber = gNextThreadNumber.fetch_add(1, std::memory_order_relaxed);
    return tThreadNumber;
}

// "yyyy-MM-dd HH:mm:ss.zzz" in local time. Converting to local time is the costliest part of an
// entry, so each thread converts once per second and adds the milliseconds itself.
QString TimeStamp()
{
    thread_local qint64 tSecond = -1;
    thread_local QString tText;
    const qint64 ms = QDateTime::currentMSecsSinceEpoch();
    const qint64 second = ms / 1000;
    if (second != tSecond) {
        tSecond = second;
        tText = QDateTime::fromMSecsSinceEpoch(second * 1000)
                    .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss."));
    }
    return tText + QString::number(ms % 1000).rightJustified(3, QLatin1Char('0'));
}

QString OneLine(const QString& text)
{
    if (!text.contains(QLatin1Char('\n')) && !text.contains(QLatin1Char('\r')))
        return text;
    QString out;
    out.reserve(text.size() + 16);
    for (const QChar c : text) {
        if (c == u'\n')
            out += QStringLiteral("\\n");
        else if (c == u'\r')
            out += QStringLiteral("\\r");
        else
            out += c;
    }
    return out;
}

struct TDestinations
{
    bool tcp = false;
    quint16 port = kLogViewerPort;
    bool mem = false;
    qint64 memCapBytes = qint64(kDefaultMemKb) * 1024;
};

// "tcp()", "tcp(port=4229)", "mem(maxsize=2048)", or several of them separated by commas.
TDestinations ParseConnections(const QString& text)
{
    TDestinations result;
    static const QRegularExpression entryRe(QStringLiteral(R"((\w+)\s*\(([^)]*)\))"));
    auto it = entryRe.globalMatch(text);
    while (it.hasNext()) {
        const auto match = it.next();
        const QString protocol = match.captured(1).toLower();
        QHash<QString, QString> options;
        for (const QString& option :
             match.captured(2).split(QLatin1Char(','), Qt::SkipEmptyParts)) {
            const qsizetype eq = option.indexOf(QLatin1Char('='));
            if (eq > 0)
                options.insert(option.left(eq).trimmed().toLower(), option.mid(eq + 1).trimmed());
        }
        if (protocol == u"tcp") {
            result.tcp = true;
            bool ok = false;
            const uint port = options.value(QStringLiteral("port")).toUInt(&ok);
            if (ok && port > 0 && port <= 65535)
                result.port = static_cast<quint16>(port);
        } else if (protocol == u"mem") {
            result.mem = true;
            bool ok = false;
            const qint64 kb = options.value(QStringLiteral("maxsize")).toLongLong(&ok);
            if (ok && kb > 0)
                result.memCapBytes = kb * 1024;
        }
    }
    return result;
}

} // namespace

struct TLog::Impl
{
    std::mutex mutex;
    // What the process starts with; it names no destination here, and the log is off anyway.
    QString connections = QStringLiteral("pipe(reconnect=true, reconnect.interval=1s)");
    QString appName;
    TDestinations dest;
    std::function<QByteArray()> screenshot;

    // Memory destination: whole lines, oldest first; `memBytes` is the sum of their sizes.
    std::deque<QByteArray> mem;
    qint64 memBytes = 0;

    // TCP destination.
    Socket socket = kNoSocket;
    Clock::time_point nextConnect{};

    ~Impl() { Disconnect(); }

    void Disconnect()
    {
        if (socket != kNoSocket)
            CloseSocket(socket);
        socket = kNoSocket;
    }

    void AppendMem(QByteArray line)
    {
        if (line.size() > dest.memCapBytes) {
            line.truncate(dest.memCapBytes - 1);
            line.append('\n');
        }
        memBytes += line.size();
        mem.push_back(std::move(line));
        while (memBytes > dest.memCapBytes && !mem.empty()) {
            memBytes -= mem.front().size();
            mem.pop_front();
        }
    }

    bool Connect()
    {
        const auto now = Clock::now();
        if (now < nextConnect)
            return false;
        nextConnect = now + kReconnectPause;
#ifdef Q_OS_WIN
        static const bool started = [] {
            WSADATA data;
            return WSAStartup(MAKEWORD(2, 2), &data) == 0;
        }();
        if (!started)
            return false;
#endif
        Socket s = ::socket(AF_INET, SOCK_STREAM, 0);
        if (s == kNoSocket)
            return false;
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(dest.port);
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
#ifdef Q_OS_WIN
        u_long nonBlocking = 1;
        ioctlsocket(s, FIONBIO, &nonBlocking);
        if (::connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 &&
            WSAGetLastError() != WSAEWOULDBLOCK) {
            CloseSocket(s);
            return false;
        }
        fd_set writable;
        FD_ZERO(&writable);
        FD_SET(s, &writable);
        timeval wait{0, kConnectWaitMs * 1000};
        if (select(0, nullptr, &writable, nullptr, &wait) != 1) {
            CloseSocket(s);
            return false;
        }
#else
        ::fcntl(s, F_SETFD, FD_CLOEXEC);
        ::fcntl(s, F_SETFL, ::fcntl(s, F_GETFL) | O_NONBLOCK);
        if (::connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
            if (errno != EINPROGRESS) {
                CloseSocket(s);
                return false;
            }
            pollfd p{s, POLLOUT, 0};
            int error = 0;
            socklen_t len = sizeof error;
            if (::poll(&p, 1, kConnectWaitMs) != 1 ||
                ::getsockopt(s, SOL_SOCKET, SO_ERROR, &error, &len) != 0 || error != 0) {
                CloseSocket(s);
                return false;
            }
        }
#endif
        socket = s;
        const QByteArray hello = "# " + appName.toUtf8() + " log\n";
        return SendAll(hello);
    }

    // Sends one whole line. A viewer that does not keep up costs the line; a line cut in the
    // middle would garble the next one, so a partial send that cannot finish soon drops the
    // connection instead.
    bool SendAll(const QByteArray& line)
    {
        const char* data = line.constData();
        qsizetype left = line.size();
        bool started = false;
        while (left > 0) {
#ifdef Q_OS_WIN
            const int n = ::send(socket, data, static_cast<int>(left), 0);
            const bool wouldBlock = n < 0 && WSAGetLastError() == WSAEWOULDBLOCK;
#else
            const ssize_t n = ::send(socket, data, static_cast<size_t>(left), MSG_NOSIGNAL);
            const bool wouldBlock = n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
            if (n < 0 && errno == EINTR)
                continue;
#endif
            if (n > 0) {
                started = true;
                data += n;
                left -= n;
                continue;
            }
            if (wouldBlock && !started)
                return false;
            if (wouldBlock) {
#ifdef Q_OS_WIN
                fd_set writable;
                FD_ZERO(&writable);
                FD_SET(socket, &writable);
                timeval wait{0, kSendWaitMs * 1000};
                if (select(0, nullptr, &writable, nullptr, &wait) == 1)
                    continue;
#else
                pollfd p{socket, POLLOUT, 0};
                if (::poll(&p, 1, kSendWaitMs) == 1)
                    continue;
#endif
            }
            Disconnect();
            return false;
        }
        return true;
    }

    void SendTcp(const QByteArray& line)
    {
        if (socket == kNoSocket && !Connect())
            return;
        if (socket != kNoSocket)
            SendAll(line);
    }
};

TLog::TLog() : d(new Impl) {}

TLog::~TLog()
{
    delete d;
}

TLog& TLog::Instance()
{
    // Never destroyed: threads and exit handlers may still log while the process ends.
    static TLog* log = new TLog;
    return *log;
}

void TLog::SetConnections(const QString& connections)
{
    const TDestinations dest = ParseConnections(connections);
    std::lock_guard lock(d->mutex);
    d->connections = connections;
    if (!dest.tcp || dest.port != d->dest.port)
        d->Disconnect();
    d->nextConnect = {};
    if (!dest.mem) {
        d->mem.clear();
        d->memBytes = 0;
    }
    d->dest = dest;
    while (d->memBytes > d->dest.memCapBytes && !d->mem.empty()) {
        d->memBytes -= d->mem.front().size();
        d->mem.pop_front();
    }
}

QString TLog::Connections() const
{
    std::lock_guard lock(d->mutex);
    return d->connections;
}

void TLog::SetEnabled(bool on)
{
    logdetail::gEnabled.store(on, std::memory_order_relaxed);
}

void TLog::SetAppName(const QString& name)
{
    std::lock_guard lock(d->mutex);
    d->appName = name;
}

bool TLog::WriteMemoryTo(QIODevice& device)
{
    try {
        std::deque<QByteArray> copy;
        {
            std::lock_guard lock(d->mutex);
            if (!d->dest.mem)
                return false;
            copy = d->mem;
        }
        for (const QByteArray& line : copy) {
            if (device.write(line) != line.size())
                break;
        }
        return true;
    } catch (...) {
        return false;
    }
}

bool TLog::WriteMemoryToFd(int fd) noexcept
{
#ifdef Q_OS_WIN
    Q_UNUSED(fd);
    return false;
#else
    // Called from a fatal-signal handler: no allocation, and never wait for the lock (the
    // crashing thread may hold it).
    if (!d->mutex.try_lock())
        return false;
    const bool has = d->dest.mem;
    if (has) {
        for (const QByteArray& line : d->mem) {
            const char* data = line.constData();
            qsizetype left = line.size();
            while (left > 0) {
                const ssize_t n = ::write(fd, data, static_cast<size_t>(left));
                if (n < 0 && errno == EINTR)
                    continue;
                if (n <= 0)
                    break;
                data += n;
                left -= n;
            }
        }
    }
    d->mutex.unlock();
    return has;
#endif
}

qint64 TLog::MemoryBytes() const
{
    std::lock_guard lock(d->mutex);
    return d->memBytes;
}

void TLog::SetScreenshotProvider(std::function<QByteArray()> provider)
{
    std::lock_guard lock(d->mutex);
    d->screenshot = std::move(provider);
}

void TLog::Write(const QString& session, const QString& kind, const QString& title,
                 const QString& value)
{
    if (!Enabled())
        return;
    try {
        QString body;
        int depth = tDepth;
        if (kind == u"EnterMethod") {
            body = QStringLiteral("> ") + OneLine(title);
            ++tDepth;
        } else if (kind == u"LeaveMethod") {
            tDepth = depth > 0 ? depth - 1 : 0;
            depth = tDepth;
            body = QStringLiteral("< ") + OneLine(title);
        } else if (kind == u"Separator") {
            body = QStringLiteral("----------------------------------------");
        } else if (kind == u"Message") {
            body = OneLine(title);
        } else if (kind == u"Screenshot") {
            body = OneLine(title) + QLatin1Char(' ') + value;
        } else {
            body = OneLine(title) + QStringLiteral(" = ") + OneLine(value);
        }
        const QString text = TimeStamp() + QStringLiteral(" T") + QString::number(ThreadNumber()) +
                             QLatin1Char(' ') + session + QLatin1Char(' ') +
                             kind.leftJustified(11) + QLatin1Char(' ') +
                             QString(depth * 2, QLatin1Char(' ')) + body + QLatin1Char('\n');
        QByteArray line = text.toUtf8();

        std::lock_guard lock(d->mutex);
        if (d->dest.tcp)
            d->SendTcp(line);
        if (d->dest.mem)
            d->AppendMem(std::move(line));
    } catch (...) {
        // The log never raises into the program: a failure costs the entry.
    }
}

void TLog::WriteScreenshot(const QString& session, const QString& title)
{
    if (!Enabled())
        return;
    QString note = QStringLiteral("[no screen]");
    try {
        std::function<QByteArray()> provider;
        {
            std::lock_guard lock(d->mutex);
            provider = d->screenshot;
        }
        if (provider) {
            const QByteArray image = provider();
            note = image.isEmpty()
                       ? QStringLiteral("[screenshot failed]")
                       : QStringLiteral("[screenshot, %1 bytes JPEG]").arg(image.size());
        }
    } catch (...) {
        note = QStringLiteral("[screenshot failed]");
    }
    Write(session, QStringLiteral("Screenshot"), title, note);
}

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
