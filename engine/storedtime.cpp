#include "storedtime.h"

#include "database.h"
#include "isotime.h"

#include <QString>

namespace {

// The forms IsoTime reads; every other text is Other and left to
// toDateTime().
StoredTime ofText(const QString &text)
{
    if (text.isEmpty())
        return StoredTime(); // no date-time at all
    const std::optional<IsoTime> time = IsoTime::read(text);
    if (!time)
        return StoredTime{StoredTime::Other, 0};
    return StoredTime{time->instant ? StoredTime::Instant : StoredTime::Local, time->ms};
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
        if (!time.isValid())
            return StoredTime();
        switch (time.timeSpec()) {
        case Qt::UTC:
        case Qt::OffsetFromUTC:
            return StoredTime{Instant, time.toMSecsSinceEpoch()};
        case Qt::LocalTime:
            // The date and time of day as they were given, counted as UTC:
            // no time zone is asked.
            return StoredTime{Local, QDateTime(time.date(), time.time(), Qt::UTC).toMSecsSinceEpoch()};
        default:
            return StoredTime{Other, 0};
        }
    }
    default:
        return StoredTime{Other, 0};
    }
}
