#include "cls.Service.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <pthread.h>
#include <string>
#include <thread>

namespace {

const char* kUsage =
    "Usage: bidlark-service [options]\n"
    "\n"
    "The search service of Bidlark: the program's signed searches, category suggestions,\n"
    "error reports, update information, installer download and web pages.\n"
    "\n"
    "Options:\n"
    "  --listen ADDR     address to listen on (default 127.0.0.1)\n"
    "  --port N          TCP port, 0 for any free port (default 8470)\n"
    "  --backend NAME    demo (simulated market, the default) or ebay (eBay's REST APIs)\n"
    "  --data DIR        data folder: error reports, default releases folder\n"
    "                    (default ./bidlark-service-data)\n"
    "  --seed N          seed of the demo market (default 1)\n"
    "  --releases DIR    releases folder (default DIR/releases of --data)\n"
    "  --threads N       worker threads, one per open connection (default 128)\n"
    "  --test-hooks      enable GET /_test/advance?seconds=N (moves the demo market clock)\n"
    "  --help            this text\n"
    "\n"
    "Environment for --backend ebay:\n"
    "  EBAY_CLIENT_ID, EBAY_CLIENT_SECRET  the application keys (OAuth client credentials)\n"
    "  EBAY_ENV          production (default) or sandbox\n"
    "  EBAY_API_BASE     base address of eBay's API (default by EBAY_ENV)\n"
    "  EBAY_DAILY_CALLS  eBay calls allowed per UTC day (default 5000)\n"
    "\n"
    "Once listening it prints \"bidlark-service listening on http://ADDR:PORT\"; one line per\n"
    "request goes to stderr. SIGINT or SIGTERM end it.\n";

bool NumberArg(const char* text, long long low, long long high, long long& out)
{
    char* end = nullptr;
    errno = 0;
    const long long v = std::strtoll(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || v < low || v > high)
        return false;
    out = v;
    return true;
}

int Fail(const std::string& message)
{
    std::fprintf(stderr, "bidlark-service: %s\n(see --help)\n", message.c_str());
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    TServiceOptions options;
    options.dataDir = "bidlark-service-data";
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&](const char* name) -> const char* {
            if (i + 1 >= argc)
                return nullptr;
            (void)name;
            return argv[++i];
        };
        long long n = 0;
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (arg == "--test-hooks") {
            options.testHooks = true;
        } else if (arg == "--listen" || arg == "--backend" || arg == "--data" ||
                   arg == "--releases" || arg == "--port" || arg == "--seed" ||
                   arg == "--threads") {
            const char* v = value(arg.c_str());
            if (!v)
                return Fail(arg + " needs a value");
            if (arg == "--listen")
                options.listen = v;
            else if (arg == "--backend")
                options.backend = v;
            else if (arg == "--data")
                options.dataDir = v;
            else if (arg == "--releases")
                options.releasesDir = v;
            else if (arg == "--port") {
                if (!NumberArg(v, 0, 65535, n))
                    return Fail("--port must be a number from 0 to 65535");
                options.port = static_cast<int>(n);
            } else if (arg == "--seed") {
                if (!NumberArg(v, 0, 0x7FFFFFFFFFFFFFFFLL, n))
                    return Fail("--seed must be a non-negative number");
                options.seed = static_cast<std::uint64_t>(n);
            } else {
                if (!NumberArg(v, 1, 1024, n))
                    return Fail("--threads must be a number from 1 to 1024");
                options.threads = static_cast<int>(n);
            }
        } else {
            return Fail("unknown argument " + arg);
        }
    }
    if (options.backend != "demo" && options.backend != "ebay")
        return Fail("--backend must be demo or ebay");

    // Signals are taken by one thread with sigwait, so stopping never runs inside a handler.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    std::unique_ptr<TService> service;
    try {
        service = std::make_unique<TService>(options);
    } catch (const std::exception& e) {
        return Fail(e.what());
    }
    const int port = service->Bind();
    if (port <= 0)
        return Fail("cannot listen on " + options.listen + ":" + std::to_string(options.port));

    std::atomic<bool> runEnded{false};
    std::thread stopper([&] {
        int sig = 0;
        sigwait(&stopSignals, &sig);
        if (!runEnded)
            std::fprintf(stderr, "bidlark-service: signal %d, stopping\n", sig);
        // A signal that comes before the server loop runs would be lost on a single Stop.
        while (!runEnded) {
            service->Stop();
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    });

    std::printf("bidlark-service listening on http://%s:%d\n", options.listen.c_str(), port);
    std::fflush(stdout);
    const bool ok = service->Run();
    runEnded = true;
    if (stopper.joinable()) {
        // Run can also end on its own (a listening error): wake the stopper so it can finish.
        pthread_kill(stopper.native_handle(), SIGTERM);
        stopper.join();
    }
    service.reset();
    std::fprintf(stderr, "bidlark-service: stopped\n");
    return ok ? 0 : 1;
}
