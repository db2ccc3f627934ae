#include "cls.Service.h"

#include "cls.DemoMarket.h"
#include "cls.EbayBackend.h"
#include "untPages.h"
#include "untPng.h"
#include "untReleases.h"
#include "untRequestCheck.h"
#include "untSearchXml.h"
#include "untServiceText.h"

#include <httplib.h>

#include <QDir>

#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <zlib.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>

namespace {

using Clock = std::chrono::steady_clock;
thread_local Clock::time_point tRequestStart;

std::int64_t WallMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

// One line per request on stderr; the target is cut short so a huge request cannot flood it.
void LogRequest(const httplib::Request& req, const httplib::Response& res)
{
    const double ms =
        std::chrono::duration<double, std::milli>(Clock::now() - tRequestStart).count();
    std::string line;
    line.reserve(400);
    AppendEbayTime(line, WallMs());
    line += ' ';
    line += req.remote_addr;
    line += ' ';
    line += req.method;
    line += ' ';
    const std::string_view target = req.target;
    for (char c : target.substr(0, 300))
        line += (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) ? '?' : c;
    if (target.size() > 300)
        line += "...";
    char tail[96];
    std::snprintf(tail, sizeof tail, " %d %zu %.2fms\n", res.status, res.body.size(), ms);
    line += tail;
    std::fwrite(line.data(), 1, line.size(), stderr);
}

// Every request must have arrived whole within this time. The library's time-outs count per
// read, so a client that trickles a byte every few seconds would keep its thread for good, and
// enough of them would stop the service.
constexpr auto kRequestArrival = std::chrono::seconds(10);
// Nor may a request be larger than this, headers and body together: the library limits the
// length of a header line, not their number.
constexpr std::size_t kRequestBytes = 256 * 1024;

// The library's socket stream, with that deadline on reading and kept for the whole connection
// (so bytes of a next request already read are not lost between requests).
class TDeadlineStream final : public httplib::Stream
{
public:
    TDeadlineStream(int sock, int readTimeoutMs, int writeTimeoutMs)
        : fSock(sock), fReadTimeoutMs(readTimeoutMs), fWriteTimeoutMs(writeTimeoutMs)
    {
    }

    void StartRequest()
    {
        fDeadline = Clock::now() + kRequestArrival;
        fRequestBytes = 0;
    }
    bool HasBuffered() const { return fOffset < fFill; }

    bool is_readable() const override
    {
        if (HasBuffered())
            return true;
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(fDeadline - Clock::now());
        if (left.count() <= 0)
            return false;
        return Wait(POLLIN, std::min<long long>(fReadTimeoutMs, left.count()));
    }
    bool is_writable() const override { return Wait(POLLOUT, fWriteTimeoutMs); }

    ssize_t read(char* ptr, size_t size) override
    {
        const ssize_t n = ReadSome(ptr, std::min(size, kRequestBytes));
        if (n > 0)
            fRequestBytes += static_cast<std::size_t>(n);
        return n;
    }

    ssize_t write(const char* ptr, size_t size) override
    {
        if (!is_writable())
            return -1;
        ssize_t n;
        do
            n = ::send(fSock, ptr, size, MSG_NOSIGNAL);
        while (n < 0 && errno == EINTR);
        return n;
    }

    void get_remote_ip_and_port(std::string& ip, int& port) const override
    {
        Address(true, ip, port);
    }
    void get_local_ip_and_port(std::string& ip, int& port) const override
    {
        Address(false, ip, port);
    }
    socket_t socket() const override { return fSock; }

private:
    ssize_t ReadSome(char* ptr, size_t size)
    {
        if (fRequestBytes >= kRequestBytes)
            return -1;
        if (HasBuffered()) {
            const std::size_t n = std::min(size, fFill - fOffset);
            std::memcpy(ptr, fBuffer + fOffset, n);
            fOffset += n;
            return static_cast<ssize_t>(n);
        }
        if (!is_readable())
            return -1;
        if (size >= sizeof fBuffer)
            return Receive(ptr, size);
        const ssize_t got = Receive(fBuffer, sizeof fBuffer);
        if (got <= 0)
            return got;
        const std::size_t n = std::min(size, static_cast<std::size_t>(got));
        std::memcpy(ptr, fBuffer, n);
        fOffset = n;
        fFill = static_cast<std::size_t>(got);
        return static_cast<ssize_t>(n);
    }

    bool Wait(short events, long long ms) const
    {
        pollfd p{fSock, events, 0};
        int rc;
        do
            rc = ::poll(&p, 1, static_cast<int>(ms));
        while (rc < 0 && errno == EINTR);
        return rc > 0;
    }
    ssize_t Receive(char* ptr, std::size_t size)
    {
        ssize_t n;
        do
            n = ::recv(fSock, ptr, size, 0);
        while (n < 0 && errno == EINTR);
        return n;
    }
    void Address(bool peer, std::string& ip, int& port) const
    {
        sockaddr_storage addr{};
        socklen_t len = sizeof addr;
        auto* a = reinterpret_cast<sockaddr*>(&addr);
        if ((peer ? ::getpeername(fSock, a, &len) : ::getsockname(fSock, a, &len)) != 0)
            return;
        char host[NI_MAXHOST];
        char serv[NI_MAXSERV];
        if (::getnameinfo(a, len, host, sizeof host, serv, sizeof serv,
                          NI_NUMERICHOST | NI_NUMERICSERV) == 0) {
            ip = host;
            port = std::atoi(serv);
        }
    }

    int fSock;
    int fReadTimeoutMs;
    int fWriteTimeoutMs;
    Clock::time_point fDeadline = Clock::now() + kRequestArrival;
    char fBuffer[4096];
    std::size_t fOffset = 0;
    std::size_t fFill = 0;
    std::size_t fRequestBytes = 0;
};

// The library's server with the connection loop above.
class THttpServer final : public httplib::Server
{
private:
    bool process_and_close_socket(socket_t sock) override
    {
        const int one = 1;
        ::setsockopt(sock, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        TDeadlineStream stream(
            sock, static_cast<int>(read_timeout_sec_ * 1000 + read_timeout_usec_ / 1000),
            static_cast<int>(write_timeout_sec_ * 1000 + write_timeout_usec_ / 1000));
        bool ok = false;
        for (std::size_t left = keep_alive_max_count_; left > 0 && NextRequest(stream, sock);
             --left) {
            stream.StartRequest();
            bool closed = false;
            ok = process_request(stream, left == 1, closed, nullptr);
            if (!ok || closed)
                break;
        }
        ::shutdown(sock, SHUT_RDWR);
        ::close(sock);
        return ok;
    }

    // Waits for the next request of a kept-alive connection, for at most the keep-alive time
    // and not past the server's stop.
    bool NextRequest(const TDeadlineStream& stream, int sock) const
    {
        if (stream.HasBuffered())
            return svr_sock_ != INVALID_SOCKET;
        const auto until = Clock::now() + std::chrono::seconds(keep_alive_timeout_sec_);
        while (svr_sock_ != INVALID_SOCKET) {
            pollfd p{sock, POLLIN, 0};
            const int rc = ::poll(&p, 1, 50);
            if (rc > 0)
                return true;
            if ((rc < 0 && errno != EINTR) || Clock::now() >= until)
                return false;
        }
        return false;
    }
};

bool ValidHost(const std::string& host)
{
    if (host.empty() || host.size() > 64)
        return false;
    for (char c : host)
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
              c == '.' || c == '-' || c == ':' || c == '[' || c == ']'))
            return false;
    return true;
}

std::string ParamOf(const httplib::Request& req, const char* name)
{
    for (auto& [k, v] : ParseRawQuery(req.target))
        if (k == name)
            return v;
    return {};
}

bool HasParam(const httplib::Request& req, const char* name)
{
    for (auto& [k, v] : ParseRawQuery(req.target))
        if (k == name)
            return true;
    return false;
}

void Text(httplib::Response& res, const std::string& body, int status = 200)
{
    res.status = status;
    res.set_content(body, "text/plain; charset=utf-8");
}

void Html(httplib::Response& res, const std::string& body, int status = 200)
{
    res.status = status;
    res.set_content(body, "text/html; charset=utf-8");
}

// Empty when compression fails; the plain text is sent then.
std::string Gzip(const std::string& text)
{
    z_stream z{};
    if (deflateInit2(&z, 6, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        return {};
    std::string out(deflateBound(&z, static_cast<uLong>(text.size())), '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
    z.avail_in = static_cast<uInt>(text.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    const int rc = deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    return rc == Z_STREAM_END ? out : std::string();
}

std::string OneLineField(std::string_view text)
{
    std::string out;
    for (char c : text.substr(0, 200))
        out += (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) ? '?' : c;
    return out;
}

} // namespace

TService::TService(TServiceOptions options) : fOptions(std::move(options))
{
    if (fOptions.releasesDir.empty())
        fOptions.releasesDir = fOptions.dataDir + "/releases";
    QDir().mkpath(QString::fromStdString(fOptions.dataDir));
    if (fOptions.backend == "demo") {
        auto demo = std::make_unique<TDemoMarket>(fOptions.seed);
        fDemo = demo.get();
        fBackend = std::move(demo);
    } else if (fOptions.backend == "ebay") {
        TEbayConfig config = TEbayConfig::FromEnvironment();
        config.budgetFile = fOptions.dataDir + "/ebay-calls.txt";
        fBackend = std::make_unique<TEbayBackend>(std::move(config));
    } else {
        throw std::runtime_error("unknown backend '" + fOptions.backend + "' (demo or ebay)");
    }

    fServer = std::make_unique<THttpServer>();
    const int threads = fOptions.threads;
    fServer->new_task_queue = [threads] { return new httplib::ThreadPool(threads); };
    // Slow or silent clients give up their thread after a few seconds.
    fServer->set_read_timeout(5, 0);
    fServer->set_write_timeout(5, 0);
    fServer->set_keep_alive_timeout(5);
    // A connection keeps its thread while it is busy; idle ones are let go after 5 s.
    fServer->set_keep_alive_max_count(1000000);
    fServer->set_payload_max_length(64 * 1024);
    // Answers are written in several pieces; without this the last piece can wait for the
    // client's delayed acknowledgement.
    fServer->set_tcp_nodelay(true);
    // The library listens with a backlog of 5; the socket is remembered here so that Bind can
    // raise it (a burst of new connections would otherwise wait for SYN retransmits, 1 s and
    // more). No SO_REUSEPORT: a second service on the same port must fail, not share it.
    fServer->set_socket_options([this](int sock) {
        int yes = 1;
        setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        fListenSocket = sock;
    });
    fServer->set_pre_routing_handler([](const httplib::Request& req, httplib::Response&) {
        tRequestStart = Clock::now();
        // The library would brotli-compress every text answer a client accepts it for, at about
        // 120 ms for one search answer. Offer it gzip at most; search answers come gzipped from
        // our cache. (The request object is not const; the handler only sees it that way.)
        auto& headers = const_cast<httplib::Request&>(req).headers;
        auto it = headers.find("Accept-Encoding");
        if (it != headers.end()) {
            const bool gzip = Lowered(it->second).find("gzip") != std::string::npos;
            headers.erase("Accept-Encoding");
            if (gzip)
                headers.emplace("Accept-Encoding", "gzip");
        }
        return httplib::Server::HandlerResponse::Unhandled;
    });
    fServer->set_logger(LogRequest);
    fServer->set_exception_handler(
        [](const httplib::Request&, httplib::Response& res, std::exception_ptr) {
            Text(res, "Error: #99 internal error", 500);
        });
    fServer->set_error_handler([](const httplib::Request& req, httplib::Response& res) {
        if (!res.body.empty())
            return;
        if (res.status == 404)
            Html(res, NotFoundPage("Nothing is served at " + OneLineField(req.path) + "."), 404);
        else
            Text(res, "Error: HTTP " + std::to_string(res.status), res.status);
    });
    Routes();
}

TService::~TService() = default;

int TService::Bind()
{
    if (fOptions.port == 0)
        fPort = fServer->bind_to_any_port(fOptions.listen);
    else
        fPort = fServer->bind_to_port(fOptions.listen, fOptions.port) ? fOptions.port : -1;
    if (fPort > 0 && fListenSocket >= 0)
        ::listen(fListenSocket, SOMAXCONN);
    return fPort;
}

bool TService::Run()
{
    return fServer->listen_after_bind();
}

void TService::Stop()
{
    fServer->stop();
}

std::string TService::HostOf(const httplib::Request& req) const
{
    // Picture addresses must fit the program's 75 characters once "http://" is cut off.
    const std::string host = req.get_header_value("Host");
    if (ValidHost(host) && host.size() <= 50)
        return host;
    return fOptions.listen + ":" + std::to_string(fPort);
}

void TService::Routes()
{
    httplib::Server& s = *fServer;
    s.Get("/ebayAPI/bidlark/bidlark.php",
          [this](const httplib::Request& req, httplib::Response& res) { Search(req, res); });
    s.Get("/ebayAPI/bidlark/category_suggest.php",
          [this](const httplib::Request& req, httplib::Response& res) { Suggest(req, res); });
    s.Get("/register/error.php",
          [this](const httplib::Request& req, httplib::Response& res) { ErrorReport(req, res); });
    s.Get("/updates.php",
          [this](const httplib::Request& req, httplib::Response& res) { Updates(req, res); });
    s.Get("/download/Bidlark.exe",
          [this](const httplib::Request& req, httplib::Response& res) { Download(req, res); });
    s.Get(R"(/rover/.*)",
          [this](const httplib::Request& req, httplib::Response& res) { ItemRedirect(req, res); });

    const std::string name = fBackend->Name();
    const struct
    {
        const char* path;
        EPage page;
    } pages[] = {{"/", EPage::Index},
                 {"/share/", EPage::Share},
                 {"/donate/", EPage::Donate},
                 {"/tutorial/", EPage::Tutorial},
                 {"/program_recommended_links.php", EPage::RecommendedLinks}};
    for (const auto& p : pages) {
        const std::string html = StaticPage(p.page, name);
        s.Get(p.path, [html](const httplib::Request&, httplib::Response& res) { Html(res, html); });
    }

    s.Get(R"(/img/(\d{1,18})\.png)", [](const httplib::Request& req, httplib::Response& res) {
        const std::string id = req.matches[1];
        res.set_content(DemoPicturePng(std::hash<std::string>{}(id) ^ std::stoull(id)),
                        "image/png");
        res.set_header("Cache-Control", "max-age=86400");
    });

    if (fDemo) {
        s.Get(R"(/item/(\d{1,18}))", [this](const httplib::Request& req, httplib::Response& res) {
            const std::string id = req.matches[1];
            const auto record = fDemo->KnownItem(id);
            if (!record) {
                Html(res, NotFoundPage("Item " + id + " is not listed on the demo market."), 404);
                return;
            }
            Html(res, ItemPage(*record, fDemo->NowMs()));
        });
        if (fOptions.testHooks)
            s.Get("/_test/advance", [this](const httplib::Request& req, httplib::Response& res) {
                const auto seconds = ParseInt(ParamOf(req, "seconds"));
                if (!seconds || *seconds < 0 || *seconds > 10LL * 365 * 86400) {
                    Text(res, "Error: seconds must be a number from 0 to 315360000", 400);
                    return;
                }
                fDemo->Advance(*seconds);
                Text(res, "OK");
            });
    }
}

void TService::Search(const httplib::Request& req, httplib::Response& res)
{
    TCheckedSearch checked = CheckSearchRequest(req.target);
    if (checked.refusal) {
        Text(res, checked.refusal->Text());
        return;
    }
    TSearchQuery& query = checked.query;
    query.host = HostOf(req);
    if (!checked.rejected.empty()) {
        const std::int64_t ts = fDemo ? fDemo->NowMs() : WallMs();
        res.set_content(ErrorsAnswerXml("FindItemsAdvancedResponse", ts, checked.rejected),
                        "text/xml; charset=utf-8");
        return;
    }
    if (query.categoryId > 0 && fDemo && !FindCategory(query.categoryId)) {
        res.set_content(ErrorsAnswerXml("FindItemsAdvancedResponse", fDemo->NowMs(),
                                        {{"Invalid category.",
                                          "The category " + std::to_string(query.categoryId) +
                                              " does not exist.",
                                          "37", "Error"}}),
                        "text/xml; charset=utf-8");
        return;
    }
    if (!fDemo) {
        res.set_content(SearchAnswerXml(fBackend->Search(query), query.maxEntries),
                        "text/xml; charset=utf-8");
        return;
    }

    // The demo market answers at whole market seconds, so one second's answers can be reused.
    // The first request of a second computes an answer; the others asking the same wait for it
    // instead of all computing it at once.
    const std::int64_t second = fDemo->NowMs() / 1000;
    std::string key = query.CacheKey();
    std::shared_future<std::shared_ptr<const TRendered>> pending;
    std::promise<std::shared_ptr<const TRendered>> mine;
    bool compute = false;
    {
        std::lock_guard lock(fCacheLock);
        if (second != fCacheSecond) {
            fCache.clear();
            fCacheSecond = second;
        }
        auto it = fCache.find(key);
        if (it != fCache.end()) {
            pending = it->second;
        } else {
            pending = mine.get_future().share();
            compute = true;
            if (fCache.size() < 256)
                fCache.emplace(std::move(key), pending);
        }
    }
    if (compute) {
        try {
            auto rendered = std::make_shared<TRendered>();
            rendered->xml =
                SearchAnswerXml(fDemo->SearchAt(query, second * 1000), query.maxEntries);
            rendered->gzip = Gzip(rendered->xml);
            mine.set_value(std::move(rendered));
        } catch (...) {
            mine.set_exception(std::current_exception());
        }
    }
    const std::shared_ptr<const TRendered> rendered = pending.get();
    if (!rendered->gzip.empty() && req.get_header_value("Accept-Encoding") == "gzip") {
        // Already compressed: keep the library from compressing it a second time.
        const_cast<httplib::Request&>(req).headers.erase("Accept-Encoding");
        res.set_header("Content-Encoding", "gzip");
        res.set_content(rendered->gzip, "text/xml; charset=utf-8");
    } else {
        res.set_content(rendered->xml, "text/xml; charset=utf-8");
    }
}

void TService::Suggest(const httplib::Request& req, httplib::Response& res)
{
    const TCheckedSuggest checked = CheckSuggestRequest(req.target);
    if (checked.refusal) {
        Text(res, checked.refusal->Text());
        return;
    }
    res.set_content(SuggestAnswerXml(fBackend->Suggest(checked.keyword)),
                    "text/xml; charset=utf-8");
}

void TService::ErrorReport(const httplib::Request& req, httplib::Response& res)
{
    if (!HasParam(req, "t") || !HasParam(req, "c")) {
        Text(res, "Error: #1 missing key t or c");
        return;
    }
    const auto installation = Base64Decode(ParamOf(req, "t"));
    if (!installation) {
        Text(res, "Error: #5 t is not base64");
        return;
    }
    std::string line;
    AppendEbayTime(line, WallMs());
    line += '\t';
    line += OneLineField(KeywordBytesToUtf8(*installation));
    line += '\t';
    line += OneLineField(ParamOf(req, "c"));
    line += '\t';
    line += req.remote_addr;
    line += '\n';
    {
        std::lock_guard lock(fReportLock);
        std::ofstream file(fOptions.dataDir + "/error-reports.txt", std::ios::app);
        file << line;
        if (!file) {
            Text(res, "Error: #98 the report could not be stored", 500);
            return;
        }
    }
    Text(res, "OK: report recorded");
}

void TService::Updates(const httplib::Request&, httplib::Response& res)
{
    Text(res, UpdateReply(NewestRelease(fOptions.releasesDir)));
}

void TService::Download(const httplib::Request&, httplib::Response& res)
{
    const auto release = NewestRelease(fOptions.releasesDir);
    if (!release || release->installerPath.empty()) {
        Html(res, NotFoundPage("No installer is published."), 404);
        return;
    }
    auto file = std::make_shared<std::ifstream>(release->installerPath, std::ios::binary);
    if (!*file) {
        Html(res, NotFoundPage("The installer cannot be read."), 404);
        return;
    }
    file->seekg(0, std::ios::end);
    const auto size = static_cast<std::size_t>(file->tellg());
    file->seekg(0);
    res.set_header("Content-Disposition", "attachment; filename=\"Bidlark.exe\"");
    res.set_content_provider(
        size, "application/octet-stream",
        [file](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
            char buf[65536];
            file->seekg(static_cast<std::streamoff>(offset));
            const std::size_t n = std::min(length, sizeof buf);
            file->read(buf, static_cast<std::streamsize>(n));
            const auto got = file->gcount();
            if (got <= 0)
                return false;
            sink.write(buf, static_cast<std::size_t>(got));
            return true;
        });
}

void TService::ItemRedirect(const httplib::Request& req, httplib::Response& res)
{
    std::string id;
    for (const char* key : {"item", "icep_item", "itemid", "ItemID"}) {
        id = ParamOf(req, key);
        if (!id.empty())
            break;
    }
    const auto number = ParseInt(id);
    if (!number || *number <= 0) {
        Html(res, NotFoundPage("The link names no item."), 404);
        return;
    }
    const std::string address = fBackend->ItemAddress(std::to_string(*number), HostOf(req));
    if (address.empty()) {
        Html(res, NotFoundPage("The item is not known."), 404);
        return;
    }
    res.set_redirect(address, 302);
}
