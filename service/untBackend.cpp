#include "untBackend.h"

std::string TSearchQuery::CacheKey() const
{
    std::string key;
    key.reserve(keywords.size() + host.size() + 64);
    key += keywords;
    key += '\x1F';
    key += descriptionSearch ? '1' : '0';
    key += payPalOnly ? '1' : '0';
    key += static_cast<char>('0' + static_cast<int>(sort));
    key += static_cast<char>('0' + static_cast<int>(type));
    key += '\x1F';
    key += std::to_string(siteId);
    key += '\x1F';
    key += std::to_string(maxEntries);
    key += '\x1F';
    key += priceMinCents ? std::to_string(*priceMinCents) : std::string("-");
    key += '\x1F';
    key += priceMaxCents ? std::to_string(*priceMaxCents) : std::string("-");
    key += '\x1F';
    key += std::to_string(categoryId);
    key += '\x1F';
    key += host;
    return key;
}

const TSiteInfo* FindSite(int siteId)
{
    static const TSiteInfo sites[] = {
        {0, "United States", "USD", "EBAY_US", 100},
        {2, "Canada", "CAD", "EBAY_CA", 137},
        {3, "United Kingdom", "GBP", "EBAY_GB", 79},
        {15, "Australia", "AUD", "EBAY_AU", 152},
        {71, "France", "EUR", "EBAY_FR", 92},
        {100, "eBay Motors", "USD", "EBAY_MOTORS_US", 100},
        {101, "Italy", "EUR", "EBAY_IT", 92},
        {123, "Belgium", "EUR", "EBAY_BE", 92},
        {186, "Spain", "EUR", "EBAY_ES", 92},
        {201, "Hong Kong", "HKD", "EBAY_HK", 781},
        {203, "India", "INR", "EBAY_IN", 8300},
        {216, "Singapore", "SGD", "EBAY_SG", 135},
    };
    for (const TSiteInfo& s : sites)
        if (s.siteId == siteId)
            return &s;
    return nullptr;
}
