#include "isotime.h"

#include <QDate>

namespace {

constexpr qint64 msPerDay = 24 * 3600 * 1000;
constexpr qint64 julianDayOfEpoch = 2440588; // 1970-01-01

template <typename Text>
std::optional<IsoTime> readIso(Text text)
{
    const qsizetype size = text.size();
    if (size < 19)
        return std::nullopt;
    const auto at = [&text](qsizetype i) -> char16_t { return text.at(i).unicode(); };
    // The number `count` digits from `from` spell; -1 where one is no digit.
    const auto digits = [&at](qsizetype from, int count) {
        int value = 0;
        for (qsizetype i = from; i < from + count; ++i) {
            const char16_t c = at(i);
            if (c < u'0' || c > u'9')
                return -1;
            value = value * 10 + (c - u'0');
        }
        return value;
    };
    if (at(4) != u'-' || at(7) != u'-' || at(10) != u'T' || at(13) != u':' || at(16) != u':')
        return std::nullopt;
    const int year = digits(0, 4);
    const int month = digits(5, 2);
    const int day = digits(8, 2);
    const int hour = digits(11, 2);
    const int minute = digits(14, 2);
    const int second = digits(17, 2);
    if (year < 0 || month < 0 || day < 0 || hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0
        || second > 59 || !QDate::isValid(year, month, day))
        return std::nullopt;
    int milliseconds = 0;
    qsizetype end = 19;
    if (end < size && at(end) == u'.') {
        if (size < end + 4 || (milliseconds = digits(end + 1, 3)) < 0)
            return std::nullopt;
        end += 4;
    }
    IsoTime time;
    time.ms = (QDate(year, month, day).toJulianDay() - julianDayOfEpoch) * msPerDay
              + ((hour * 60 + minute) * 60 + second) * 1000 + milliseconds;
    if (end == size)
        return time; // local
    time.instant = true;
    if (end + 1 == size && at(end) == u'Z')
        return time;
    if (end + 6 != size || (at(end) != u'+' && at(end) != u'-') || at(end + 3) != u':')
        return std::nullopt;
    const int offsetHours = digits(end + 1, 2);
    const int offsetMinutes = digits(end + 4, 2);
    if (offsetHours < 0 || offsetMinutes < 0 || offsetMinutes > 59 || offsetHours * 60 + offsetMinutes > 14 * 60)
        return std::nullopt;
    const qint64 offsetMs = qint64(offsetHours * 60 + offsetMinutes) * 60 * 1000;
    time.ms += at(end) == u'+' ? -offsetMs : offsetMs;
    return time;
}

} // namespace

std::optional<IsoTime> IsoTime::read(QStringView text)
{
    return readIso(text);
}

std::optional<IsoTime> IsoTime::read(QLatin1String text)
{
    return readIso(text);
}
