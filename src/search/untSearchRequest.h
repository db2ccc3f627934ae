#pragma once

#include <QString>

class TAlert;

namespace Search {
// Entries asked for per search; the result-count warning compares with it too.
inline constexpr int kEntryCount = 100;
// The request key is drawn below this bound.
inline constexpr int kKeyBound = 2999000;
} // namespace Search

// The query text of an alert: base64 of its keywords, or of their misspelling variants.
QString BuildQueryText(const TAlert& alert);

// A fresh request key: decimal text of a pseudo-random number below Search::kKeyBound.
QString DrawRequestKey();

struct TSearchRequest
{
    QString query;  // Q, base64
    QString key;    // K
    QString siteId; // S
    bool buyItNow = false;
    QString category; // C, empty when the category is not sent
    QString hash1;
    QString hash2;
    QString url;

    bool NothingToAsk() const { return query.isEmpty() && category.isEmpty(); }
};

// The signed search address for the alert on the service at `baseUrl` ("http://host:port").
TSearchRequest ComposeSearchRequest(const TAlert& alert, const QString& baseUrl,
                                    const QString& key);

// H1 = SHA-1(Q + K + entries), H2 = SHA-1(K + H1); the suggestion request passes no entries.
QString SignatureHash1(const QString& query, const QString& key, const QString& entries);
QString SignatureHash2(const QString& key, const QString& hash1);

// Pop-up text when an alert has neither keywords nor a usable category.
QString NothingToAskMessage(const QString& alertName);
