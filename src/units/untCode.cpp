#include "untCode.h"

#include <QRandomGenerator>
#include <QSaveFile>

QString RandomToken()
{
    // The global generator is seeded by the system and safe across threads, so two tokens made
    // in the same millisecond still differ.
    QRandomGenerator* rng = QRandomGenerator::global();
    QString token;
    token.reserve(12);
    while (token.size() < 12) {
        if (rng->bounded(2) == 0)
            token += QChar(u'A' + rng->bounded(26));
        else
            token += QChar(u'0' + rng->bounded(10));
    }
    return token;
}

int RandomBelow(int bound)
{
    return bound <= 0 ? 0 : static_cast<int>(QRandomGenerator::global()->bounded(bound));
}

bool SaveTextToFile(const QString& path, const QString& text)
{
    QString body;
    body.reserve(text.size() + 16);
    const qsizetype n = text.size();
    qsizetype i = 0;
    while (i < n) {
        const qsizetype start = i;
        while (i < n && text.at(i) != u'\r' && text.at(i) != u'\n')
            ++i;
        body += QStringView(text).mid(start, i - start);
        body += QStringLiteral("\r\n");
        if (i < n && text.at(i) == u'\r')
            ++i;
        if (i < n && text.at(i) == u'\n')
            ++i;
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    const QByteArray bytes = body.toUtf8();
    if (file.write(bytes) != bytes.size()) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

void EbaySiteId(const QString& country, QString& siteId)
{
    static const struct
    {
        const char16_t* name;
        const char* id;
    } sites[] = {
        {u"Australia", "15"},     {u"Canada", "2"},        {u"eBay Motors", "100"},
        {u"United Kingdom", "3"}, {u"United States", "0"}, {u"Spain", "186"},
        {u"Italy", "101"},        {u"India", "203"},       {u"Belgium", "123"},
        {u"Singapore", "216"},    {u"Hong Kong", "201"},   {u"France", "71"},
    };
    for (const auto& site : sites) {
        if (country == QStringView(site.name)) {
            siteId = QString::fromLatin1(site.id);
            return;
        }
    }
}
