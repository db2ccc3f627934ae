// The per-request work of bidlark-service without the network: checking a signed search,
// computing the demo market's answer and writing its XML, and reading keywords.
#include "cls.DemoMarket.h"
#include "untHashesEncodings.h"
#include "untRequestCheck.h"
#include "untSearchXml.h"

#include <benchmark/benchmark.h>

#include <QString>

namespace {

std::string SignedTarget(const std::string& words, bool buyItNow)
{
    const std::string q = Base64Encode(QString::fromStdString(words)).toStdString();
    const std::string k = "815";
    const std::string h1 = Sha1Hex(QString::fromStdString(q + k + "100")).toStdString();
    const std::string h2 = Sha1Hex(QString::fromStdString(k + h1)).toStdString();
    return "/ebayAPI/bidlark/bidlark.php?query=" + q +
           "&descriptionSearch=False&siteID=0&maxEntries=100" +
           (buyItNow ? "&itemSort=StartDate&itemType=FixedPricedItem"
                     : "&itemSort=EndDate&itemType=AllItemTypes") +
           "&securityHash=" + h2 + "&securityKey=" + k;
}

void BM_CheckSignedSearch(benchmark::State& state)
{
    const std::string target = SignedTarget("(canon,nikon) -lens", false);
    for (auto _ : state)
        benchmark::DoNotOptimize(CheckSearchRequest(target));
}
BENCHMARK(BM_CheckSignedSearch);

// One uncached answer of 100 items: every listing of the last seven days is looked at.
void BM_DemoSearchAndXml(benchmark::State& state)
{
    TDemoMarket market(1);
    TCheckedSearch checked = CheckSearchRequest(SignedTarget("ipod nano", state.range(0) != 0));
    checked.query.host = "127.0.0.1:8470";
    std::int64_t now = 1'800'000'000'000;
    std::size_t bytes = 0;
    for (auto _ : state) {
        now += 1000; // a new market second each time, as the cache would see it
        const std::string xml =
            SearchAnswerXml(market.SearchAt(checked.query, now), checked.query.maxEntries);
        bytes += xml.size();
        benchmark::DoNotOptimize(xml.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(bytes));
}
BENCHMARK(BM_DemoSearchAndXml)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

void BM_ParseKeywords(benchmark::State& state)
{
    const std::string text = "(ipod,iphone,\"ipod touch\") -(case,cover) nano* \"red edition\"";
    for (auto _ : state)
        benchmark::DoNotOptimize(TKeywordQuery::Parse(text));
}
BENCHMARK(BM_ParseKeywords);

} // namespace
BENCHMARK_MAIN();
