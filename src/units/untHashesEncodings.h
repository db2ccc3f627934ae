#pragma once

#include <QString>

// Lower-case hex SHA-1 of the text's characters, one byte each (low 8 bits of each code unit).
QString Sha1Hex(const QString& text);

// Standard base64 (RFC 4648, "=" padding, no line breaks) of the low 8 bits of each code unit.
QString Base64Encode(const QString& text);

// The bytes the two routines above work on.
QByteArray LowBytes(const QString& text);
