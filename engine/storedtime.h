#pragma once

// The instant a stored date-time cell stands for, read without the local time
// zone. Converting a local time asks the zone (glibc reads its file again for
// each conversion when TZ is unset), so choosing among thousands of cells by
// toDateTime() costs milliseconds; this reading costs a few nanoseconds, and
// says how far it can be trusted, so that only the few cells it cannot tell
// apart need converting.

#include <QDateTime>
#include <QVariant>

struct StoredTime
{
    enum Kind {
        // No date-time: toDateTime() gives an invalid one.
        None,
        // `ms` is the instant itself, as toDateTime().toMSecsSinceEpoch()
        // gives it (a text with "Z" or an offset, a UTC or offset date-time).
        Instant,
        // A local wall-clock time: `ms` reads it as if it were UTC, and the
        // instant lies less than a day from it, whatever the zone (a local
        // time in a change-over gap may give no instant at all).
        Local,
        // A form not read here: only toDateTime() tells.
        Other,
    };
    Kind kind = None;
    qint64 ms = 0;

    // A text in the forms IsoTime reads ("yyyy-MM-ddTHH:mm:ss" with an
    // optional ".zzz" and an optional "Z" or "+HH:mm" / "-HH:mm") is read
    // here, and so is a QDateTime; any other form or type is Other, a null
    // or empty cell None.
    static StoredTime of(const QVariant &cell);

    // The bounds of the instant, for Instant and Local.
    static constexpr qint64 localSlackMs = 24 * 3600 * 1000;
    qint64 earliest() const { return kind == Local ? ms - localSlackMs : ms; }
    qint64 latest() const { return kind == Local ? ms + localSlackMs : ms; }
};
