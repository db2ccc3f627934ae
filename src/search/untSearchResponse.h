#pragma once

#include <QString>

#include <atomic>
#include <optional>
#include <vector>

class TConnection;
class THttpClient;
class TQuery;

// The errors eBay returned, in the order the answer lists the fields.
struct TAPIError
{
    QString ShortMessage;
    QString LongMessage;
    QString ErrorCode;
    QString SeverityCode;
};

// One listing of an answer; texts as the answer gives them, plus the two local times.
struct TSearchItem
{
    QString ebayId;
    QString title;
    QString bidCount;
    QString price;
    QString currency;
    QString buyNowPrice;
    QString picture;
    QString startTime;
    QString endTime;
    QString itemUrl;
    QString localStart;
    QString localEnd;
};

// What could be read of an answer.
struct TSearchAnswer
{
    bool wellFormed = false;
    bool hasErrors = false; // the text contains "<Errors>"
    QString problem;        // why the answer cannot be merged; empty when it can
    QString timestamp;
    TAPIError error;
    std::vector<TSearchItem> items;    // the currency is carried from one item to the next
    std::optional<QString> totalItems; // text of the last root child TotalItems
};

TSearchAnswer ParseSearchAnswer(const QString& answer);

// Local times, then the time window (strictly below `limitSeconds`) and, for Buy It Now, the
// buy-now price. Throws EConvertError for a time text that cannot be read.
std::vector<TSearchItem> KeepItems(const std::vector<TSearchItem>& items, const QString& timestamp,
                                   bool buyItNow, int limitSeconds);

// The number a TotalItems text stands for; 0 when it is not a decimal number.
int TotalItemsCount(const QString& text);

// Pop-up texts. Texts from the network and the alert's name are HTML-escaped.
QString NewItemsMessage(const QString& alertName, int newItems, int alertId);
QString ErrorMessage(const QString& alertName, const TAPIError& error, int alertId);
QString WarningMessage(const QString& alertName, const QString& totalItems, int alertId);
QString UnreadableMessage(const QString& alertName, int alertId);

QString ErrorReportUrl(const QString& baseUrl, const QString& installationId,
                       const QString& errorCode);

// What a run shows while its answer is processed; the worker hands each to the user-interface
// thread.
class TSearchSteps
{
public:
    virtual ~TSearchSteps() = default;
    virtual void SetStatus(const QString& text) = 0;
    virtual void AskPopup(const QString& message) = 0;
    virtual void AskSound() = 0;
};

struct TAnswerContext
{
    TConnection* connection = nullptr;
    TQuery* query = nullptr;
    int alertId = 0;
    QString alertName;
    QString token;
    bool buyItNow = false;
    int limitSeconds = 0;
    THttpClient* http = nullptr; // for the error report; none: no report
    QString serviceBaseUrl;
    QString installationId;
    const std::atomic<bool>* stop = nullptr; // set when the program quits
    TSearchSteps* steps = nullptr;
};

enum class TAnswerOutcome
{
    Refused,    // "Error: #": the service refused the request
    TooShort,   // fewer than 30 characters, "ERROR" included
    Unreadable, // not an answer we can read; nothing stored changed
    ApiErrors,  // eBay's errors shown and reported
    Merged,
    NotStored, // the store refused the merge; nothing stored changed
    Stopped,   // the program quits; nothing stored changed
};

// Everything after the fetch: the first checks, then the merge with its sweep and new-items
// announcement or the error path, then the result-count warning.
TAnswerOutcome ProcessSearchAnswer(const QString& answer, const TAnswerContext& context);

// Runs of one alert merge one after the other: a second run waits until the first has counted
// its new items. The wait ends early when `stop` turns true (then Acquired() is false).
class TAlertMergeGuard
{
public:
    TAlertMergeGuard(int alertId, const std::atomic<bool>* stop);
    ~TAlertMergeGuard();
    TAlertMergeGuard(const TAlertMergeGuard&) = delete;
    TAlertMergeGuard& operator=(const TAlertMergeGuard&) = delete;
    bool Acquired() const { return fAcquired; }

private:
    int fAlertId;
    bool fAcquired = false;
};
