#pragma once

// Search answers in the service's XML shape, for tests and benchmarks.

#include <QDateTime>
#include <QList>
#include <QString>

struct TCannedItem
{
    QString id;
    QString title = QStringLiteral("Item");
    QString bidCount = QStringLiteral("0");
    QString price = QStringLiteral("1.00");
    QString currency = QStringLiteral("USD"); // empty: no currencyID attribute
    QString buyNow;                           // empty: no ConvertedBuyItNowPrice
    QString gallery = QStringLiteral("http://pics.example/a.jpg");
    QString start;
    QString end;
    QString url = QStringLiteral("http://item.example/1");
};

inline QString EbayTime(const QDateTime& utc)
{
    return utc.toUTC().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzzZ"));
}

inline QString XmlEscaped(const QString& text)
{
    return text.toHtmlEscaped();
}

inline QString ItemXml(const TCannedItem& item)
{
    QString x = QStringLiteral("<Item><ItemID>") + item.id + QStringLiteral("</ItemID><Title>") +
                XmlEscaped(item.title) + QStringLiteral("</Title><BidCount>") + item.bidCount +
                QStringLiteral("</BidCount><ConvertedCurrentPrice");
    if (!item.currency.isEmpty())
        x += QStringLiteral(" currencyID=\"") + item.currency + QStringLiteral("\"");
    x += QStringLiteral(">") + item.price + QStringLiteral("</ConvertedCurrentPrice>");
    if (!item.buyNow.isEmpty())
        x += QStringLiteral("<ConvertedBuyItNowPrice>") + item.buyNow +
             QStringLiteral("</ConvertedBuyItNowPrice>");
    x += QStringLiteral("<GalleryURL>") + XmlEscaped(item.gallery) +
         QStringLiteral("</GalleryURL><StartTime>") + item.start +
         QStringLiteral("</StartTime><EndTime>") + item.end +
         QStringLiteral("</EndTime><ViewItemURLForNaturalSearch>") + XmlEscaped(item.url) +
         QStringLiteral("</ViewItemURLForNaturalSearch></Item>");
    return x;
}

// Root children: Timestamp, Ack, Build, Version, SearchResult, PageNumber, TotalPages, TotalItems.
inline QString AnswerXml(const QString& timestamp, const QList<TCannedItem>& items,
                         const QString& totalItems = QString())
{
    QString x = QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                               "<FindItemsAdvancedResponse><Timestamp>") +
                timestamp +
                QStringLiteral("</Timestamp><Ack>Success</Ack><Build>1</Build><Version>1</Version>"
                               "<SearchResult><ItemArray>");
    for (const TCannedItem& item : items)
        x += ItemXml(item);
    x += QStringLiteral("</ItemArray></SearchResult><PageNumber>1</PageNumber>"
                        "<TotalPages>1</TotalPages><TotalItems>") +
         (totalItems.isEmpty() ? QString::number(items.size()) : totalItems) +
         QStringLiteral("</TotalItems></FindItemsAdvancedResponse>");
    return x;
}

inline QString ErrorsXml(const QString& code, const QString& severity, const QString& longMessage,
                         const QString& totalItems = QStringLiteral("0"))
{
    return QStringLiteral("<?xml version=\"1.0\"?><FindItemsAdvancedResponse><Timestamp>"
                          "2026-01-01T12:00:00.000Z</Timestamp><Ack>Failure</Ack><Errors>"
                          "<ShortMessage>Short</ShortMessage><LongMessage>") +
           XmlEscaped(longMessage) + QStringLiteral("</LongMessage><ErrorCode>") + code +
           QStringLiteral("</ErrorCode><SeverityCode>") + severity +
           QStringLiteral("</SeverityCode></Errors><Version>1</Version><Build>1</Build>"
                          "<TotalItems>") +
           totalItems + QStringLiteral("</TotalItems></FindItemsAdvancedResponse>");
}
