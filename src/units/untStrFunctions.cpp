#include "untStrFunctions.h"

#include <QtGlobal>

#include <utility>

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

QString KeyboardNeighbour(const QString& character, const QString& direction)
{
    static const char* const rows[] = {"qwertyuiop", "asdfghjkl", "zxcvbnm"};
    if (character.size() != 1)
        return QString();
    const char16_t c = character.at(0).unicode();
    const bool left = direction == QLatin1String("l");
    for (const char* row : rows) {
        const int n = static_cast<int>(qstrlen(row));
        for (int i = 0; i < n; ++i) {
            if (row[i] != c)
                continue;
            const int j = left ? i - 1 : i + 1;
            return j >= 0 && j < n ? QString(QLatin1Char(row[j])) : QString();
        }
    }
    return QString();
}

namespace {
// Letters A to Z only: accented capitals stay as they are.
QString LowerAscii(const QString& word)
{
    QString out = word;
    for (QChar& c : out) {
        if (c >= QLatin1Char('A') && c <= QLatin1Char('Z'))
            c = QChar(c.unicode() + ('a' - 'A'));
    }
    return out;
}

QString TrimCodes0To32(const QString& word)
{
    qsizetype from = 0;
    qsizetype to = word.size();
    while (from < to && word.at(from).unicode() <= 32)
        ++from;
    while (to > from && word.at(to - 1).unicode() <= 32)
        --to;
    return word.mid(from, to - from);
}

void AppendWordVariants(const QString& w, QStringList& out)
{
    const qsizetype n = w.size();
    const QChar blank = QLatin1Char(' ');
    for (qsizetype p = 0; p < n; ++p) // deletion
        out.append(QString(w).remove(p, 1));
    for (qsizetype p = 0; p + 1 < n; ++p) { // transposition
        QString v = w;
        std::swap(v[p], v[p + 1]);
        out.append(v);
    }
    for (qsizetype p = 0; p < n; ++p) // doubling
        out.append(w.at(p) == blank ? w : QString(w).insert(p, w.at(p)));
    for (qsizetype p = 0; p < n; ++p) { // forward copy
        QString v = w;
        if (p + 1 < n)
            v[p + 1] = w.at(p);
        out.append(v);
    }
    for (qsizetype p = 1; p < n; ++p) { // keyboard neighbour, left first
        for (const char* direction : {"l", "r"}) {
            if (w.at(p) == blank) {
                out.append(w);
                continue;
            }
            const QString neighbour = KeyboardNeighbour(QString(w.at(p)), QLatin1String(direction));
            out.append(QString(w).replace(p, 1, neighbour));
        }
    }
}
} // namespace

QString MisspellingVariants(const QString& keywords)
{
    QString text = keywords;
    text.remove(QLatin1Char(','));
    text.remove(QLatin1Char('.'));
    QStringList words;
    SplitText(QLatin1Char(' '), text, &words);
    QStringList variants;
    for (const QString& word : std::as_const(words)) {
        if (word.startsWith(QLatin1Char('-')))
            continue;
        AppendWordVariants(TrimCodes0To32(LowerAscii(word)), variants);
    }
    return QLatin1Char('(') + variants.join(QLatin1Char(',')) + QLatin1Char(')');
}
