#include "CannedServer.h"
#include "TestEnv.h"
#include "untHttp.h"
#include "untProxySettings.h"
#include "untSettings.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace {
const QString kError = QStringLiteral("ERROR");

// Every test starts with the proxy off and leaves it off.
class Http : public ::testing::Test
{
protected:
    void SetUp() override { ProxySettings::SetCurrent({}); }
    void TearDown() override { ProxySettings::SetCurrent({}); }
};
} // namespace

TEST(NormaliseBody, LineBreaksNulAndTrimming)
{
    const struct
    {
        QString in;
        QString want;
    } cases[] = {
        {QStringLiteral("a\nb\r\nc"), QStringLiteral("a\r\nb\r\nc")},
        {QStringLiteral("a\rb"), QStringLiteral("a\r\nb")},
        {QStringLiteral("a\n\nb"), QStringLiteral("a\r\n\r\nb")},
        {QStringLiteral("<x/>\r\n\r\n\n"), QStringLiteral("<x/>")},
        {QStringLiteral(" \t\r\n  "), QString()},
        {QStringLiteral("\x01 ab \x1f"), QStringLiteral("ab")},
        {QString::fromUtf16(u"ab\0cd", 5), QStringLiteral("ab")},
        {QString(), QString()},
    };
    for (const auto& c : cases)
        EXPECT_EQ(NormaliseBody(c.in), c.want) << c.in.toStdString();
}

TEST(DecodeBody, DeclaredLatin1ElseUtf8)
{
    EXPECT_EQ(DecodeBody("caf\xe9", QStringLiteral("text/html; charset=ISO-8859-1")),
              QStringLiteral("café"));
    EXPECT_EQ(DecodeBody("caf\xc3\xa9", QStringLiteral("text/xml")), QStringLiteral("café"));
    EXPECT_EQ(DecodeBody("caf\xc3\xa9", QStringLiteral("text/xml; charset=\"utf-8\"")),
              QStringLiteral("café"));
}

TEST_F(Http, AnswersAndFailures)
{
    const struct
    {
        const char* name;
        QList<TCannedServer::TAnswer> answers;
        QString want;
        int requests;
    } cases[] = {
        {"plain body", {TCannedServer::Body(QByteArray("a\nb\r\nc\n"))}, "a\r\nb\r\nc", 1},
        {"empty body", {TCannedServer::Body(QByteArray())}, kError, 1},
        {"blanks only", {TCannedServer::Body(QByteArray(" \r\n\t\n"))}, kError, 1},
        {"literal ERROR", {TCannedServer::Body(QByteArray("ERROR"))}, kError, 1},
        {"second attempt",
         {TCannedServer::Body(QByteArray("boom"), 500), TCannedServer::Body(QByteArray("ok"))},
         "ok",
         2},
        {"both fail",
         {TCannedServer::Body(QByteArray("x"), 404), TCannedServer::Body(QByteArray("y"), 503)},
         kError,
         2},
    };
    for (const auto& c : cases) {
        TCannedServer server(c.answers);
        THttpClient client;
        EXPECT_EQ(HttpGetText(server.BaseUrl() + "/p", client), c.want) << c.name;
        EXPECT_EQ(server.RequestCount(), c.requests) << c.name;
    }
}

TEST_F(Http, FollowsRedirectsAndSendsTheHeaders)
{
    TCannedServer server;
    server.Add(TCannedServer::Redirect(server.BaseUrl().toLatin1() + "/there"));
    server.Add(TCannedServer::Body(QByteArray("arrived")));
    THttpClient client;
    EXPECT_EQ(HttpGetText(server.BaseUrl() + "/here?a=b+c/d=", client), QStringLiteral("arrived"));
    EXPECT_EQ(server.Targets(), QStringList({"/here?a=b+c/d=", "/there"}));
    const QByteArray head = server.Requests().value(0);
    EXPECT_TRUE(head.contains("\r\nAccept: text/html, */*\r\n")) << head.constData();
    EXPECT_TRUE(head.contains("\r\nUser-Agent: Mozilla/3.0 (compatible; Indy Library)\r\n"));
}

TEST_F(Http, ServerThatNeverAnswersTimesOut)
{
    TCannedServer server({TCannedServer::Hang(), TCannedServer::Hang()});
    THttpClient client;
    client.SetTotalTimeout(300);
    EXPECT_EQ(HttpGetText(server.BaseUrl() + "/slow", client), kError);
    EXPECT_EQ(server.RequestCount(), 2);
}

TEST_F(Http, AbortFlagEndsAWaitingFetch)
{
    TCannedServer server({TCannedServer::Hang(), TCannedServer::Hang()});
    std::atomic<bool> abort{false};
    THttpClient client;
    client.SetAbortFlag(&abort);
    std::thread stopper([&] {
        while (server.RequestCount() == 0)
            std::this_thread::yield();
        abort = true;
    });
    // The default 30 s time-out would hold the test; the flag ends it.
    EXPECT_EQ(HttpGetText(server.BaseUrl() + "/slow", client), kError);
    stopper.join();
}

TEST_F(Http, AnswerOverTheCapIsAFailure)
{
    const QByteArray big(THttpClient::kMaxBodyBytes + 1, 'a');
    TCannedServer server({TCannedServer::Body(big), TCannedServer::Body(big)});
    THttpClient client;
    EXPECT_EQ(HttpGetText(server.BaseUrl() + "/big", client), kError);
    EXPECT_EQ(server.RequestCount(), 2);
}

TEST_F(Http, BothAttemptsGoThroughTheProxy)
{
    TCannedServer proxy(
        {TCannedServer::Body(QByteArray("no"), 502), TCannedServer::Body(QByteArray("proxied"))});
    ProxySettings::SetCurrent({true, QStringLiteral("127.0.0.1"), QString::number(proxy.Port())});
    THttpClient client;
    EXPECT_EQ(HttpGetText(QStringLiteral("http://bidlark.invalid/x"), client),
              QStringLiteral("proxied"));
    EXPECT_EQ(proxy.Targets(),
              QStringList({"http://bidlark.invalid/x", "http://bidlark.invalid/x"}));

    // A client keeps its proxy after the user turns it off.
    proxy.Add(TCannedServer::Body(QByteArray("still proxied")));
    ProxySettings::SetCurrent({});
    EXPECT_EQ(HttpGetText(QStringLiteral("http://bidlark.invalid/y"), client),
              QStringLiteral("still proxied"));
}

TEST_F(Http, ProxyPortThatIsNotANumberAnswersError)
{
    TCannedServer server({TCannedServer::Body(QByteArray("never asked"))});
    for (const char* port : {"abc", "", ".", "70000"}) {
        ProxySettings::SetCurrent({true, QStringLiteral("127.0.0.1"), QString::fromLatin1(port)});
        THttpClient client;
        EXPECT_EQ(HttpGetText(server.BaseUrl() + "/x", client), kError) << port;
    }
    EXPECT_EQ(server.RequestCount(), 0);
}

TEST(ProxySettingsStore, LoadAndStore)
{
    TTestEnv env;
    EXPECT_FALSE(ProxySettings::Load().useProxy); // no key: off and empty

    {
        TRegistry reg;
        ASSERT_TRUE(reg.OpenKey(Settings::kProxyKey, true));
        reg.WriteInteger(QStringLiteral("useproxy"), 1);
    }
    TProxySettings loaded = ProxySettings::Load();
    EXPECT_TRUE(loaded.useProxy);
    EXPECT_TRUE(loaded.server.isEmpty());
    EXPECT_TRUE(loaded.port.isEmpty());
    EXPECT_TRUE(ProxySettings::Current().useProxy);

    ProxySettings::Store({true, QStringLiteral("proxy.lan"), QStringLiteral("8080")});
    ProxySettings::SetCurrent({});
    loaded = ProxySettings::Load();
    EXPECT_TRUE(loaded.useProxy);
    EXPECT_EQ(loaded.server, QStringLiteral("proxy.lan"));
    EXPECT_EQ(loaded.port, QStringLiteral("8080"));
    ProxySettings::SetCurrent({});
}

TEST(ProxySettingsStore, ReadersNeverSeeAMixOfTwoWrites)
{
    std::atomic<bool> stop{false};
    std::atomic<int> torn{0};
    std::thread writer([&] {
        for (int i = 0; i < 20000; ++i)
            ProxySettings::SetCurrent(i % 2 ? TProxySettings{true, "a.lan", "1111"}
                                            : TProxySettings{false, "bb.lan", "22"});
        stop = true;
    });
    std::thread reader([&] {
        while (!stop) {
            const TProxySettings s = ProxySettings::Current();
            const bool a = s.useProxy && s.server == "a.lan" && s.port == "1111";
            const bool b = !s.useProxy && s.server == "bb.lan" && s.port == "22";
            const bool initial = !s.useProxy && s.server.isEmpty() && s.port.isEmpty();
            if (!a && !b && !initial)
                ++torn;
        }
    });
    writer.join();
    reader.join();
    EXPECT_EQ(torn, 0);
    ProxySettings::SetCurrent({});
}
