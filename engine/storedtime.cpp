#include "storedtime.h"

#include "database.h"

#include <QDate>
#include <QString>

namespace {

constexpr qint64 msPerDay = 24 * 3600 * 1000;
constexpr qint64 julianDayOfEpoch = 2440588; // 1970-01-01

// The number `count` digits at `at` spell; -1 when one is no digit.
int digits(const QChar *text, int at, int count)
{
    int value = 0;
    for (int i = at; i < at + count; ++i) {
        const char16_t c = text[i].unicode();
        if (c < u'0' || c > u'9')
            return -1;
        value = value * 10 + (c - u'0');
    }
    return value;
}

// The wall-clock milliseconds that a date and a time of day spell, counted
// from 1970-01-01 00:00 as if in UTC.
qint64 wallClockMs(const QDate &date, int msOfDay)
{
    return (date.toJulianDay() - julianDayOfEpoch) * msPerDay + msOfDay;
}

// The forms QDateTime::fromString(text, Qt::ISODate) reads exactly as this
// does; every other text is Other and left to it.
StoredTime ofText(const QString &text)
{
    StoredTime result;
    const qsizetype size = text.size();
    if (size == 0)
        return result; // no date-time at all
    result.kind = StoredTime::Other;
    if (size < 19)
        return result;
    const QChar *c = text.constData();
    if (c[4] != u'-' || c[7] != u'-' || c[10] != u'T' || c[13] != u':' || c[16] != u':')
        return result;
    const int year = digits(c, 0, 4);
    const int month = digits(c, 5, 2);
    const int day = digits(c, 8, 2);
    const int hour = digits(c, 11, 2);
    const int minute = digits(c, 14, 2);
    const int second = digits(c, 17, 2);
    if (year < 0 || month < 0 || day < 0 || hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0
        || second > 59 || !QDate::isValid(year, month, day))
        return result;
    int ms = 0;
    qsizetype at = 19;
    if (at < size && c[at] == u'.') {
        if (size < at + 4 || (ms = digits(c, int(at) + 1, 3)) < 0)
            return result;
        at += 4;
    }
    const qint64 wall = wallClockMs(QDate(year, month, day), ((hour * 60 + minute) * 60 + second) * 1000 + ms);
    if (at == size) {
        result.kind = StoredTime::Local;
        result.ms = wall;
        return result;
    }
    if (at + 1 == size && c[at] == u'Z') {
        result.kind = StoredTime::Instant;
        result.ms = wall;
        return result;
    }
    if (at + 6 == size && (c[at] == u'+' || c[at] == u'-') && c[at + 3] == u':') {
        const int offsetHours = digits(c, int(at) + 1, 2);
        const int offsetMinutes = digits(c, int(at) + 4, 2);
        if (offsetHours < 0 || offsetMinutes < 0 || offsetMinutes > 59 || offsetHours * 60 + offsetMinutes > 14 * 60)
            return result;
        const qint64 offsetMs = qint64(offsetHours * 60 + offsetMinutes) * 60 * 1000;
        result.kind = StoredTime::Instant;
        result.ms = c[at] == u'+' ? wall - offsetMs : wall + offsetMs;
    }
    return result;
}

} // namespace

StoredTime StoredTime::of(const QVariant &cell)
{
    if (isNullValue(cell))
        return StoredTime();
    switch (cell.typeId()) {
    case QMetaType::QString:
        return ofText(*static_cast<const QString *>(cell.constData()));
    case QMetaType::QDateTime: {
        const QDateTime &time = *static_cast<const QDateTime *>(cell.constData());
        StoredTime result;
        if (!time.isValid())
            return result;
        switch (time.timeSpec()) {
        case Qt::UTC:
        case Qt::OffsetFromUTC:
            result.kind = Instant;
            result.ms = time.toMSecsSinceEpoch();
            break;
        case Qt::LocalTime:
            // The date and time of day are kept as they were given.
            result.kind = Local;
            result.ms = wallClockMs(time.date(), time.time().msecsSinceStartOfDay());
            break;
        default:
            result.kind = Other;
            break;
        }
        return result;
    }
    default:
        return StoredTime{Other, 0};
    }
}
