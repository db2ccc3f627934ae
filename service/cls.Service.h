#pragma once

// bidlark-service: the HTTP server, its routes, and the backend that answers the searches.

#include "untBackend.h"

#include <cstdint>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

namespace httplib {
class Server;
struct Request;
struct Response;
} // namespace httplib

class TDemoMarket;

struct TServiceOptions
{
    std::string listen = "127.0.0.1";
    int port = 8470;
    std::string backend = "demo";
    std::string dataDir;
    std::uint64_t seed = 1;
    std::string releasesDir; // empty: <data>/releases
    bool testHooks = false;
    int threads = 128;
};

class TService
{
public:
    // Throws std::runtime_error when the backend cannot be set up.
    explicit TService(TServiceOptions options);
    ~TService();

    // Binds the address; returns the port (the chosen one for port 0), or -1.
    int Bind();
    // Serves until Stop; returns false when serving failed.
    bool Run();
    void Stop();

    TBackend& Backend() { return *fBackend; }

private:
    void Routes();
    void Search(const httplib::Request& req, httplib::Response& res);
    void Suggest(const httplib::Request& req, httplib::Response& res);
    void ErrorReport(const httplib::Request& req, httplib::Response& res);
    void Updates(const httplib::Request& req, httplib::Response& res);
    void Download(const httplib::Request& req, httplib::Response& res);
    void ItemRedirect(const httplib::Request& req, httplib::Response& res);
    std::string HostOf(const httplib::Request& req) const;

    TServiceOptions fOptions;
    int fPort = -1;
    int fListenSocket = -1;
    std::unique_ptr<httplib::Server> fServer;
    std::unique_ptr<TBackend> fBackend;
    TDemoMarket* fDemo = nullptr; // the backend, when it is the demo market

    // Rendered demo answers of the current market second: the same question within one
    // second is answered from here.
    std::mutex fCacheLock;
    std::int64_t fCacheSecond = 0;
    struct TRendered
    {
        std::string xml;
        std::string gzip; // the same, gzip-compressed, for clients that accept it
    };
    std::unordered_map<std::string, std::shared_future<std::shared_ptr<const TRendered>>> fCache;

    std::mutex fReportLock;
};
