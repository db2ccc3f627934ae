#pragma once

#include <QByteArray>
#include <QString>

#include <atomic>
#include <memory>

// One HTTP client: one libcurl easy handle, so its connections and proxy stay with its owner.
// The caller creates it, may set time-outs, passes it to each fetch and frees it. Not shared
// between threads.
class THttpClient
{
public:
    // A fetch that gets no connection within 10 s, or no whole answer within 30 s, fails: long
    // enough for a slow line or proxy, short enough that a dead server does not hold a search for
    // minutes (a fetch is tried twice, and a search retries once after 10 s).
    static constexpr int kDefaultConnectTimeoutMs = 10000;
    static constexpr int kDefaultTotalTimeoutMs = 30000;
    // Answers larger than this are cut off and count as a failed attempt.
    static constexpr qint64 kMaxBodyBytes = 16 * 1024 * 1024;

    THttpClient();
    ~THttpClient();
    THttpClient(const THttpClient&) = delete;
    THttpClient& operator=(const THttpClient&) = delete;

    void SetConnectTimeout(int ms);
    void SetTotalTimeout(int ms);
    // A transfer under way fails soon after the flag turns true (checked while connecting, too).
    void SetAbortFlag(const std::atomic<bool>* flag);

    // Once set, the proxy stays for the client's life.
    void SetProxy(const QString& host, int port);
    bool HasProxy() const;

    // One GET. True with the body when the server answered with a success status (after
    // redirects); false on any failure, with a reason for the log.
    bool Get(const QString& url, QByteArray& body, QString& contentType, QString& error);

    // The time-outs new clients start with; for tests that cannot reach the client they time.
    static void SetDefaultTimeouts(int connectMs, int totalMs);

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

// GET as text. Two attempts; "ERROR" when both fail or nothing but blanks came back. The proxy
// settings apply when use proxy is on; a proxy port that is not a number answers "ERROR".
void HttpGetText(const QString& url, THttpClient& client, QString& result);
QString HttpGetText(const QString& url, THttpClient& client);

// The body as the callers see it: a NUL ends the text, every line break becomes CR LF, and
// characters with codes 0 to 32 are trimmed from both ends.
QString NormaliseBody(const QString& body);
// The body's bytes as text: Latin-1 when the answer declares it, UTF-8 otherwise.
QString DecodeBody(const QByteArray& body, const QString& contentType);
