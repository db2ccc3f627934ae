#include "untPages.h"

#include "untServiceText.h"

namespace {

std::string Frame(const std::string& title, const std::string& body)
{
    std::string html;
    html.reserve(body.size() + 1200);
    html += "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
            "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\"><title>";
    AppendXmlEscaped(html, title);
    html += " - Bidlark</title><style>"
            "body{font-family:Arial,Helvetica,sans-serif;margin:0;background:#f4f6f9;color:#222}"
            "header{background:#1d3b6e;color:#fff;padding:14px 24px;font-size:22px}"
            "header i{color:#fff}header span{color:#ff5a4e}"
            "main{max-width:760px;margin:24px auto;background:#fff;padding:20px 28px;"
            "border-radius:6px;box-shadow:0 1px 3px rgba(0,0,0,.15)}"
            "h1{font-size:20px;margin-top:0}a{color:#1d5bbf}td{padding:4px 10px 4px 0}"
            ".price{font-size:20px;font-weight:bold}.muted{color:#666;font-size:13px}"
            "</style></head><body><header><b><i>Bid</i><span>lark</span></b></header><main>";
    html += body;
    html += "</main></body></html>\n";
    return html;
}

} // namespace

std::string StaticPage(EPage page, const std::string& backendName)
{
    switch (page) {
    case EPage::Share:
        return Frame("Share Bidlark",
                     "<h1>Share Bidlark</h1><p>Bidlark watches eBay for you: save a search once, "
                     "and it tells you when new listings turn up.</p><p>Tell a friend: send them "
                     "the address of this site, or the installer from the download page of "
                     "<a href=\"/updates.php?ABB=0\">the update service</a>.</p>");
    case EPage::Donate:
        return Frame("Donate",
                     "<h1>Support Bidlark</h1><p>Bidlark is made by a small team in its spare "
                     "time. If it found you a bargain, a donation keeps it going.</p><p>Thank "
                     "you for using Bidlark.</p>");
    case EPage::Tutorial:
        return Frame(
            "Tutorial",
            "<h1>Getting started</h1><ol>"
            "<li>Click <b>Add new alert</b> and give the alert a name and keywords.</li>"
            "<li>Choose the eBay site, whether you want all auctions or Buy It Now only, and how "
            "soon listings must end (or how recently they must have started).</li>"
            "<li>Optionally pick a category (the <b>Category Suggest</b> button finds one for a "
            "keyword), a price range and an interval for automatic searches.</li>"
            "<li>Save. Bidlark runs the alert and announces new items in a pop-up above the "
            "notification area.</li></ol><h1>Keywords</h1><table>"
            "<tr><td><code>ipod nano</code></td><td>both words</td></tr>"
            "<tr><td><code>(ipod,iphone)</code></td><td>either word</td></tr>"
            "<tr><td><code>\"ipod nano\"</code></td><td>the exact phrase</td></tr>"
            "<tr><td><code>ipod -case</code></td><td>without the word case</td></tr>"
            "<tr><td><code>ipod -(case,cover)</code></td><td>without either word</td></tr>"
            "<tr><td><code>ipod*</code></td><td>ipods, ipodnano, ...</td></tr></table>");
    case EPage::RecommendedLinks:
        return Frame("Recommended links",
                     "<h1>Recommended links</h1><ul>"
                     "<li><a href=\"/tutorial/\">Getting started with Bidlark</a></li>"
                     "<li><a href=\"/share/\">Share Bidlark with a friend</a></li>"
                     "<li><a href=\"/donate/\">Support Bidlark</a></li></ul>"
                     "<p class=\"muted\">Buying safely: check a seller's feedback, pay through "
                     "eBay, and keep your messages on eBay.</p>");
    case EPage::Index:
        break;
    }
    return Frame(
        "bidlark-service",
        "<h1>bidlark-service</h1><p>The search service of Bidlark is running with the <b>" +
            XmlEscaped(backendName) +
            "</b> backend.</p><ul><li><a href=\"/tutorial/\">Tutorial</a></li>"
            "<li><a href=\"/program_recommended_links.php\">Recommended links</a></li>"
            "<li><a href=\"/updates.php?ABB=0\">Update information</a></li></ul>");
}

std::string ItemPage(const TDemoItemRecord& record, std::int64_t nowMs)
{
    const TItem& it = record.item;
    std::string body;
    body += "<h1>";
    AppendXmlEscaped(body, it.title);
    body += "</h1><table><tr><td rowspan=\"6\"><img width=\"192\" height=\"192\" src=\"/img/";
    AppendXmlEscaped(body, it.itemId);
    body += ".png\" alt=\"\"></td><td class=\"price\">";
    AppendXmlEscaped(body, it.currency);
    body += ' ';
    AppendCents(body, it.priceCents);
    body += "</td></tr><tr><td>";
    body += it.listingType == "Chinese" ? "Auction, " + std::to_string(it.bidCount) + " bid(s)"
                                        : std::string("Buy It Now");
    if (it.buyItNowCents && it.listingType == "Chinese") {
        body += ", Buy It Now ";
        AppendCents(body, *it.buyItNowCents);
    }
    body += "</td></tr><tr><td>Started ";
    AppendEbayTime(body, it.startMs);
    body += "</td></tr><tr><td>";
    if (it.endMs) {
        body += *it.endMs > nowMs ? "Ends " : "Ended ";
        AppendEbayTime(body, *it.endMs);
    }
    body += "</td></tr><tr><td>Category: ";
    AppendXmlEscaped(body, it.categoryName);
    body += "</td></tr><tr><td class=\"muted\">Item number ";
    AppendXmlEscaped(body, it.itemId);
    body += it.payPal ? ", PayPal accepted" : "";
    body += "</td></tr></table><p>";
    AppendXmlEscaped(body, record.description);
    body += "</p><p class=\"muted\">This listing belongs to the Bidlark demo market; nothing here "
            "can be bought.</p>";
    return Frame(it.title, body);
}

std::string NotFoundPage(const std::string& what)
{
    return Frame("Not found", "<h1>Not found</h1><p>" + XmlEscaped(what) + "</p>");
}
