#pragma once

#include <QDateTime>
#include <QString>

#include <stdexcept>

// A text that does not hold the expected number or date.
class EConvertError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// Local times are stored in this one fixed form, so that writing and reading back always agree.
inline constexpr const char* kLocalTimeFormat = "dd/MM/yyyy HH:mm:ss";

// "25h 1m 1s", "1m 0s", "59s"; hours are not folded into days.
QString SecondsToText(qint32 seconds);

// Reads "YYYY-MM-DDThh:mm:ss.fffZ" by fixed positions, without time zone conversion (the result
// is a UTC date-time holding the time as written). Milliseconds come from the first two digits of
// the fraction only. Throws EConvertError for a short text, a non-decimal field or no valid date.
QDateTime ParseEbayTime(const QString& text);

// Absolute difference in whole seconds, fraction dropped.
qint64 SecondsBetween(const QDateTime& a, const QDateTime& b);

// The moment `a` on the local clock, given that the eBay moment `b` is now: now plus (later) or
// minus the distance between the two, as text in kLocalTimeFormat. Throws EConvertError.
QString EbayTimeToLocal(const QString& a, const QString& b, bool later);

QString LocalTimeToText(const QDateTime& local);
// Reads kLocalTimeFormat back as a local date-time; invalid when the text is not of that form.
QDateTime LocalTimeFromText(const QString& text);
