#include "untSearchXml.h"

#include "untServiceText.h"

namespace {

constexpr const char* kVersion = "1199";
constexpr const char* kBuild = "bidlark-service-" BIDLARK_VERSION;

void Element(std::string& out, const char* name, std::string_view text)
{
    out += '<';
    out += name;
    out += '>';
    AppendXmlEscaped(out, text);
    out += "</";
    out += name;
    out += '>';
}

void Amount(std::string& out, const char* name, const std::string& currency, std::int64_t cents)
{
    out += '<';
    out += name;
    out += " currencyID=\"";
    AppendXmlEscaped(out, currency);
    out += "\">";
    AppendCents(out, cents);
    out += "</";
    out += name;
    out += '>';
}

void Header(std::string& out, const char* root, std::int64_t ts, const char* ack)
{
    out += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<";
    out += root;
    out += " xmlns=\"urn:ebay:apis:eBLBaseComponents\">\n<Timestamp>";
    AppendEbayTime(out, ts);
    out += "</Timestamp>\n<Ack>";
    out += ack;
    out += "</Ack>\n";
}

} // namespace

void AppendItemXml(std::string& out, const TItem& item, std::int64_t nowMs)
{
    out += "<Item>";
    Element(out, "ItemID", item.itemId);
    if (item.buyItNowCents)
        Amount(out, "ConvertedBuyItNowPrice", item.currency, *item.buyItNowCents);
    if (item.endMs) {
        out += "<EndTime>";
        AppendEbayTime(out, *item.endMs);
        out += "</EndTime>";
    }
    out += "<StartTime>";
    AppendEbayTime(out, item.startMs);
    out += "</StartTime>";
    Element(out, "ViewItemURLForNaturalSearch", item.viewUrl);
    Element(out, "ListingType", item.listingType);
    if (item.payPal)
        out += "<PaymentMethods>PayPal</PaymentMethods>";
    if (!item.galleryUrl.empty())
        Element(out, "GalleryURL", item.galleryUrl);
    if (item.categoryId > 0) {
        out += "<PrimaryCategoryID>";
        out += std::to_string(item.categoryId);
        out += "</PrimaryCategoryID>";
        Element(out, "PrimaryCategoryName", item.categoryName);
    }
    out += "<BidCount>";
    out += std::to_string(item.bidCount);
    out += "</BidCount>";
    Amount(out, "ConvertedCurrentPrice", item.currency, item.priceCents);
    out += "<ListingStatus>Active</ListingStatus>";
    if (item.endMs) {
        out += "<TimeLeft>";
        AppendDuration(out, (*item.endMs - nowMs) / 1000);
        out += "</TimeLeft>";
    }
    Element(out, "Title", item.title);
    out += "</Item>\n";
}

std::string ErrorsAnswerXml(const char* root, std::int64_t ts, const std::vector<TApiError>& errors)
{
    std::string out;
    out.reserve(512 + errors.size() * 256);
    Header(out, root, ts, "Failure");
    for (const TApiError& e : errors) {
        out += "<Errors>";
        Element(out, "ShortMessage", e.shortMessage);
        Element(out, "LongMessage", e.longMessage);
        Element(out, "ErrorCode", e.errorCode);
        Element(out, "SeverityCode", e.severityCode);
        out += "<ErrorClassification>RequestError</ErrorClassification></Errors>\n";
    }
    out += "<Build>";
    out += kBuild;
    out += "</Build>\n<Version>";
    out += kVersion;
    out += "</Version>\n</";
    out += root;
    out += ">\n";
    return out;
}

std::string SearchAnswerXml(const TSearchOutcome& outcome, int maxEntries)
{
    if (!outcome.errors.empty())
        return ErrorsAnswerXml("FindItemsAdvancedResponse", outcome.timestampMs, outcome.errors);
    std::string out;
    out.reserve(1024 + outcome.items.size() * 900);
    Header(out, "FindItemsAdvancedResponse", outcome.timestampMs, "Success");
    out += "<Build>";
    out += kBuild;
    out += "</Build>\n<Version>";
    out += kVersion;
    out += "</Version>\n<SearchResult><ItemArray>\n";
    for (const TItem& item : outcome.items)
        AppendItemXml(out, item, outcome.timestampMs);
    out += "</ItemArray></SearchResult>\n<PageNumber>1</PageNumber>\n<TotalPages>";
    const std::int64_t per = maxEntries > 0 ? maxEntries : 1;
    out += std::to_string((outcome.totalItems + per - 1) / per);
    out += "</TotalPages>\n<TotalItems>";
    out += std::to_string(outcome.totalItems);
    out += "</TotalItems>\n</FindItemsAdvancedResponse>\n";
    return out;
}

std::string SuggestAnswerXml(const TSuggestOutcome& outcome)
{
    if (!outcome.errors.empty())
        return ErrorsAnswerXml("GetSuggestedCategoriesResponse", outcome.timestampMs,
                               outcome.errors);
    std::string out;
    out.reserve(1024 + outcome.suggestions.size() * 300);
    Header(out, "GetSuggestedCategoriesResponse", outcome.timestampMs, "Success");
    out += "<Version>";
    out += kVersion;
    out += "</Version>\n<Build>";
    out += kBuild;
    out += "</Build>\n<SuggestedCategoryArray>\n";
    for (const TCategorySuggestion& s : outcome.suggestions) {
        out += "<SuggestedCategory><Category><CategoryID>";
        out += std::to_string(s.id);
        out += "</CategoryID>";
        Element(out, "CategoryName", s.name);
        for (const auto& [id, name] : s.parents) {
            out += "<CategoryParentID>";
            out += std::to_string(id);
            out += "</CategoryParentID>";
        }
        for (const auto& [id, name] : s.parents)
            Element(out, "CategoryParentName", name);
        out += "</Category><PercentItemFound>";
        out += std::to_string(s.percent);
        out += "</PercentItemFound></SuggestedCategory>\n";
    }
    out += "</SuggestedCategoryArray>\n<CategoryCount>";
    out += std::to_string(outcome.suggestions.size());
    out += "</CategoryCount>\n</GetSuggestedCategoriesResponse>\n";
    return out;
}
