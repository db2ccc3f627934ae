#include "untRequestCheck.h"

#include "untHashesEncodings.h"
#include "untServiceText.h"

#include <QString>

#include <map>

namespace {

using TKeys = std::map<std::string, std::string>;

std::string Printable(const std::string& text)
{
    std::string out;
    for (char c : text)
        out += (c >= 0x20 && c < 0x7F) ? c : '?';
    return out;
}

constexpr int kMissingKey = 1;
constexpr int kBadSignature = 2;
constexpr int kBadSecurityKey = 3;
constexpr int kBadMaxEntries = 4;
constexpr int kBadBase64 = 5;
constexpr int kUnknownSite = 6;
constexpr int kBadValue = 7;
constexpr int kBadCategory = 8;
constexpr int kRepeatedKey = 9;

// The keys as given; a key that occurs twice is refused, since the signature covers only one.
std::optional<TRefusal> ReadKeys(std::string_view target, TKeys& keys)
{
    for (auto& [k, v] : ParseRawQuery(target)) {
        if (k.empty())
            continue;
        if (keys.count(k))
            return TRefusal{kRepeatedKey, "key given twice: " + Printable(k.substr(0, 40))};
        keys.emplace(std::move(k), std::move(v));
    }
    return std::nullopt;
}

const std::string* Key(const TKeys& keys, const char* name)
{
    auto it = keys.find(name);
    return it == keys.end() ? nullptr : &it->second;
}

std::optional<TRefusal> Require(const TKeys& keys, std::initializer_list<const char*> names)
{
    for (const char* n : names)
        if (!Key(keys, n))
            return TRefusal{kMissingKey, std::string("missing key ") + n};
    return std::nullopt;
}

// 0 up to but not including 2999000, decimal, no leading zeros: what the program draws.
bool ValidSecurityKey(const std::string& k)
{
    if (k.empty() || k.size() > 7 || (k.size() > 1 && k[0] == '0'))
        return false;
    const auto v = ParseInt(k);
    return v && *v >= 0 && *v < 2999000;
}

std::optional<TRefusal> CheckSignature(const std::string& expected, const std::string& given)
{
    if (Lowered(given) != expected)
        return TRefusal{kBadSignature, "signature does not match"};
    return std::nullopt;
}

std::optional<std::string> DecodeKeywords(const std::string& q)
{
    const auto bytes = Base64Decode(q);
    if (!bytes)
        return std::nullopt;
    return KeywordBytesToUtf8(*bytes);
}

} // namespace

std::string SearchSignature(const std::string& query, const std::string& key,
                            const std::string& maxEntries)
{
    const QString k = QString::fromLatin1(key.data(), static_cast<qsizetype>(key.size()));
    const QString h1 =
        Sha1Hex(QString::fromLatin1(query.data(), static_cast<qsizetype>(query.size())) + k +
                QString::fromLatin1(maxEntries.data(), static_cast<qsizetype>(maxEntries.size())));
    return Sha1Hex(k + h1).toStdString();
}

std::string SuggestSignature(const std::string& query, const std::string& key)
{
    const QString k = QString::fromLatin1(key.data(), static_cast<qsizetype>(key.size()));
    const QString h1 =
        Sha1Hex(QString::fromLatin1(query.data(), static_cast<qsizetype>(query.size())) + k);
    return Sha1Hex(k + h1).toStdString();
}

TCheckedSearch CheckSearchRequest(std::string_view target)
{
    TCheckedSearch out;
    TKeys keys;
    if ((out.refusal = ReadKeys(target, keys)))
        return out;
    if ((out.refusal = Require(keys, {"query", "maxEntries", "securityHash", "securityKey"})))
        return out;
    const std::string& q = *Key(keys, "query");
    const std::string& k = *Key(keys, "securityKey");
    const std::string& m = *Key(keys, "maxEntries");
    if (!ValidSecurityKey(k)) {
        out.refusal = TRefusal{kBadSecurityKey, "securityKey must be a number from 0 to 2998999"};
        return out;
    }
    if (m.size() > 6) {
        out.refusal = TRefusal{kBadMaxEntries, "maxEntries must be a number from 1 to 200"};
        return out;
    }
    if ((out.refusal = CheckSignature(SearchSignature(q, k, m), *Key(keys, "securityHash"))))
        return out;
    const auto entries = ParseInt(m);
    if (!entries || *entries < 1 || *entries > 200) {
        out.refusal = TRefusal{kBadMaxEntries, "maxEntries must be a number from 1 to 200"};
        return out;
    }
    const auto keywords = DecodeKeywords(q);
    if (!keywords) {
        out.refusal = TRefusal{kBadBase64, "query is not base64"};
        return out;
    }

    TSearchQuery& query = out.query;
    query.keywords = *keywords;
    query.parsed = TKeywordQuery::Parse(query.keywords);
    query.maxEntries = static_cast<int>(*entries);

    if (const std::string* v = Key(keys, "descriptionSearch")) {
        const std::string l = Lowered(*v);
        if (l == "true")
            query.descriptionSearch = true;
        else if (l != "false" && !l.empty()) {
            out.refusal = TRefusal{kBadValue, "descriptionSearch must be True or False"};
            return out;
        }
    }
    if (const std::string* v = Key(keys, "siteID")) {
        const auto site = ParseInt(*v);
        if (!site || !FindSite(static_cast<int>(*site))) {
            out.refusal = TRefusal{kUnknownSite, "siteID is not one of the twelve sites"};
            return out;
        }
        query.siteId = static_cast<int>(*site);
    }
    if (const std::string* v = Key(keys, "paymentMethod")) {
        if (Lowered(*v) != "paypal") {
            out.refusal = TRefusal{kBadValue, "paymentMethod must be PayPal"};
            return out;
        }
        query.payPalOnly = true;
    }
    if (const std::string* v = Key(keys, "itemSort")) {
        static const std::map<std::string, EItemSort> sorts = {
            {"enddate", EItemSort::EndDate},
            {"starttime", EItemSort::StartDate},
            {"startdate", EItemSort::StartDate},
            {"bestmatch", EItemSort::BestMatch},
            {"priceplusshippinglowest", EItemSort::PriceLowest},
            {"priceplusshippinghighest", EItemSort::PriceHighest},
            {"bidcount", EItemSort::BidCount}};
        auto it = sorts.find(Lowered(*v));
        if (it == sorts.end()) {
            out.refusal = TRefusal{kBadValue, "itemSort must be EndDate, StartDate, BestMatch, "
                                              "PricePlusShippingLowest, PricePlusShippingHighest "
                                              "or BidCount"};
            return out;
        }
        query.sort = it->second;
    }
    if (const std::string* v = Key(keys, "itemType")) {
        static const std::map<std::string, EItemType> types = {
            {"allitemtypes", EItemType::All},
            {"auctionitem", EItemType::Auction},
            {"fixedpriceditem", EItemType::FixedPrice},
            {"allfixedpriceitemtypes", EItemType::FixedPrice}};
        auto it = types.find(Lowered(*v));
        if (it == types.end()) {
            out.refusal = TRefusal{kBadValue, "itemType must be AllItemTypes, AuctionItem, "
                                              "FixedPricedItem or AllFixedPriceItemTypes"};
            return out;
        }
        query.type = it->second;
    }
    if (const std::string* v = Key(keys, "categoryID"); v && !v->empty()) {
        const auto id = ParseInt(*v);
        if (!id || *id < 0 || *id > 99999999) {
            out.refusal = TRefusal{kBadCategory, "categoryID must be a category number"};
            return out;
        }
        query.categoryId = static_cast<int>(*id);
    }

    // Well-formed but unanswerable: these go back in the Errors shape, as eBay answers them.
    for (const char* name : {"priceMin", "priceMax"}) {
        const std::string* v = Key(keys, name);
        if (!v)
            continue;
        const auto cents = ParsePriceCents(*v);
        if (!cents) {
            out.rejected.push_back({"Invalid price.",
                                    std::string("The value of ") + name + " (" +
                                        Printable(v->substr(0, 40)) + ") is not a valid price.",
                                    "17", "Error"});
            continue;
        }
        (std::string(name) == "priceMin" ? query.priceMinCents : query.priceMaxCents) = *cents;
    }
    if (query.priceMinCents && query.priceMaxCents && *query.priceMinCents > *query.priceMaxCents)
        out.rejected.push_back({"Invalid price range.",
                                "The minimum price is greater than the maximum price.", "18",
                                "Error"});
    if (query.parsed.RequiredCount() == 0 && query.categoryId == 0)
        out.rejected.push_back({"No search criteria.",
                                "Enter keywords or choose a category to search in.", "10",
                                "Error"});
    return out;
}

TCheckedSuggest CheckSuggestRequest(std::string_view target)
{
    TCheckedSuggest out;
    TKeys keys;
    if ((out.refusal = ReadKeys(target, keys)))
        return out;
    if ((out.refusal = Require(keys, {"query", "securityHash", "securityKey"})))
        return out;
    const std::string& q = *Key(keys, "query");
    const std::string& k = *Key(keys, "securityKey");
    if (!ValidSecurityKey(k)) {
        out.refusal = TRefusal{kBadSecurityKey, "securityKey must be a number from 0 to 2998999"};
        return out;
    }
    if ((out.refusal = CheckSignature(SuggestSignature(q, k), *Key(keys, "securityHash"))))
        return out;
    const auto keyword = DecodeKeywords(q);
    if (!keyword) {
        out.refusal = TRefusal{kBadBase64, "query is not base64"};
        return out;
    }
    out.keyword = *keyword;
    return out;
}
