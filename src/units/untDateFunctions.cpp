#include "untDateFunctions.h"

#include "untClock.h"

QString SecondsToText(qint32 s)
{
    QString text;
    if (s >= 3600)
        text += QString::number(s / 3600) + QStringLiteral("h ");
    if (s >= 60)
        text += QString::number((s % 3600) / 60) + QStringLiteral("m ");
    text += QString::number(s % 60) + QStringLiteral("s");
    return text;
}

namespace {
int Field(const QString& text, int from, int length)
{
    // Positions are counted from 1, as in the time text's description.
    int value = 0;
    for (int i = from - 1; i < from - 1 + length; ++i) {
        const QChar c = text.at(i);
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            throw EConvertError("'" + text.toStdString() + "' is not a valid eBay time");
        value = value * 10 + (c.unicode() - '0');
    }
    return value;
}
} // namespace

QDateTime ParseEbayTime(const QString& text)
{
    if (text.size() < 22)
        throw EConvertError("'" + text.toStdString() + "' is too short for an eBay time");
    const QDate date(Field(text, 1, 4), Field(text, 6, 2), Field(text, 9, 2));
    const QTime time(Field(text, 12, 2), Field(text, 15, 2), Field(text, 18, 2),
                     Field(text, 21, 2));
    if (!date.isValid() || !time.isValid())
        throw EConvertError("'" + text.toStdString() + "' is not a valid eBay time");
    return QDateTime(date, time, Qt::UTC);
}

qint64 SecondsBetween(const QDateTime& a, const QDateTime& b)
{
    const qint64 ms = a.msecsTo(b);
    return (ms < 0 ? -ms : ms) / 1000;
}

QString EbayTimeToLocal(const QString& a, const QString& b, bool later)
{
    const qint64 d = SecondsBetween(ParseEbayTime(a), ParseEbayTime(b));
    const QDateTime now = TClock::Current().Now();
    return LocalTimeToText(later ? now.addSecs(d) : now.addSecs(-d));
}

QString LocalTimeToText(const QDateTime& local)
{
    return local.toString(QLatin1String(kLocalTimeFormat));
}

QDateTime LocalTimeFromText(const QString& text)
{
    QDateTime t = QDateTime::fromString(text, QLatin1String(kLocalTimeFormat));
    return t;
}
