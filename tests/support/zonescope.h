#pragma once

// The process's time zone (TZ) set for as long as the object lives, for
// tests whose dates must meet clock changes and odd offsets.

#include <QByteArray>
#include <QtGlobal>

#include <ctime>

class ZoneScope
{
public:
    explicit ZoneScope(const char *zone)
        : before(qgetenv("TZ"))
    {
        qputenv("TZ", zone);
        tzset();
    }
    ~ZoneScope()
    {
        if (before.isNull())
            qunsetenv("TZ");
        else
            qputenv("TZ", before);
        tzset();
    }
    ZoneScope(const ZoneScope &) = delete;
    ZoneScope &operator=(const ZoneScope &) = delete;

private:
    QByteArray before;
};
