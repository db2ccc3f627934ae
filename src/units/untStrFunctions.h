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
