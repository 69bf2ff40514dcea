#include "dates.h"

#include <QLocale>
#include <QRegularExpression>
#include <QTimeZone>
#include <cmath>

namespace foundation::dates {
namespace {

const QDateTime &referenceDate()
{
    static const QDateTime ref(QDate(2001, 1, 1), QTime(0, 0), QTimeZone::utc());
    return ref;
}

// The shape a pattern's output must have: every letter run of the pattern
// becomes that many digits (month and day names are not used in stored stamps).
QRegularExpression shapeOf(const QString &pattern)
{
    QString re = QStringLiteral("^");
    bool quoted = false;
    for (const QChar c : pattern) {
        if (c == u'\'') {
            quoted = !quoted;
            continue;
        }
        if (!quoted && c.isLetter())
            re += QStringLiteral("[0-9]");
        else
            re += QRegularExpression::escape(QString(c));
    }
    re += u'$';
    return QRegularExpression(re);
}

} // namespace

QString localStamp(const QDateTime &when, const QString &pattern)
{
    return QLocale::c().toString(when.toLocalTime(), pattern);
}

QString utcStamp(const QDateTime &when)
{
    return QLocale::c().toString(when.toUTC(), QStringLiteral("yyyy-MM-ddTHH:mm:ss'Z'"));
}

std::optional<QDateTime> parseUtcStamp(const QString &text)
{
    // \z, not $: $ also matches before a final line feed.
    static const QRegularExpression re(
        QStringLiteral("^([0-9]{4})-([0-9]{2})-([0-9]{2})T([0-9]{2}):([0-9]{2}):([0-9]{2})Z\\z"));
    const auto m = re.match(text);
    if (!m.hasMatch())
        return std::nullopt;
    const QDate date(m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3).toInt());
    const QTime time(m.captured(4).toInt(), m.captured(5).toInt(), m.captured(6).toInt());
    if (!date.isValid() || !time.isValid())
        return std::nullopt;
    return QDateTime(date, time, QTimeZone::utc());
}

std::optional<QDateTime> parseLocalStamp(const QString &text, const QString &pattern)
{
    if (!shapeOf(pattern).match(text).hasMatch())
        return std::nullopt;
    const QDateTime dt = QLocale::c().toDateTime(text, pattern);
    if (!dt.isValid() || QLocale::c().toString(dt, pattern) != text)
        return std::nullopt;
    return dt;
}

double secondsSinceReferenceDate(const QDateTime &when)
{
    return double(referenceDate().msecsTo(when)) / 1000.0;
}

QDateTime fromSecondsSinceReferenceDate(double seconds)
{
    return referenceDate().addMSecs(qint64(std::llround(seconds * 1000.0))).toUTC();
}

} // namespace foundation::dates
