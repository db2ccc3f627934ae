#pragma once

// What the search endpoints ask of a backend (the demo market or eBay) and what it answers,
// before any of it is written as XML.

#include "untCategories.h"
#include "untKeywordQuery.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

enum class EItemSort
{
    EndDate,
    StartDate,
    BestMatch,
    PriceLowest,
    PriceHighest,
    BidCount
};
enum class EItemType
{
    All,
    Auction,
    FixedPrice
};

// One checked search request.
struct TSearchQuery
{
    std::string keywords; // UTF-8, as the user typed them
    TKeywordQuery parsed;
    bool descriptionSearch = false;
    int siteId = 0;
    int maxEntries = 100;
    bool payPalOnly = false;
    std::optional<std::int64_t> priceMinCents;
    std::optional<std::int64_t> priceMaxCents;
    EItemSort sort = EItemSort::EndDate;
    EItemType type = EItemType::All;
    int categoryId = 0; // 0: any
    std::string host;   // how the client reached us, for picture and item addresses

    // Every value that changes the answer, for caches.
    std::string CacheKey() const;
};

struct TItem
{
    std::string itemId;
    std::string title;
    std::string currency;
    std::int64_t priceCents = 0;
    std::optional<std::int64_t> buyItNowCents;
    int bidCount = 0;
    std::int64_t startMs = 0;
    std::optional<std::int64_t> endMs;
    std::string galleryUrl;
    std::string viewUrl;
    std::string listingType; // "Chinese" (auction) or "FixedPriceItem"
    int categoryId = 0;
    std::string categoryName;
    bool payPal = false;
};

struct TApiError
{
    std::string shortMessage;
    std::string longMessage;
    std::string errorCode;
    std::string severityCode = "Error";
};

struct TSearchOutcome
{
    std::int64_t timestampMs = 0;
    std::vector<TItem> items;
    std::int64_t totalItems = 0;
    std::vector<TApiError> errors; // not empty: the search was rejected
};

struct TSuggestOutcome
{
    std::int64_t timestampMs = 0;
    std::vector<TCategorySuggestion> suggestions;
    std::vector<TApiError> errors;
};

class TBackend
{
public:
    virtual ~TBackend() = default;
    virtual const char* Name() const = 0;
    virtual TSearchOutcome Search(const TSearchQuery& query) = 0;
    virtual TSuggestOutcome Suggest(const std::string& keyword) = 0;
    // Where the program's item link for an id should lead; empty when unknown.
    virtual std::string ItemAddress(const std::string& itemId, const std::string& host) = 0;
};

// Site id to currency, eBay marketplace and name; nullptr for an unknown site.
struct TSiteInfo
{
    int siteId;
    const char* name;
    const char* currency;
    const char* marketplace; // the REST marketplace id
    int usdToLocalPercent;   // rough exchange rate times 100
};
const TSiteInfo* FindSite(int siteId);
