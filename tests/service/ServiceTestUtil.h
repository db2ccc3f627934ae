#pragma once

// Helpers shared by the service tests: signed requests built the way the program builds them,
// plain GETs, and the answer walked the way the program walks it.

#include "untHashesEncodings.h"

#include <httplib.h>
#include <pugixml.hpp>

#include <QString>

#include <map>
#include <string>
#include <vector>

struct TSearchKeys
{
    std::string keywords;
    std::string descriptionSearch = "False";
    std::string siteId = "0";
    std::string maxEntries = "100";
    bool payPal = false;
    std::string priceMin, priceMax;
    bool buyItNow = false;
    std::string categoryId;
    std::string key = "815";
};

inline std::string B64(const std::string& text)
{
    return Base64Encode(QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size())))
        .toStdString();
}

inline std::string Sha1(const std::string& text)
{
    return Sha1Hex(QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size())))
        .toStdString();
}

// The address in the order and form the program sends it.
inline std::string SearchTarget(const TSearchKeys& k)
{
    const std::string q = B64(k.keywords);
    const std::string h2 = Sha1(k.key + Sha1(q + k.key + k.maxEntries));
    std::string u = "/ebayAPI/bidlark/bidlark.php?query=" + q +
                    "&descriptionSearch=" + k.descriptionSearch + "&siteID=" + k.siteId +
                    "&maxEntries=" + k.maxEntries;
    if (k.payPal)
        u += "&paymentMethod=PayPal";
    if (!k.priceMin.empty())
        u += "&priceMin=" + k.priceMin;
    if (!k.priceMax.empty())
        u += "&priceMax=" + k.priceMax;
    u += k.buyItNow ? "&itemSort=StartDate&itemType=FixedPricedItem"
                    : "&itemSort=EndDate&itemType=AllItemTypes";
    u += "&securityHash=" + h2 + "&securityKey=" + k.key;
    if (!k.categoryId.empty())
        u += "&categoryID=" + k.categoryId;
    return u;
}

inline std::string SuggestTarget(const std::string& keyword, const std::string& key = "4711")
{
    const std::string b = B64(keyword);
    return "/ebayAPI/bidlark/category_suggest.php?query=" + b +
           "&securityHash=" + Sha1(key + Sha1(b + key)) + "&securityKey=" + key;
}

struct TAnswer
{
    int status = 0;
    std::string body;
    std::string location;
    std::string contentType;
};

inline TAnswer HttpGet(int port, const std::string& target)
{
    httplib::Client client("127.0.0.1", port);
    client.set_read_timeout(20, 0);
    TAnswer a;
    if (auto res = client.Get(target.c_str())) {
        a.status = res->status;
        a.body = res->body;
        a.location = res->get_header_value("Location");
        a.contentType = res->get_header_value("Content-Type");
    }
    return a;
}

// One item as the program fills its buffer: by child name, the later one winning.
struct TWalkedItem
{
    std::map<std::string, std::string> fields;
    std::string currency;
    const std::string& operator[](const std::string& name) const
    {
        static const std::string empty;
        auto it = fields.find(name);
        return it == fields.end() ? empty : it->second;
    }
};

struct TWalkedAnswer
{
    bool parsed = false;
    std::string timestamp;
    std::vector<TWalkedItem> items;
    std::string totalItems;
    std::vector<std::map<std::string, std::string>> errors;
    std::size_t rootChildren = 0;
};

inline std::vector<pugi::xml_node> ElementChildren(pugi::xml_node node)
{
    std::vector<pugi::xml_node> out;
    for (pugi::xml_node c : node.children())
        if (c.type() == pugi::node_element)
            out.push_back(c);
    return out;
}

inline TWalkedAnswer WalkSearchAnswer(const std::string& xml)
{
    TWalkedAnswer w;
    pugi::xml_document doc;
    if (!doc.load_buffer(xml.data(), xml.size()))
        return w;
    w.parsed = true;
    const std::vector<pugi::xml_node> root = ElementChildren(doc.document_element());
    w.rootChildren = root.size();
    if (!root.empty() && std::string(root[0].name()) == "Timestamp")
        w.timestamp = root[0].text().get();
    if (xml.find("<Errors>") == std::string::npos && root.size() > 4) {
        for (pugi::xml_node group : ElementChildren(root[4]))
            for (pugi::xml_node item : ElementChildren(group)) {
                if (std::string(item.name()) != "Item")
                    continue;
                TWalkedItem it;
                for (pugi::xml_node f : ElementChildren(item)) {
                    it.fields[f.name()] = f.text().get();
                    if (std::string(f.name()) == "ConvertedCurrentPrice")
                        if (auto a = f.attribute("currencyID"))
                            it.currency = a.value();
                }
                w.items.push_back(std::move(it));
            }
    }
    for (auto it = root.rbegin(); it != root.rend(); ++it)
        if (std::string(it->name()) == "TotalItems") {
            w.totalItems = it->text().get();
            break;
        }
    for (pugi::xml_node n : root)
        if (std::string(n.name()) == "Errors") {
            std::map<std::string, std::string> e;
            for (pugi::xml_node f : ElementChildren(n))
                e[f.name()] = f.text().get();
            w.errors.push_back(std::move(e));
        }
    return w;
}
