#pragma once

// The live backend: eBay's Browse search and Taxonomy category suggestions with an application
// token, translated into the answers the program reads.

#include "untBackend.h"

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>

struct TEbayConfig
{
    std::string clientId;
    std::string clientSecret;
    std::string environment = "production"; // or "sandbox"
    std::string apiBase;    // scheme://host[:port] of both the token and the API calls
    int dailyBudget = 5000; // eBay calls per UTC day, token requests included
    int cacheSeconds = 60;
    int timeoutSeconds = 15;
    std::string budgetFile; // keeps the day's count across restarts; empty: memory only

    // EBAY_CLIENT_ID, EBAY_CLIENT_SECRET, EBAY_ENV, EBAY_API_BASE, EBAY_DAILY_CALLS.
    static TEbayConfig FromEnvironment();
};

class TEbayBackend : public TBackend
{
public:
    explicit TEbayBackend(TEbayConfig config);
    ~TEbayBackend() override;

    const char* Name() const override { return "ebay"; }
    TSearchOutcome Search(const TSearchQuery& query) override;
    TSuggestOutcome Suggest(const std::string& keyword) override;
    std::string ItemAddress(const std::string& itemId, const std::string& host) override;

    int CallsToday() const;

    // The Browse request for a query (path and query string), for tests.
    static std::string BrowseTarget(const TSearchQuery& query, const TSiteInfo& site);

private:
    struct THttpAnswer
    {
        int status = 0; // 0: no answer
        std::string body;
        std::string error;
    };
    THttpAnswer Get(const std::string& target, const std::string& marketplace, bool retryAuth);
    // Empty on failure, with the reason (or the token service's answer) in `error`.
    std::string Token(bool renew, std::string& error, int& status);
    bool SpendCall();

    TEbayConfig fConfig;

    std::mutex fTokenLock;
    std::string fToken;
    std::chrono::steady_clock::time_point fTokenExpires;

    mutable std::mutex fBudgetLock;
    std::int64_t fBudgetDay = 0;
    int fCallsToday = 0;

    struct TCached
    {
        std::chrono::steady_clock::time_point at;
        std::shared_ptr<const TSearchOutcome> outcome;
    };
    std::mutex fCacheLock;
    std::map<std::string, TCached> fCache;
    std::map<std::string, std::pair<std::chrono::steady_clock::time_point, TSuggestOutcome>>
        fSuggestCache;
    std::map<std::string, std::string> fTreeIds; // marketplace to category tree id
};
