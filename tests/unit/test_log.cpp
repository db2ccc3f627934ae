#include "untLog.h"

#include <QBuffer>
#include <QRegularExpression>
#include <QTimer>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <thread>
#include <vector>

namespace {

class LogTest : public ::testing::Test
{
protected:
    void SetUp() override { Reset(); }
    void TearDown() override { Reset(); }

    static void Reset()
    {
        TLog::Instance().SetEnabled(false);
        TLog::Instance().SetConnections(QString());
        TLog::Instance().SetScreenshotProvider({});
    }

    static void StartMemory(const QString& connections = QStringLiteral("mem(maxsize=2048)"))
    {
        TLog::Instance().SetConnections(connections);
        TLog::Instance().SetEnabled(true);
    }

    static QStringList MemoryLines()
    {
        QBuffer buffer;
        buffer.open(QIODevice::WriteOnly);
        EXPECT_TRUE(TLog::Instance().WriteMemoryTo(buffer));
        return QString::fromUtf8(buffer.data()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }
};

// Counts how often it is turned into text, so a test sees whether a call formatted anything.
struct TCountingText
{
    int* conversions;
    operator QString() const
    {
        ++*conversions;
        return QStringLiteral("formatted");
    }
};

TEST(LogStart, ProcessStartsWithThePipeDestinationAndTheLogOff)
{
    // "threadsafe" runs the check in a newly started copy of this test, where nothing has used
    // the log yet.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            const bool fresh = TLog::Instance().Connections() ==
                                   QStringLiteral("pipe(reconnect=true, reconnect.interval=1s)") &&
                               !TLog::Enabled();
            std::exit(fresh ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST_F(LogTest, OffRecordsNothingAndFormatsNothing)
{
    TLog::Instance().SetConnections(QStringLiteral("mem(maxsize=2048)"));
    int conversions = 0;
    const TCountingText text{&conversions};
    siMain.EnterMethod(text);
    siMain.LogMessage(text);
    siMain.LogString(text, text);
    siMain.LogBool(text, true);
    siMain.LogInt(text, 1);
    siMain.LogInt64(text, 2);
    siMain.WatchInt(text, 3);
    siMain.LogSeparator();
    bool shot = false;
    TLog::Instance().SetScreenshotProvider([&] {
        shot = true;
        return QByteArray("jpeg");
    });
    siMain.LogScreenshot(text);
    siMain.LeaveMethod(text);

    EXPECT_EQ(conversions, 0);
    EXPECT_FALSE(shot);
    EXPECT_TRUE(MemoryLines().isEmpty());
    EXPECT_EQ(TLog::Instance().MemoryBytes(), 0);
}

TEST_F(LogTest, EveryEntryKindIsOneReadableLine)
{
    StartMemory();
    QTimer object; // any QObject: its class name prefixes the method
    siMain.EnterMethod(&object, "Thread Execute");
    siMain.LogMessage("Create new thread");
    siMain.LogString("Search URL", QStringLiteral("http://x/?a=1"));
    siMain.LogString("eBay Response", QStringLiteral("<a>\r\n<b/>\n</a>"));
    siMain.LogBool("bNewV", false);
    siMain.LogInt("Alert ID", -7);
    siMain.LogInt64("SecDif", Q_INT64_C(5000000000));
    siMain.WatchInt("fndC", 12);
    siMain.LogSeparator();
    siMain.LogScreenshot("SQL ERROR");
    siMain.LeaveMethod(&object, "Thread Execute");

    const QStringList lines = MemoryLines();
    ASSERT_EQ(lines.size(), 11);
    const struct
    {
        const char* kind;
        const char* body;
    } expected[] = {
        {"EnterMethod", "> QTimer.Thread Execute"},
        {"Message", "  Create new thread"},
        {"String", "  Search URL = http://x/?a=1"},
        {"String", "  eBay Response = <a>\\r\\n<b/>\\n</a>"},
        {"Boolean", "  bNewV = False"},
        {"Integer", "  Alert ID = -7"},
        {"Int64", "  SecDif = 5000000000"},
        {"Watch", "  fndC = 12"},
        {"Separator", "  ----"},
        {"Screenshot", "  SQL ERROR [no screen]"},
        {"LeaveMethod", "< QTimer.Thread Execute"},
    };
    for (int i = 0; i < lines.size(); ++i) {
        SCOPED_TRACE(lines[i].toStdString());
        // "yyyy-MM-dd HH:mm:ss.zzz T<n> Main <kind padded to 11> <body>"
        const QStringList head = lines[i].left(40).split(QLatin1Char(' '), Qt::SkipEmptyParts);
        ASSERT_GE(head.size(), 5);
        EXPECT_EQ(head[0].size(), 10);
        EXPECT_EQ(head[1].size(), 12);
        EXPECT_TRUE(head[2].startsWith(QLatin1Char('T')));
        EXPECT_EQ(head[3], QStringLiteral("Main"));
        const QString tail = lines[i].mid(head[0].size() + head[1].size() + head[2].size() + 8);
        EXPECT_TRUE(tail.startsWith(QString::fromLatin1(expected[i].kind).leftJustified(11) +
                                    QLatin1Char(' ') + QString::fromLatin1(expected[i].body)));
    }
}

TEST_F(LogTest, ScreenshotCallsTheProviderAndRecordsTheSize)
{
    StartMemory();
    int calls = 0;
    TLog::Instance().SetScreenshotProvider([&] {
        ++calls;
        return QByteArray(1234, 'x');
    });
    siMain.LogScreenshot("idHttp Error");
    TLog::Instance().SetScreenshotProvider([]() -> QByteArray { throw std::runtime_error("x"); });
    siMain.LogScreenshot("second");

    const QStringList lines = MemoryLines();
    ASSERT_EQ(lines.size(), 2);
    EXPECT_EQ(calls, 1);
    EXPECT_TRUE(lines[0].endsWith(QStringLiteral("idHttp Error [screenshot, 1234 bytes JPEG]")));
    EXPECT_TRUE(lines[1].endsWith(QStringLiteral("second [screenshot failed]")));
}

TEST_F(LogTest, MemoryKeepsTheNewestEntriesWithinItsByteCap)
{
    StartMemory();
    const qint64 cap = 2048 * 1024;
    const QString filler(200, QLatin1Char('x'));
    const int count = 30000; // about 7 MB of lines
    for (int i = 0; i < count; ++i)
        siMain.LogString(QStringLiteral("entry %1").arg(i), filler);

    EXPECT_LE(TLog::Instance().MemoryBytes(), cap);
    EXPECT_GT(TLog::Instance().MemoryBytes(), cap - 1024);

    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    ASSERT_TRUE(TLog::Instance().WriteMemoryTo(buffer));
    EXPECT_EQ(buffer.size(), TLog::Instance().MemoryBytes());
    const QStringList lines = QString::fromUtf8(buffer.data()).split(u'\n', Qt::SkipEmptyParts);
    ASSERT_FALSE(lines.isEmpty());
    EXPECT_LT(lines.size(), count);
    EXPECT_TRUE(lines.last().contains(QStringLiteral("entry %1 = ").arg(count - 1)));
    // Oldest first, consecutive up to the newest: only the oldest were dropped.
    const int first = count - static_cast<int>(lines.size());
    EXPECT_TRUE(lines.first().contains(QStringLiteral("entry %1 = ").arg(first)));
    EXPECT_FALSE(buffer.data().contains("entry 0 = "));

    // A smaller cap set later trims at once; an entry larger than the cap is cut to it.
    TLog::Instance().SetConnections(QStringLiteral("mem(maxsize=1)"));
    EXPECT_LE(TLog::Instance().MemoryBytes(), 1024);
    siMain.LogString("big", QString(5000, QLatin1Char('y')));
    EXPECT_LE(TLog::Instance().MemoryBytes(), 1024);
    EXPECT_EQ(MemoryLines().size(), 1);
}

TEST_F(LogTest, WithoutMemoryDestinationNothingIsWritten)
{
    for (const char* connections : {"", "tcp()", "pipe(reconnect=true, reconnect.interval=1s)"}) {
        SCOPED_TRACE(connections);
        TLog::Instance().SetConnections(QString::fromLatin1(connections));
        TLog::Instance().SetEnabled(true);
        siMain.LogMessage("nowhere");
        QBuffer buffer;
        buffer.open(QIODevice::WriteOnly);
        EXPECT_FALSE(TLog::Instance().WriteMemoryTo(buffer));
        EXPECT_EQ(buffer.size(), 0);
    }
}

TEST_F(LogTest, ThreadsWritingAtOnceLeaveWholeLines)
{
    StartMemory();
    constexpr int threads = 6;
    constexpr int perThread = 1000;
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([t] {
            for (int i = 0; i < perThread; ++i) {
                siMain.EnterMethod("Thread Execute");
                siMain.LogString(QStringLiteral("w%1").arg(t), QString::number(i));
                siMain.LeaveMethod("Thread Execute");
            }
        });
    }
    for (auto& w : workers)
        w.join();

    const QStringList lines = MemoryLines();
    ASSERT_EQ(lines.size(), threads * perThread * 3);
    for (int t = 0; t < threads; ++t) {
        const QString prefix = QStringLiteral("String        w%1 = ").arg(t);
        int next = 0;
        for (const QString& line : lines) {
            const qsizetype at = line.indexOf(prefix);
            if (at >= 0 && line.mid(at + prefix.size()) == QString::number(next))
                ++next;
        }
        EXPECT_EQ(next, perThread) << "thread " << t;
    }
}

class TListener
{
public:
    TListener()
    {
        fFd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(fFd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        ::listen(fFd, 4);
        socklen_t len = sizeof addr;
        ::getsockname(fFd, reinterpret_cast<sockaddr*>(&addr), &len);
        fPort = ntohs(addr.sin_port);
    }
    ~TListener()
    {
        if (fClient >= 0)
            ::close(fClient);
        ::close(fFd);
    }
    quint16 Port() const { return fPort; }

    // Reads until `lines` complete lines arrived or a few seconds passed.
    QStringList ReadLines(int lines)
    {
        QByteArray data;
        qsizetype complete = 0;
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (complete < lines && std::chrono::steady_clock::now() < until) {
            if (fClient < 0) {
                pollfd p{fFd, POLLIN, 0};
                if (::poll(&p, 1, 100) == 1)
                    fClient = ::accept(fFd, nullptr, nullptr);
                continue;
            }
            pollfd p{fClient, POLLIN, 0};
            if (::poll(&p, 1, 100) != 1)
                continue;
            char chunk[65536];
            const ssize_t n = ::read(fClient, chunk, sizeof chunk);
            if (n <= 0)
                break;
            complete += std::count(chunk, chunk + n, '\n');
            data.append(chunk, n);
        }
        return QString::fromUtf8(data).split(u'\n', Qt::SkipEmptyParts);
    }

private:
    int fFd = -1;
    int fClient = -1;
    quint16 fPort = 0;
};

TEST_F(LogTest, TcpSendsOneLinePerEntryToTheViewer)
{
    TListener viewer;
    TLog::Instance().SetAppName(QStringLiteral("Bidlark"));
    TLog::Instance().SetConnections(QStringLiteral("tcp(port=%1)").arg(viewer.Port()));
    TLog::Instance().SetEnabled(true);
    siMain.LogMessage("first");
    siMain.LogString("eBay Response", QStringLiteral("two\nlines"));
    siMain.LogInt("n", 3);

    const QStringList lines = viewer.ReadLines(4);
    ASSERT_EQ(lines.size(), 4);
    EXPECT_EQ(lines[0], QStringLiteral("# Bidlark log"));
    EXPECT_TRUE(lines[1].endsWith(QStringLiteral("Message     first")));
    EXPECT_TRUE(lines[2].endsWith(QStringLiteral("eBay Response = two\\nlines")));
    EXPECT_TRUE(lines[3].endsWith(QStringLiteral("n = 3")));
}

TEST_F(LogTest, UnreachableViewerCostsOnlyTheEntry)
{
    quint16 port = 0;
    {
        TListener gone;
        port = gone.Port();
    }
    TLog::Instance().SetConnections(QStringLiteral("tcp(port=%1), mem()").arg(port));
    TLog::Instance().SetEnabled(true);
    for (int i = 0; i < 200; ++i)
        siMain.LogInt("i", i);
    // The memory destination beside it still gets every entry.
    EXPECT_EQ(MemoryLines().size(), 200);
}

TEST_F(LogTest, ViewerThatDoesNotReadNeverStallsTheProgramNorGarblesLines)
{
    TListener viewer;
    TLog::Instance().SetConnections(QStringLiteral("tcp(port=%1)").arg(viewer.Port()));
    TLog::Instance().SetEnabled(true);
    siMain.LogMessage("hello");
    ASSERT_EQ(viewer.ReadLines(2).size(), 2); // accepted, and from now on not read
    const QString filler(1000, QLatin1Char('z'));
    for (int i = 0; i < 20000; ++i) // about 20 MB, far beyond the socket buffers
        siMain.LogString(QStringLiteral("e%1").arg(i), filler);
    TLog::Instance().SetConnections(QString());

    const QStringList lines = viewer.ReadLines(1000000);
    ASSERT_FALSE(lines.isEmpty());
    EXPECT_LT(lines.size(), 20000);
    // Every line that arrived whole is one entry; only the very last one may be cut off.
    static const QRegularExpression entry(QStringLiteral(" Main String +e\\d+ = z{1000}$"));
    for (qsizetype i = 0; i + 1 < lines.size(); ++i)
        ASSERT_TRUE(entry.match(lines[i]).hasMatch())
            << i << ": " << lines[i].left(80).toStdString();
}

} // namespace
