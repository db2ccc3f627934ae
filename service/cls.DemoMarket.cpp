#include "cls.DemoMarket.h"

#include "untServiceText.h"

#include <algorithm>
#include <chrono>

namespace {

std::uint64_t Mix(std::uint64_t x)
{
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

std::uint64_t HashText(std::uint64_t h, std::string_view text)
{
    h ^= 1469598103934665603ull;
    for (char c : text)
        h = (h ^ static_cast<unsigned char>(c)) * 1099511628211ull;
    return Mix(h);
}

template <class T> const T& Pick(const std::vector<T>& v, std::uint64_t h)
{
    return v[h % v.size()];
}

const std::vector<const char*> kConditions = {"New",  "Brand New",   "Used",     "Boxed",
                                              "Mint", "Refurbished", "Vintage",  "Sealed",
                                              "Rare", "Genuine",     "Excellent"};
const std::vector<const char*> kExtras = {"Bundle",     "Lot",       "with Box", "Complete",
                                          "Collection", "Tested",    "Original", "Limited",
                                          "Fast Ship",  "Free Post", "Spares",   "Edition"};
const std::vector<const char*> kModelPrefixes = {"Mk", "Series", "Gen", "Pro", "V", "Type"};
const std::vector<const char*> kStarFill = {"s", "er", "x", "pro", "max", "ette"};
const std::vector<const char*> kPlaces = {"London", "Chicago", "Lyon",    "Milan",
                                          "Madrid", "Sydney",  "Toronto", "Antwerp"};

// Auctions run 1, 3, 5 or 7 days, fixed-price listings 3, 5 or 7: every query then has
// listings ending within the hour and within the day, and new ones from the last hour.
constexpr std::int64_t kAuctionDays[] = {1, 3, 5, 7};
constexpr std::int64_t kFixedDays[] = {3, 5, 7};
constexpr std::int64_t kMaxDuration = 7 * 86400;

std::string Capitalised(const std::string& word)
{
    std::string w = word;
    if (!w.empty() && w[0] >= 'a' && w[0] <= 'z')
        w[0] = static_cast<char>(w[0] - 'a' + 'A');
    return w;
}

std::int64_t WallClockMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

struct TCandidate
{
    std::int64_t k;
    std::uint64_t h;
    std::int64_t startS;
    std::int64_t endS;
    std::int64_t priceCents;
    std::int64_t binCents; // 0: none
    int bids;
    bool auction;
    bool payPal;
    bool descOnly;
};

} // namespace

struct TDemoMarket::TStream
{
    std::uint64_t hash = 0;
    TKeywordQuery parsed;
    // For each required term, the ways it may appear in a title (each a list of words); the
    // ways that an exclusion of the same query would hit are left out.
    std::vector<std::vector<std::vector<std::string>>> terms;
    bool impossible = false;                  // a required term that every exclusion rules out
    std::vector<const TCategory*> categories; // repeated by weight
    const TSiteInfo* site = nullptr;
};

TDemoMarket::TDemoMarket(std::uint64_t seed) : fSeed(Mix(seed)) {}

TDemoMarket::~TDemoMarket() = default;

std::int64_t TDemoMarket::NowMs() const
{
    return WallClockMs() + fOffsetMs.load();
}

void TDemoMarket::Advance(std::int64_t seconds)
{
    fOffsetMs += seconds * 1000;
}

std::shared_ptr<const TDemoMarket::TStream> TDemoMarket::StreamFor(const TSearchQuery& query)
{
    const std::string canonical = query.parsed.Canonical();
    std::string key = canonical;
    key += '\x1F';
    key += std::to_string(query.siteId);
    key += '\x1F';
    key += std::to_string(query.categoryId);
    {
        std::lock_guard lock(fStreamsLock);
        auto it = fStreams.find(key);
        if (it != fStreams.end())
            return it->second;
    }

    auto stream = std::make_shared<TStream>();
    stream->hash = HashText(fSeed, key);
    stream->parsed = query.parsed;
    stream->site = FindSite(query.siteId);
    if (!stream->site)
        stream->site = FindSite(0);

    std::vector<TKeywordTerm> excludeTerms;
    for (const TKeywordTerm& t : query.parsed.Terms()) {
        if (t.exclude)
            excludeTerms.push_back(t);
    }
    auto excluded = [&](const std::vector<std::string>& words) {
        for (const TKeywordTerm& t : excludeTerms)
            for (const TKeywordAtom& a : t.alternatives)
                if (AtomMatches(a, words))
                    return true;
        return false;
    };
    std::uint64_t th = stream->hash;
    for (const TKeywordTerm& t : query.parsed.Terms()) {
        if (t.exclude)
            continue;
        std::vector<std::vector<std::string>> ways;
        for (const TKeywordAtom& atom : t.alternatives) {
            th = Mix(th);
            std::vector<std::string> words;
            for (const std::string& w : atom.words) {
                std::string real;
                std::uint64_t fh = th;
                for (char c : w) {
                    if (c == '*') {
                        real += Pick(kStarFill, fh);
                        fh = Mix(fh);
                    } else {
                        real += c;
                    }
                }
                words.push_back(real);
            }
            if (!excluded(SplitWords([&] {
                    std::string joined;
                    for (const std::string& w : words)
                        joined += w + ' ';
                    return joined;
                }())))
                ways.push_back(std::move(words));
        }
        if (ways.empty())
            stream->impossible = true;
        stream->terms.push_back(std::move(ways));
    }

    if (query.categoryId > 0) {
        for (const TCategory* c : LeavesUnder(query.categoryId))
            stream->categories.push_back(c);
    } else {
        std::string positive;
        for (const auto& ways : stream->terms)
            for (const auto& way : ways)
                for (const std::string& w : way)
                    positive += w + ' ';
        for (const TCategorySuggestion& s : SuggestCategories(positive)) {
            const TCategory* c = FindCategory(s.id);
            for (int i = 0; c && i < std::max(1, s.percent / 10); ++i)
                stream->categories.push_back(c);
            if (stream->categories.size() >= 10)
                break;
        }
    }
    if (stream->categories.empty())
        for (const TCategory* c : LeavesUnder(0))
            stream->categories.push_back(c);

    // Bounded by count and by the size of the queries: a stream costs about a hundred bytes
    // per character of its query, and a query may run to several thousand characters.
    std::lock_guard lock(fStreamsLock);
    if (fStreams.size() > 4096 || fStreamsChars > kStreamsChars) {
        fStreams.clear();
        fStreamsChars = 0;
    }
    if (fStreams.emplace(key, stream).second)
        fStreamsChars += key.size();
    return stream;
}

TSearchOutcome TDemoMarket::Search(const TSearchQuery& query)
{
    return SearchAt(query, NowMs());
}

TSearchOutcome TDemoMarket::SearchAt(const TSearchQuery& query, std::int64_t nowMs)
{
    TSearchOutcome outcome;
    outcome.timestampMs = nowMs;
    const std::shared_ptr<const TStream> stream = StreamFor(query);
    if (stream->impossible)
        return outcome;
    const std::int64_t now = nowMs / 1000;
    const std::int64_t P = kListingInterval;
    const int rate = stream->site->usdToLocalPercent;
    const bool hasRequired = !stream->terms.empty();

    std::vector<TCandidate> found;
    found.reserve(static_cast<std::size_t>(kMaxDuration / P) + 8);
    const std::int64_t kFirst = (now - kMaxDuration) / P - 1;
    const std::int64_t kLast = now / P;
    for (std::int64_t k = kFirst; k <= kLast; ++k) {
        TCandidate c;
        c.k = k;
        c.h = Mix(stream->hash ^ Mix(static_cast<std::uint64_t>(k)));
        c.startS = k * P + static_cast<std::int64_t>(c.h % P);
        if (c.startS > now)
            continue;
        const std::uint64_t r2 = Mix(c.h + 1);
        c.auction = r2 % 100 < 55;
        const std::int64_t days =
            c.auction ? kAuctionDays[(r2 >> 8) % 4] : kFixedDays[(r2 >> 8) % 3];
        // Listings end at any minute of the day, not all at the hour they started.
        c.endS = c.startS + days * 86400 - static_cast<std::int64_t>((r2 >> 16) % 7200);
        if (c.endS <= now)
            continue;
        if (query.type == EItemType::Auction && !c.auction)
            continue;
        if (query.type == EItemType::FixedPrice && c.auction)
            continue;
        const std::uint64_t r5 = Mix(c.h + 5);
        c.payPal = r5 % 100 < 80;
        if (query.payPalOnly && !c.payPal)
            continue;
        c.descOnly = hasRequired && (r5 >> 8) % 100 < 15;
        if (c.descOnly && !query.descriptionSearch)
            continue;

        const TCategory* cat = Pick(stream->categories, Mix(c.h + 2));
        const std::uint64_t r3 = Mix(c.h + 3), r4 = Mix(c.h + 4);
        const std::int64_t base = static_cast<std::int64_t>(cat->priceLevelCents) *
                                  static_cast<std::int64_t>(50 + r3 % 150) / 100 * rate / 100;
        if (c.auction) {
            const std::int64_t startPrice =
                std::max<std::int64_t>(99, base * static_cast<std::int64_t>(20 + r4 % 40) / 100);
            const int maxBids = (r4 >> 8) % 4 == 0 ? 0 : static_cast<int>((r4 >> 16) % 31);
            const double f = static_cast<double>(now - c.startS) /
                             static_cast<double>(std::max<std::int64_t>(1, c.endS - c.startS));
            c.bids = static_cast<int>(maxBids * f * f);
            c.priceCents = startPrice + startPrice * 9 * c.bids / 100 + 50 * c.bids;
            // eBay drops an auction's Buy It Now with the first bid.
            c.binCents =
                ((r4 >> 24) % 100 < 35 && c.bids == 0) ? startPrice * 22 / 10 / 100 * 100 + 99 : 0;
        } else {
            c.priceCents = std::max<std::int64_t>(
                99, base * static_cast<std::int64_t>(80 + r4 % 50) / 100 / 100 * 100 + 99);
            c.binCents = c.priceCents;
            c.bids = 0;
        }
        if (query.priceMinCents && c.priceCents < *query.priceMinCents)
            continue;
        if (query.priceMaxCents && c.priceCents > *query.priceMaxCents)
            continue;
        found.push_back(c);
    }

    auto sortKey = [&](const TCandidate& a, const TCandidate& b) {
        switch (query.sort) {
        case EItemSort::EndDate:
            return a.endS != b.endS ? a.endS < b.endS : a.k < b.k;
        case EItemSort::StartDate:
            return a.startS != b.startS ? a.startS > b.startS : a.k > b.k;
        case EItemSort::PriceLowest:
            return a.priceCents != b.priceCents ? a.priceCents < b.priceCents : a.k < b.k;
        case EItemSort::PriceHighest:
            return a.priceCents != b.priceCents ? a.priceCents > b.priceCents : a.k < b.k;
        case EItemSort::BidCount:
            return a.bids != b.bids ? a.bids > b.bids : a.k < b.k;
        case EItemSort::BestMatch:
            break;
        }
        return a.h < b.h;
    };

    std::int64_t total = static_cast<std::int64_t>(found.size());
    const std::size_t want = static_cast<std::size_t>(std::max(0, query.maxEntries));
    std::size_t sorted = std::min(found.size(), want + 16);
    std::partial_sort(found.begin(), found.begin() + static_cast<std::ptrdiff_t>(sorted),
                      found.end(), sortKey);

    // The title and description of a listing, and whether they pass the keyword check.
    auto describe = [&](const TCandidate& c, std::string& title, std::string& description) {
        const TCategory* cat = Pick(stream->categories, Mix(c.h + 2));
        std::uint64_t r = Mix(c.h + 6);

        // Title: brand, the query's words, what the thing is, and a few words of colour.
        std::vector<std::string> termWords;
        std::string hidden;
        const std::size_t hiddenTerm =
            c.descOnly ? static_cast<std::size_t>(r % stream->terms.size()) : std::string::npos;
        for (std::size_t t = 0; t < stream->terms.size(); ++t) {
            const auto& way = Pick(stream->terms[t], Mix(c.h + 100 + t));
            std::string text;
            for (const std::string& w : way)
                text += (text.empty() ? "" : " ") + Capitalised(w);
            if (t == hiddenTerm)
                hidden = text;
            else
                termWords.push_back(text);
        }
        r = Mix(r);
        title.clear();
        auto add = [&title](const std::string& piece) {
            if (piece.empty())
                return;
            if (!title.empty())
                title += ' ';
            title += piece;
        };
        const bool conditionFirst = r % 3 == 0;
        if (conditionFirst)
            add(Pick(kConditions, r >> 4));
        if (!cat->brands.empty() && (r >> 8) % 4 != 0)
            add(Pick(cat->brands, r >> 12));
        for (const std::string& w : termWords)
            add(w);
        add(Pick(cat->nouns, r >> 16));
        if ((r >> 20) % 2 == 0)
            add(std::string(Pick(kModelPrefixes, r >> 24)) + " " +
                std::to_string(2 + (r >> 28) % 9));
        if (!conditionFirst)
            add(Pick(kConditions, r >> 32));
        if ((r >> 36) % 2 == 0)
            add(Pick(kExtras, r >> 40));
        if (title.size() > 80) {
            // Keep every word the query asked for; drop only the colour.
            title.clear();
            for (const std::string& w : termWords)
                add(w);
            add(Pick(cat->nouns, r >> 16));
        }
        description = std::string(Pick(kConditions, r >> 44)) + " " + Pick(cat->nouns, r >> 16) +
                      " listed in " + cat->name + ", ships from " + Pick(kPlaces, r >> 52) + ".";
        if (!hidden.empty())
            description += " Also described as " + hidden + ".";

        return query.parsed.Matches(title) ||
               (query.descriptionSearch && query.parsed.Matches(title + " " + description));
    };

    outcome.items.reserve(want);
    std::size_t i = 0;
    for (; i < found.size() && outcome.items.size() < want; ++i) {
        if (i == sorted) {
            // Titles that failed their check used up the sorted head; sort some more.
            const std::size_t more = std::min(found.size(), sorted + want);
            std::partial_sort(found.begin() + static_cast<std::ptrdiff_t>(sorted),
                              found.begin() + static_cast<std::ptrdiff_t>(more), found.end(),
                              sortKey);
            sorted = more;
        }
        const TCandidate& c = found[i];
        const TCategory* cat = Pick(stream->categories, Mix(c.h + 2));
        std::string title, description;
        const bool ok = describe(c, title, description);
        if (!ok) {
            --total;
            continue;
        }
        TItem item;
        item.itemId = std::to_string(110000000000ull + c.h % 89999999999ull);
        item.title = std::move(title);
        item.currency = stream->site->currency;
        item.priceCents = c.priceCents;
        if (c.binCents > 0)
            item.buyItNowCents = c.binCents;
        item.bidCount = c.bids;
        item.startMs = c.startS * 1000;
        item.endMs = c.endS * 1000;
        item.galleryUrl = "http://" + query.host + "/img/" + item.itemId + ".png";
        item.viewUrl = "http://" + query.host + "/item/" + item.itemId;
        item.listingType = c.auction ? "Chinese" : "FixedPriceItem";
        item.categoryId = cat->id;
        item.categoryName = cat->name;
        item.payPal = c.payPal;
        Remember(item, description);
        outcome.items.push_back(std::move(item));
    }
    // The listings not sent still count only when their titles pass too: an exclusion can hit
    // a brand, noun or condition of the title. Titles are built from the query's other words,
    // so without an exclusion they pass, and the cost (ten times that of the answer) is spared.
    const auto& terms = query.parsed.Terms();
    const bool excludes =
        std::any_of(terms.begin(), terms.end(), [](const TKeywordTerm& t) { return t.exclude; });
    for (; excludes && i < found.size(); ++i) {
        std::string title, description;
        if (!describe(found[i], title, description))
            --total;
    }
    outcome.totalItems =
        std::max<std::int64_t>(total, static_cast<std::int64_t>(outcome.items.size()));
    return outcome;
}

void TDemoMarket::Remember(const TItem& item, const std::string& description)
{
    // Two generations: the item pages of recent answers stay reachable, memory stays bounded.
    // Counted in bytes as well, since titles grow with the query.
    std::lock_guard lock(fItemsLock);
    if (fItems.size() >= kRememberedItems || fItemsBytes >= kRememberedBytes) {
        fOlderItems = std::move(fItems);
        fItems.clear();
        fItemsBytes = 0;
    }
    if (fItems.insert_or_assign(item.itemId, TDemoItemRecord{item, description}).second)
        fItemsBytes += item.title.size() + description.size() + item.viewUrl.size() +
                       item.galleryUrl.size() + sizeof(TDemoItemRecord);
}

std::optional<TDemoItemRecord> TDemoMarket::KnownItem(const std::string& itemId) const
{
    std::lock_guard lock(fItemsLock);
    for (const auto* items : {&fItems, &fOlderItems}) {
        auto it = items->find(itemId);
        if (it != items->end())
            return it->second;
    }
    return std::nullopt;
}

TSuggestOutcome TDemoMarket::Suggest(const std::string& keyword)
{
    TSuggestOutcome outcome;
    outcome.timestampMs = NowMs();
    outcome.suggestions = SuggestCategories(keyword);
    return outcome;
}

std::string TDemoMarket::ItemAddress(const std::string& itemId, const std::string& host)
{
    return "http://" + host + "/item/" + itemId;
}
