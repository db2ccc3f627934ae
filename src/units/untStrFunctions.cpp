#include "untStrFunctions.h"

#include <QtGlobal>

namespace {
bool IsBlank(QChar c)
{
    return c.unicode() >= 1 && c.unicode() <= 32;
}
} // namespace

void SplitText(QChar delimiter, const QString& text, QStringList* list)
{
    Q_ASSERT_X(list, "SplitText", "Assertion failure");
    if (!list)
        return;
    list->clear();

    qsizetype n = text.indexOf(QChar(0));
    if (n < 0)
        n = text.size();
    const QChar quote = QLatin1Char('"');
    qsizetype i = 0;
    while (i < n && IsBlank(text.at(i)))
        ++i;
    while (i < n) {
        QString item;
        if (text.at(i) == quote) {
            ++i;
            while (i < n) {
                if (text.at(i) == quote) {
                    if (i + 1 < n && text.at(i + 1) == quote) {
                        item += quote;
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                item += text.at(i++);
            }
        } else {
            const qsizetype start = i;
            while (i < n && text.at(i).unicode() > 32 && text.at(i) != delimiter)
                ++i;
            item = text.mid(start, i - start);
        }
        list->append(item);
        while (i < n && IsBlank(text.at(i)))
            ++i;
        if (i < n && text.at(i) == delimiter) {
            if (i + 1 >= n)
                list->append(QString());
            do {
                ++i;
            } while (i < n && IsBlank(text.at(i)));
        }
    }
}

int WordCount(const QString& text)
{
    QStringList words;
    SplitText(QLatin1Char(' '), text, &words);
    return static_cast<int>(words.size());
}
