#include "untHashesEncodings.h"

#include <QCryptographicHash>

QByteArray LowBytes(const QString& text)
{
    QByteArray bytes(text.size(), Qt::Uninitialized);
    const QChar* src = text.constData();
    for (qsizetype i = 0; i < text.size(); ++i)
        bytes[i] = static_cast<char>(src[i].unicode() & 0xFF);
    return bytes;
}

QString Sha1Hex(const QString& text)
{
    return QString::fromLatin1(
        QCryptographicHash::hash(LowBytes(text), QCryptographicHash::Sha1).toHex());
}

QString Base64Encode(const QString& text)
{
    return QString::fromLatin1(LowBytes(text).toBase64());
}
