#pragma once

// The resident memory of this process, for benchmarks that weigh memory.

#include <QByteArray>
#include <QFile>
#include <QList>

// Resident bytes of this process; 0 where the system does not tell.
inline qint64 residentBytes()
{
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.size() > 1 ? fields.at(1).toLongLong() * 4096 : 0;
}
