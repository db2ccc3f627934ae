#pragma once

#include <QString>
#include <QStringList>

// Splits like a delimited text list: blanks and control characters (codes 1 to 32) always
// separate items, runs of them count as one, a double-quoted item keeps its blanks (a doubled
// quote inside stands for one), and a delimiter at the very end adds an empty item.
// `list` must be given.
void SplitText(QChar delimiter, const QString& text, QStringList* list);

// Number of items SplitText yields with the blank as delimiter; a quoted phrase is one word.
int WordCount(const QString& text);

// Likely misspellings of every word of the keywords, in eBay's form for alternatives:
// "(v1,v2,...)". Words starting with "-" (excluded words) leave no trace; "," and "." are dropped
// first. A word of n >= 2 characters gives 6n-3 variants, one character gives three.
QString MisspellingVariants(const QString& keywords);

// The neighbouring letter of a one-character text on a US keyboard's letter rows: the one before it
// for direction "l", the one after it for any other direction. Empty at a row's end and for
// anything that is not one of the 26 lower-case letters.
QString KeyboardNeighbour(const QString& character, const QString& direction);
