#include "ServiceProcess.h"
#include "ServiceTestUtil.h"
#include "untKeywordQuery.h"
#include "untServiceText.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <set>
#include <thread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

std::int64_t Ms(const std::string& ebayTime)
{
    const auto ms = ParseEbayTimeMs(ebayTime);
    EXPECT_TRUE(ms) << "not an eBay time: '" << ebayTime << "'";
    return ms.value_or(0);
}

class SearchEndpoint : public ::testing::Test
{
protected:
    static void SetUpTestSuite() { sService = new TServiceProcess(); }
    static void TearDownTestSuite()
    {
        delete sService;
        sService = nullptr;
    }
    static TAnswer Get(const std::string& target) { return HttpGet(sService->Port(), target); }
    static TWalkedAnswer Search(const TSearchKeys& keys)
    {
        const TAnswer a = Get(SearchTarget(keys));
        EXPECT_EQ(a.status, 200);
        EXPECT_EQ(a.body.find("Error: #"), std::string::npos) << a.body.substr(0, 200);
        TWalkedAnswer w = WalkSearchAnswer(a.body);
        EXPECT_TRUE(w.parsed) << a.body.substr(0, 200);
        return w;
    }
    static TSearchKeys Keys(const std::string& words)
    {
        TSearchKeys k;
        k.keywords = words;
        return k;
    }
    static inline TServiceProcess* sService = nullptr;
};

TEST_F(SearchEndpoint, AnswerHasTheShapeTheProgramWalks)
{
    const TAnswer raw = Get(SearchTarget(Keys("ipod nano")));
    ASSERT_EQ(raw.status, 200);
    const TWalkedAnswer w = WalkSearchAnswer(raw.body);
    ASSERT_TRUE(w.parsed);
    EXPECT_GE(w.rootChildren, 5u);
    ASSERT_FALSE(w.timestamp.empty()) << "root child 0 must be Timestamp";
    const std::int64_t ts = Ms(w.timestamp);
    ASSERT_EQ(w.items.size(), 100u);
    EXPECT_GT(std::stoll(w.totalItems), 100) << "a typical query has more than 100 matches";

    const TKeywordQuery query = TKeywordQuery::Parse("ipod nano");
    int endingWithinHour = 0, auctions = 0, fixed = 0;
    std::set<std::string> ids;
    for (const TWalkedItem& it : w.items) {
        ids.insert(it["ItemID"]);
        EXPECT_TRUE(query.Matches(it["Title"])) << it["Title"];
        EXPECT_EQ(it.currency, "USD");
        EXPECT_FALSE(it["ConvertedCurrentPrice"].empty());
        EXPECT_FALSE(it["BidCount"].empty());
        std::string pic = it["GalleryURL"];
        ASSERT_EQ(pic.rfind("http://", 0), 0u);
        pic.erase(0, 7);
        EXPECT_LE(pic.size(), 75u) << "the program stores at most 75 characters";
        EXPECT_EQ(it["ViewItemURLForNaturalSearch"],
                  "http://127.0.0.1:" + std::to_string(sService->Port()) + "/item/" + it["ItemID"]);
        const std::int64_t start = Ms(it["StartTime"]), end = Ms(it["EndTime"]);
        EXPECT_LE(start, ts);
        EXPECT_GT(end, ts);
        EXPECT_EQ(it["StartTime"].size(), 24u);
        endingWithinHour += end - ts < 3600 * 1000 ? 1 : 0;
        (it["ListingType"] == "Chinese" ? auctions : fixed)++;
    }
    EXPECT_EQ(ids.size(), w.items.size()) << "item ids are unique";
    EXPECT_GT(endingWithinHour, 0);
    EXPECT_GT(auctions, 0);
    EXPECT_GT(fixed, 0);
    for (std::size_t i = 1; i < w.items.size(); ++i)
        EXPECT_LE(Ms(w.items[i - 1]["EndTime"]), Ms(w.items[i]["EndTime"])) << "EndDate order";
}

TEST_F(SearchEndpoint, BuyItNowModeGivesNewestFixedPriceListings)
{
    TSearchKeys k = Keys("lego technic");
    k.buyItNow = true;
    const TWalkedAnswer w = Search(k);
    ASSERT_FALSE(w.items.empty());
    const std::int64_t ts = Ms(w.timestamp);
    int startedWithinHour = 0;
    for (const TWalkedItem& it : w.items) {
        EXPECT_EQ(it["ListingType"], "FixedPriceItem");
        EXPECT_FALSE(it["ConvertedBuyItNowPrice"].empty());
        startedWithinHour += ts - Ms(it["StartTime"]) < 3600 * 1000 ? 1 : 0;
    }
    EXPECT_GT(startedWithinHour, 0);
    for (std::size_t i = 1; i < w.items.size(); ++i)
        EXPECT_GE(Ms(w.items[i - 1]["StartTime"]), Ms(w.items[i]["StartTime"]));
}

TEST_F(SearchEndpoint, EachKeyChangesTheAnswer)
{
    const TWalkedAnswer all = Search(Keys("camera"));
    const std::int64_t total = std::stoll(all.totalItems);

    TSearchKeys few = Keys("camera");
    few.maxEntries = "7";
    const TWalkedAnswer seven = Search(few);
    EXPECT_EQ(seven.items.size(), 7u);
    EXPECT_GT(std::stoll(seven.totalItems), 7);

    for (const auto& [site, currency] : std::vector<std::pair<std::string, std::string>>{
             {"3", "GBP"}, {"203", "INR"}, {"71", "EUR"}, {"216", "SGD"}}) {
        TSearchKeys k = Keys("camera");
        k.siteId = site;
        const TWalkedAnswer w = Search(k);
        ASSERT_FALSE(w.items.empty()) << site;
        for (const TWalkedItem& it : w.items)
            EXPECT_EQ(it.currency, currency) << site;
    }

    TSearchKeys priced = Keys("camera");
    priced.priceMin = "100";
    priced.priceMax = "250.50";
    const TWalkedAnswer p = Search(priced);
    ASSERT_FALSE(p.items.empty());
    EXPECT_LT(std::stoll(p.totalItems), total);
    for (const TWalkedItem& it : p.items) {
        const double price = std::stod(it["ConvertedCurrentPrice"]);
        EXPECT_GE(price, 100.0);
        EXPECT_LE(price, 250.5);
    }

    TSearchKeys payPal = Keys("camera");
    payPal.payPal = true;
    const TWalkedAnswer pp = Search(payPal);
    EXPECT_LT(std::stoll(pp.totalItems), total);
    for (const TWalkedItem& it : pp.items)
        EXPECT_EQ(it["PaymentMethods"], "PayPal");

    TSearchKeys desc = Keys("camera");
    desc.descriptionSearch = "True";
    EXPECT_GT(std::stoll(Search(desc).totalItems), total)
        << "some listings name the word only in their description";

    TSearchKeys cat = Keys("camera");
    cat.categoryId = "15032"; // a parent: its two children qualify
    const TWalkedAnswer c = Search(cat);
    ASSERT_FALSE(c.items.empty());
    for (const TWalkedItem& it : c.items)
        EXPECT_TRUE(it["PrimaryCategoryID"] == "9355" || it["PrimaryCategoryID"] == "20349")
            << it["PrimaryCategoryID"];

    TSearchKeys onlyCategory;
    onlyCategory.categoryId = "31387";
    const TWalkedAnswer oc = Search(onlyCategory);
    ASSERT_FALSE(oc.items.empty()) << "a category alone is a search";
    for (const TWalkedItem& it : oc.items)
        EXPECT_EQ(it["PrimaryCategoryID"], "31387");
}

TEST_F(SearchEndpoint, TitlesFollowTheKeywordSyntax)
{
    for (const char* words : {"(ipod,iphone) -nano", "\"red case\" ipod", "guitar*",
                              "-(new,used) vinyl", "ipod, dock", "zxqv"}) {
        const TWalkedAnswer w = Search(Keys(words));
        ASSERT_FALSE(w.items.empty()) << words;
        const TKeywordQuery q = TKeywordQuery::Parse(words);
        for (const TWalkedItem& it : w.items)
            EXPECT_TRUE(q.Matches(it["Title"])) << words << ": " << it["Title"];
    }
    // A query that excludes its own word has no matches, and says so.
    const TWalkedAnswer none = Search(Keys("ipod -ipod"));
    EXPECT_TRUE(none.items.empty());
    EXPECT_EQ(none.totalItems, "0");
}

// A client that accepts every encoding (as libcurl may say) gets gzip, compressed once.
TEST_F(SearchEndpoint, CompressedOnlyWithGzip)
{
    httplib::Client client("127.0.0.1", sService->Port());
    client.set_decompress(true);
    const auto res = client.Get(SearchTarget(Keys("ipod")).c_str(),
                                {{"Accept-Encoding", "deflate, gzip, br, zstd"}});
    ASSERT_TRUE(res);
    EXPECT_EQ(res->get_header_value("Content-Encoding"), "gzip");
    EXPECT_EQ(WalkSearchAnswer(res->body).items.size(), 100u);

    const auto plain = client.Get("/tutorial/", {{"Accept-Encoding", "br"}});
    ASSERT_TRUE(plain);
    EXPECT_EQ(plain->get_header_value("Content-Encoding"), "");
}

TEST_F(SearchEndpoint, RefusedRequestsSayWhy)
{
    const std::string good = SearchTarget(Keys("ipod"));
    auto replace = [&](const std::string& from, const std::string& to) {
        std::string t = good;
        t.replace(t.find(from), from.size(), to);
        return t;
    };
    auto without = [&](const std::string& key) {
        std::string t = good;
        const std::size_t at = t.find(key + "=");
        const std::size_t end = t.find('&', at);
        t.erase(at, end == std::string::npos ? std::string::npos : end - at + 1);
        return t;
    };
    auto signedWith = [](auto change) {
        TSearchKeys k;
        k.keywords = "ipod";
        change(k);
        return SearchTarget(k);
    };
    const struct
    {
        std::string target;
        const char* prefix;
    } cases[] = {
        {replace("securityKey=815", "securityKey=816"), "Error: #2 "},
        {replace("maxEntries=100", "maxEntries=99"), "Error: #2 "},
        {replace("query=aXBvZA==", "query=aXBvZQ=="), "Error: #2 "},
        {without("query"), "Error: #1 missing key query"},
        {without("securityHash"), "Error: #1 missing key securityHash"},
        {without("securityKey"), "Error: #1 missing key securityKey"},
        {without("maxEntries"), "Error: #1 missing key maxEntries"},
        {"/ebayAPI/bidlark/bidlark.php", "Error: #1 "},
        {signedWith([](TSearchKeys& k) { k.key = "2999000"; }), "Error: #3 "},
        {signedWith([](TSearchKeys& k) { k.key = "0815"; }), "Error: #3 "},
        {signedWith([](TSearchKeys& k) { k.key = "-1"; }), "Error: #3 "},
        {signedWith([](TSearchKeys& k) { k.maxEntries = "0"; }), "Error: #4 "},
        {signedWith([](TSearchKeys& k) { k.maxEntries = "-5"; }), "Error: #4 "},
        {signedWith([](TSearchKeys& k) { k.maxEntries = "201"; }), "Error: #4 "},
        {signedWith([](TSearchKeys& k) { k.maxEntries = "99999999999999999999"; }), "Error: #4 "},
        {signedWith([](TSearchKeys& k) { k.maxEntries = "ten"; }), "Error: #4 "},
        {signedWith([](TSearchKeys& k) { k.siteId = "1"; }), "Error: #6 "},
        {signedWith([](TSearchKeys& k) { k.siteId = "abc"; }), "Error: #6 "},
        {signedWith([](TSearchKeys& k) { k.descriptionSearch = "maybe"; }), "Error: #7 "},
        {signedWith([](TSearchKeys& k) { k.categoryId = "shoes"; }), "Error: #8 "},
        {good + "&query=aXBvZA==", "Error: #9 "},
        {replace("itemType=AllItemTypes", "itemType=Everything"), "Error: #7 "},
        {replace("itemSort=EndDate", "itemSort=Random"), "Error: #7 "},
        {good + "&paymentMethod=Cash", "Error: #7 "},
    };
    for (const auto& c : cases) {
        const TAnswer a = Get(c.target);
        EXPECT_EQ(a.status, 200) << c.target;
        EXPECT_EQ(a.body.rfind(c.prefix, 0), 0u) << c.target << "\n  answered: " << a.body;
    }
}

TEST_F(SearchEndpoint, RejectedSearchesGetTheErrorsShape)
{
    const struct
    {
        std::string min, max, category;
        const char* code;
    } cases[] = {
        {"50", "10", "", "18"},
        {"abc", "", "", "17"},
        {"", "1,5", "", "17"},
        {"", "", "999", "37"},
    };
    for (const auto& c : cases) {
        TSearchKeys k = Keys("ipod");
        k.priceMin = c.min;
        k.priceMax = c.max;
        k.categoryId = c.category;
        const TAnswer a = Get(SearchTarget(k));
        ASSERT_EQ(a.status, 200);
        ASSERT_NE(a.body.find("<Errors>"), std::string::npos) << a.body;
        const TWalkedAnswer w = WalkSearchAnswer(a.body);
        EXPECT_FALSE(w.timestamp.empty());
        ASSERT_EQ(w.errors.size(), 1u);
        EXPECT_EQ(w.errors[0].at("ErrorCode"), c.code);
        EXPECT_EQ(w.errors[0].at("SeverityCode"), "Error");
        EXPECT_FALSE(w.errors[0].at("ShortMessage").empty());
        EXPECT_FALSE(w.errors[0].at("LongMessage").empty());
    }
    // No keywords and no category: nothing to search for.
    const TWalkedAnswer empty = WalkSearchAnswer(Get(SearchTarget(Keys(""))).body);
    ASSERT_EQ(empty.errors.size(), 1u);
    EXPECT_EQ(empty.errors[0].at("ErrorCode"), "10");
}

TEST_F(SearchEndpoint, MalformedRequestsGetClearAnswersAndTheServerCarriesOn)
{
    std::string binary;
    for (int i = 0; i < 600; ++i)
        binary += static_cast<char>((i * 37 + 11) & 0xFF);
    TSearchKeys bin = Keys(binary);
    const struct
    {
        std::string target;
        int status;
        const char* bodyStart;
    } cases[] = {
        {SearchTarget(bin), 200, "<?xml"},
        {"/ebayAPI/bidlark/bidlark.php?query=" + std::string(100000, 'A'), 414, ""},
        {"/ebayAPI/bidlark/bidlark.php?" + std::string(3000, '&'), 200, "Error: #1 "},
        {"/ebayAPI/bidlark/bidlark.php?query", 200, "Error: #1 "},
        {"/ebayAPI/bidlark/bidlark.php?query=%00%ff%&maxEntries=%zz", 200, "Error: #1 "},
        {"/ebayAPI/bidlark/bidlark.php?=&==&=x", 200, "Error: #1 "},
        {"/ebayAPI/bidlark/category_suggest.php?query=!!!&securityHash=x&securityKey=1", 200,
         "Error: #2 "},
        {"/register/error.php", 200, "Error: #1 "},
        {"/img/99999999999999999999999.png", 404, ""},
        {"/img/../../etc/passwd", 404, ""},
        {"/item/abc", 404, ""},
        {"/rover/1/711-53200-19255-0/1?item=-3", 404, ""},
        {"/_test/advance?seconds=-1", 400, "Error: "},
        {"/no/such/page", 404, ""},
    };
    for (const auto& c : cases) {
        const TAnswer a = Get(c.target);
        EXPECT_EQ(a.status, c.status) << c.target.substr(0, 120);
        EXPECT_EQ(a.body.rfind(c.bodyStart, 0), 0u)
            << c.target.substr(0, 120) << "\n  answered: " << a.body.substr(0, 200);
    }
    // Header lines are short but not few: a request may not grow without end.
    httplib::Headers many;
    for (int i = 0; i < 10000; ++i)
        many.emplace("X-Filler-" + std::to_string(i), std::string(40, 'y'));
    httplib::Client client("127.0.0.1", sService->Port());
    const auto flood = client.Get("/tutorial/", many);
    EXPECT_TRUE(!flood || flood->status == 400);
    // Broken binary keywords still come back as well-formed XML.
    EXPECT_TRUE(WalkSearchAnswer(Get(SearchTarget(bin)).body).parsed);
    EXPECT_EQ(Get(SearchTarget(Keys("ipod"))).status, 200);
}

// Connections that send half a request and then nothing, or trickle one byte every two seconds:
// more of them than the server has threads. They are dropped after the read time-out or once
// the request has taken too long to arrive, and a real request is served meanwhile or right
// after.
TEST_F(SearchEndpoint, SilentClientsCannotHangTheServer)
{
    std::vector<int> sockets;
    for (int i = 0; i < 150; ++i) {
        const int s = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(sService->Port());
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ASSERT_EQ(connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
        const char partial[] = "GET /ebayAPI/bidlark/bidlark.php?query=";
        ASSERT_GT(send(s, partial, sizeof partial - 1, 0), 0);
        sockets.push_back(s);
    }
    std::atomic<bool> stopTrickle{false};
    std::thread trickle([&] {
        for (int round = 0; round < 12 && !stopTrickle; ++round) {
            for (std::size_t i = 0; i < sockets.size(); ++i)
                if (i % 10 != 0)
                    send(sockets[i], "x", 1, MSG_NOSIGNAL | MSG_DONTWAIT);
            for (int w = 0; w < 20 && !stopTrickle; ++w)
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    });
    const TAnswer a = Get(SearchTarget(Keys("ipod")));
    EXPECT_EQ(a.status, 200);
    stopTrickle = true;
    trickle.join();
    // The stalled connections have been closed by the server (a reset when the trickle wrote
    // after the close).
    int closed = 0;
    for (int s : sockets) {
        timeval tv{15, 0};
        setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        char buf[256];
        while (true) {
            const ssize_t n = recv(s, buf, sizeof buf, 0);
            if (n <= 0) {
                closed += n == 0 || errno == ECONNRESET ? 1 : 0;
                break;
            }
        }
        close(s);
    }
    EXPECT_EQ(closed, 150);
}

class MarketClock : public ::testing::Test
{
protected:
    TServiceProcess fService;
    TWalkedAnswer Search(const TSearchKeys& k)
    {
        return WalkSearchAnswer(HttpGet(fService.Port(), SearchTarget(k)).body);
    }
};

TEST_F(MarketClock, ListingsEndStartAndBidsRise)
{
    TSearchKeys auctions;
    auctions.keywords = "rolex";
    const TWalkedAnswer before = Search(auctions);
    TSearchKeys bin = auctions;
    bin.buyItNow = true;
    const TWalkedAnswer binBefore = Search(bin);
    ASSERT_FALSE(before.items.empty());
    ASSERT_FALSE(binBefore.items.empty());
    const std::int64_t ts0 = Ms(before.timestamp);

    fService.Advance(2 * 3600);
    const TWalkedAnswer after = Search(auctions);
    const TWalkedAnswer binAfter = Search(bin);
    const std::int64_t ts1 = Ms(after.timestamp);
    EXPECT_GE(ts1 - ts0, 2 * 3600 * 1000);

    std::map<std::string, const TWalkedItem*> now;
    for (const TWalkedItem& it : after.items)
        now[it["ItemID"]] = &it;
    int ended = 0;
    for (const TWalkedItem& it : before.items)
        if (Ms(it["EndTime"]) <= ts1) {
            ++ended;
            EXPECT_EQ(now.count(it["ItemID"]), 0u) << "ended listing still listed";
        }
    EXPECT_GT(ended, 0);

    int fresh = 0;
    for (const TWalkedItem& it : binAfter.items)
        fresh += Ms(it["StartTime"]) > ts0 ? 1 : 0;
    EXPECT_GT(fresh, 0) << "new listings start as the clock moves";

    // Auctions seen twice: bids and prices never fall, and some rise.
    TSearchKeys late = auctions;
    late.maxEntries = "200";
    std::map<std::string, TWalkedItem> first;
    for (const TWalkedItem& it : Search(late).items)
        first[it["ItemID"]] = it;
    fService.Advance(3600);
    int rose = 0, common = 0;
    for (const TWalkedItem& it : Search(late).items) {
        auto f = first.find(it["ItemID"]);
        if (f == first.end() || it["ListingType"] != "Chinese")
            continue;
        ++common;
        EXPECT_GE(std::stoi(it["BidCount"]), std::stoi(f->second["BidCount"]));
        EXPECT_GE(std::stod(it["ConvertedCurrentPrice"]),
                  std::stod(f->second["ConvertedCurrentPrice"]));
        rose += std::stoi(it["BidCount"]) > std::stoi(f->second["BidCount"]) ? 1 : 0;
    }
    EXPECT_GT(common, 0);
    EXPECT_GT(rose, 0);
}

} // namespace
