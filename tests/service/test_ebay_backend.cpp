#include "ServiceProcess.h"
#include "ServiceTestUtil.h"
#include "untServiceText.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <QFile>

#include <atomic>
#include <cstdlib>
#include <mutex>
#include <thread>

namespace {

std::string Fixture(const char* name)
{
    QFile f(QStringLiteral(BIDLARK_TEST_DATA "/ebay/") + QString::fromLatin1(name));
    EXPECT_TRUE(f.open(QIODevice::ReadOnly)) << name;
    return f.readAll().toStdString();
}

// eBay on loopback: the token service and the Browse and Taxonomy calls, answering with the
// recorded JSON and remembering what it was asked.
class TEbayStandIn
{
public:
    TEbayStandIn()
    {
        fServer.Post("/identity/v1/oauth2/token", [this](const httplib::Request& req,
                                                         httplib::Response& res) {
            std::lock_guard lock(fLock);
            ++fTokenCalls;
            fTokenBody = req.body;
            if (req.get_header_value("Authorization") != "Basic " + B64("app-id:cert-id")) {
                res.status = 401;
                res.set_content(Fixture("token_invalid_client.json"), "application/json");
                return;
            }
            nlohmann::json token = nlohmann::json::parse(Fixture("token.json"));
            fIssued = token["access_token"].get<std::string>() + "-" + std::to_string(fTokenCalls);
            token["access_token"] = fIssued;
            const std::string body = token.dump();
            res.set_content(body, "application/json");
        });
        auto api = [this](const char* fixture) {
            return [this, fixture](const httplib::Request& req, httplib::Response& res) {
                std::lock_guard lock(fLock);
                ++fApiCalls;
                fLastTarget = req.target;
                fLastMarketplace = req.get_header_value("X-EBAY-C-MARKETPLACE-ID");
                fLastAuthorization = req.get_header_value("Authorization");
                if (fLastAuthorization != "Bearer " + fIssued || fRevoked) {
                    fRevoked = false;
                    res.status = 401;
                    res.set_content(Fixture("error_invalid_token.json"), "application/json");
                    return;
                }
                if (req.target.find("q=broken") != std::string::npos) {
                    res.status = 400;
                    res.set_content(Fixture("search_error_filter.json"), "application/json");
                    return;
                }
                res.set_content(Fixture(fixture), "application/json");
            };
        };
        fServer.Get("/buy/browse/v1/item_summary/search", api("search_ipod.json"));
        fServer.Get("/commerce/taxonomy/v1/get_default_category_tree_id",
                    api("category_tree_id.json"));
        fServer.Get(R"(/commerce/taxonomy/v1/category_tree/0/get_category_suggestions)",
                    api("category_suggestions.json"));
        fPort = fServer.bind_to_any_port("127.0.0.1");
        fThread = std::thread([this] { fServer.listen_after_bind(); });
    }
    ~TEbayStandIn()
    {
        fServer.stop();
        fThread.join();
    }
    std::string Base() const { return "http://127.0.0.1:" + std::to_string(fPort); }
    void RevokeToken()
    {
        std::lock_guard lock(fLock);
        fRevoked = true;
    }

    httplib::Server fServer;
    int fPort = 0;
    std::thread fThread;
    std::mutex fLock;
    int fTokenCalls = 0, fApiCalls = 0;
    std::string fTokenBody, fIssued, fLastTarget, fLastMarketplace, fLastAuthorization;
    bool fRevoked = false;
};

class EbayBackend : public ::testing::Test
{
protected:
    void SetUp() override
    {
        setenv("EBAY_CLIENT_ID", "app-id", 1);
        setenv("EBAY_CLIENT_SECRET", "cert-id", 1);
        setenv("EBAY_API_BASE", fEbay.Base().c_str(), 1);
        unsetenv("EBAY_DAILY_CALLS");
    }
    std::unique_ptr<TServiceProcess> Start(const QStringList& extra = {})
    {
        return std::make_unique<TServiceProcess>(QStringList{"--backend", "ebay"} + extra);
    }
    std::string Filter()
    {
        std::lock_guard lock(fEbay.fLock);
        const auto keys = ParseRawQuery(fEbay.fLastTarget);
        for (const auto& [k, v] : keys)
            if (k == "filter")
                return v;
        return {};
    }
    std::string Param(const char* name)
    {
        std::lock_guard lock(fEbay.fLock);
        for (const auto& [k, v] : ParseRawQuery(fEbay.fLastTarget))
            if (k == name)
                return v;
        return {};
    }
    TEbayStandIn fEbay;
};

TEST_F(EbayBackend, MapsEveryKeyAndTranslatesTheAnswer)
{
    const auto service = Start();
    TSearchKeys k;
    k.keywords = "ipod -case";
    k.siteId = "3";
    k.priceMin = "10";
    k.priceMax = "99.5";
    k.buyItNow = true;
    k.descriptionSearch = "True";
    k.payPal = true;
    const TAnswer a = HttpGet(service->Port(), SearchTarget(k));
    ASSERT_EQ(a.status, 200);

    EXPECT_EQ(Param("q"), "ipod") << "exclusions are applied on our side";
    EXPECT_EQ(fEbay.fLastMarketplace, "EBAY_GB");
    EXPECT_EQ(fEbay.fLastAuthorization, "Bearer " + fEbay.fIssued);
    EXPECT_EQ(Filter(), "buyingOptions:{FIXED_PRICE},price:[10.00..99.50],priceCurrency:GBP,"
                        "searchInDescription:true");
    EXPECT_EQ(Param("sort"), "newlyListed");
    EXPECT_NE(fEbay.fTokenBody.find("grant_type=client_credentials"), std::string::npos);
    EXPECT_NE(fEbay.fTokenBody.find("scope=https%3A%2F%2Fapi.ebay.com%2Foauth%2Fapi_scope"),
              std::string::npos);

    const TWalkedAnswer w = WalkSearchAnswer(a.body);
    ASSERT_TRUE(w.parsed);
    ASSERT_FALSE(w.timestamp.empty());
    ASSERT_EQ(w.items.size(), 4u) << "the case listing is dropped";
    EXPECT_EQ(w.totalItems, "344");

    const TWalkedItem& auction = w.items[0];
    EXPECT_EQ(auction["ItemID"], "256123456789");
    EXPECT_EQ(auction["Title"], "Apple iPod Classic 160GB Black 7th Generation");
    EXPECT_EQ(auction["BidCount"], "7");
    EXPECT_EQ(auction["ConvertedCurrentPrice"], "61.00");
    EXPECT_EQ(auction.currency, "GBP");
    EXPECT_EQ(auction["ConvertedBuyItNowPrice"], "");
    EXPECT_EQ(auction["StartTime"], "2026-12-06T18:04:12.000Z");
    EXPECT_EQ(auction["EndTime"], "2026-12-13T18:04:12.000Z");
    EXPECT_EQ(auction["GalleryURL"], "http://i.ebayimg.com/images/g/AbCAAOSwq1Nk9x~Z/s-l225.jpg");
    EXPECT_EQ(auction["ViewItemURLForNaturalSearch"], "https://www.ebay.co.uk/itm/256123456789");
    EXPECT_EQ(auction["PrimaryCategoryID"], "73839");

    // Fixed price without an end (Good 'Til Cancelled): the next 30-day renewal.
    const TWalkedItem& gtc = w.items[1];
    EXPECT_EQ(gtc["ConvertedBuyItNowPrice"], "24.99");
    EXPECT_EQ(gtc["ListingType"], "FixedPriceItem");
    const auto start = ParseEbayTimeMs(gtc["StartTime"]), end = ParseEbayTimeMs(gtc["EndTime"]);
    ASSERT_TRUE(start && end);
    EXPECT_EQ((*end - *start) % (30LL * 86400 * 1000), 0);
    EXPECT_GT(*end, *ParseEbayTimeMs(w.timestamp));

    // Auction with Buy It Now: the bid is the price, the fixed price the Buy It Now.
    const TWalkedItem& both = w.items[2];
    EXPECT_EQ(both["ConvertedCurrentPrice"], "45.50");
    EXPECT_EQ(both["ConvertedBuyItNowPrice"], "89.00");
    EXPECT_EQ(both["ListingType"], "Chinese");
    EXPECT_EQ(both["ViewItemURLForNaturalSearch"],
              "https://www.ebay.co.uk/itm/334455667788?mkevt=1&mkcid=1&campid=5338");
    EXPECT_EQ(both["GalleryURL"],
              "http://i.ebayimg.com/thumbs/images/g/Q1kAAOSwpEVlZ3nR/s-l225.jpg");

    // Markup in titles survives the trip; a picture address too long to store is left out.
    EXPECT_EQ(w.items[3]["Title"], "iPod & Accessories <Bundle> \"Mint\"");
    EXPECT_EQ(w.items[3]["GalleryURL"], "");
}

TEST_F(EbayBackend, AllItemTypesAsksForAuctionsAndFixedPriceAndCachesRepeats)
{
    const auto service = Start();
    TSearchKeys k;
    k.keywords = "(ipod,iphone) \"touch 6th\" ipo*";
    k.categoryId = "9355";
    const TAnswer first = HttpGet(service->Port(), SearchTarget(k));
    ASSERT_EQ(first.status, 200);
    EXPECT_EQ(Filter(), "buyingOptions:{AUCTION|FIXED_PRICE}");
    EXPECT_EQ(Param("sort"), "endingSoonest");
    EXPECT_EQ(Param("category_ids"), "9355");
    EXPECT_EQ(Param("q"), "(ipod, iphone) touch 6th ipo");
    EXPECT_EQ(Param("limit"), "200") << "room for the titles we drop";
    const TWalkedAnswer w = WalkSearchAnswer(first.body);
    ASSERT_EQ(w.items.size(), 1u) << "phrase and wildcard are checked on the titles";
    EXPECT_EQ(w.items[0]["ItemID"], "334455667788");

    // The same request again (another key, another signature): from the cache.
    k.key = "1234";
    const int calls = fEbay.fApiCalls;
    EXPECT_EQ(HttpGet(service->Port(), SearchTarget(k)).body.substr(200), first.body.substr(200));
    EXPECT_EQ(fEbay.fApiCalls, calls);
}

TEST_F(EbayBackend, ErrorsComeBackInTheErrorsShape)
{
    const auto service = Start();
    TSearchKeys k;
    k.keywords = "broken";
    const TWalkedAnswer e = WalkSearchAnswer(HttpGet(service->Port(), SearchTarget(k)).body);
    ASSERT_EQ(e.errors.size(), 1u);
    EXPECT_EQ(e.errors[0].at("ErrorCode"), "12023");
    EXPECT_EQ(e.errors[0].at("ShortMessage"), "Invalid filter value.");
    EXPECT_NE(e.errors[0].at("LongMessage").find("minimum price"), std::string::npos);
    EXPECT_EQ(e.errors[0].at("SeverityCode"), "Error");

    // India is no longer a working marketplace: answered without asking eBay.
    const int calls = fEbay.fApiCalls;
    k.keywords = "ipod";
    k.siteId = "203";
    const TWalkedAnswer india = WalkSearchAnswer(HttpGet(service->Port(), SearchTarget(k)).body);
    ASSERT_EQ(india.errors.size(), 1u);
    EXPECT_NE(india.errors[0].at("LongMessage").find("India"), std::string::npos);
    EXPECT_EQ(fEbay.fApiCalls, calls);
}

TEST_F(EbayBackend, RefusedTokenIsRenewedOnceAndWrongKeysAreReported)
{
    const auto service = Start();
    TSearchKeys k;
    k.keywords = "ipod";
    ASSERT_TRUE(WalkSearchAnswer(HttpGet(service->Port(), SearchTarget(k)).body).errors.empty());
    EXPECT_EQ(fEbay.fTokenCalls, 1);
    k.keywords = "ipod nano";
    ASSERT_TRUE(WalkSearchAnswer(HttpGet(service->Port(), SearchTarget(k)).body).errors.empty());
    EXPECT_EQ(fEbay.fTokenCalls, 1) << "the token is kept while it is valid";

    fEbay.RevokeToken(); // as when it expires early
    k.keywords = "ipod classic";
    const TWalkedAnswer w = WalkSearchAnswer(HttpGet(service->Port(), SearchTarget(k)).body);
    EXPECT_TRUE(w.errors.empty());
    EXPECT_FALSE(w.items.empty());
    EXPECT_EQ(fEbay.fTokenCalls, 2);

    setenv("EBAY_CLIENT_SECRET", "wrong", 1);
    const auto wrongKeys = Start();
    const TWalkedAnswer e = WalkSearchAnswer(HttpGet(wrongKeys->Port(), SearchTarget(k)).body);
    ASSERT_EQ(e.errors.size(), 1u);
    EXPECT_EQ(e.errors[0].at("ErrorCode"), "invalid_client");
}

TEST_F(EbayBackend, DailyBudgetIsRespected)
{
    setenv("EBAY_DAILY_CALLS", "2", 1); // the token and one search
    const auto service = Start();
    TSearchKeys k;
    k.keywords = "ipod";
    EXPECT_TRUE(WalkSearchAnswer(HttpGet(service->Port(), SearchTarget(k)).body).errors.empty());
    k.keywords = "ipod nano";
    const TWalkedAnswer spent = WalkSearchAnswer(HttpGet(service->Port(), SearchTarget(k)).body);
    ASSERT_EQ(spent.errors.size(), 1u);
    EXPECT_EQ(spent.errors[0].at("ErrorCode"), "518");
    EXPECT_EQ(fEbay.fApiCalls, 1);
    unsetenv("EBAY_DAILY_CALLS");
}

TEST_F(EbayBackend, CategorySuggestionsFromTheTaxonomy)
{
    const auto service = Start();
    const TAnswer a = HttpGet(service->Port(), SuggestTarget("iphone case"));
    ASSERT_EQ(a.status, 200);
    EXPECT_EQ(Param("q"), "iphone case");
    pugi::xml_document doc;
    ASSERT_TRUE(doc.load_string(a.body.c_str()));
    const pugi::xml_node list =
        doc.child("GetSuggestedCategoriesResponse").child("SuggestedCategoryArray");
    std::vector<std::pair<std::string, int>> got;
    for (pugi::xml_node s : list.children("SuggestedCategory"))
        got.emplace_back(s.child("Category").child_value("CategoryID"),
                         s.child("PercentItemFound").text().as_int());
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(got[0].first, "9355");
    EXPECT_EQ(got[1].first, "20349");
    EXPECT_GT(got[0].second, got[1].second);
    EXPECT_GT(got[1].second, got[2].second);
    EXPECT_NE(a.body.find("<CategoryParentName>Cell Phones &amp; Accessories</CategoryParentName>"),
              std::string::npos);
}

TEST(EbayBackendStart, WithoutKeysTheServiceSaysWhat)
{
    unsetenv("EBAY_CLIENT_ID");
    unsetenv("EBAY_CLIENT_SECRET");
    const std::string cmd = std::string(BIDLARK_SERVICE_EXE) +
                            " --backend ebay --port 0 --data /tmp 2>&1 | grep -q EBAY_CLIENT_ID";
    EXPECT_EQ(std::system(cmd.c_str()), 0);
}

} // namespace
