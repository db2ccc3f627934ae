#pragma once

#include <QString>

class TQuery;

// One row of table `alerts`: a saved search with its keywords and filters.
class TAlert
{
public:
    // From the current row of the open query.
    static TAlert Create(const TQuery& query);
    // Inserts a new alert after checking that the name is free (ignoring case). On refusal
    // Error() is true and ErrorMsg() says why; nothing is stored. Store errors throw
    // EDatabaseError.
    static TAlert CreateNew(TQuery& query, const QString& name, const QString& keywords,
                            const QString& country);

    // Writes every value to row Id(). Throws EDatabaseError.
    void Save(TQuery& query);

    bool Error() const { return fError; }
    const QString& ErrorMsg() const { return fErrorMsg; }
    int Id() const { return fId; }
    const QString& Name() const { return fName; }
    const QString& Keywords() const { return fKeywords; }
    int SearchType() const { return fSearchType; }
    int StartedWithin() const { return fStartedWithin; }
    int CategoryID() const { return fCategoryID; }
    const QString& CategoryName() const { return fCategoryName; }
    bool UseCategory() const { return fUseCategory; }
    bool AutomaticMode() const { return fAutomaticMode; }
    int AutomaticInterval() const { return fAutomaticInterval; }
    bool SearchDescription() const { return fSearchDescription; }
    bool Misspellings() const { return fMisspellings; }
    bool ListedinPaypal() const { return fListedInPaypal; }
    const QString& MinPrice() const { return fMinPrice; }
    const QString& MaxPrice() const { return fMaxPrice; }
    const QString& Country() const { return fCountry; }
    bool AudioAlert() const { return fAudioAlert; }

    void SetName(const QString& v) { fName = v; }
    void SetKeywords(const QString& v) { fKeywords = v; }
    void SetCountry(const QString& v) { fCountry = v; }
    void SetSearchType(int v) { fSearchType = v; }
    void SetStartedWithin(int v) { fStartedWithin = v; }
    void SetAutomaticMode(bool v) { fAutomaticMode = v; }
    void SetAutomaticInterval(int v) { fAutomaticInterval = v; }
    void SetSearchDescription(bool v) { fSearchDescription = v; }
    void SetListedinPaypal(bool v) { fListedInPaypal = v; }
    void SetMisspellings(bool v) { fMisspellings = v; }
    void SetAudioAlert(bool v) { fAudioAlert = v; }
    void SetMinPrice(const QString& v) { fMinPrice = v; }
    void SetMaxPrice(const QString& v) { fMaxPrice = v; }
    void SetUseCategory(bool v) { fUseCategory = v; }
    void SetCategoryID(int v) { fCategoryID = v; }
    // Keeps the empty text while CategoryID() is 0, so set the id first.
    void SetCategoryName(const QString& v) { fCategoryName = fCategoryID == 0 ? QString() : v; }

    // Automatic interval in milliseconds; 0 = never runs automatically.
    int IntervalMs() const;
    // Time-window limit in seconds (290 days for "Anytime" and any unknown index).
    int StartedWithinSeconds() const;
    // The stored category text: id, "|", the name in double quotes. Clears the name when id is 0.
    QString CategoryText();

private:
    void LoadFromRow(const TQuery& query);
    void ParseCategory(const QString& text);
    bool NameExists(TQuery& query);
    void InsertNew(TQuery& query);
    void BindParams(TQuery* query);

    bool fError = false;
    QString fErrorMsg;
    int fId = 0;
    QString fName;
    QString fKeywords;
    int fSearchType = 0;
    int fStartedWithin = 0;
    int fCategoryID = 0;
    QString fCategoryName;
    bool fUseCategory = false;
    bool fAutomaticMode = false;
    int fAutomaticInterval = 0;
    bool fSearchDescription = false;
    bool fMisspellings = false;
    bool fListedInPaypal = false;
    QString fMinPrice;
    QString fMaxPrice;
    QString fCountry;
    bool fAudioAlert = false;
    bool fIsNew = false;
};
