#pragma once

#include <QString>

// 12 characters, each by a fair coin an upper-case letter or a digit: [A-Z0-9]{12}.
QString RandomToken();

// A pseudo-random integer in [0, bound); thread-safe.
int RandomBelow(int bound);

// Replaces the file with the text, every line ended by CR LF (the last one too), UTF-8 without
// byte-order mark. The file is written whole or not at all. True when written.
bool SaveTextToFile(const QString& path, const QString& text);

// Sets `siteId` to the eBay site id of one of the twelve site names (exact comparison);
// leaves it unchanged for any other name.
void EbaySiteId(const QString& country, QString& siteId);
