#include "cls.EbayBackend.h"

#include "untServiceText.h"

#include <httplib.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <stdexcept>

using json = nlohmann::json;

namespace {

constexpr const char* kScope = "https://api.ebay.com/oauth/api_scope";
constexpr std::int64_t kGtcPeriodMs = 30LL * 86400 * 1000;

std::int64_t WallMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

std::string Env(const char* name)
{
    const char* v = std::getenv(name);
    return v ? std::string(v) : std::string();
}

void Log(const std::string& line)
{
    const std::string text = "bidlark-service: ebay: " + line + "\n";
    std::fwrite(text.data(), 1, text.size(), stderr);
}

std::string UrlEncode(std::string_view text)
{
    static const char* hex = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size() * 3);
    for (char ch : text) {
        const unsigned char c = static_cast<unsigned char>(ch);
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
            c == '-' || c == '_' || c == '.' || c == '~') {
            out += ch;
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

std::string PriceText(std::int64_t cents)
{
    std::string s;
    AppendCents(s, cents);
    return s;
}

TApiError Error(std::string code, std::string shortMessage, std::string longMessage)
{
    return TApiError{std::move(shortMessage), std::move(longMessage), std::move(code), "Error"};
}

std::string JsonString(const json& j, const char* key)
{
    auto it = j.find(key);
    if (it == j.end() || !it->is_string())
        return {};
    return it->get<std::string>();
}

// eBay's {"errors": [...]} into our error list; an answer without it gives one general error.
std::vector<TApiError> ErrorsOf(int status, const std::string& body)
{
    std::vector<TApiError> errors;
    const json j = json::parse(body, nullptr, false);
    if (j.is_object() && j.contains("errors") && j["errors"].is_array()) {
        for (const json& e : j["errors"]) {
            if (!e.is_object())
                continue;
            std::string code = e.contains("errorId") && e["errorId"].is_number_integer()
                                   ? std::to_string(e["errorId"].get<long long>())
                                   : std::to_string(status);
            std::string shortMessage = JsonString(e, "message");
            std::string longMessage = JsonString(e, "longMessage");
            if (longMessage.empty())
                longMessage = shortMessage;
            errors.push_back(Error(code, shortMessage, longMessage));
        }
    } else if (j.is_object() && j.contains("error")) {
        // The token endpoint speaks OAuth: {"error": "...", "error_description": "..."}.
        errors.push_back(Error(JsonString(j, "error"), "eBay refused the application keys.",
                               JsonString(j, "error_description")));
    }
    if (errors.empty())
        errors.push_back(Error(std::to_string(status), "eBay answered with an error.",
                               "eBay answered with HTTP status " + std::to_string(status) + "."));
    return errors;
}

std::optional<std::int64_t> AmountCents(const json& item, const char* key, std::string& currency)
{
    auto it = item.find(key);
    if (it == item.end() || !it->is_object())
        return std::nullopt;
    const std::string value = JsonString(*it, "value");
    const auto cents = ParsePriceCents(value);
    if (!cents)
        return std::nullopt;
    const std::string c = JsonString(*it, "currency");
    if (!c.empty())
        currency = c;
    return cents;
}

bool HasOption(const json& item, const char* option)
{
    auto it = item.find("buyingOptions");
    if (it == item.end() || !it->is_array())
        return false;
    for (const json& o : *it)
        if (o.is_string() && o.get<std::string>() == option)
            return true;
    return false;
}

// The program keeps at most 75 characters of a picture address without "http://". eBay's
// pictures are served over plain http too, so the shorter form is used; longer ones are left
// out rather than lose the whole item.
std::string GalleryAddress(const json& item)
{
    std::string url;
    if (auto it = item.find("image"); it != item.end() && it->is_object())
        url = JsonString(*it, "imageUrl");
    if (url.empty())
        if (auto it = item.find("thumbnailImages");
            it != item.end() && it->is_array() && !it->empty() && (*it)[0].is_object())
            url = JsonString((*it)[0], "imageUrl");
    if (url.rfind("https://", 0) == 0)
        url = "http://" + url.substr(8);
    std::string stored = url;
    if (Lowered(stored).rfind("http://", 0) == 0)
        stored.erase(0, 7);
    return stored.size() <= 75 ? url : std::string();
}

std::optional<TItem> ItemOf(const json& j, std::int64_t nowMs, const TSiteInfo& site)
{
    if (!j.is_object())
        return std::nullopt;
    TItem item;
    item.itemId = JsonString(j, "legacyItemId");
    if (item.itemId.empty()) {
        // "v1|123456789012|0": the middle part is the classic id.
        const std::string rest = JsonString(j, "itemId");
        const std::size_t a = rest.find('|');
        const std::size_t b = a == std::string::npos ? a : rest.find('|', a + 1);
        item.itemId = b == std::string::npos ? rest : rest.substr(a + 1, b - a - 1);
    }
    if (item.itemId.empty())
        return std::nullopt;
    item.title = JsonString(j, "title");
    item.currency = site.currency;
    const bool auction = HasOption(j, "AUCTION");
    const bool fixed = HasOption(j, "FIXED_PRICE");
    const auto price = AmountCents(j, "price", item.currency);
    const auto bid = AmountCents(j, "currentBidPrice", item.currency);
    item.priceCents = auction && bid ? *bid : price.value_or(bid.value_or(0));
    if (fixed && price)
        item.buyItNowCents = *price;
    if (auto it = j.find("bidCount"); it != j.end() && it->is_number_integer())
        item.bidCount = it->get<int>();
    item.listingType = auction ? "Chinese" : "FixedPriceItem";
    item.startMs = ParseEbayTimeMs(JsonString(j, "itemCreationDate")).value_or(nowMs);
    item.endMs = ParseEbayTimeMs(JsonString(j, "itemEndDate"));
    if (!item.endMs) {
        // Good 'Til Cancelled listings have no end; they renew every 30 days, so the next
        // renewal stands in for it (the program needs an end time for every item).
        const std::int64_t age = std::max<std::int64_t>(0, nowMs - item.startMs);
        item.endMs = item.startMs + (age / kGtcPeriodMs + 1) * kGtcPeriodMs;
    }
    item.galleryUrl = GalleryAddress(j);
    item.viewUrl = JsonString(j, "itemAffiliateWebUrl");
    if (item.viewUrl.empty())
        item.viewUrl = JsonString(j, "itemWebUrl");
    if (auto it = j.find("categories"); it != j.end() && it->is_array() && !it->empty()) {
        const json& c = (*it)[0];
        if (c.is_object()) {
            item.categoryId = std::atoi(JsonString(c, "categoryId").c_str());
            item.categoryName = JsonString(c, "categoryName");
        }
    }
    return item;
}

// What eBay cannot be told, checked on the titles: exclusions always; wildcards and phrases
// only when eBay searched titles alone (with descriptions, the words may sit there).
bool KeepTitle(const TKeywordQuery& query, bool descriptionSearch, const std::string& title)
{
    const std::vector<std::string> words = SplitWords(title);
    for (const TKeywordTerm& t : query.Terms()) {
        bool any = false, local = t.exclude;
        for (const TKeywordAtom& a : t.alternatives) {
            local = local || a.HasWildcard() || a.phrase;
            if (AtomMatches(a, words))
                any = true;
        }
        if (!local || (!t.exclude && descriptionSearch))
            continue;
        if (any == t.exclude)
            return false;
    }
    return true;
}

bool NeedsTitleCheck(const TKeywordQuery& query)
{
    for (const TKeywordTerm& t : query.Terms()) {
        if (t.exclude)
            return true;
        for (const TKeywordAtom& a : t.alternatives)
            if (a.HasWildcard() || a.phrase)
                return true;
    }
    return false;
}

std::int64_t UtcDay()
{
    return WallMs() / (86400 * 1000);
}

} // namespace

TEbayConfig TEbayConfig::FromEnvironment()
{
    TEbayConfig c;
    c.clientId = Env("EBAY_CLIENT_ID");
    c.clientSecret = Env("EBAY_CLIENT_SECRET");
    const std::string env = Lowered(Env("EBAY_ENV"));
    if (!env.empty() && env != "production" && env != "sandbox")
        throw std::runtime_error("EBAY_ENV must be production or sandbox");
    if (!env.empty())
        c.environment = env;
    c.apiBase = Env("EBAY_API_BASE");
    if (c.apiBase.empty())
        c.apiBase =
            c.environment == "sandbox" ? "https://api.sandbox.ebay.com" : "https://api.ebay.com";
    while (!c.apiBase.empty() && c.apiBase.back() == '/')
        c.apiBase.pop_back();
    if (const std::string calls = Env("EBAY_DAILY_CALLS"); !calls.empty()) {
        const auto n = ParseInt(calls);
        if (!n || *n < 0 || *n > 100000000)
            throw std::runtime_error("EBAY_DAILY_CALLS must be a number of calls");
        c.dailyBudget = static_cast<int>(*n);
    }
    if (c.clientId.empty() || c.clientSecret.empty())
        throw std::runtime_error(
            "the ebay backend needs EBAY_CLIENT_ID and EBAY_CLIENT_SECRET (the application keys)");
    return c;
}

TEbayBackend::TEbayBackend(TEbayConfig config) : fConfig(std::move(config))
{
    if (!fConfig.budgetFile.empty()) {
        std::ifstream in(fConfig.budgetFile);
        std::int64_t day = 0;
        int calls = 0;
        if (in >> day >> calls && day == UtcDay()) {
            fBudgetDay = day;
            fCallsToday = calls;
        }
    }
    Log("using " + fConfig.apiBase + " (" + fConfig.environment + "), " +
        std::to_string(fConfig.dailyBudget) + " calls a day, " + std::to_string(fCallsToday) +
        " used today");
}

TEbayBackend::~TEbayBackend() = default;

int TEbayBackend::CallsToday() const
{
    std::lock_guard lock(fBudgetLock);
    return fCallsToday;
}

bool TEbayBackend::SpendCall()
{
    std::lock_guard lock(fBudgetLock);
    const std::int64_t day = UtcDay();
    if (day != fBudgetDay) {
        fBudgetDay = day;
        fCallsToday = 0;
    }
    if (fCallsToday >= fConfig.dailyBudget)
        return false;
    ++fCallsToday;
    if (!fConfig.budgetFile.empty()) {
        std::ofstream out(fConfig.budgetFile, std::ios::trunc);
        out << fBudgetDay << ' ' << fCallsToday << '\n';
    }
    return true;
}

std::string TEbayBackend::Token(bool renew, std::string& error, int& status)
{
    status = 0;
    std::lock_guard lock(fTokenLock);
    const auto now = std::chrono::steady_clock::now();
    if (!renew && !fToken.empty() && now < fTokenExpires)
        return fToken;
    fToken.clear();
    if (!SpendCall()) {
        error = "budget";
        return {};
    }
    httplib::Client client(fConfig.apiBase);
    client.set_connection_timeout(fConfig.timeoutSeconds, 0);
    client.set_read_timeout(fConfig.timeoutSeconds, 0);
    const std::string basic = Base64EncodeStd(fConfig.clientId + ":" + fConfig.clientSecret);
    const httplib::Headers headers = {{"Authorization", "Basic " + basic}};
    const std::string body = "grant_type=client_credentials&scope=" + UrlEncode(kScope);
    auto res = client.Post("/identity/v1/oauth2/token", headers, body,
                           "application/x-www-form-urlencoded");
    if (!res) {
        error = "eBay's token service did not answer (" + httplib::to_string(res.error()) + ")";
        return {};
    }
    if (res->status != 200) {
        error = res->body.empty() ? "{}" : res->body;
        status = res->status;
        return {};
    }
    const json j = json::parse(res->body, nullptr, false);
    const std::string token = j.is_object() ? JsonString(j, "access_token") : std::string();
    if (token.empty()) {
        error = "eBay's token answer holds no access_token";
        return {};
    }
    long long expiresIn = 7200;
    if (j.contains("expires_in") && j["expires_in"].is_number_integer())
        expiresIn = j["expires_in"].get<long long>();
    // Renew a little early, so that a token never runs out in the middle of a call.
    const long long margin = std::min<long long>(300, expiresIn / 10);
    fToken = token;
    fTokenExpires = now + std::chrono::seconds(std::max<long long>(0, expiresIn - margin));
    return fToken;
}

TEbayBackend::THttpAnswer TEbayBackend::Get(const std::string& target,
                                            const std::string& marketplace, bool retryAuth)
{
    THttpAnswer answer;
    std::string error;
    int tokenStatus = 0;
    const std::string token = Token(false, error, tokenStatus);
    if (token.empty()) {
        answer.error = error;
        answer.status = tokenStatus;
        return answer;
    }
    if (!SpendCall()) {
        answer.error = "budget";
        return answer;
    }
    httplib::Client client(fConfig.apiBase);
    client.set_connection_timeout(fConfig.timeoutSeconds, 0);
    client.set_read_timeout(fConfig.timeoutSeconds, 0);
    httplib::Headers headers = {{"Authorization", "Bearer " + token},
                                {"X-EBAY-C-MARKETPLACE-ID", marketplace}};
    auto res = client.Get(target.c_str(), headers);
    if (!res) {
        answer.error = "eBay did not answer (" + httplib::to_string(res.error()) + ")";
        return answer;
    }
    if (res->status == 401 && retryAuth) {
        // The token expired or was revoked before its time: one new token, one more try.
        Log("token refused, renewing");
        {
            std::lock_guard lock(fTokenLock);
            if (fToken == token)
                fToken.clear();
        }
        return Get(target, marketplace, false);
    }
    answer.status = res->status;
    answer.body = res->body;
    return answer;
}

std::string TEbayBackend::BrowseTarget(const TSearchQuery& query, const TSiteInfo& site)
{
    std::string target = "/buy/browse/v1/item_summary/search?";
    const std::string q = query.parsed.PositiveText();
    if (!q.empty())
        target += "q=" + UrlEncode(q) + "&";
    if (query.categoryId > 0)
        target += "category_ids=" + std::to_string(query.categoryId) + "&";
    // Without a buying-options filter eBay returns only fixed-price listings.
    std::string filter = query.type == EItemType::Auction ? "buyingOptions:{AUCTION}"
                         : query.type == EItemType::FixedPrice
                             ? "buyingOptions:{FIXED_PRICE}"
                             : "buyingOptions:{AUCTION|FIXED_PRICE}";
    if (query.priceMinCents || query.priceMaxCents) {
        filter += ",price:[";
        if (query.priceMinCents)
            filter += PriceText(*query.priceMinCents);
        if (query.priceMaxCents)
            filter += ".." + PriceText(*query.priceMaxCents);
        filter += "],priceCurrency:";
        filter += site.currency;
    }
    if (query.descriptionSearch)
        filter += ",searchInDescription:true";
    target += "filter=" + UrlEncode(filter);
    switch (query.sort) {
    case EItemSort::EndDate:
        target += "&sort=endingSoonest";
        break;
    case EItemSort::StartDate:
        target += "&sort=newlyListed";
        break;
    case EItemSort::PriceLowest:
        target += "&sort=price";
        break;
    case EItemSort::PriceHighest:
        target += "&sort=-price";
        break;
    case EItemSort::BestMatch:
    case EItemSort::BidCount:
        break;
    }
    // Titles we drop on our side leave gaps; ask for more so the answer stays full.
    const int limit =
        NeedsTitleCheck(query.parsed) ? std::min(200, query.maxEntries * 2) : query.maxEntries;
    target += "&limit=" + std::to_string(std::max(1, limit));
    return target;
}

TSearchOutcome TEbayBackend::Search(const TSearchQuery& query)
{
    TSearchOutcome outcome;
    outcome.timestampMs = WallMs();
    const TSiteInfo* site = FindSite(query.siteId);
    if (!site)
        site = FindSite(0);
    if (query.siteId == 203) {
        outcome.errors.push_back(Error("35", "Marketplace not available.",
                                       "eBay India is no longer a functioning eBay marketplace; "
                                       "choose another site for this alert."));
        return outcome;
    }
    if (query.parsed.PositiveText().empty() && query.categoryId == 0) {
        outcome.errors.push_back(Error("10", "Keywords too vague.",
                                       "eBay needs at least one keyword without wildcards, or a "
                                       "category."));
        return outcome;
    }

    const std::string key = query.CacheKey();
    const auto now = std::chrono::steady_clock::now();
    {
        std::lock_guard lock(fCacheLock);
        auto it = fCache.find(key);
        if (it != fCache.end() && now - it->second.at < std::chrono::seconds(fConfig.cacheSeconds))
            return *it->second.outcome;
    }
    if (query.payPalOnly)
        Log("paymentMethod=PayPal has no equivalent in eBay's Browse API; searching without it");
    if (query.sort == EItemSort::BidCount)
        Log("itemSort=BidCount has no equivalent in eBay's Browse API; using best match");

    const THttpAnswer answer = Get(BrowseTarget(query, *site), site->marketplace, true);
    if (answer.error == "budget") {
        outcome.errors.push_back(
            Error("518", "Daily call limit reached.",
                  "The service has used the " + std::to_string(fConfig.dailyBudget) +
                      " eBay calls it may make today; searches resume after midnight UTC."));
        return outcome;
    }
    if (answer.status == 0) {
        outcome.errors.push_back(Error("2", "eBay is not reachable.", answer.error));
        return outcome;
    }
    if (!answer.error.empty() || answer.status != 200) {
        outcome.errors = ErrorsOf(answer.status, answer.error.empty() ? answer.body : answer.error);
        return outcome;
    }
    const json j = json::parse(answer.body, nullptr, false);
    if (!j.is_object()) {
        outcome.errors.push_back(Error("3", "eBay's answer cannot be read.",
                                       "eBay answered with text that is not JSON."));
        return outcome;
    }
    std::int64_t dropped = 0;
    if (auto it = j.find("itemSummaries"); it != j.end() && it->is_array())
        for (const json& s : *it) {
            auto item = ItemOf(s, outcome.timestampMs, *site);
            if (!item)
                continue;
            if (!KeepTitle(query.parsed, query.descriptionSearch, item->title)) {
                ++dropped;
                continue;
            }
            if (static_cast<int>(outcome.items.size()) < query.maxEntries)
                outcome.items.push_back(std::move(*item));
        }
    std::int64_t total = 0;
    if (auto it = j.find("total"); it != j.end() && it->is_number_integer())
        total = it->get<std::int64_t>();
    outcome.totalItems =
        std::max<std::int64_t>(total - dropped, static_cast<std::int64_t>(outcome.items.size()));

    std::lock_guard lock(fCacheLock);
    for (auto it = fCache.begin(); it != fCache.end();)
        it = now - it->second.at >= std::chrono::seconds(fConfig.cacheSeconds) ? fCache.erase(it)
                                                                               : std::next(it);
    if (fCache.size() < 200)
        fCache[key] = TCached{now, std::make_shared<const TSearchOutcome>(outcome)};
    return outcome;
}

TSuggestOutcome TEbayBackend::Suggest(const std::string& keyword)
{
    TSuggestOutcome outcome;
    outcome.timestampMs = WallMs();
    const std::string marketplace = "EBAY_US"; // the program sends no site with this request
    const auto now = std::chrono::steady_clock::now();
    {
        std::lock_guard lock(fCacheLock);
        auto it = fSuggestCache.find(keyword);
        if (it != fSuggestCache.end() &&
            now - it->second.first < std::chrono::seconds(fConfig.cacheSeconds))
            return it->second.second;
    }
    auto fail = [&](const THttpAnswer& a) {
        if (a.error == "budget")
            outcome.errors.push_back(Error("518", "Daily call limit reached.",
                                           "The service has used its eBay calls for today."));
        else if (a.status == 0)
            outcome.errors.push_back(Error("2", "eBay is not reachable.", a.error));
        else
            outcome.errors = ErrorsOf(a.status, a.error.empty() ? a.body : a.error);
        return outcome;
    };

    std::string treeId;
    {
        std::lock_guard lock(fCacheLock);
        if (auto it = fTreeIds.find(marketplace); it != fTreeIds.end())
            treeId = it->second;
    }
    if (treeId.empty()) {
        const THttpAnswer a =
            Get("/commerce/taxonomy/v1/get_default_category_tree_id?marketplace_id=" + marketplace,
                marketplace, true);
        if (!a.error.empty() || a.status != 200)
            return fail(a);
        const json j = json::parse(a.body, nullptr, false);
        treeId = j.is_object() ? JsonString(j, "categoryTreeId") : std::string();
        if (treeId.empty())
            return fail(THttpAnswer{500, "{}", {}});
        std::lock_guard lock(fCacheLock);
        fTreeIds[marketplace] = treeId;
    }
    const THttpAnswer a = Get("/commerce/taxonomy/v1/category_tree/" + UrlEncode(treeId) +
                                  "/get_category_suggestions?q=" + UrlEncode(keyword),
                              marketplace, true);
    if (!a.error.empty() || a.status != 200)
        return fail(a);
    const json j = json::parse(a.body, nullptr, false);
    if (j.is_object())
        if (auto it = j.find("categorySuggestions"); it != j.end() && it->is_array())
            for (const json& s : *it) {
                if (!s.is_object() || !s.contains("category") || !s["category"].is_object())
                    continue;
                TCategorySuggestion sug;
                sug.id = std::atoi(JsonString(s["category"], "categoryId").c_str());
                sug.name = JsonString(s["category"], "categoryName");
                if (sug.id <= 0)
                    continue;
                if (auto an = s.find("categoryTreeNodeAncestors"); an != s.end() && an->is_array())
                    for (const json& p : *an) {
                        // The root carries no useful name; ancestors come nearest first.
                        if (!p.is_object() || (p.contains("categoryTreeNodeLevel") &&
                                               p["categoryTreeNodeLevel"] == 0))
                            continue;
                        sug.parents.insert(sug.parents.begin(),
                                           {std::atoi(JsonString(p, "categoryId").c_str()),
                                            JsonString(p, "categoryName")});
                    }
                outcome.suggestions.push_back(std::move(sug));
                if (outcome.suggestions.size() == 10)
                    break;
            }
    // eBay gives no share per category, only an order: shares falling with the rank stand in.
    const int n = static_cast<int>(outcome.suggestions.size());
    const int weights = n * (n + 1) / 2;
    for (int i = 0; i < n; ++i)
        outcome.suggestions[i].percent = weights > 0 ? 100 * (n - i) / weights : 0;
    std::lock_guard lock(fCacheLock);
    if (fSuggestCache.size() > 1000)
        fSuggestCache.clear();
    fSuggestCache[keyword] = {now, outcome};
    return outcome;
}

std::string TEbayBackend::ItemAddress(const std::string& itemId, const std::string&)
{
    return "https://www.ebay.com/itm/" + itemId;
}
