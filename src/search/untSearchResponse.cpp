#include "untSearchResponse.h"

#include "untClock.h"
#include "untDateFunctions.h"
#include "untEndpoints.h"
#include "untHashesEncodings.h"
#include "untHttp.h"
#include "untLog.h"
#include "untSearchRequest.h"
#include "untStore.h"

#include <QUrl>

#include <pugixml.hpp>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <set>

namespace {
bool Named(const pugi::xml_node& node, const char* name)
{
    return std::strcmp(node.name(), name) == 0;
}

QString Text(const pugi::xml_node& node)
{
    return QString::fromUtf8(node.child_value());
}

std::vector<pugi::xml_node> ChildElements(const pugi::xml_node& parent)
{
    std::vector<pugi::xml_node> children;
    for (pugi::xml_node child = parent.first_child(); child; child = child.next_sibling()) {
        if (child.type() == pugi::node_element)
            children.push_back(child);
    }
    return children;
}

void FillItem(const pugi::xml_node& item, TSearchItem& buffer, QString& currency)
{
    for (const pugi::xml_node& field : ChildElements(item)) {
        if (Named(field, "ItemID")) {
            buffer.ebayId = Text(field);
        } else if (Named(field, "Title")) {
            buffer.title = Text(field);
        } else if (Named(field, "BidCount")) {
            buffer.bidCount = Text(field);
        } else if (Named(field, "ConvertedCurrentPrice")) {
            buffer.price = Text(field);
            for (const pugi::xml_attribute& a : field.attributes()) {
                if (std::strcmp(a.name(), "currencyID") == 0)
                    currency = QString::fromUtf8(a.value());
            }
        } else if (Named(field, "ConvertedBuyItNowPrice")) {
            buffer.buyNowPrice = Text(field);
        } else if (Named(field, "GalleryURL")) {
            buffer.picture = Text(field).remove(QLatin1String("http://"), Qt::CaseInsensitive);
        } else if (Named(field, "StartTime")) {
            buffer.startTime = Text(field);
        } else if (Named(field, "EndTime")) {
            buffer.endTime = Text(field);
        } else if (Named(field, "ViewItemURLForNaturalSearch")) {
            buffer.itemUrl = Text(field);
        }
    }
    buffer.currency = currency;
}

} // namespace

TSearchAnswer ParseSearchAnswer(const QString& answer)
{
    TSearchAnswer a;
    a.hasErrors = answer.contains(QLatin1String("<Errors>"));
    const QByteArray utf8 = answer.toUtf8();
    pugi::xml_document doc;
    const pugi::xml_parse_result parsed =
        doc.load_buffer(utf8.constData(), static_cast<size_t>(utf8.size()), pugi::parse_default,
                        pugi::encoding_utf8);
    const pugi::xml_node root = doc.document_element();
    if (!parsed || !root) {
        a.problem = QStringLiteral("not well-formed XML: ") +
                    QString::fromUtf8(parsed ? "no root element" : parsed.description());
        return a;
    }
    a.wellFormed = true;

    const std::vector<pugi::xml_node> children = ChildElements(root);
    const bool hasTimestamp = !children.empty() && Named(children.front(), "Timestamp");
    if (hasTimestamp)
        a.timestamp = Text(children.front());
    for (auto it = children.rbegin(); it != children.rend(); ++it) {
        if (Named(*it, "TotalItems")) {
            a.totalItems = Text(*it);
            break;
        }
    }
    for (const pugi::xml_node& errors : children) {
        if (!Named(errors, "Errors"))
            continue;
        for (const pugi::xml_node& field : ChildElements(errors)) {
            if (Named(field, "ShortMessage"))
                a.error.ShortMessage = Text(field);
            else if (Named(field, "LongMessage"))
                a.error.LongMessage = Text(field);
            else if (Named(field, "ErrorCode"))
                a.error.ErrorCode = Text(field);
            else if (Named(field, "SeverityCode"))
                a.error.SeverityCode = Text(field);
        }
    }
    if (a.hasErrors)
        return a;

    if (children.size() < 5) {
        a.problem = QStringLiteral("fewer than five elements under the root");
        return a;
    }
    if (!hasTimestamp) {
        a.problem = QStringLiteral("no Timestamp");
        return a;
    }
    try {
        ParseEbayTime(a.timestamp);
    } catch (const EConvertError& e) {
        a.problem = QString::fromStdString(e.what());
        return a;
    }
    QString currency;
    for (const pugi::xml_node& group : ChildElements(children.at(4))) {
        for (const pugi::xml_node& item : group.children("Item")) {
            TSearchItem buffer;
            FillItem(item, buffer, currency);
            a.items.push_back(std::move(buffer));
        }
    }
    return a;
}

std::vector<TSearchItem> KeepItems(const std::vector<TSearchItem>& items, const QString& timestamp,
                                   bool buyItNow, int limitSeconds)
{
    // Wall-clock arithmetic on the local date and time taken once: the same texts as converting
    // each time on its own, without three time-zone look-ups per item.
    const QDateTime local = TClock::Current().Now();
    const QDateTime now(local.date(), local.time(), Qt::UTC);
    const QDateTime ts = ParseEbayTime(timestamp);
    const QString format = QLatin1String(kLocalTimeFormat);
    std::vector<TSearchItem> kept;
    kept.reserve(items.size());
    for (const TSearchItem& item : items) {
        const QDateTime start = now.addSecs(-SecondsBetween(ParseEbayTime(item.startTime), ts));
        const QDateTime end = now.addSecs(SecondsBetween(ts, ParseEbayTime(item.endTime)));
        // The stored texts hold whole seconds; the distance is taken from what they say.
        const QDateTime shown = buyItNow ? start : end;
        const qint64 d = SecondsBetween(now, shown.addMSecs(-shown.time().msec()));
        siMain.LogInt64("SecDif", d);
        siMain.LogString("Auction ID", item.ebayId);
        if (d < limitSeconds && (!buyItNow || !item.buyNowPrice.isEmpty())) {
            TSearchItem converted = item;
            converted.localStart = start.toString(format);
            converted.localEnd = end.toString(format);
            kept.push_back(std::move(converted));
        }
    }
    return kept;
}

int TotalItemsCount(const QString& text)
{
    bool ok = false;
    const int n = text.toInt(&ok, 10);
    return ok ? n : 0;
}

QString NewItemsMessage(const QString& alertName, int newItems, int alertId)
{
    return QStringLiteral(
               "<B><FONT color=\"clBlack\" size=\"3\" face=\"ARIAL\"><I>Bid</I></FONT><FONT "
               "color=\"clRed\" size=\"3\" face=\"ARIAL\">lark</FONT></B><br><b><FONT "
               "color=\"clBlack\">New Items: ") +
           alertName.toHtmlEscaped() + QStringLiteral("</font></b><br>") +
           QString::number(newItems) + QStringLiteral(" new auction(s) found.<br><ahref=\"") +
           QString::number(alertId) + QStringLiteral("\">Click here to view the results</a>");
}

QString ErrorMessage(const QString& alertName, const TAPIError& error, int alertId)
{
    return QStringLiteral("<b><FONT color=\"clred\">Error: ") + alertName.toHtmlEscaped() +
           QStringLiteral(" (") + error.ErrorCode.toHtmlEscaped() +
           QStringLiteral(")</font></b><br>Severity: ") + error.SeverityCode.toHtmlEscaped() +
           QStringLiteral("<br>Details: ") + error.LongMessage.toHtmlEscaped() +
           QStringLiteral("<br>Click <ahref=\"") + QString::number(alertId) +
           QStringLiteral("\">here</a> to change your settings");
}

QString WarningMessage(const QString& alertName, const QString& totalItems, int alertId)
{
    return QStringLiteral("<b><FONT color=\"clMaroon\">Warning: ") + alertName.toHtmlEscaped() +
           QStringLiteral("</font></b><br>Details: This alert contains more then ") +
           QString::number(Search::kEntryCount) + QStringLiteral(" results (") +
           totalItems.toHtmlEscaped() +
           QStringLiteral(" found) please refine your search.<br>Click <ahref=\"") +
           QString::number(alertId) + QStringLiteral("\">here</a> to change your settings");
}

QString UnreadableMessage(const QString& alertName, int alertId)
{
    return QStringLiteral("<b><FONT color=\"clred\">Error: ") + alertName.toHtmlEscaped() +
           QStringLiteral("</font></b><br>Details: The answer of the search service could not be "
                          "read; your results were kept as they were. Try again later.<br>Click "
                          "<ahref=\"") +
           QString::number(alertId) + QStringLiteral("\">here</a> to change your settings");
}

QString ErrorReportUrl(const QString& baseUrl, const QString& installationId,
                       const QString& errorCode)
{
    // The code comes from the network: encoded, so that "&" or "#" cannot change the address.
    return Endpoints::Address(baseUrl, Endpoints::kErrorReport) + QStringLiteral("?t=") +
           Base64Encode(installationId) + QStringLiteral("&c=") +
           QString::fromLatin1(QUrl::toPercentEncoding(errorCode));
}

namespace {
bool Stopping(const TAnswerContext& c)
{
    return c.stop && c.stop->load();
}

void ResultCountWarning(const TSearchAnswer& answer, const TAnswerContext& c)
{
    if (answer.totalItems && TotalItemsCount(*answer.totalItems) > Search::kEntryCount)
        c.steps->AskPopup(WarningMessage(c.alertName, *answer.totalItems, c.alertId));
}

// Inserts the new items and refreshes the known ones; false when the store did not take the run.
bool MergeKept(const std::vector<TSearchItem>& kept, const TAnswerContext& c)
{
    std::optional<TConnection::Transaction> transaction;
    try {
        transaction.emplace(*c.connection);
    } catch (const EDatabaseError& e) {
        // Each statement still runs whole; only the all-at-once visibility is lost.
        siMain.LogString("Transaction not started", QString::fromStdString(e.what()));
    }
    int found = 0;
    for (const TSearchItem& item : kept) {
        OpenQuery(c.query, Sql::kItemKnown, 2, {c.alertId, item.ebayId});
        const bool known = c.query->Active() && c.query->RecordCount() > 0;
        c.query->Close();
        if (known) {
            ExecQuery(c.query, Sql::kUpdateItem, 6,
                      {item.price, item.bidCount, QStringLiteral("seen"), c.token, c.alertId,
                       item.ebayId});
        } else {
            ExecQuery(c.query, Sql::kInsertItem, 15,
                      {c.alertId, item.picture, item.ebayId, item.startTime, item.localStart,
                       item.endTime, item.localEnd, item.title, item.itemUrl, item.price,
                       item.buyNowPrice, item.currency, item.bidCount, c.token,
                       QStringLiteral("new")});
        }
        ++found;
        siMain.LogInt("fndC", found);
    }
    if (transaction) {
        try {
            transaction->Commit();
        } catch (const EDatabaseError& e) {
            // Nothing of this run was stored, so the sweep must not run either.
            siMain.LogString("Merge not stored", QString::fromStdString(e.what()));
            return false;
        }
    }
    return true;
}
} // namespace

TAnswerOutcome ProcessSearchAnswer(const QString& answer, const TAnswerContext& c)
{
    if (answer.contains(QLatin1String("Error: #"))) {
        siMain.LogString("Search refused by the service", answer);
        return TAnswerOutcome::Refused;
    }
    if (answer.size() < 30)
        return TAnswerOutcome::TooShort;
    if (Stopping(c))
        return TAnswerOutcome::Stopped;

    siMain.LogString("eBay Response", answer);
    c.steps->SetStatus(QStringLiteral("Processing data..."));
    const TSearchAnswer parsed = ParseSearchAnswer(answer);
    siMain.LogString("responseTimestamp", parsed.timestamp);

    if (parsed.wellFormed && parsed.hasErrors) {
        c.steps->AskPopup(ErrorMessage(c.alertName, parsed.error, c.alertId));
        if (c.http && !Stopping(c))
            HttpGetText(ErrorReportUrl(c.serviceBaseUrl, c.installationId, parsed.error.ErrorCode),
                        *c.http);
        ResultCountWarning(parsed, c);
        return TAnswerOutcome::ApiErrors;
    }

    std::vector<TSearchItem> kept;
    QString problem = parsed.problem;
    if (problem.isEmpty()) {
        try {
            kept = KeepItems(parsed.items, parsed.timestamp, c.buyItNow, c.limitSeconds);
        } catch (const EConvertError& e) {
            problem = QString::fromStdString(e.what());
        }
    }
    if (!problem.isEmpty()) {
        siMain.LogString("Unreadable answer", problem);
        c.steps->AskPopup(UnreadableMessage(c.alertName, c.alertId));
        return TAnswerOutcome::Unreadable;
    }

    int newItems = 0;
    {
        TAlertMergeGuard guard(c.alertId, c.stop);
        if (!guard.Acquired() || Stopping(c))
            return TAnswerOutcome::Stopped;
        if (!MergeKept(kept, c))
            return TAnswerOutcome::NotStored;
        c.steps->SetStatus(QStringLiteral("Optimizing database..."));
        ExecQuery(c.query, Sql::kSweepItems, 2, {c.token, c.alertId});
        c.steps->SetStatus(QStringLiteral("Checking for new auctions..."));
        OpenQuery(c.query, Sql::kNewItems, 2, {QStringLiteral("new"), c.alertId});
        newItems = c.query->Active() ? c.query->RecordCount() : 0;
        c.query->Close();
    }
    if (newItems > 0) {
        c.steps->AskSound();
        c.steps->AskPopup(NewItemsMessage(c.alertName, newItems, c.alertId));
    }
    ResultCountWarning(parsed, c);
    return TAnswerOutcome::Merged;
}

namespace {
std::mutex gGuardMutex;
std::condition_variable gGuardFreed;
std::set<int> gMerging;
} // namespace

TAlertMergeGuard::TAlertMergeGuard(int alertId, const std::atomic<bool>* stop) : fAlertId(alertId)
{
    std::unique_lock lock(gGuardMutex);
    while (gMerging.count(alertId)) {
        if (stop && stop->load())
            return;
        gGuardFreed.wait_for(lock, std::chrono::milliseconds(100));
    }
    gMerging.insert(alertId);
    fAcquired = true;
}

TAlertMergeGuard::~TAlertMergeGuard()
{
    if (!fAcquired)
        return;
    {
        std::lock_guard lock(gGuardMutex);
        gMerging.erase(fAlertId);
    }
    gGuardFreed.notify_all();
}
