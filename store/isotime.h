#pragma once

// A date-time text in the ISO 8601 forms the store writes and older files
// hold, read by hand: Qt's parser builds a QDateTime and may ask the time
// zone, which a store that reads thousands of them at open cannot afford.

#include <QLatin1String>
#include <QStringView>

#include <optional>

struct IsoTime
{
    // Milliseconds since 1970-01-01T00:00 UTC: the instant itself where the
    // text carries "Z" or an offset (`instant`); otherwise the local
    // wall-clock time it spells, counted as if it were UTC.
    qint64 ms = 0;
    bool instant = false;

    // "yyyy-MM-ddTHH:mm:ss" with an optional ".zzz" and an optional "Z" or
    // "+HH:mm" / "-HH:mm" (of at most 14 hours), read as
    // QDateTime::fromString(text, Qt::ISODateWithMs) reads it. Nothing for
    // any other text: only Qt's parser tells whether it is a date-time.
    static std::optional<IsoTime> read(QStringView text);
    static std::optional<IsoTime> read(QLatin1String text);
};
