#include "cls.EbayBackend.h"

TEbayConfig TEbayConfig::FromEnvironment()
{
    return {};
}

TEbayBackend::TEbayBackend(TEbayConfig config) : fConfig(std::move(config)) {}
TEbayBackend::~TEbayBackend() = default;

TSearchOutcome TEbayBackend::Search(const TSearchQuery&)
{
    TSearchOutcome o;
    o.errors.push_back({"Not available.", "The eBay backend is not built yet.", "2", "Error"});
    return o;
}

TSuggestOutcome TEbayBackend::Suggest(const std::string&)
{
    return {};
}

std::string TEbayBackend::ItemAddress(const std::string& itemId, const std::string&)
{
    return "https://www.ebay.com/itm/" + itemId;
}
