#include "untHttp.h"

#include "untLog.h"
#include "untProxySettings.h"

#include <curl/curl.h>

#include <mutex>

namespace {
std::atomic<int> gDefaultConnectMs{THttpClient::kDefaultConnectTimeoutMs};
std::atomic<int> gDefaultTotalMs{THttpClient::kDefaultTotalTimeoutMs};

void GlobalInit()
{
    // curl_global_init is not thread-safe; fetches start on several threads.
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct TTransfer
{
    QByteArray* body;
    bool tooLarge = false;
};

size_t WriteBody(char* data, size_t size, size_t count, void* user)
{
    auto* transfer = static_cast<TTransfer*>(user);
    const size_t n = size * count;
    if (transfer->body->size() + static_cast<qint64>(n) > THttpClient::kMaxBodyBytes) {
        transfer->tooLarge = true;
        return 0; // makes libcurl fail the transfer
    }
    transfer->body->append(data, static_cast<qsizetype>(n));
    return n;
}

int Progress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t)
{
    const auto* flag = static_cast<const std::atomic<bool>*>(user);
    return flag && flag->load(std::memory_order_relaxed) ? 1 : 0;
}
} // namespace

struct THttpClient::Impl
{
    CURL* handle = nullptr;
    curl_slist* headers = nullptr;
    int connectMs = gDefaultConnectMs.load();
    int totalMs = gDefaultTotalMs.load();
    const std::atomic<bool>* abortFlag = nullptr;
    bool hasProxy = false;
    QByteArray proxyHost;
};

THttpClient::THttpClient() : d(std::make_unique<Impl>())
{
    GlobalInit();
    d->handle = curl_easy_init();
    d->headers = curl_slist_append(d->headers, "Accept: text/html, */*");
    if (!d->handle)
        return;
    curl_easy_setopt(d->handle, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(d->handle, CURLOPT_HTTPHEADER, d->headers);
    curl_easy_setopt(d->handle, CURLOPT_USERAGENT, "Mozilla/3.0 (compatible; Indy Library)");
    curl_easy_setopt(d->handle, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(d->handle, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(d->handle, CURLOPT_MAXREDIRS, 15L);
    curl_easy_setopt(d->handle, CURLOPT_FAILONERROR, 1L);
    curl_easy_setopt(d->handle, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(kMaxBodyBytes));
    curl_easy_setopt(d->handle, CURLOPT_XFERINFOFUNCTION, &Progress);
    curl_easy_setopt(d->handle, CURLOPT_NOPROGRESS, 0L);
    // Only the program's own proxy settings count, not the environment's.
    curl_easy_setopt(d->handle, CURLOPT_PROXY, "");
}

THttpClient::~THttpClient()
{
    if (d->handle)
        curl_easy_cleanup(d->handle);
    curl_slist_free_all(d->headers);
}

void THttpClient::SetConnectTimeout(int ms)
{
    d->connectMs = ms;
}

void THttpClient::SetTotalTimeout(int ms)
{
    d->totalMs = ms;
}

void THttpClient::SetAbortFlag(const std::atomic<bool>* flag)
{
    d->abortFlag = flag;
}

void THttpClient::SetProxy(const QString& host, int port)
{
    if (!d->handle)
        return;
    d->proxyHost = host.toUtf8();
    curl_easy_setopt(d->handle, CURLOPT_PROXY, d->proxyHost.constData());
    curl_easy_setopt(d->handle, CURLOPT_PROXYPORT, static_cast<long>(port));
    d->hasProxy = true;
}

bool THttpClient::HasProxy() const
{
    return d->hasProxy;
}

void THttpClient::SetDefaultTimeouts(int connectMs, int totalMs)
{
    gDefaultConnectMs = connectMs;
    gDefaultTotalMs = totalMs;
}

bool THttpClient::Get(const QString& url, QByteArray& body, QString& contentType, QString& error)
{
    body.clear();
    contentType.clear();
    if (!d->handle) {
        error = QStringLiteral("no HTTP client");
        return false;
    }
    const QByteArray address = url.toUtf8();
    TTransfer transfer{&body};
    curl_easy_setopt(d->handle, CURLOPT_URL, address.constData());
    curl_easy_setopt(d->handle, CURLOPT_HTTPGET, 1L);
    curl_easy_setopt(d->handle, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(d->handle, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(d->connectMs));
    curl_easy_setopt(d->handle, CURLOPT_TIMEOUT_MS, static_cast<long>(d->totalMs));
    curl_easy_setopt(d->handle, CURLOPT_WRITEFUNCTION, &WriteBody);
    curl_easy_setopt(d->handle, CURLOPT_WRITEDATA, &transfer);
    curl_easy_setopt(d->handle, CURLOPT_XFERINFODATA, d->abortFlag);
    const CURLcode code = curl_easy_perform(d->handle);
    curl_easy_setopt(d->handle, CURLOPT_WRITEDATA, nullptr);
    if (code != CURLE_OK) {
        error = transfer.tooLarge ? QStringLiteral("answer larger than the limit")
                                  : QString::fromUtf8(curl_easy_strerror(code));
        body.clear();
        return false;
    }
    const char* type = nullptr;
    if (curl_easy_getinfo(d->handle, CURLINFO_CONTENT_TYPE, &type) == CURLE_OK && type)
        contentType = QString::fromLatin1(type);
    return true;
}

QString NormaliseBody(const QString& body)
{
    qsizetype n = body.indexOf(QChar(0));
    if (n < 0)
        n = body.size();
    QString text;
    text.reserve(n + n / 32 + 2);
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = body.at(i);
        if (c == u'\r') {
            text += QStringLiteral("\r\n");
            if (i + 1 < n && body.at(i + 1) == u'\n')
                ++i;
        } else if (c == u'\n') {
            text += QStringLiteral("\r\n");
        } else {
            text += c;
        }
    }
    qsizetype from = 0;
    qsizetype to = text.size();
    while (from < to && text.at(from).unicode() <= 32)
        ++from;
    while (to > from && text.at(to - 1).unicode() <= 32)
        --to;
    return text.mid(from, to - from);
}

QString DecodeBody(const QByteArray& body, const QString& contentType)
{
    const qsizetype at = contentType.indexOf(QLatin1String("charset="), 0, Qt::CaseInsensitive);
    if (at >= 0) {
        QString charset = contentType.mid(at + 8).section(QLatin1Char(';'), 0, 0).trimmed();
        charset.remove(QLatin1Char('"'));
        charset = charset.toLower();
        if (charset == QLatin1String("iso-8859-1") || charset == QLatin1String("latin1") ||
            charset == QLatin1String("us-ascii"))
            return QString::fromLatin1(body);
    }
    return QString::fromUtf8(body);
}

void HttpGetText(const QString& url, THttpClient& client, QString& result)
{
    const TProxySettings proxy = ProxySettings::Current();
    if (proxy.useProxy) {
        bool ok = false;
        const int port = proxy.port.toInt(&ok, 10);
        if (!ok || port < 0 || port > 65535) {
            siMain.LogString("Proxy port is not a number", proxy.port);
            result = QStringLiteral("ERROR");
            return;
        }
        client.SetProxy(proxy.server, port);
    }

    QByteArray body;
    QString contentType;
    QString error;
    bool ok = client.Get(url, body, contentType, error);
    if (!ok)
        ok = client.Get(url, body, contentType, error);
    if (!ok) {
        siMain.LogString("HTTP attempt failed", error);
        siMain.LogScreenshot("idHttp Error");
        result = QStringLiteral("ERROR");
        return;
    }
    result = NormaliseBody(DecodeBody(body, contentType));
    if (result.isEmpty())
        result = QStringLiteral("ERROR");
}

QString HttpGetText(const QString& url, THttpClient& client)
{
    QString result;
    HttpGetText(url, client, result);
    return result;
}
