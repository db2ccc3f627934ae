#include "cls.DemoMarket.h"
#include "untSearchXml.h"

#include <gtest/gtest.h>

namespace {

constexpr std::int64_t kT = 1'800'000'000'000; // a fixed market time, in ms

TSearchQuery Query(const std::string& words, int site = 0)
{
    TSearchQuery q;
    q.keywords = words;
    q.parsed = TKeywordQuery::Parse(words);
    q.siteId = site;
    q.host = "127.0.0.1:8470";
    return q;
}

TEST(DemoMarket, SameSeedAndTimeGiveTheSameAnswer)
{
    TDemoMarket a(7), b(7), c(8);
    const TSearchQuery q = Query("nikon lens");
    const std::string first = SearchAnswerXml(a.SearchAt(q, kT), 100);
    a.SearchAt(Query("something else"), kT + 5000);
    EXPECT_EQ(SearchAnswerXml(a.SearchAt(q, kT), 100), first);
    EXPECT_EQ(SearchAnswerXml(b.SearchAt(q, kT), 100), first);
    EXPECT_NE(SearchAnswerXml(c.SearchAt(q, kT), 100), first) << "another seed, another market";

    // The count of all matches does not depend on how many are sent, also when an exclusion
    // rules out listings by words of their titles.
    for (const char* words : {"nikon lens", "camera -(new,used)"}) {
        TSearchQuery few = Query(words);
        few.maxEntries = 7;
        TSearchQuery many = few;
        many.maxEntries = 200;
        EXPECT_EQ(a.SearchAt(few, kT).totalItems, a.SearchAt(many, kT).totalItems) << words;
    }
}

// Every time window of the program finds something, on every site, and new listings keep
// coming: what an alert watched by a person relies on.
TEST(DemoMarket, TypicalQueriesFillEveryTimeWindow)
{
    TDemoMarket market(1);
    for (const char* words : {"ipod", "lego star wars", "(canon,nikon) -lens", "vintage watch"})
        for (int site : {0, 2, 3, 15, 71, 100, 101, 123, 186, 201, 203, 216}) {
            TSearchQuery q = Query(words, site);
            const TSearchOutcome ending = market.SearchAt(q, kT);
            ASSERT_EQ(ending.items.size(), 100u) << words << " " << site;
            int hour = 0, day = 0;
            for (const TItem& it : ending.items) {
                hour += *it.endMs - kT < 3600'000 ? 1 : 0;
                day += *it.endMs - kT < 86400'000 ? 1 : 0;
            }
            EXPECT_GT(hour, 0) << words << " " << site;
            EXPECT_GT(day, hour) << words << " " << site;

            q.sort = EItemSort::StartDate;
            q.type = EItemType::FixedPrice;
            int started = 0;
            for (const TItem& it : market.SearchAt(q, kT).items)
                started += kT - it.startMs < 3600'000 ? 1 : 0;
            EXPECT_GE(started, 3) << words << " " << site << ": new Buy It Now listings an hour";
        }
}

} // namespace
